// SPDX-License-Identifier: MIT
// kv_navlink on a simulated board: the real daemon with the settings manager and kv_server
// stand-ins, the GPS receiver played into /dev/ttyS0 by the sandbox's feeder, and what a
// person on the board would see: track files on the card, events on the bus, the clock,
// the settings record, the log. Waits the system prescribes (6 s and 7 s after a start,
// 5 s without "$GPRMC") are real; each case runs in parallel with the others.
// ctest-labels: threaded
// ctest-cost: 10 (replays and the speed's 5 s timeout in real time)
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdio.h>
#include <sys/ipc.h>
#include <sys/msg.h>
#include <sys/shm.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "board_root.h"
#include "dm368_zt5_util.h"
#include "gps_track_reader.h"
#include "kv_gps_msg_drv.h"
#include "kv_msg_drv.h"
#include "kv_owners.hpp"
#include "kv_server_gps.h"
#include "local_time.h"
#include "msg_util.h"
#include "nmea_feed.h"
#include "sandbox.h"
#include "sandbox_link.h"
#include "sandbox_settings.h"
#include "share_mem.h"

namespace {

using namespace std::chrono_literals;
using kvsim::contains;
using kvsim::Sandbox;

enum Role { kSingle = 0, kFront = 1, kRear = 2 };
constexpr const char *kTrack = "/mnt/mmc/Recordings/20240507_123519_N_F";

std::vector<kvsim::Sentence> capture(const char *name) {
  return kvsim::readCapture(std::string(KV_TEST_DATA_DIR) + "/" + name);
}

// Where two line lists part, for a readable failure.
std::string firstDifference(const std::vector<std::string> &got,
                            const std::vector<std::string> &want) {
  size_t i = 0;
  while (i < got.size() && i < want.size() && got[i] == want[i]) ++i;
  if (i == got.size() && i == want.size()) return "equal";
  return "line " + std::to_string(i) + " of " + std::to_string(got.size()) + "/" +
         std::to_string(want.size()) + ": got '" + (i < got.size() ? got[i] : "(end)") +
         "' want '" + (i < want.size() ? want[i] : "(end)") + "'";
}

std::vector<std::string> textsOf(const std::vector<gpstrack::Line> &lines) {
  std::vector<std::string> out;
  for (const auto &l : lines) out.push_back(l.sentence);
  return out;
}

// A unit with the settings manager and kv_server up, the GPS port on a pseudo-terminal and
// the card's recordings folder; kv_navlink is started by the case.
// A camera unit of the given role whose GPS shows the speed and sets the clock (zone
// +09:00) from a cable it knows of; `prepare` changes what a test needs.
class Unit : public kvsim::RecorderUnit {
 public:
  explicit Unit(Role unit_role, void (*prepare)(KV_Config_Data &) = nullptr)
      : RecorderUnit(unit_role, [prepare](KV_Config_Data &c, int) {
          c.gps_speed_display = 1;
          c.gps_sync_time = 1;
          c.gps_timezone = 900;
          c.gps_cable_connected = 1;
          if (prepare) prepare(c);
        }) {}

  ~Unit() {
    stopFeed();
    if (daemon > 0) {
      board.kill(daemon);
      std::string err = board.stderrOf(daemon);
      EXPECT_FALSE(contains(err, "Sanitizer") || contains(err, "runtime error")) << err;
      daemon = 0;
    }
  }

  // Starts kv_navlink and waits until it serves its channel.
  void start() {
    bool serves = startNavlink();
    ASSERT_TRUE(serves) << board.stdoutOf(daemon) << board.stderrOf(daemon);
  }
  bool running() { return board.running(daemon); }

  // ---- the receiver ------------------------------------------------------------------
  void feed(const std::vector<kvsim::Sentence> &s, kvsim::FeedOptions o = {}) {
    feeder.play(s, o, &stop_feed);
  }
  void feedInBackground(std::vector<kvsim::Sentence> s, kvsim::FeedOptions o = {}) {
    stopFeed();
    stop_feed = false;
    background = std::thread([this, s = std::move(s), o] { feeder.play(s, o, &stop_feed); });
  }
  void stopFeed() {
    stop_feed = true;
    if (background.joinable()) background.join();
  }
  // Waits until the daemon has read every byte sent and handled what it read (a pass
  // handles its lines before the reader sleeps again). The pause after the port drained
  // is ten of the reader's 50 ms periods: on a loaded machine the last pass may be
  // descheduled for a while after its read.
  void settle() { board.waitPortRead("/dev/ttyS0", 20s, 500ms); }

