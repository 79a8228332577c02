// SPDX-License-Identifier: MIT
// kv_sentinel: start-up, the three liveness monitors, the watcher and the orderly shutdown.
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <atomic>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#endif

#include "KVLog.h"
#include "OrvelDrvMsg.h"
#include "file_msg_drv.h"
#include "kv_cmdline.h"
#include "kv_common_util.h"
#include "kv_msg_drv.h"
#include "kv_sentinel.h"
#include "kv_worker.hpp"
#include "sys_msg_drv.h"

namespace {

constexpr int kSettingsKey = 12930021;
constexpr int kProcId = 16;  // the supervisor's number on every channel
constexpr int64_t kNotRespondingMs = 39999;
constexpr int kRoundMs = 10000;
constexpr int kStartUpMs = 10000;  // the servers need this long to come up
// How often the system-server monitor looks at bRunning while the recorder is not up.
constexpr int kRunningPollMs = 100;
constexpr int kStopWaitMs = 1000;  // how long a cancelled thread is given to end

// One thread of the program: a liveness monitor or the watcher.
struct Thread {
  const char *name;  // for the "create fail" log line
  void *(*body)(void *);
  kv::Worker worker;
  // Raised around a client exchange: a thread ended inside one may still hold its
  // client's lock.
  std::atomic<int> in_request{0};
};

// What a server's monitor shares with the watcher.
struct Liveness {
  const char *server;  // for the "not responding" lines
  int (*watchdog)();
  // The system server's monitor waits for bRunning instead of sleeping a round.
  bool waits_for_running;
  // Written by the monitor, read by the watcher: 64 bits, one unit each.
  std::atomic<int64_t> tick{0};
  std::atomic<int> started{0};  // set at the first request, never cleared
};

int avWatchDog() { return OrvelWatchDog(); }
int kvWatchDog() { return KVMSG_WatchDog(); }
int sysWatchDog() { return SysWatchDog(); }

// The threads in the order they are started; they are stopped in the reverse order.
enum WorkerIndex { kKvWorker, kSysWorker, kAvWorker, kWatcherWorker, kWorkerCount };
// The servers in the order the watcher looks at them.
enum ServerIndex { kAv, kKv, kSys, kServerCount };

// The program's state, in one place.
struct Sentinel {
  std::atomic<SysInfo *> g_pSysInfo{nullptr};
  std::atomic<int> g_bAbortSignal{0};
  // Threads inside the settings manager's exchange. One cancelled there (the manager does
  // not answer) ends with the settings client's lock held, and the count stays raised.
  std::atomic<int> in_settings_request{0};
  Thread workers[kWorkerCount] = {
      {"KVServerMonitorThread", KVServerMonitorThread},
      {"SysServerMonitorThread", SysServerMonitorThread},
      {"AVServerMonitorThread", AVServerMonitorThread},
      {"MonitorThread", MonitorThread},
  };
  Liveness servers[kServerCount] = {
      {"av_server", avWatchDog, false},
      {"kv_server", kvWatchDog, false},
      {"sys_server", sysWatchDog, true},
  };
} g;

// The two live bytes of the shared record are written by other processes: read them
// as single atomic bytes, never cached.
int sharedByte(const unsigned char &field) { return __atomic_load_n(&field, __ATOMIC_ACQUIRE); }
void clearSharedByte(unsigned char &field) { __atomic_store_n(&field, 0, __ATOMIC_RELEASE); }

int recorderRunning(SysInfo *info) {
  return sharedByte(reinterpret_cast<const unsigned char &>(info->kv_config.bRunning));
}

// A thread ended by pthread_cancel is unwound without running its frames' epilogues, so
// under AddressSanitizer the poison around their locals stays on the stack, and glibc's
// own end of the thread, which runs below, is then reported as an overflow. The thread's
// whole stack is cleared as it ends. Nothing to do in other builds.
void clearStackPoison(void *) {
#if defined(__SANITIZE_ADDRESS__)
  pthread_attr_t attr;
  if (pthread_getattr_np(pthread_self(), &attr) != 0) return;
  void *addr = nullptr;
  size_t size = 0;
  if (pthread_attr_getstack(&attr, &addr, &size) == 0) __asan_unpoison_memory_region(addr, size);
  pthread_attr_destroy(&attr);
#endif
}

// Runs a thread's work so that it can be cancelled anywhere.
template <typename Work>
void *cancellable(Work work) {
  pthread_cleanup_push(clearStackPoison, nullptr);
  work();
  pthread_cleanup_pop(0);
  return nullptr;
}

// The settings manager may not deliver the record at once; a thread without it would
// crash on its first look, so it asks again each second until it has it or must end.
SysInfo *waitForSysInfo(const kv::Worker &self) {
  for (;;) {
    ++g.in_settings_request;
    SysInfo *info = GetStaticSysInfo();
    --g.in_settings_request;
    if (info) return info;
    if (self.quitRequested()) return nullptr;
    kv::sleep_ms(1000);
  }
}

// A short sleep, not a spin: on the board's single core a spinning thread would starve
// the recorder it waits for. False when the monitor is to end meanwhile.
bool waitForRecorder(SysInfo *info, const kv::Worker &w) {
  while (!recorderRunning(info) && !w.quitRequested()) kv::sleep_ms(kRunningPollMs);
  return !w.quitRequested();
}

// The rounds of one monitor: while the recorder runs, the tick before and after each
// blocking liveness request; a server that does not answer keeps its monitor inside the
// request, so its tick stays at the moment before it.
void monitorRounds(Thread &t, Liveness &s) {
  const kv::Worker &w = t.worker;
  SysInfo *info = waitForSysInfo(w);
  while (info && !w.quitRequested()) {
    if (s.waits_for_running && !waitForRecorder(info, w)) break;
    if (recorderRunning(info)) {
      s.tick = GetTickCount();
      s.started = 1;
      t.in_request = 1;
      s.watchdog();
      t.in_request = 0;
      s.tick = GetTickCount();
    }
    kv::sleep_ms(kRoundMs);
  }
}

void restartFor(const Liveness &s, int64_t age) {
  printf("%s not responding... restart\n", s.server);
  KVLog("%s not responding... restart, before=%lldms\n", s.server, static_cast<long long>(age));
  StartRestartThread(GetStaticSysInfo());
  kv::sleep_ms(5000);
}

// One look of the watcher at every server, with one reading of the clock for all.
void checkServers() {
  const int64_t now = GetTickCount();
  for (const Liveness &s : g.servers) {
    // The flag before the tick: a monitor stores its tick first, so once the flag is
    // seen the tick is the fresh one, never the 0 of "never" (an age since boot).
    if (!s.started) continue;
    int64_t age = now - s.tick.load();
    if (age > kNotRespondingMs) restartFor(s, age);
  }
}

void checkErrorFlag(SysInfo *info) {
  auto &flag = reinterpret_cast<unsigned char &>(info->kv_config.error_flag);
  if (!sharedByte(flag)) return;
  clearSharedByte(flag);
  printf("error reported... restart\n");
  KVLog("error reported... restart\n");
  StartRestartThread(info);
  kv::sleep_ms(5000);
}

// Async-signal-safe: the message goes out with write(), the flag is lock-free.
void signalHandler(int signum) {
  char text[64] = "kv_sentinel caught SIGTERM: shutting down signum=";
  size_t n = strlen(text);
  char digits[12];
  int d = 0;
  unsigned v = static_cast<unsigned>(signum);
  do {
    digits[d++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v && d < 11);
  while (d > 0 && n < sizeof text - 1) text[n++] = digits[--d];
  ssize_t w = write(STDOUT_FILENO, text, n);
  (void)w;
  g.g_bAbortSignal = 1;
}

// SIGINT as on the board, and SIGTERM too: init systems stop daemons with SIGTERM, and
// the default action would skip the orderly shutdown.
void installSignalHandlers() {
  struct sigaction sa;
  memset(&sa, 0, sizeof sa);
  sa.sa_handler = signalHandler;
  sigemptyset(&sa.sa_mask);
  sigaddset(&sa.sa_mask, SIGINT);
  sigaddset(&sa.sa_mask, SIGTERM);
  sa.sa_flags = 0;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
}

// The four server clients, each as process 16; false ends the program with -1 (the
// clients set up before the failing one are left as they are).
bool setUpClients() {
  if (InitFileMsgDrv(kSettingsKey, kProcId) != 0) {
    printf("file message driver initialize failed. key=%d, msg=%d", kSettingsKey, kProcId);
    return false;
  }
  if (SysDrvInit(kProcId) < 0) {
    KVLog("kv_server message driver initialize failed\n");
    return false;
  }
  if (KVDrvInit(kProcId) < 0) {
    KVLog("kv message driver initialize failed. %s\n", "kv_sentinel_main");
    return false;
  }
  if (OrvelDrvInit(kProcId) != 0) {
    printf("OrvelDrvInit fail\n");
    return false;
  }
  return true;
}

// Every thread in table order; one that cannot be started ends the main loop, the others
// are still started.
// The threads block every signal: SIGINT and SIGTERM are the main loop's.
void startThreads() {
  for (Thread &t : g.workers) {
    if (!t.worker.start(t.body)) {
      g.g_bAbortSignal = 1;
      KVLog("%s create fail\n", t.name);
    }
  }
}

// Asks a thread to end, cancels it and gives it a moment. False when it may have ended
// inside a client exchange, still holding that client's lock.
bool stopThread(Thread &t) {
  if (!t.worker.running()) {
    t.worker.setQuit(true);
    return true;
  }
  return t.worker.cancel(kStopWaitMs) && !t.in_request;
}

// Ends the threads in the reverse order of their start (the watcher first), then the
// clients. A client whose monitor ended inside a request (its server hangs), or the
// settings client while a thread was inside its exchange, is left as it is: its lock may
// be held for good, and tearing it down would wait forever; the process ends anyway.
void shutDown() {
  bool free[kWorkerCount];
  for (int i = kWorkerCount - 1; i >= 0; --i) free[i] = stopThread(g.workers[i]);
  if (g.in_settings_request == 0) CleanupFileMsgDrv();
  if (free[kAvWorker]) OrvelDrvExit();
  if (free[kKvWorker]) KVDrvExit();
  if (free[kSysWorker]) SysDrvExit();
  KVLog("stop process\n");
  printf("%s, %s exit\n", "kv_sentinel_main", "main");
}

// The start-up wait; false when a stop request came meanwhile.
bool waitForServers() {
  for (int waited = 0; waited < kStartUpMs && !g.g_bAbortSignal; waited += 100) kv::sleep_ms(100);
  return !g.g_bAbortSignal;
}

}  // namespace

// ---- the operations the program is made of ---------------------------------------------

void SetAVServerUpdateTick(int64_t t) { g.servers[kAv].tick = t; }
void SetSysServerUpdateTick(int64_t t) { g.servers[kSys].tick = t; }
void SetKVServerUpdateTick(int64_t t) { g.servers[kKv].tick = t; }
void SetAVServerMonitorStarted(int v) { g.servers[kAv].started = v; }
void SetSysServerMonitorStarted(int v) { g.servers[kSys].started = v; }
void SetKVServerMonitorStarted(int v) { g.servers[kKv].started = v; }
void SetAVServerMonitorThreadQuit(int v) { g.workers[kAvWorker].worker.setQuit(v != 0); }
void SetSysServerMonitorThreadQuit(int v) { g.workers[kSysWorker].worker.setQuit(v != 0); }
void SetKVServerMonitorThreadQuit(int v) { g.workers[kKvWorker].worker.setQuit(v != 0); }
void SetMonitorThreadQuit(int v) { g.workers[kWatcherWorker].worker.setQuit(v != 0); }

int64_t GetTickCount() { return kv::tick_ms(); }

SysInfo *GetStaticSysInfo() {
  SysInfo *info = g.g_pSysInfo.load();
  if (!info) {
    info = GetSysInfo();
    if (info) g.g_pSysInfo = info;
  }
  return info;
}

void *AVServerMonitorThread(void *) {
  return cancellable([] { monitorRounds(g.workers[kAvWorker], g.servers[kAv]); });
}
void *KVServerMonitorThread(void *) {
  return cancellable([] { monitorRounds(g.workers[kKvWorker], g.servers[kKv]); });
}
void *SysServerMonitorThread(void *) {
  return cancellable([] { monitorRounds(g.workers[kSysWorker], g.servers[kSys]); });
}

void *MonitorThread(void *) {
  return cancellable([] {
    const kv::Worker &self = g.workers[kWatcherWorker].worker;
    SysInfo *info = waitForSysInfo(self);
    while (info && !self.quitRequested()) {
      checkServers();
      checkErrorFlag(info);
      kv::sleep_ms(1000);
    }
  });
}

int main(int argc, char **argv) {
  kv_answer_help_or_version("kv_sentinel", argc, argv);
  setvbuf(stdout, nullptr, _IOLBF, 0);
  printf("%s, %s enter\n", "kv_sentinel_main", "main");
  char tag[] = "watch_d";
  char noPath[] = "";
  KVLogInitialize(tag, 1, noPath);
  KVLog("start process\n");
  installSignalHandlers();
  if (!waitForServers()) {
    printf("%s, %s exit\n", "kv_sentinel_main", "main");
    return 0;
  }
  if (!setUpClients()) return -1;
  startThreads();
  while (!g.g_bAbortSignal) kv::sleep_ms(100);
  shutDown();
  return 0;
}
