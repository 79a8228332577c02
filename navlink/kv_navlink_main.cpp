// SPDX-License-Identifier: MIT
// kv_navlink: the GPS and serial-link daemon of one camera unit.
//
// Start-up by the unit's role (front unit: GPS reader and serial reader; rear unit:
// keep-alive, GPS reader on request; single unit: neither), then the loop that serves the
// GPS channel (key 49609) until SIGINT or SIGTERM, then an orderly shutdown that closes an
// open track and removes the channel's queue and segment. SIGUSR2 within 6 s of a track
// start has the track deleted when it stops.
#include <errno.h>
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <unistd.h>

#include <atomic>

#include "KVLog.h"
#include "file_msg_drv.h"
#include "gps_track.h"
#include "kv_cmdline.h"
#include "kv_common_util.h"
#include "kv_gps_msg_drv.h"
#include "kv_msg_drv.h"
#include "kv_navlink.h"
#include "kv_serial_write.h"
#include "kv_sysinfo_util.h"
#include "msg_util.h"
#include "share_mem.h"

namespace {

constexpr int kSettingsKey = 12930021;
constexpr int kSettingsProcId = 15;
constexpr int64_t kDeleteWindowMs = 5999;
constexpr int kFailuresBeforePrint = 4;
// A receive that fails for another reason than a signal (the queue removed under the
// daemon) fails again at once: a pause keeps the loop from taking the processor.
constexpr int kFailurePauseMs = 100;
constexpr int kRecordSize = sizeof(KV_MSG_BUF);  // the kernel is handed 20 bytes

struct Daemon {
  volatile sig_atomic_t g_bAbortSignal = 0;
  volatile sig_atomic_t g_bStopSignal = 0;  // SIGINT or SIGTERM came
  volatile sig_atomic_t g_bDeleteFile = 0;
  // Start-request tick; 0: no recording. Read by the SIGUSR2 handler, which runs on this
  // thread only (the others block every signal), and written with the signals blocked,
  // so the handler never sees half of it on the 32-bit board.
  int64_t g_llProcStart = 0;
  int qid = -1;
  int shmid = -1;
  int role = DEVICE_1CH_ONLY;
} d;

std::atomic<SysInfo *> g_pSysInfo{nullptr};

// ---- signals ---------------------------------------------------------------------------

// A stop that comes between the loop's test of the flag and its wait in the queue would
// not end that wait: a record that the loop skips (src 1) wakes it in any case.
void signalHandler(int) {
  int saved = errno;
  d.g_bStopSignal = 1;
  d.g_bAbortSignal = 1;
  KV_MSG_BUF wake = {};
  wake.Des = MSG_TYPE_MSG1;
  wake.src = MSG_TYPE_MSG1;
  if (d.qid >= 0) Msg_SendFlags(d.qid, &wake, kRecordSize, IPC_NOWAIT);
  errno = saved;
}

void signalHandlerUser2(int) {
  int64_t start = d.g_llProcStart;
  if (start != 0 && GetTickCount() - start <= kDeleteWindowMs) d.g_bDeleteFile = 1;
}

// No flags: a blocked receive returns when a signal comes instead of restarting.
void installHandler(int sig, void (*handler)(int)) {
  struct sigaction sa = {};
  sa.sa_handler = handler;
  sigemptyset(&sa.sa_mask);
  sigaddset(&sa.sa_mask, SIGINT);
  sigaddset(&sa.sa_mask, SIGTERM);
  sigaction(sig, &sa, nullptr);
}

void installSignals() {
  installHandler(SIGINT, signalHandler);
  // An init system or a "kill" stops with SIGTERM: the same orderly end as SIGINT, so the
  // queue and segment do not outlive the daemon and gps_proc_alive tells the truth.
  installHandler(SIGTERM, signalHandler);
  installHandler(SIGUSR2, signalHandlerUser2);
}

// Runs `change` with the handled signals held back.
template <typename F>
void withSignalsBlocked(F change) {
  sigset_t set, old;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGUSR2);
  pthread_sigmask(SIG_BLOCK, &set, &old);
  change();
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
}

void setRequestTick(int64_t tick) {
  withSignalsBlocked([tick] { d.g_llProcStart = tick; });
}

bool takeDeleteMark() {
  bool marked = false;
  withSignalsBlocked([&marked] {
    marked = d.g_bDeleteFile != 0;
    d.g_bDeleteFile = 0;
  });
  return marked;
}

// ---- the message table -----------------------------------------------------------------

bool isRearUnit() { return Is2ChRear(GetStaticSysInfo()) != 0; }