  // ---- kv_server's requests ----------------------------------------------------------
  void request(const std::string &lines) {
    ASSERT_TRUE(kvsim::sendGpsRequests(board, lines)) << lines;
  }
  void startTrack(const std::string &extra = "") {
    request("start stem=" + stem() + " " + extra);
    ASSERT_TRUE(Sandbox::waitUntil([&] { return board.exists(trackPath()); }, 5s));
  }
  void stopTrack() { request("stop"); }
  std::string stem() const { return board.path(kTrack); }
  std::string trackPath() const { return std::string(kTrack) + ".gps"; }
  std::string trackText() const { return board.read(trackPath()); }
  gpstrack::Track track() const { return gpstrack::parse(trackText()); }
  // Waits until the track has been closed (its sync ran) `n` times.
  bool closed(size_t n = 1) {
    return Sandbox::waitUntil([&] { return board.commandsOf("sync").size() >= n; }, 10s);
  }

  // ---- what the unit shows -----------------------------------------------------------
  std::string lastLog() const { return board.flashLogs(); }
  int events(int id) const {
    int n = 0;
    for (const auto &line : board.serverLog("kv_server"))
      n += line.rfind("id=" + std::to_string(id) + " ", 0) == 0 ? 1 : 0;
    return n;
  }
  std::string eventLine(int id) const {
    for (const auto &line : board.serverLog("kv_server"))
      if (line.rfind("id=" + std::to_string(id) + " ", 0) == 0) return line;
    return "";
  }
  // The clock value the daemon set (seconds), or -1.
  long long clock() const {
    std::string text = board.read("/sim/clock");
    return text.empty() ? -1 : atoll(text.c_str());
  }
  // Every "$GP" line the feeder sent that the intake must take, in order.
  std::vector<std::string> accepted() const { return kvsim::acceptedLines(feeder.ledger()); }

