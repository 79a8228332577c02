// SPDX-License-Identifier: MIT
// kv_channel_probe: one client of every server channel, run in a sandbox against the
// stand-in servers. It is built for the workstation and for the board's processor alike;
// a test runs both builds against the same servers and compares, byte for byte, what each
// sent (the servers' logs) and what each received (this program's output).
//
// Usage: kv_channel_probe (no arguments), with file_manager, system_server, kv_server and
// av_server.out started. The test scripts the servers' answers beforehand.
//        kv_channel_probe gps start <stem> <start tick> <duration ms>
//        kv_channel_probe gps relay <code>
//        kv_channel_probe gps stop
//   One request on kv_navlink's GPS channel, sent as kv_server sends it (one-way: nothing
//   comes back, so the test reads the record and the slot from the queue and segment, or
//   looks at what kv_navlink did). Exits with status 2 on a wrong command line.
//
// Output, one line per exchange, in a fixed order (each call is made before its line is
// printed: C++ leaves the order of a call's arguments open, and the two builds' compilers
// take it differently):
//   <channel> <call> ret=<result> <what came back: bytes in hex, or fields>
// The settings record (12 600 bytes) is shown by its FNV-1a hash, the rest in full.
// Exits with status 1 when a channel cannot be opened.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "OrvelDrvMsg.h"
#include "file_msg_drv.h"
#include "kv_gps_msg_drv.h"
#include "kv_msg_drv.h"
#include "sys_msg_drv.h"