int relay(KV_MSG_BUF &msg) {
  SerialLinkRequest(msg.cmd, GetStaticSysInfo());
  return 1;
}

int relayOnRear(KV_MSG_BUF &msg) { return isRearUnit() ? relay(msg) : 1; }

// The rear unit starts its GPS reader before it tells the front unit.
int gpsStartOnRear(KV_MSG_BUF &msg) {
  if (!isRearUnit()) return 1;
  CreateGpsThread();
  return relay(msg);
}

int gpsEndOnRear(KV_MSG_BUF &msg) {
  if (!isRearUnit()) return 1;
  relay(msg);
  CloseGpsThread();
  return 1;
}

// One byte into the requester's slot; a requester whose slot lies outside the segment
// gets a failure instead of a write past it.
int getTest(KV_MSG_BUF &msg) {
  if (msg.src <= 1) return 0;
  msg.offset = (msg.src - 2) * PROC_MSG_SIZE;
  msg.length = 1;
  unsigned char byte = 1;
  return kv::segment_copy_in(d.shmid, msg.offset, &byte, 1) == 0 ? 1 : 0;
}

int setTest(KV_MSG_BUF &) { return 1; }

// The record is copied only from inside the segment: an `offset` from the message must
// never make the daemon read another mapping.
int startSave(KV_MSG_BUF &msg) {
  d.g_bDeleteFile = 0;
  if (msg.length != KV_GPS_START_RECORD_SIZE) return 0;
  GpsStartSaveRecord rec;
  if (kv::segment_copy_out(d.shmid, msg.offset, &rec, sizeof rec) != 0) return 0;
  setRequestTick(GetTickCount());
  char stem[KV_GPS_STEM_SIZE + 1];
  memcpy(stem, rec.szStem, KV_GPS_STEM_SIZE);
  stem[KV_GPS_STEM_SIZE] = '\0';
  StartGpsFileWrite(stem, rec.nReserved, rec.llStartTick, rec.nDuration);
  return 1;
}

int stopSave(KV_MSG_BUF &) {
  if (takeDeleteMark()) {
    char path[navlink::kGpsPathSize];
    GetCurrentWriteFile(path);
    StopGpsFileWirte();
    // Empty when the track had closed already (its duration ran out): nothing to delete.
    if (path[0]) KVDeleteFile(path);
  } else {
    StopGpsFileWirte();
  }
  setRequestTick(0);
  return 1;
}

struct Entry {
  int first, last;
  int (*handle)(KV_MSG_BUF &msg);
};

// Ids 1 to 199 are the serial link's command codes; the rest is the channel's own.
constexpr Entry kTable[] = {
    {SEND_TO_FRONT_SYSTEM_START, SEND_TO_FRONT_SYSTEM_END, relayOnRear},
    {SEND_TO_FRONT_PAUSE_RECORDING, SEND_TO_FRONT_RESUME_RECORDING, relay},
    {SEND_TO_FRONT_GPS_START, SEND_TO_FRONT_GPS_START, gpsStartOnRear},
    {SEND_TO_FRONT_GPS_END, SEND_TO_FRONT_GPS_END, gpsEndOnRear},
    {SEND_TO_FRONT_WIFI_START, SEND_TO_FRONT_VOICE_OFF, relay},
    {SEND_TO_FRONT_ALIVE, SEND_TO_FRONT_ALIVE_CONFIRM, relay},
    {SEND_TO_FRONT_AVI_SAVE_NOR_D, SEND_TO_FRONT_AVI_SAVE_NOR_P, relay},
    {SEND_TO_FRONT_AVI_STOP, SEND_TO_FRONT_AVI_STOP, relay},
    {SEND_TO_FRONT_DRIVE_TO_PARK, SEND_TO_FRONT_PARK_TO_DRIVE, relay},
    {KV_GPS_GET_TEST, KV_GPS_GET_TEST, getTest},
    {KV_GPS_SET_TEST, KV_GPS_SET_TEST, setTest},
    {KV_GPS_START_SAVE, KV_GPS_START_SAVE, startSave},
    {KV_GPS_STOP_SAVE, KV_GPS_STOP_SAVE, stopSave},
};

}  // namespace

// 1 handled, 0 failed.
int ProcKVGpsMsg(KV_MSG_BUF *msg) {
  for (const Entry &e : kTable)
    if (msg->cmd >= e.first && msg->cmd <= e.last) return e.handle(*msg);
  KVLog("ProcKVGpsMsg Unknown message. Quit cmd=%d\n", msg->cmd);
  return 1;
}

SysInfo *GetStaticSysInfo() {
  SysInfo *info = g_pSysInfo.load();
  if (!info) {
    info = GetSysInfo();
    if (info) g_pSysInfo = info;
  }
  return info;
}