  pid_t &daemon = navlink;
  kvsim::NmeaFeeder feeder{-1};
  std::atomic<bool> stop_feed{false};
  std::thread background;
};

// The feeder writes to the unit's pseudo-terminal.
struct FrontUnit : Unit {
  explicit FrontUnit(void (*prepare)(KV_Config_Data &) = nullptr) : Unit(kFront, prepare) {
    feeder = kvsim::NmeaFeeder(gps);
  }
};

// A raw exchange on the GPS channel, as a C client with process id `src` would make it.
struct Channel {
  Channel() : qid(Msg_Init(KV_GPS_MSG_KEY)) {}
  void send(int cmd, int src, int length = 0, int offset = 0) const {
    KV_MSG_BUF m = {};
    m.Des = 1;
    m.cmd = cmd;
    m.src = src;
    m.length = length;
    m.offset = offset;
    Msg_Send(qid, &m, sizeof m);
  }
  // The reply to `src`, or Des 0 after `timeout`.
  KV_MSG_BUF reply(int src, std::chrono::milliseconds timeout = 3000ms) const {
    KV_MSG_BUF m = {};
    Sandbox::waitUntil([&] { return Msg_RsvFlags(qid, src, &m, sizeof m, IPC_NOWAIT) > 0; },
                       timeout);
    return m;
  }
  int qid;
};

// ---- the message table ----------------------------------------------------------------

TEST(KvNavlinkChannel, the_message_table_answers_as_the_channel_promises) {
  FrontUnit unit;
  unit.start();
  Channel ch;
  int segment = shmget(kv_ipc_key(KV_GPS_MSG_KEY), 0, 0);
  ASSERT_GE(segment, 0);

  ch.send(KV_GPS_STOP_SAVE, 0);  // one-way: handled, no reply
  ch.send(999, 1);               // from the server's own number: skipped
  ch.send(999, 5);
  KV_MSG_BUF r = ch.reply(5);
  EXPECT_EQ(r.Des, 5);
  EXPECT_EQ(r.src, 1);
  EXPECT_EQ(r.cmd, 999);
  EXPECT_EQ(r.shmid, segment);
  EXPECT_TRUE(Sandbox::waitUntil(
      [&] { return contains(unit.lastLog(), "ProcKVGpsMsg Unknown message. Quit cmd=999\n"); },
      3s));
  // The message of src 1 before it was skipped: logged once, for src 5 only.
  std::string log = unit.lastLog();
  EXPECT_EQ(log.find("Quit cmd=999"), log.rfind("Quit cmd=999"));

  ch.send(KV_GPS_START_SAVE, 5, 100, 3 * 0x3000);
  r = ch.reply(5);
  EXPECT_EQ(r.length, -1) << "a start record is 104 bytes";
  ch.send(KV_GPS_START_SAVE, 5, 104, 0x1B000 - 50);
  r = ch.reply(5);
  EXPECT_EQ(r.length, -1) << "a record that passes the segment's end is not read";

  ch.send(KV_GPS_GET_TEST, 5);
  r = ch.reply(5);
  EXPECT_EQ(r.offset, 3 * 0x3000);
  EXPECT_EQ(r.length, 1);
  EXPECT_EQ(r.shmid, segment);
  ch.send(KV_GPS_GET_TEST, 20);
  EXPECT_EQ(ch.reply(20).length, -1) << "process 20 has no slot in the segment";

  ch.send(KV_GPS_SET_TEST, 7);
  EXPECT_EQ(ch.reply(7).shmid, segment);
  ch.send(KV_GPS_QUIT, 7);  // the servers' quit id: logged, and the daemon stays
  EXPECT_EQ(ch.reply(7).Des, 7);
  for (int relay : {5, 20, 70, 91}) {  // serial-link codes: handled
    ch.send(relay, 8);
    EXPECT_EQ(ch.reply(8).shmid, segment) << relay;
  }
  EXPECT_TRUE(unit.running());
  EXPECT_FALSE(unit.board.exists(unit.trackPath()));
}

// ---- start-up and shutdown --------------------------------------------------------------

void expectOrderlyEnd(int sig) {
  FrontUnit unit;
  unit.start();
  unit.startTrack();
  unit.feed(capture("drive_1hz.nmea"), {.speed = 0});
  unit.settle();
  int segment = shmget(kv_ipc_key(KV_GPS_MSG_KEY), 0, 0);
  ASSERT_GE(segment, 0);
  unit.board.signal(unit.daemon, sig);
  int status = unit.board.wait(unit.daemon, 5000ms);
  ASSERT_NE(status, -1) << "kv_navlink did not end";
  EXPECT_EQ(Sandbox::exitCode(status), 0);
  // The track was closed: every line the intake took is in it, the last one complete.
  auto track = unit.track();
  EXPECT_TRUE(track.complete);
  EXPECT_TRUE(track.valid) << track.bad_line;
  EXPECT_EQ(textsOf(track.lines), unit.accepted());
  EXPECT_LT(msgget(kv_ipc_key(KV_GPS_MSG_KEY), 0), 0) << "queue removed";
  EXPECT_LT(shmget(kv_ipc_key(KV_GPS_MSG_KEY), 0, 0), 0) << "segment removed";
  EXPECT_EQ(unit.cfg().gps_proc_alive, 0);
  std::string log = unit.lastLog();
  EXPECT_TRUE(contains(log, "[gps_p]: start process\n"));
  EXPECT_TRUE(contains(log, "ckv_navlink caught SIGTERM\n"));
  EXPECT_TRUE(contains(log, "CloseGpsd\n"));
  EXPECT_TRUE(contains(log, "[gps_p]: stop process\n"));
}

TEST(KvNavlinkLife, sigint_closes_the_track_and_removes_the_channel) { expectOrderlyEnd(SIGINT); }

TEST(KvNavlinkLife, sigterm_ends_as_orderly_as_sigint) { expectOrderlyEnd(SIGTERM); }

TEST(KvNavlinkLife, a_single_unit_reads_no_gps_and_writes_no_track) {
  Unit unit(kSingle);
  unit.feeder = kvsim::NmeaFeeder(unit.gps);
  unit.start();
  unit.request("start stem=" + unit.stem());
  auto drive = capture("drive_1hz.nmea");
  // Two seconds of sentences: what the port holds while nobody reads it.
  unit.feed(std::vector<kvsim::Sentence>(drive.begin(), drive.begin() + 14), {.speed = 0});
  std::this_thread::sleep_for(500ms);
  EXPECT_EQ(unit.cfg().gps_speed, -1);
  EXPECT_FALSE(unit.board.exists(unit.trackPath()));
  EXPECT_FALSE(contains(unit.lastLog(), "CreateGpsT"));
}

TEST(KvNavlinkLife, a_rear_unit_reads_gps_on_request_and_echoes_rmc_to_the_front) {
  Unit unit(kRear);
  unit.feeder = kvsim::NmeaFeeder(unit.gps);
  unit.start();
  const std::string rmc =
      kvsim::withChecksum("GPRMC,101500.000,A,4807.038,N,01131.000,E,19.7,084.4,070524,,,A");
  const std::string gga =
      kvsim::withChecksum("GPGGA,101501.000,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,");
  auto echoed = [&] {
    std::string got;
    char buf[512];
    for (int i = 0; i < 20; ++i) {
      ssize_t n = read(unit.gps, buf, sizeof buf);
      if (n > 0) got.append(buf, static_cast<size_t>(n));
      std::this_thread::sleep_for(50ms);
    }
    return got;
  };
  unit.feeder.sendLine(rmc);
  EXPECT_EQ(echoed(), "") << "no GPS reader before request 5";
  unit.request("relay code=5");
  ASSERT_TRUE(Sandbox::waitUntil([&] { return contains(unit.lastLog(), "CreateGpsT\n"); }, 3s));
  unit.request("relay code=5");  // started once, even when repeated
  unit.feeder.sendLine(gga);
  unit.feeder.sendLine(rmc);
  // The port kept the sentence that came before the reader: it goes on to the front too.
  EXPECT_EQ(echoed(), rmc + "\r\n" + rmc + "\r\n");
  EXPECT_EQ(unit.cfg().last_rear_alive_received, 0) << "a rear unit keeps no sign of life";
  unit.request("relay code=6");
  ASSERT_TRUE(Sandbox::waitUntil([&] { return contains(unit.lastLog(), "CloseGpsd\n"); }, 3s));
  unit.feeder.sendLine(rmc);
  EXPECT_EQ(echoed(), "") << "the reader stopped on request 6";
  std::string log = unit.lastLog();
  EXPECT_EQ(log.find("CreateGpsT"), log.rfind("CreateGpsT"));
}

// The keep-alive writes to the link under the serial lock; it ends before the GPS reader
// (and the track it may hold) is closed.
TEST(KvNavlinkLife, a_rear_unit_stops_its_keep_alive_before_its_gps_reader) {
  Unit unit(kRear);
  unit.start();
  unit.request("relay code=5");
  ASSERT_TRUE(Sandbox::waitUntil([&] { return contains(unit.lastLog(), "CreateGpsT\n"); }, 3s));
  unit.board.signal(unit.daemon, SIGINT);
  ASSERT_EQ(Sandbox::exitCode(unit.board.wait(unit.daemon, 5000ms)), 0);
  std::string log = unit.lastLog();
  size_t keepAlive = log.find("R Constp\n"), reader = log.find("CloseGpsd\n");
  ASSERT_NE(keepAlive, std::string::npos) << log;
  ASSERT_NE(reader, std::string::npos) << log;
  EXPECT_LT(keepAlive, reader) << log;
}

struct PortSettings {
  speed_t speed;
  cc_t vmin, vtime;
};

PortSettings portSettings(const Sandbox &board, const char *port) {
  kv::UniqueFd fd(open(board.path(port).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK));
  struct termios t = {};
  tcgetattr(fd.get(), &t);
  return {cfgetispeed(&t), t.c_cc[VMIN], t.c_cc[VTIME]};
}

void setPortSettings(const Sandbox &board, const char *port, PortSettings s) {
  kv::UniqueFd fd(open(board.path(port).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK));
  struct termios t = {};
  ASSERT_EQ(tcgetattr(fd.get(), &t), 0) << port;
  cfsetspeed(&t, s.speed);
  t.c_cc[VMIN] = s.vmin;
  t.c_cc[VTIME] = s.vtime;
  ASSERT_EQ(tcsetattr(fd.get(), TCSANOW, &t), 0) << port;
}

TEST(KvNavlinkLife, the_front_units_readers_give_their_ports_back_as_they_found_them) {
  FrontUnit unit;
  unit.board.openPty("/dev/ttyS1");
  const PortSettings before = {B4800, 3, 9};
  for (const char *port : {"/dev/ttyS0", "/dev/ttyS1"}) setPortSettings(unit.board, port, before);
  unit.start();
  for (const char *port : {"/dev/ttyS0", "/dev/ttyS1"})
    EXPECT_TRUE(Sandbox::waitUntil(
        [&] {
          PortSettings now = portSettings(unit.board, port);
          return now.speed == B9600 && now.vmin == 0 && now.vtime == 5;
        },
        3s))
        << port << ": the reader's own settings";
  unit.board.signal(unit.daemon, SIGINT);
  ASSERT_EQ(Sandbox::exitCode(unit.board.wait(unit.daemon, 5000ms)), 0);
  for (const char *port : {"/dev/ttyS0", "/dev/ttyS1"}) {
    PortSettings after = portSettings(unit.board, port);
    EXPECT_EQ(after.speed, before.speed) << port;
    EXPECT_EQ(after.vmin, before.vmin) << port;
    EXPECT_EQ(after.vtime, before.vtime) << port;
  }
}

// ---- the intake over the port ----------------------------------------------------------

TEST(KvNavlinkIntake, every_line_of_a_noisy_replay_is_taken_or_dropped_as_the_rules_say) {
  FrontUnit unit;
  unit.start();
  unit.startTrack();
  unit.feed(capture("drive_1hz.nmea"), {.speed = 0, .noise_seed = 11, .noise_every = 3});
  unit.settle();
  unit.stopTrack();
  ASSERT_TRUE(unit.closed());
  auto track = unit.track();
  EXPECT_TRUE(track.valid) << track.bad_line;
  EXPECT_TRUE(track.checksums_ok);
  auto expected = unit.accepted();
  EXPECT_EQ(firstDifference(textsOf(track.lines), expected), "equal");
  // The noise was there: every kind at least once.
  std::map<std::string, int> kinds;
  for (const auto &l : unit.feeder.ledger()) kinds[l.kind] += 1;
  for (const char *kind :
       {"garbage", "bad-checksum", "other-talker", "lower-case", "merged", "overlong", "nul"})
    EXPECT_GT(kinds[kind], 0) << kind;
}

TEST(KvNavlinkIntake, lines_cut_across_reads_are_taken_once_whole) {
  FrontUnit unit;
  unit.start();
  unit.startTrack();
  auto all = capture("drive_1hz.nmea");
  std::vector<kvsim::Sentence> first(all.begin(), all.begin() + 42);
  unit.feed(first, {.speed = 0, .cut = true, .cut_pause_ms = 60, .cut_seed = 5});
  // The receiver's example: the first ten characters, the rest up to the checksum, CR LF.
  std::string s = first.back().text;
  unit.feeder.sendBytes(s.substr(0, 10));
  std::this_thread::sleep_for(120ms);
  unit.feeder.sendBytes(s.substr(10, s.find('*') - 10));
  std::this_thread::sleep_for(120ms);
  unit.feeder.sendBytes(s.substr(s.find('*')) + "\r\n");
  unit.settle();
  unit.stopTrack();
  ASSERT_TRUE(unit.closed());
  auto expected = unit.accepted();
  expected.push_back(s);
  EXPECT_EQ(textsOf(unit.track().lines), expected);
}

// ---- clock, speed, events ---------------------------------------------------------------

// A drive that starts now (UTC), so that its dates are not before the build date.
std::vector<kvsim::Sentence> driveNow(int seconds, bool rollover, time_t *start = nullptr) {
  kvsim::DriveOptions o;
  o.seconds = seconds;
  o.start_utc = time(nullptr);
  o.rollover = rollover;
  if (start) *start = o.start_utc;
  return kvsim::generateDrive(o);
}

long long expectedClock(time_t utc, int zone_seconds) {
  struct tm tm;
  gmtime_r(&utc, &tm);
  return localTime(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec) +
         zone_seconds;
}

TEST(KvNavlinkClock, the_first_fix_sets_the_clock_once_and_again_after_a_track_start) {
  FrontUnit unit;
  unit.start();
  time_t start = 0;
  auto drive = driveNow(4, false, &start);
  // Only the first second (one fix and its six companions) before the track start: a later
  // fix of this feed that a slow reader took after the start would be the one to set the
  // clock again.
  constexpr size_t kFirstSecond = 7;
  ASSERT_TRUE(contains(drive[kFirstSecond].text, "$GPRMC"));
  unit.feed(std::vector<kvsim::Sentence>(drive.begin(), drive.begin() + kFirstSecond),
            {.speed = 0});
  unit.settle();
  // The setting ends with the hwclock command and the second log line; on a loaded machine
  // they may come after the port has drained.
  auto hwclockRuns = [&](size_t n) {
    return Sandbox::waitUntil([&] { return unit.board.commandsOf("hwclock").size() >= n; }, 5s);
  };
  ASSERT_TRUE(hwclockRuns(1));
  EXPECT_EQ(unit.clock(), expectedClock(start, 9 * 3600)) << "the first fix, +09:00";
  EXPECT_EQ(unit.board.commandsOf("hwclock").size(), 1u);
  EXPECT_EQ(unit.board.commandsOf("hwclock")[0], "hwclock -uw");
  auto texts = unit.board.shellTexts();
  EXPECT_NE(std::find(texts.begin(), texts.end(), "hwclock -uw"), texts.end())
      << "the command text has no line break";
  EXPECT_TRUE(Sandbox::waitUntil([&] { return contains(unit.lastLog(), "GPST T2="); }, 5s));
  EXPECT_TRUE(contains(unit.lastLog(), "GPST T1=")) << unit.lastLog();
  EXPECT_EQ(unit.cfg().gps_sync_time_activate, 0);
  EXPECT_EQ(unit.cfg().gps_sync_time_time, 0);
  EXPECT_GT(unit.cfg().gps_sync_time_counter, 0);

  unit.startTrack();
  unit.feed(std::vector<kvsim::Sentence>(drive.begin() + kFirstSecond, drive.end()), {.speed = 0});
  unit.settle();
  ASSERT_TRUE(hwclockRuns(2)) << "a track start sets it again";
  EXPECT_EQ(unit.board.commandsOf("hwclock").size(), 2u);
  EXPECT_EQ(unit.clock(), expectedClock(start + 1, 9 * 3600));
}

TEST(KvNavlinkClock, a_receiver_1024_weeks_behind_sets_todays_date) {
  FrontUnit unit([](KV_Config_Data &c) { c.gps_timezone = -330; });
  unit.start();
  time_t start = 0;
  auto drive = driveNow(2, true, &start);
  ASSERT_TRUE(contains(drive[0].text, ",A,"));
  unit.feed(drive, {.speed = 0});
  unit.settle();
  EXPECT_EQ(unit.clock(), expectedClock(start, -(3 * 3600 + 30 * 60)));
}

TEST(KvNavlinkSpeed, the_osd_speed_follows_the_fix_and_clears_without_one) {
  FrontUnit unit([](KV_Config_Data &c) { c.gps_need_alert = 1; });
  unit.start();
  const std::string fix36 =
      kvsim::withChecksum("GPRMC,101500.000,A,4807.038,N,01131.000,E,19.7,084.4,070524,,,A");
  unit.feeder.sendLine(fix36);  // 19.7 kn = 36.48 km/h
  ASSERT_TRUE(Sandbox::waitUntil([&] { return unit.cfg().gps_speed == 36; }, 3s));
  ASSERT_TRUE(Sandbox::waitUntil([&] { return unit.events(KV_MSG_UPDATE_OSD) == 1; }, 3s));
  ASSERT_TRUE(Sandbox::waitUntil([&] { return unit.events(KV_MSG_GPS_SIGNAL_ONOFF) == 1; }, 3s));
  EXPECT_TRUE(contains(unit.eventLine(KV_MSG_GPS_SIGNAL_ONOFF), "length=4 ")) << "302";
  EXPECT_TRUE(contains(unit.eventLine(KV_MSG_GPS_SIGNAL_ONOFF), "payload=01000000"));
  EXPECT_EQ(unit.cfg().gps_need_alert, 0);

  // Past the 800 ms spacing of refreshes: the mph value gets one of its own.
  std::this_thread::sleep_for(900ms);
  unit.cfg().osd_speed_display_type = 1;  // mph
  unit.feeder.sendLine(fix36);
  ASSERT_TRUE(Sandbox::waitUntil([&] { return unit.cfg().gps_speed == 22; }, 3s));

  unit.feeder.sendLine(kvsim::withChecksum("GPRMC,101501.000,V,,,,,,,070524,,,N"));
  ASSERT_TRUE(Sandbox::waitUntil([&] { return unit.cfg().gps_speed == -1; }, 3s));
  EXPECT_TRUE(Sandbox::waitUntil([&] { return unit.events(KV_MSG_UPDATE_OSD) == 3; }, 3s));
  EXPECT_EQ(unit.events(KV_MSG_GPS_SIGNAL_ONOFF), 1);
}

TEST(KvNavlinkSpeed, the_speed_clears_5_s_after_the_last_rmc_while_other_sentences_come) {
  FrontUnit unit;
  unit.start();
  // Sent before it can be received, noticed after the clear: the lower bound is exact.
  auto rmc_sent = std::chrono::steady_clock::now();
  unit.feeder.sendLine(
      kvsim::withChecksum("GPRMC,101500.000,A,4807.038,N,01131.000,E,19.7,084.4,070524,,,A"));
  ASSERT_TRUE(Sandbox::waitUntil([&] { return unit.cfg().gps_speed == 36; }, 3s));
  const std::string gga =
      kvsim::withChecksum("GPGGA,101501.000,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,");
  auto cleared_at = rmc_sent;
  for (int i = 0; i < 40; ++i) {
    unit.feeder.sendLine(gga);
    std::this_thread::sleep_for(250ms);
    if (unit.cfg().gps_speed == -1) {
      cleared_at = std::chrono::steady_clock::now();
      break;
    }
  }
  double seconds = std::chrono::duration<double>(cleared_at - rmc_sent).count();
  EXPECT_EQ(unit.cfg().gps_speed, -1);
  EXPECT_GE(seconds, 5.0);
  EXPECT_LE(seconds, 6.5);  // one reader pass and one GGA period of slack, and load
}

TEST(KvNavlinkSpeed, fixes_at_5_hz_refresh_the_osd_at_most_once_per_800_ms) {
  FrontUnit unit;
  unit.start();
  auto drive = capture("drive_5hz.nmea");
  std::vector<kvsim::Sentence> six_seconds;
  for (const auto &s : drive)
    if (s.at_ms < 6000) six_seconds.push_back(s);
  auto begin = std::chrono::steady_clock::now();
  unit.feed(six_seconds);
  unit.settle();
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  int refreshes = unit.events(KV_MSG_UPDATE_OSD);
  EXPECT_GE(refreshes, 4);
  EXPECT_LE(refreshes, static_cast<int>(seconds / 0.8) + 1) << seconds << " s";
}

TEST(KvNavlinkSpeed, a_gps_source_on_the_interconnect_is_announced_to_kv_server) {
  FrontUnit unit([](KV_Config_Data &c) { c.gps_cable_connected = 0; });
  unit.board.write(KV_NODE_INTERCH_STATUS, "1\n");
  unit.board.write(KV_NODE_CABLE_STATUS, "0\n");
  unit.start();
  unit.feeder.sendLine(kvsim::withChecksum("GPGSA,A,3,04,05,09,12,17,24,,,,,,,1.8,0.9,1.5"));
  ASSERT_TRUE(Sandbox::waitUntil([&] { return unit.events(405) == 1; }, 3s));
  EXPECT_TRUE(contains(unit.eventLine(405), "src=0 length=4 ")) << unit.eventLine(405);
  EXPECT_TRUE(contains(unit.eventLine(405), "payload=05000000")) << unit.eventLine(405);
  EXPECT_GT(unit.cfg().last_rear_alive_received, 0);
}

// ---- tracks ------------------------------------------------------------------------------

TEST(KvNavlinkTrack, a_track_started_in_the_past_begins_with_the_ring_since_then) {
  FrontUnit unit;
  unit.start();
  auto drive = capture("drive_1hz.nmea");
  unit.feedInBackground(drive, {.speed = 3});  // a fix every 333 ms
  std::this_thread::sleep_for(6000ms);
  time_t requested = time(nullptr);
  unit.startTrack("ago=4000");
  std::this_thread::sleep_for(1500ms);
  unit.stopFeed();
  unit.settle();
  unit.stopTrack();
  ASSERT_TRUE(unit.closed());
  auto track = unit.track();
  ASSERT_TRUE(track.valid) << track.bad_line;
  ASSERT_GT(track.lines.size(), 20u);
  // The ring's part: from offset 0 (the start tick) on, about 4 s of it; then live lines.
  EXPECT_GE(track.lines.front().offset, 0);
  EXPECT_LT(track.lines.front().offset, 1500);  // a fix period, and a reader held up
  for (size_t k = 1; k < track.lines.size(); ++k)
    EXPECT_LE(track.lines[k - 1].offset, track.lines[k].offset);
  EXPECT_GT(track.lines.back().offset, 4500);
  // In the order sent, without a gap: a stretch of what the feeder sent. The satellite
  // lines repeat word for word every second, so the stretch is found by the track's first
  // fix, whose time makes it unique.
  auto sent = unit.accepted();
  auto texts = textsOf(track.lines);
  auto fix = std::find_if(texts.begin(), texts.end(),
                          [](const std::string &t) { return t.rfind("$GPRMC", 0) == 0; });
  ASSERT_NE(fix, texts.end());
  auto fixSent = std::find(sent.begin(), sent.end(), *fix);
  ASSERT_NE(fixSent, sent.end());
  const long before = fix - texts.begin();
  ASSERT_GE(fixSent - sent.begin(), before);
  ASSERT_GE(sent.end() - (fixSent - before), static_cast<long>(texts.size()));
  std::vector<std::string> stretch(fixSent - before,
                                   fixSent - before + static_cast<long>(texts.size()));
  EXPECT_EQ(texts, stretch);
  // The header names the start tick: 4 s before the request.
  EXPECT_LE(std::abs(gpstrack::secondsFrom(track.date_time, requested - 4)), 2.0);
}

TEST(KvNavlinkTrack, the_duration_closes_the_track_at_the_first_late_sentence) {
  FrontUnit unit;
  unit.start();
  unit.startTrack("duration=2000");
  auto drive = capture("drive_1hz.nmea");
  unit.feedInBackground(drive, {.speed = 2});
  ASSERT_TRUE(unit.closed());
  std::this_thread::sleep_for(1000ms);
  unit.stopFeed();
  auto track = unit.track();
  EXPECT_TRUE(track.complete);
  ASSERT_FALSE(track.lines.empty());
  EXPECT_LE(track.lines.back().offset, 2000);
  size_t size = unit.trackText().size();
  std::this_thread::sleep_for(500ms);
  EXPECT_EQ(unit.trackText().size(), size) << "nothing after the close";
}

// A port that goes quiet does not keep the track open past its duration.
TEST(KvNavlinkTrack, the_duration_closes_the_track_on_time_on_a_quiet_port) {
  FrontUnit unit;
  unit.start();
  auto begun = std::chrono::steady_clock::now();
  unit.startTrack("duration=1000");
  ASSERT_TRUE(unit.closed()) << "the track stays open";
  EXPECT_LT(std::chrono::steady_clock::now() - begun, 1600ms);
  EXPECT_TRUE(unit.track().complete);
}

void usr2After(std::chrono::milliseconds wait, bool deleted) {
  FrontUnit unit;
  unit.start();
  unit.startTrack();
  auto begun = std::chrono::steady_clock::now();
  unit.feedInBackground(capture("drive_1hz.nmea"), {.speed = 2});
  std::this_thread::sleep_until(begun + wait);
  unit.request("usr2");
  std::this_thread::sleep_for(200ms);
  unit.request("stop");
  ASSERT_TRUE(unit.closed());
  unit.stopFeed();
  EXPECT_TRUE(
      Sandbox::waitUntil([&] { return unit.board.exists(unit.trackPath()) != deleted; }, 3s))
      << (deleted ? "deleted" : "kept");
  EXPECT_TRUE(unit.running());
  EXPECT_EQ(unit.board.commandsOf("killall").size(), 1u);
}

TEST(KvNavlinkTrack, sigusr2_2_s_after_the_start_deletes_the_track) { usr2After(2000ms, true); }

TEST(KvNavlinkTrack, sigusr2_7_s_after_the_start_keeps_the_track) { usr2After(7000ms, false); }

// ---- failures ----------------------------------------------------------------------------

// A card that is out refuses the file: one line says so, the daemon goes on, and the
// next track is written.
TEST(KvNavlinkFailure, a_track_that_cannot_be_opened_is_logged_and_ends_nothing) {
  FrontUnit unit;
  unit.start();
  std::string refused = unit.board.path("/mnt/mmc/NoSuchFolder/X");
  unit.request("start stem=" + refused);
  std::string line =
      "StartGpsFileWrite " + refused + ".gps: open failed, no track: No such file or directory\n";
  EXPECT_TRUE(Sandbox::waitUntil([&] { return contains(unit.lastLog(), line); }, 5s))
      << unit.lastLog();
  EXPECT_EQ(unit.board.wait(unit.daemon, 500ms), -1) << "the daemon ended";
  EXPECT_EQ(unit.board.stdoutOf(unit.daemon), "open file error!!");
  EXPECT_EQ(unit.cfg().gps_proc_alive, 1);
  unit.startTrack();
}

// A track the card cannot take (here a pipe, which can be neither written by position nor
// synced): the daemon logs what failed and goes on, as after a pulled card.
TEST(KvNavlinkFailure, a_track_that_cannot_be_synced_ends_nothing) {
  FrontUnit unit;
  unit.start();
  std::string fifo = unit.board.path(unit.trackPath());
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  unit.request("start stem=" + unit.stem());
  unit.feed(capture("rollover_1hz.nmea"), {.speed = 0});
  unit.settle();
  unit.request("stop");
  EXPECT_EQ(unit.board.wait(unit.daemon, 1000ms), -1) << "the daemon ended";
  EXPECT_EQ(unit.board.stdoutOf(unit.daemon), "fdatasync error!!");
  EXPECT_TRUE(contains(unit.lastLog(), "fdatasync failed: Invalid argument\n")) << unit.lastLog();
  EXPECT_EQ(unit.cfg().gps_proc_alive, 1);
  close(reader);
}

// A refused track is answered at once, whatever the GPS reader is doing: here it is held
// up in the clock setting (the hardware clock tool takes 8 s).
TEST(KvNavlinkFailure, a_refused_track_is_answered_while_the_gps_reader_is_held_up) {
  FrontUnit unit;
  unit.board.scriptTool("hwclock", {.delay_ms = 8000});
  unit.start();
  auto drive = driveNow(2, false);
  unit.feed(std::vector<kvsim::Sentence>(drive.begin(), drive.begin() + 7), {.speed = 0});
  ASSERT_TRUE(Sandbox::waitUntil([&] { return unit.board.commandsOf("hwclock").size() == 1; }, 5s));
  unit.request("start stem=" + unit.board.path("/mnt/mmc/NoSuchFolder/X"));
  EXPECT_TRUE(
      Sandbox::waitUntil([&] { return contains(unit.lastLog(), "open failed, no track"); }, 4s))
      << "kv_navlink waited for its GPS reader";
  EXPECT_EQ(unit.board.stdoutOf(unit.daemon), "open file error!!");
  EXPECT_TRUE(unit.running());
  EXPECT_EQ(unit.cfg().gps_proc_alive, 1);
}

TEST(KvNavlinkFailure, a_daemon_killed_in_a_track_leaves_only_valid_lines) {
  std::mt19937 rng(20240507);
  for (int round = 0; round < 4; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    FrontUnit unit;
    unit.start();
    unit.startTrack();
    unit.feedInBackground(capture("drive_5hz.nmea"), {.speed = 4});
    std::this_thread::sleep_for(std::chrono::milliseconds(300 + rng() % 2500));
    unit.board.kill(unit.daemon);
    unit.daemon = 0;
    unit.stopFeed();
    auto track = unit.track();
    EXPECT_TRUE(track.valid) << track.bad_line;
    EXPECT_TRUE(track.checksums_ok);
    EXPECT_EQ(unit.trackText().size() % 512, 0u) << "the card saw whole blocks only";
  }
}

// ---- cost when idle ----------------------------------------------------------------------

long long cpuTicks(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t paren = text.rfind(')');
  if (paren == std::string::npos) return -1;
  std::istringstream fields(text.substr(paren + 2));
  std::string f;
  long long utime = 0, stime = 0;
  for (int i = 3; fields >> f; ++i) {
    if (i == 14) utime = atoll(f.c_str());
    if (i == 15) {
      stime = atoll(f.c_str());
      break;
    }
  }
  return utime + stime;
}

TEST(KvNavlinkIdle, a_front_unit_at_1_hz_without_a_track_uses_under_half_a_percent) {
  FrontUnit unit;
  unit.start();
  unit.feedInBackground(capture("drive_1hz.nmea"));
  std::this_thread::sleep_for(2000ms);  // start-up behind it
  long long before = cpuTicks(unit.daemon);
  auto begin = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(20000ms);
  long long after = cpuTicks(unit.daemon);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  unit.stopFeed();
  double share = (after - before) / static_cast<double>(sysconf(_SC_CLK_TCK)) / seconds;
  RecordProperty("cpu_share_percent", std::to_string(share * 100));
  EXPECT_LT(share, 0.005) << (after - before) << " ticks in " << seconds << " s";
}

}  // namespace
