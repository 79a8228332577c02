// SPDX-License-Identifier: MIT
// kv_navlink's GPS reader: the receiver's port, the line splitter, the sentence intake and
// what the intake asks for (events to kv_server, the clock, the track).
#include <fcntl.h>
#include <stdio.h>
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
#include "kv_worker.hpp"
#include "line_splitter.h"
#include "navlink_bus.h"
#include "nmea_intake.h"

namespace {

constexpr const char *kGpsPort = "/dev/ttyS0";
constexpr int kPassPauseMs = 50;

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

// The GPS reader: its thread, the GPS state and the line splitter, and the port, which
// are all the reader thread's but for the flag the track writer clears.
class GpsReader {
 public:
  void setUp();
  int start();
  int close();
  void setQuit(bool quit) { worker_.setQuit(quit); }
  // The fatal end's stop: see SetGpsThreadQuit.
  void stopForExit() { worker_.stopWithin(kExitWaitMs); }
  // Also when it ended by itself, and when it could not run for want of its track lock.
  bool started() const { return worker_.running() || started_without_thread_.load(); }

 private:
  static void *run(void *self);
  void body();
  static void takeLine(void *self, const char *line, size_t len);
  void handleLine(const char *line, size_t len);
  void echoToPort(const char *line, size_t len);

  kv::Worker worker_;
  std::atomic<bool> started_without_thread_{false};
  navlink::GpsState gps_;
  navlink::LineSplitter splitter_;
  navlink::SerialPort port_;
};

// Never destroyed: DoExit ends the process while the reader may still run.
GpsReader &reader() {
  static GpsReader *const instance = new GpsReader;
  return *instance;
}

void *GpsReader::run(void *self) {
  static_cast<GpsReader *>(self)->body();
  return nullptr;
}

void GpsReader::body() {
  navlink::TrackZeroRing();
  if (NavBusJoin() != 0) {
    printf("kv message driver initialize failed. %s\n", "kv_navlink_thread");
    return;
  }
  if (SysInfo *info = GetStaticSysInfo()) info->kv_config.gps_sync_time_counter = 0;
  if (!port_.open(kGpsPort, O_RDWR, kReaderVtime, kReaderVmin)) {
    printf("Error: can't open device");
    NavBusLeave();
    return;
  }
  splitter_.reset();
  while (!worker_.quitRequested()) {
    splitter_.pass(port_.fd(), takeLine, this);
    ExpireGpsTrack();  // a quiet port must not keep a track open past its duration
    NavBusFlush();     // notices kept while the serial reader waited for kv_server
    kv::sleep_ms(kPassPauseMs);
  }
  port_.close();
  NavBusLeave();
}

void GpsReader::takeLine(void *self, const char *line, size_t len) {
  static_cast<GpsReader *>(self)->handleLine(line, len);
}

void GpsReader::handleLine(const char *line, size_t len) {
  SysInfo *info = GetStaticSysInfo();
  navlink::IntakeEffects fx;
  navlink::NmeaIntake(gps_, info, line, GetTickCount(), fx);
  if (fx.echo_to_port) echoToPort(line, len);
  if (fx.announce_source) NavBusNotify(kNoticeGpsSource);
  if (fx.set_clock) setClock(info, fx.clock_value);
  if (fx.update_osd) NavBusNotify(kNoticeOsd);
  if (fx.signal_on) NavBusNotify(kNoticeSignalOn);
  if (fx.accepted) ProcessGpsData(line);
}

// On the rear unit the GPS port also carries "$GPRMC" on to the front unit. A port that
// takes no output loses the echo, as an unplugged receiver would: nothing to report.
void GpsReader::echoToPort(const char *line, size_t len) {
  ssize_t sent = write(port_.fd(), line, len);
  if (sent >= 0) sent = write(port_.fd(), "\r\n", 2);
  (void)sent;
}

// ---- hooks of the track writer --------------------------------------------------------

int64_t trackNow() { return GetTickCount(); }
bool readerRunning() { return GpsThreadStarted(); }

void trackFatal(const char *printed, const char *logged) {
  if (printed) fputs(printed, stdout);
  KVLog("%s", logged);
  DoExit();
}

void GpsReader::setUp() {
  navlink::GpsStateInit(gps_, navlink::GpsProbes{is_interch_inserted, is_av_cable_inserted});
  navlink::TrackSetUp(
      navlink::TrackHooks{trackNow, readerRunning, &gps_.bFirstTimeSynced, trackFatal}, nullptr);
}

int GpsReader::start() {
  if (started()) return 0;
  KVLog("CreateGpsT\n");
  // The reader counts as started even when it cannot run: without its track lock it
  // would end at once, and track starts then do nothing.
  if (navlink::TrackCreateLock() != 0) {
    started_without_thread_ = true;
    return 0;
  }
  if (!worker_.start(run, this)) {
    printf("GpsThread create fail");
    navlink::TrackDestroyLock();
    return -1;
  }
  return 0;
}

int GpsReader::close() {
  KVLog("CloseGpsd\n");
  if (!started()) return 0;
  CloseGpsFd();
  worker_.stop();
  started_without_thread_ = false;
  navlink::TrackDestroyLock();
  return 0;
}

}  // namespace

void GpsReaderSetUp() { reader().setUp(); }
int CreateGpsThread() { return reader().start(); }
int CloseGpsThread() { return reader().close(); }
void SetGpsThreadQuit(int quit) { reader().setQuit(quit != 0); }
void GpsReaderStopForExit() { reader().stopForExit(); }
bool GpsThreadStarted() { return reader().started(); }
