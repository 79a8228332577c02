// kv_sentinel: start-up, the three liveness monitors, the watcher and the orderly shutdown.
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <atomic>

#include "KVLog.h"
#include "OrvelDrvMsg.h"
#include "file_msg_drv.h"
#include "kv_msg_drv.h"
#include "kv_sentinel.h"
#include "sys_msg_drv.h"

namespace {

constexpr int kSettingsKey = 12930021;
constexpr int kProcId = 16;  // the supervisor's number on every channel
constexpr int64_t kNotRespondingMs = 39999;
constexpr unsigned kRoundSeconds = 10;
// How often the system-server monitor looks at bRunning while the recorder is not up.
constexpr long kRunningPollNs = 100L * 1000 * 1000;

}  // namespace

// Ticks are written by one monitor and read by the watcher: 64-bit, one unit each.
std::atomic<int64_t> g_llAVServerTick{0}, g_llSysServerTick{0}, g_llKVServerTick{0};
std::atomic<int> g_bAVServerMonitorStarted{0}, g_bSysServerMonitorStarted{0},
    g_bKVServerMonitorStarted{0};
std::atomic<int> gIsAVServerThreadQuit{0}, gIsSysServerThreadQuit{0}, gIsKVServerThreadQuit{0},
    gIsThreadQuit{0};
std::atomic<int> g_bAbortSignal{0};
std::atomic<SysInfo *> g_pSysInfo{nullptr};

void SetAVServerUpdateTick(int64_t t) { g_llAVServerTick = t; }
void SetSysServerUpdateTick(int64_t t) { g_llSysServerTick = t; }
void SetKVServerUpdateTick(int64_t t) { g_llKVServerTick = t; }
void SetAVServerMonitorStarted(int v) { g_bAVServerMonitorStarted = v; }
void SetSysServerMonitorStarted(int v) { g_bSysServerMonitorStarted = v; }
void SetKVServerMonitorStarted(int v) { g_bKVServerMonitorStarted = v; }
void SetAVServerMonitorThreadQuit(int v) { gIsAVServerThreadQuit = v; }
void SetSysServerMonitorThreadQuit(int v) { gIsSysServerThreadQuit = v; }
void SetKVServerMonitorThreadQuit(int v) { gIsKVServerThreadQuit = v; }
void SetMonitorThreadQuit(int v) { gIsThreadQuit = v; }

int64_t GetTickCount() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

SysInfo *GetStaticSysInfo() {
  SysInfo *info = g_pSysInfo.load();
  if (!info) {
    info = GetSysInfo();
    if (info) g_pSysInfo = info;
  }
  return info;
}

