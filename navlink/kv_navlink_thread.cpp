// kv_navlink's GPS reader: the receiver's port, the line splitter, the sentence intake and
// what the intake asks for (events to kv_server, the clock, the track).
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <atomic>

#include "KVLog.h"
#include "board_root.h"
#include "dm368_zt5_util.h"
#include "gps_track.h"
#include "kv_common_util.h"
#include "kv_navlink.h"
#include "kv_sysinfo_util.h"
#include "line_splitter.h"
#include "navlink_bus.h"
#include "nmea_intake.h"

namespace {

constexpr const char *kGpsPort = "/dev/ttyS0";
constexpr int kPassPauseMs = 50;

struct Reader {
  std::atomic<int> g_bThreadCreated{0};
  std::atomic<int> gIsThreadQuit{0};
  pthread_t tGpsThread{};
  bool joinable = false;
  GpsState gps;  // the GPS reader's alone, but for the flag the track writer clears
  LineSplitter splitter;
  int port = -1;
} g;

thread_local bool t_inReader = false;  // the calling thread is the GPS reader

// ---- what the intake asks for ---------------------------------------------------------

// The clock runs on local time; "hwclock -uw" copies it to the hardware clock as if UTC.
void setClock(SysInfo *info, int64_t value) {
  if (!info || !info->kv_config.gps_sync_time_activate) return;
  char text[20] = {};
  GetCurrentTimeString(text);
  KVLog("GPST T1=%s\n", text);
  ClearSyncTime(info);
  struct timespec ts = {static_cast<time_t>(value), 0};
  kv_set_clock(&ts);
  kv_system("hwclock -uw");
  GetCurrentTimeString(text);
  KVLog("GPST T2=%s\n", text);
}

// On the rear unit the GPS port also carries "$GPRMC" on to the front unit. A port that
// takes no output loses the echo, as an unplugged receiver would: nothing to report.
void echoToPort(const char *line, size_t len) {
  ssize_t sent = write(g.port, line, len);
  if (sent >= 0) sent = write(g.port, "\r\n", 2);
  (void)sent;
}

void handleLine(void *, const char *line, size_t len) {
  SysInfo *info = GetStaticSysInfo();
  IntakeEffects fx;
  NmeaIntake(g.gps, info, line, GetTickCount(), fx);
  if (fx.echo_to_port) echoToPort(line, len);
  if (fx.announce_source) NavBusNotify(kNoticeGpsSource);
  if (fx.set_clock) setClock(info, fx.clock_value);
  if (fx.update_osd) NavBusNotify(kNoticeOsd);
  if (fx.signal_on) NavBusNotify(kNoticeSignalOn);
  if (fx.accepted) ProcessGpsData(line);
}

// ---- the port -------------------------------------------------------------------------

void readLoop() {
  while (!g.gIsThreadQuit.load()) {
    g.splitter.pass(g.port, handleLine, nullptr);
    NavBusFlush();  // notices kept while the serial reader waited for kv_server
    kv::sleep_ms(kPassPauseMs);
  }
}

void *GpsThread(void *) {
  t_inReader = true;
  TrackZeroRing();
  if (NavBusJoin() != 0) {
    printf("kv message driver initialize failed. %s\n", "kv_navlink_thread");
    return nullptr;
  }
  if (SysInfo *info = GetStaticSysInfo()) info->kv_config.gps_sync_time_counter = 0;
  g.port = kv_open(kGpsPort, O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (g.port < 0) {
    printf("Error: can't open device");
    NavBusLeave();
    return nullptr;
  }
  struct termios saved;
  bool restore = tcgetattr(g.port, &saved) == 0;
  SetUpPort(g.port, kReaderVtime, kReaderVmin);
  g.splitter.reset();
  readLoop();
  if (restore) tcsetattr(g.port, TCSANOW, &saved);
  close(g.port);
  g.port = -1;
  NavBusLeave();
  return nullptr;
}

// ---- hooks of the track writer --------------------------------------------------------

int64_t trackNow() { return GetTickCount(); }
bool readerRunning() { return GpsThreadStarted(); }

void trackFatal(const char *printed, const char *logged) {
  if (printed) fputs(printed, stdout);
  KVLog("%s", logged);
  DoExit();
}

}  // namespace

void SetUpPort(int fd, int vtime, int vmin) {
  struct termios t = {};
  t.c_iflag = IGNPAR;
  t.c_cflag = B9600 | CS8 | CREAD | CLOCAL;
  cfsetispeed(&t, B9600);
  cfsetospeed(&t, B9600);
  t.c_cc[VTIME] = static_cast<cc_t>(vtime);
  t.c_cc[VMIN] = static_cast<cc_t>(vmin);
  tcsetattr(fd, TCSANOW, &t);
}

int StartDaemonThread(pthread_t *thread, void *(*body)(void *)) {
  sigset_t all, old;
  sigfillset(&all);
  pthread_sigmask(SIG_BLOCK, &all, &old);
  int rc = pthread_create(thread, nullptr, body, nullptr);
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  return rc;
}

void GpsReaderSetUp() {
  GpsStateInit(g.gps, GpsProbes{is_interch_inserted, is_av_cable_inserted});
  TrackSetUp(TrackHooks{trackNow, readerRunning, &g.gps.bFirstTimeSynced, trackFatal}, nullptr);
}

int CreateGpsThread() {
  if (g.g_bThreadCreated.load()) return 0;
  KVLog("CreateGpsT\n");
  g.gIsThreadQuit = 0;
  // The reader counts as started even when it cannot run: without its track lock it
  // would end at once, and track starts then do nothing.
  if (TrackCreateLock() != 0) {
    g.g_bThreadCreated = 1;
    return 0;
  }
  if (StartDaemonThread(&g.tGpsThread, GpsThread) != 0) {
    printf("GpsThread create fail");
    TrackDestroyLock();
    return -1;
  }
  g.joinable = true;
  g.g_bThreadCreated = 1;
  return 0;
}

int CloseGpsThread() {
  KVLog("CloseGpsd\n");
  if (!g.g_bThreadCreated.load()) return 0;
  CloseGpsFd();
  g.gIsThreadQuit = 1;
  if (g.joinable) pthread_join(g.tGpsThread, nullptr);
  g.joinable = false;
  g.g_bThreadCreated = 0;
  TrackDestroyLock();
  return 0;
}

void SetGpsThreadQuit(int quit) {
  g.gIsThreadQuit = quit;
  // Called for the fatal end from another thread: the reader is let finish its pass
  // (at most 50 ms) so that it does not end half-way through the exit.
  if (quit && !t_inReader && g.joinable) {
    pthread_join(g.tGpsThread, nullptr);
    g.joinable = false;
  }
}

bool GpsThreadStarted() { return g.g_bThreadCreated.load() != 0; }
