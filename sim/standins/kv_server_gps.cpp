// SPDX-License-Identifier: MIT
#include "kv_server_gps.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <map>
#include <sstream>
#include <thread>

#include "board_root.h"
#include "kv_common_util.h"
#include "kv_gps_msg_drv.h"
#include "standin.h"

namespace kvsim {
namespace {

constexpr int kDefaultProc = 3;
const char *const kRequestFile = "/sim/ctl/kv_server/gps";

long long number(const std::map<std::string, std::string> &w, const char *key, long long dflt) {
  auto it = w.find(key);
  return it == w.end() ? dflt : strtoll(it->second.c_str(), nullptr, 10);
}

// The channel as process `proc`; joined again only when the id changes.
void join(int proc) {
  static int joined = 0;
  if (joined == proc) return;
  if (KVGpsDrvInit(proc) == 0) joined = proc;
}

int startSave(const std::string &stem, int64_t start_tick, int32_t duration_ms, int length) {
  GpsStartSaveRecord rec = {};
  snprintf(rec.szStem, sizeof rec.szStem, "%s", stem.c_str());
  rec.llStartTick = start_tick;
  rec.nDuration = duration_ms;
  return KVGpsMSG_StartSave(&rec, length);
}

int startSave(const std::map<std::string, std::string> &w) {
  join(static_cast<int>(number(w, "proc", kDefaultProc)));
  auto stem = w.find("stem");
  int64_t start_tick = number(w, "start_tick", 0);
  if (w.count("ago")) start_tick = kv::tick_ms() - number(w, "ago", 0);
  return startSave(stem == w.end() ? "" : stem->second, start_tick,
                   static_cast<int32_t>(number(w, "duration", 60000)),
                   static_cast<int>(number(w, "length", sizeof(GpsStartSaveRecord))));
}

int serveOne(const std::string &line) {
  std::istringstream in(line);
  std::string verb;
  in >> verb;
  auto w = keyedWords(in);
  if (verb == "start") return startSave(w);
  join(static_cast<int>(number(w, "proc", kDefaultProc)));
  if (verb == "stop") return KVGpsMSG_StopSave();
  if (verb == "relay") return KVGpsMSG_SendToFront(static_cast<int>(number(w, "code", 0)));
  if (verb == "usr2") return gpsDeleteTrack();
  return -1;
}

}  // namespace

int gpsStartTrack(const std::string &stem, int64_t start_tick, int32_t duration_ms) {
  join(kDefaultProc);
  return startSave(stem, start_tick, duration_ms, sizeof(GpsStartSaveRecord));
}

int gpsStopTrack() {
  join(kDefaultProc);
  return KVGpsMSG_StopSave();
}

int gpsRelay(int code) {
  join(kDefaultProc);
  return KVGpsMSG_SendToFront(code);
}

int gpsDeleteTrack() { return kv_system("killall -USR2 kv_navlink"); }

void serveGpsRequests() {
  Control ctl("kv_server");
  serveRequestFile(kRequestFile, [&](const std::string &line) {
    ctl.log("gps request=" + line + " result=" + std::to_string(serveOne(line)));
  });
}

}  // namespace kvsim