namespace {

// The two live bytes of the shared record are written by other processes: read them
// as single atomic bytes, never cached.
int sharedByte(const unsigned char &field) { return __atomic_load_n(&field, __ATOMIC_ACQUIRE); }
void clearSharedByte(unsigned char &field) { __atomic_store_n(&field, 0, __ATOMIC_RELEASE); }

int recorderRunning(SysInfo *info) {
  return sharedByte(reinterpret_cast<const unsigned char &>(info->kv_config.bRunning));
}

// One liveness monitor per server. The watcher checks them in table order.
struct Monitor {
  const char *thread_name;  // for the "create fail" log line
  const char *server;       // for the "not responding" lines
  int (*watchdog)();
  std::atomic<int64_t> &tick;
  std::atomic<int> &started;
  std::atomic<int> &quit;
  // The system server's monitor waits for bRunning instead of sleeping a round.
  bool waits_for_running;
  // Set around the request: a thread ended inside it may still hold its client's lock.
  std::atomic<int> in_request{0};
  pthread_t thread{};
  bool thread_started = false;
};

int avWatchDog() { return OrvelWatchDog(); }
int kvWatchDog() { return KVMSG_WatchDog(); }
int sysWatchDog() { return SysWatchDog(); }

Monitor g_monitors[] = {
    {"AVServerMonitorThread", "av_server", avWatchDog, g_llAVServerTick, g_bAVServerMonitorStarted,
     gIsAVServerThreadQuit, false},
    {"KVServerMonitorThread", "kv_server", kvWatchDog, g_llKVServerTick, g_bKVServerMonitorStarted,
     gIsKVServerThreadQuit, false},
    {"SysServerMonitorThread", "sys_server", sysWatchDog, g_llSysServerTick,
     g_bSysServerMonitorStarted, gIsSysServerThreadQuit, true},
};
Monitor &g_avMonitor = g_monitors[0];
Monitor &g_kvMonitor = g_monitors[1];
Monitor &g_sysMonitor = g_monitors[2];

pthread_t g_watcher{};
bool g_watcherStarted = false;

void sleepSeconds(unsigned s) {
  struct timespec ts = {static_cast<time_t>(s), 0};
  while (nanosleep(&ts, &ts) != 0) {
  }
}

void sleepMs(long ms) {
  struct timespec ts = {ms / 1000, (ms % 1000) * 1000000};
  while (nanosleep(&ts, &ts) != 0) {
  }
}

// Threads inside the settings manager's exchange. One cancelled there (the manager does
// not answer) ends with the settings client's lock held, and the count stays raised.
std::atomic<int> g_inSettingsRequest{0};

// The settings manager may not deliver the record at once; a thread without it would
// crash on its first look, so it asks again each second until it has it or must end.
SysInfo *waitForSysInfo(const std::atomic<int> &quit) {
  for (;;) {
    ++g_inSettingsRequest;
    SysInfo *info = GetStaticSysInfo();
    --g_inSettingsRequest;
    if (info) return info;
    if (quit) return nullptr;
    sleepSeconds(1);
  }
}

void *monitorThread(void *arg) {
  Monitor &m = *static_cast<Monitor *>(arg);
  SysInfo *info = waitForSysInfo(m.quit);
  while (info && !m.quit) {
    if (m.waits_for_running) {
      // A short sleep, not a spin: on the board's single core a spinning thread would
      // starve the recorder it waits for.
      while (!recorderRunning(info) && !m.quit) {
        struct timespec ts = {0, kRunningPollNs};
        nanosleep(&ts, nullptr);
      }
      if (m.quit) break;
    }
    if (recorderRunning(info)) {
      m.tick = GetTickCount();
      m.started = 1;
      m.in_request = 1;
      m.watchdog();
      m.in_request = 0;
      m.tick = GetTickCount();
    }
    sleepSeconds(kRoundSeconds);
  }
  return nullptr;
}

void restartFor(const Monitor &m, int64_t age) {
  printf("%s not responding... restart\n", m.server);
  KVLog("%s not responding... restart, before=%lldms\n", m.server, static_cast<long long>(age));
  StartRestartThread(GetStaticSysInfo());
  sleepSeconds(5);
}

void *watcherThread(void *) {
  SysInfo *info = waitForSysInfo(gIsThreadQuit);
  while (info && !gIsThreadQuit) {
    const int64_t now = GetTickCount();
    for (const Monitor &m : g_monitors) {
      // The flag before the tick: a monitor stores its tick first, so once the flag is
      // seen the tick is the fresh one, never the 0 of "never" (an age since boot).
      if (!m.started) continue;
      int64_t age = now - m.tick.load();
      if (age > kNotRespondingMs) restartFor(m, age);
    }
    auto &flag = reinterpret_cast<unsigned char &>(info->kv_config.error_flag);
    if (sharedByte(flag)) {
      clearSharedByte(flag);
      printf("error reported... restart\n");
      KVLog("error reported... restart\n");
      StartRestartThread(info);
      sleepSeconds(5);
    }
    sleepSeconds(1);
  }
  return nullptr;
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
  g_bAbortSignal = 1;
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

// Steps 5 to 8 of start-up; false ends the program with -1.
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

void startThread(pthread_t &thread, bool &started, void *(*body)(void *), void *arg,
                 const char *name) {
  started = pthread_create(&thread, nullptr, body, arg) == 0;
  if (!started) {
    g_bAbortSignal = 1;
    KVLog("%s create fail\n", name);
  }
}

void startThreads() {
  startThread(g_kvMonitor.thread, g_kvMonitor.thread_started, monitorThread, &g_kvMonitor,
              g_kvMonitor.thread_name);
  startThread(g_sysMonitor.thread, g_sysMonitor.thread_started, monitorThread, &g_sysMonitor,
              g_sysMonitor.thread_name);
  startThread(g_avMonitor.thread, g_avMonitor.thread_started, monitorThread, &g_avMonitor,
              g_avMonitor.thread_name);
  startThread(g_watcher, g_watcherStarted, watcherThread, nullptr, "MonitorThread");
}

// Cancels a thread and gives it a moment to end. False when it may have ended inside a
// client exchange, still holding that client's lock.
bool stopThread(pthread_t thread, bool started, const std::atomic<int> *in_request) {
  if (!started) return true;
  pthread_cancel(thread);
  struct timespec deadline;
  clock_gettime(CLOCK_REALTIME, &deadline);
  deadline.tv_sec += 1;
  if (pthread_timedjoin_np(thread, nullptr, &deadline) != 0) return false;
  return !in_request || !*in_request;
}

// Ends the threads, then the clients. A client whose monitor ended inside a request (its
// server hangs), or the settings client while a thread was inside its exchange, is left as
// it is: its lock may be held for good, and tearing it down would wait forever; the
// process ends anyway.
void shutDown() {
  gIsThreadQuit = 1;
  stopThread(g_watcher, g_watcherStarted, nullptr);
  gIsAVServerThreadQuit = 1;
  bool avFree = stopThread(g_avMonitor.thread, g_avMonitor.thread_started, &g_avMonitor.in_request);
  gIsSysServerThreadQuit = 1;
  bool sysFree =
      stopThread(g_sysMonitor.thread, g_sysMonitor.thread_started, &g_sysMonitor.in_request);
  gIsKVServerThreadQuit = 1;
  bool kvFree = stopThread(g_kvMonitor.thread, g_kvMonitor.thread_started, &g_kvMonitor.in_request);

  // Tearing the settings client down would wait for ever on a lock a cancelled thread holds.
  if (g_inSettingsRequest == 0) CleanupFileMsgDrv();
  if (avFree) OrvelDrvExit();
  if (kvFree) KVDrvExit();
  if (sysFree) SysDrvExit();
  KVLog("stop process\n");
  printf("%s, %s exit\n", "kv_sentinel_main", "main");
}

}  // namespace

int main() {
  setvbuf(stdout, nullptr, _IOLBF, 0);
  printf("%s, %s enter\n", "kv_sentinel_main", "main");
  char tag[] = "watch_d";
  char noPath[] = "";
  KVLogInitialize(tag, 1, noPath);
  KVLog("start process\n");
  installSignalHandlers();

  // The servers need these 10 s to come up. A stop request meanwhile ends at once.
  for (int step = 0; step < 100 && !g_bAbortSignal; ++step) sleepMs(100);
  if (g_bAbortSignal) {
    printf("%s, %s exit\n", "kv_sentinel_main", "main");
    return 0;
  }
  if (!setUpClients()) return -1;
  startThreads();
  while (!g_bAbortSignal) sleepMs(100);
  shutDown();
  return 0;
}
