// SPDX-License-Identifier: MIT
// kv_shocklog: writes the G-sensor data file of one recording.
//
//   kv_shocklog <stem> <previous> <start_tick> <reserved> <max_run>
//
// Started by the recorder for each recording with the recording's path stem; samples the
// acceleration sensor every 250 ms into <stem>.gsf, preceded by the samples kv_server kept
// from the start tick on, until SIGINT (or SIGTERM) or <max_run> milliseconds after start.
// SIGUSR2 within the first 6 seconds has the file removed at the end.
#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include "board_root.h"
#include "dm368_zt5_util.h"
#include "gsensor_history.h"
#include "gsf_file.h"
#include "kv_cmdline.h"
#include "kv_common_util.h"
#include "kv_msg_drv.h"

namespace {

constexpr int kBusProcId = 8;
constexpr int64_t kPeriodMs = 250;
// The battery level changes slowly: read it every 40th sample (10 s).
constexpr int kBatteryEvery = 40;
constexpr int kSampleCounterWrap = 400;
// SIGUSR2 later than this after start no longer removes the file.
constexpr int64_t kDeleteWindowMs = 5999;

struct Arguments {
  const char *stem;
  long long start_tick;
  long long max_run;
};

struct Program {
  int64_t g_llProcStart = 0;
  volatile sig_atomic_t g_bAbortSignal = 0;
  volatile sig_atomic_t g_bDeleteFile = 0;
  int nSensor[5] = {};  // last token read; kept when the node cannot be read
  int nBattery = 0;     // millivolts, as last read
  int nSampleCounter = 0;
  int64_t llMaxRun = 0;
} g;

// ---- signals -------------------------------------------------------------------------

void signalHandler(int) { g.g_bAbortSignal = 1; }

void signalHandler_user2(int) {
  if (g.g_llProcStart == 0 || kv::tick_ms() - g.g_llProcStart <= kDeleteWindowMs)
    g.g_bDeleteFile = 1;
}

// No SA_RESTART: a stop signal must cut the sleep short.
void installHandler(int sig, void (*handler)(int), bool block_stops) {
  struct sigaction sa = {};
  sa.sa_handler = handler;
  sigemptyset(&sa.sa_mask);
  if (block_stops) {
    sigaddset(&sa.sa_mask, SIGINT);
    sigaddset(&sa.sa_mask, SIGTERM);
  }
  sigaction(sig, &sa, nullptr);
}

void installStopHandlers() {
  installHandler(SIGINT, signalHandler, true);
  // An init system stops with SIGTERM: the file is closed as after SIGINT, with its
  // count and end marker.
  installHandler(SIGTERM, signalHandler, true);
  installHandler(SIGUSR2, signalHandler_user2, true);
}

// ---- start-up ------------------------------------------------------------------------

Arguments parseArguments(char **argv) {
  Arguments a;
  a.stem = argv[1];
  a.start_tick = strtoll(argv[3], nullptr, 10);
  a.max_run = strtoll(argv[5], nullptr, 10);
  // argv[2] (time before start) is recomputed from the start tick; argv[4] is unused.
  return a;
}

// The start tick, or process start when it is missing or lies in the future. Returns the
// milliseconds between the start tick and now.
int64_t setStartTick(long long start_tick) {
  int64_t now = kv::tick_ms();
  if (start_tick < 1 || start_tick > now) {
    SetTickStart(now);
    return 0;
  }
  SetTickStart(start_tick);
  return now - start_tick;
}

// Creates the data file and writes its header; 0, or the exit status.
int openDataFile(const char *stem, int64_t previous_ms) {
  if (GsfSetPath(stem) != 0) {
    printf("file path too long!! (%zu bytes at most with \".gsf\")\n", kGsfPathSize - 1);
    return 1;
  }
  if (GsfOpen() != 0) {
    printf("open file error!!");
    return 1;
  }
  // The start tick's wall-clock time, to the second (the division truncates).
  char text[15] = {};
  GetDateTimeGSensorFormat(text, static_cast<int>(-(previous_ms / 1000)));
  GsfWriteHeader(text);
  return 0;
}

// ---- sampling ------------------------------------------------------------------------

GSENSOR_ITEM takeSample() {
  gsensor_data_grabber(g.nSensor);
  GSENSOR_ITEM item = {};
  item.llTick = kv::tick_ms();
  item.llTick2 = kv::tick_ms();
  if (g.nSampleCounter % kBatteryEvery == 0) {
    int mv = get_internal_battery_level();
    if (mv >= 0) g.nBattery = mv;
  }
  // Axes 1 and 2 are the token's second and third numbers, axis 3 its first; the fifth
  // number is not used.
  item.nAxis1 = g.nSensor[1];
  item.nAxis2 = g.nSensor[2];
  item.nAxis3 = g.nSensor[0];
  item.nReserved = 0;
  item.nSensor4 = g.nSensor[3];
  item.nBattery = g.nBattery;
  return item;
}

// The next sample is due one period after the last deadline, so the time the sensor read
// takes does not add up. If that moment has passed already (a read that hung, a process
// held up), the steps start anew from now rather than with a burst of catch-up samples.
int64_t nextDeadline(int64_t deadline) {
  int64_t now = kv::tick_ms();
  deadline += kPeriodMs;
  return now >= deadline ? now + kPeriodMs : deadline;
}

// Sleeps until the deadline; a stop signal wakes it at once.
void pauseUntil(int64_t deadline) {
  while (!g.g_bAbortSignal && !kv::sleep_until_tick(deadline)) {
  }
}

bool runTimeOver() {
  if (kv::tick_ms() - g.g_llProcStart > g.llMaxRun) {
    g.g_bAbortSignal = 1;
    return true;
  }
  return false;
}

void recordLoop() {
  int64_t deadline = kv::tick_ms();
  while (!g.g_bAbortSignal && !runTimeOver()) {
    GSENSOR_ITEM item = takeSample();
    if (!PreviousCompleted()) {
      // Right after the first sample: kv_server's history then reaches up to it.
      if (!PreviousRequested()) StartPreviousRequest();
      AddPending(item);
    } else {
      FlushPending();
      WriteOwnSample(item);
      g.nSampleCounter = (g.nSampleCounter + 1) % kSampleCounterWrap;
    }
    deadline = nextDeadline(deadline);
    pauseUntil(deadline);
  }
}

// ---- shutdown ------------------------------------------------------------------------

int shutDown() {
  // A stop before kv_server answered must not lose the samples already taken.
  bool bus_busy = SettlePrevious();
  FlushPending();
  int status = GsfClose(DataCount());
  if (status != 0) return status;
  if (g.g_bDeleteFile) GsfRemove();
  kv_system("sync &\n");
  // The bus lock is held by a request kv_server never answered: leave it to the exit.
  if (!bus_busy) KVDrvExit();
  GsfDestroyLock();
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  kv_answer_help_or_version("kv_shocklog", argc, argv);
  g.g_llProcStart = kv::tick_ms();
  if (argc < 6) {
    printf("wrong input argument");
    return -1;
  }
  Arguments args = parseArguments(argv);
  g.llMaxRun = args.max_run;
  installStopHandlers();

  if (KVDrvInit(kBusProcId) != 0) {
    printf("kv_msg_drv driver initialize failed.");
    return -1;
  }
  if (GsfInitLock() != 0) return -1;
  int64_t previous_ms = setStartTick(args.start_tick);
  if (int status = openDataFile(args.stem, previous_ms); status != 0) return status;

  recordLoop();
  return shutDown();
}