long long GetTickCount() { return kv::tick_ms(); }

// The threads that are waited for end before exit() runs; a second fatal error meanwhile
// (another thread's) waits for that end instead of running exit() a second time.
void DoExit() {
  static std::atomic_flag ending = ATOMIC_FLAG_INIT;
  if (ending.test_and_set()) {
    for (;;) pause();
  }
  GpsReaderStopForExit();
  SerialLinkQuitThreads();
  if (SysInfo *info = GetStaticSysInfo()) info->kv_config.gps_proc_alive = 0;
  exit(1);
}

namespace {

// ---- start-up, loop, shutdown ----------------------------------------------------------

// The channel's queue and segment. Without either there is nothing to serve: the loop is
// skipped and the daemon shuts down in order.
void openChannel() {
  d.qid = Msg_Init(KV_GPS_MSG_KEY);
  if (d.qid < 0) {
    d.g_bAbortSignal = 1;
    printf("Message queue init fail\n");
  } else {
    SetKVGpsMsgId(d.qid);
  }
  d.shmid = ShareMemInit(KV_GPS_MSG_KEY);
  if (d.shmid < 0) {
    d.g_bAbortSignal = 1;
    printf("Share memory init fail");
  } else {
    SetKVGpsMemId(d.shmid);
  }
}

void startWorkers() {
  SysInfo *info = GetStaticSysInfo();
  if (info) info->kv_config.gps_proc_alive = 1;
  d.role = info ? static_cast<int>(info->kv_config.front_rear_type) : int{DEVICE_1CH_ONLY};
  GpsReaderSetUp();
  CreateSerialLock();
  if (d.role == DEVICE_2CH_FRONT) {
    CreateGpsThread();
    CreateSerialReadThread();
  }
  if (d.role == DEVICE_2CH_REAR) CreateRearConnCheckThread();
}

// The front's GPS reader (closing an open track) before its serial reader; the rear's
// keep-alive before its GPS reader, which runs only when requested.
void stopWorkers() {
  if (d.role == DEVICE_2CH_REAR) CloseRearConnCheckThread();
  if (GpsThreadStarted()) CloseGpsThread();
  if (d.role == DEVICE_2CH_FRONT) CloseSerialReadThread();
  DestroySerialLock();
}

// The reply goes back with the type of the sender; a signal does not lose it, unless the
// daemon is ending anyway.
void reply(KV_MSG_BUF &msg) {
  msg.Des = msg.src;
  msg.src = MSG_TYPE_MSG1;
  while (Msg_Send(d.qid, &msg, kRecordSize) < 0 && errno == EINTR && !d.g_bAbortSignal) {
  }
}

void messageLoop() {
  int failures = 0;
  while (!d.g_bAbortSignal) {
    KV_MSG_BUF msg = {};
    if (Msg_Rsv(d.qid, MSG_TYPE_MSG1, &msg, kRecordSize) < 0) {
      int err = errno;
      if (++failures >= kFailuresBeforePrint) {
        printf("System server receive msg fail \n");
        printf("ERROR:");
        fflush(stdout);
      }
      if (err != EINTR) kv::sleep_ms(kFailurePauseMs);
      continue;
    }
    if (msg.src == MSG_TYPE_MSG1 || msg.src < 0) continue;
    if (ProcKVGpsMsg(&msg) == 1)
      msg.shmid = d.shmid;
    else
      msg.length = -1;
    // The channel's own senders are one-way (src 0): they read no reply.
    if (msg.src != 0) reply(msg);
    failures = 0;
  }
}

int shutDown() {
  d.g_bAbortSignal = 1;
  if (d.g_bStopSignal) KVLog("ckv_navlink caught SIGTERM\n");
  stopWorkers();
  if (d.shmid >= 0) shmctl(d.shmid, IPC_RMID, nullptr);
  if (SysInfo *info = g_pSysInfo.load()) info->kv_config.gps_proc_alive = 0;
  if (d.qid >= 0) Msg_Kill(d.qid);
  CleanupFileMsgDrv();
  KVLog("stop process\n");
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  kv_answer_help_or_version("kv_navlink", argc, argv);
  KVLogInitialize("gps_p", 1, "");
  KVLog("start process\n");
  installSignals();
  if (InitFileMsgDrv(kSettingsKey, kSettingsProcId) != 0) {
    printf("file message driver initialize failed. key=%d, msg=%d", kSettingsKey, kSettingsProcId);
    return -1;
  }
  openChannel();
  startWorkers();
  messageLoop();
  return shutDown();
}