namespace {

// The process numbers the recorder's own programs use on these channels.
constexpr int kSettingsProc = 15;  // kv_navlink
constexpr int kSystemProc = 16;    // kv_sentinel
constexpr int kEventBusProc = 8;   // kv_shocklog
constexpr int kAvProc = 16;        // kv_sentinel
// kv_server's number on the GPS channel is its own choice; 6 puts its slot at 49152.
constexpr int kGpsSenderProc = 6;

std::string hex(const void *data, size_t len) {
  static const char kDigits[] = "0123456789abcdef";
  const auto *p = static_cast<const unsigned char *>(data);
  std::string text;
  for (size_t i = 0; i < len; ++i) {
    text += kDigits[p[i] >> 4];
    text += kDigits[p[i] & 15];
  }
  return text;
}

uint64_t fnv1a(const void *data, size_t len) {
  const auto *p = static_cast<const unsigned char *>(data);
  uint64_t hash = 1469598103934665603ULL;
  for (size_t i = 0; i < len; ++i) hash = (hash ^ p[i]) * 1099511628211ULL;
  return hash;
}

void show(const char *channel, const char *call, long long ret, const std::string &rest = "") {
  printf("%s %s ret=%lld%s%s\n", channel, call, ret, rest.empty() ? "" : " ", rest.c_str());
}

std::string recordHash(const SysInfo *rec) {
  char text[40];
  snprintf(text, sizeof text, "fnv=%016llx",
           static_cast<unsigned long long>(rec ? fnv1a(rec, sizeof *rec) : 0));
  return text;
}

// The settings store: the shared record read in place, a field written, a log entry
// (with its 44-byte time record) stored and read back.
bool probeSettings() {
  int ret = InitFileMsgDrv(FILE_MSG_KEY, kSettingsProc);
  show("settings", "InitFileMsgDrv", ret);
  if (ret != 0) return false;
  SysInfo *rec = GetSysInfo();
  show("settings", "GetSysInfo", rec ? 0 : -1, recordHash(rec));
  char title[] = "probe title";
  ret = fSetTitle(title, static_cast<int>(strlen(title)));
  show("settings", "fSetTitle", ret, recordHash(GetSysInfo()));
  LogEntry_t entry{};
  snprintf(entry.event, sizeof entry.event, "probe event");
  entry.time = LogTime_t{5, 4, 3, 2, 1, 124, 6, 33, 0, 32400, 0};
  show("settings", "fSetSysLog", fSetSysLog(&entry));
  LogEntry_t back{};
  ret = GetSysLog(0, 0, &back);
  show("settings", "GetSysLog", ret, hex(&back, sizeof back));
  CleanupFileMsgDrv();
  return true;
}

// The system server: the liveness request, a setter with a payload, getters whose
// answers the test scripted.
bool probeSystem() {
  int ret = SysDrvInit(kSystemProc);
  show("system", "SysDrvInit", ret);
  if (ret != 0) return false;
  show("system", "SysWatchDog", SysWatchDog());
  char osd[] = "osd text";
  show("system", "SetOSDText", SetOSDText(osd, static_cast<unsigned>(strlen(osd))));
  unsigned char mac[6] = {};
  ret = GetMAC(mac, sizeof mac);
  show("system", "GetMAC", ret, hex(mac, sizeof mac));
  char name[40] = {};
  ret = GetTitle(name, sizeof name);
  show("system", "GetTitle", ret, hex(name, sizeof name));
  SysDrvExit();
  return true;
}

// The event bus: the liveness request, a one-way event, and the previous G-sensor
// samples (50 records of 40 bytes) from the requester's slot.
bool probeEventBus() {
  int ret = KVDrvInit(kEventBusProc);
  show("eventbus", "KVDrvInit", ret);
  if (ret != 0) return false;
  show("eventbus", "KVMSG_SetLED", KVMSG_SetLED(5));
  static GSENSOR_ITEM items[50];
  ret = KVMSG_GetPreviousGSensor(items, sizeof items);
  show("eventbus", "KVMSG_GetPreviousGSensor", ret, hex(items, sizeof items));
  KVDrvExit();
  return true;
}

// The AV server: liveness, a value and a text setter, the frame memory and a frame lock
// whose descriptor the test scripted.
bool probeAv() {
  int ret = OrvelDrvInit(kAvProc);
  show("av", "OrvelDrvInit", ret);
  if (ret != 0) return false;
  show("av", "OrvelWatchDog", OrvelWatchDog());
  show("av", "SetBrightness", SetBrightness(128));
  char text[] = "front camera";
  show("av", "SetAvOsdText", SetAvOsdText(text, static_cast<int>(strlen(text))));
  MSG_MEM mem = GetPhyMem();
  show("av", "GetPhyMem", 0, hex(&mem, sizeof mem));
  FrameInfo_t frame{};
  frame.serial_no = 7;
  frame.format = FMT_MPEG4;
  ret = LockFrame(&frame);
  show("av", "LockFrame", ret, hex(&frame, sizeof frame));
  OrvelDrvExit();
  return true;
}

// A whole decimal number, or false.
bool decimal(const char *text, long long &value) {
  char *end = nullptr;
  value = strtoll(text, &end, 10);
  return *text != '\0' && *end == '\0';
}

// Sends the request of `words` ("start <stem> <tick> <duration>", "relay <code>", "stop");
// false when they name none, or the stem does not fit the record.
bool sendGpsRequest(int count, char **words, int &ret) {
  const char *verb = count > 0 ? words[0] : "";
  long long a = 0, b = 0;
  if (strcmp(verb, "stop") == 0 && count == 1) {
    ret = KVGpsMSG_StopSave();
    return true;
  }
  if (strcmp(verb, "relay") == 0 && count == 2 && decimal(words[1], a)) {
    ret = KVGpsMSG_SendToFront(static_cast<int>(a));
    return true;
  }
  if (strcmp(verb, "start") != 0 || count != 4 || strlen(words[1]) >= KV_GPS_STEM_SIZE ||
      !decimal(words[2], a) || !decimal(words[3], b))
    return false;
  // Every byte of the record set (the padding zeroed), so that two builds' records can be
  // compared whole; the word kv_navlink ignores carries a value of its own.
  GpsStartSaveRecord rec;
  memset(&rec, 0, sizeof rec);
  snprintf(rec.szStem, sizeof rec.szStem, "%s", words[1]);
  rec.nReserved = 0x0a0b0c0d;
  rec.llStartTick = a;
  rec.nDuration = static_cast<int32_t>(b);
  ret = KVGpsMSG_StartSave(&rec, sizeof rec);
  return true;
}

int probeGps(int count, char **words) {
  int ret = KVGpsDrvInit(kGpsSenderProc);
  show("gps", "KVGpsDrvInit", ret);
  if (ret != 0) return 1;
  bool known = sendGpsRequest(count, words, ret);
  if (known) show("gps", words[0], ret);
  KVGpsDrvExit();
  if (!known) {
    fputs(
        "usage: kv_channel_probe gps start <stem> <start tick> <duration ms> | relay <code> | "
        "stop\n",
        stderr);
    return 2;
  }
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc > 1 && strcmp(argv[1], "gps") == 0) return probeGps(argc - 2, argv + 2);
  bool ok = probeSettings();
  ok = probeSystem() && ok;
  ok = probeEventBus() && ok;
  ok = probeAv() && ok;
  return ok ? 0 : 1;
}
