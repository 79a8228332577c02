// SPDX-License-Identifier: MIT
// One recorder, two architectures: the programs built for the board's processor (the
// board-test build, run under qemu-arm) in a sandbox with the workstation's own stand-in
// servers. The queues, segments and records they share must mean the same on both sides,
// whichever side built a record: the settings record read and written in place, the
// event bus's G-sensor items, the frame descriptors, kv_navlink's GPS channel, the data
// and track files on the card. Each program's resident memory on the board's build is
// printed, taken after its start-up or where a one-shot tool waits.
// board-test: host only (it starts the board build's programs from the workstation)
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/ipc.h>
#include <sys/msg.h>
#include <sys/shm.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "OrvelDrvMsg.h"
#include "board_root.h"
#include "dm368_zt5_util.h"
#include "gps_track_reader.h"
#include "gsensor_motion.h"
#include "gsf_reader.h"
#include "i2c_bus_format.h"
#include "kv_common_util.h"
#include "kv_gps_msg_drv.h"
#include "kv_msg_drv.h"
#include "kv_server_gps.h"
#include "msg_util.h"
#include "nmea_feed.h"
#include "sandbox.h"
#include "sandbox_emulator.h"
#include "sandbox_i2c.h"
#include "sandbox_settings.h"
#include "sandbox_wifi.h"
#include "share_mem.h"
#include "standin_server.h"
#include "sys_msg_drv.h"

namespace {

using namespace std::chrono_literals;
using kvsim::contains;
using kvsim::Sandbox;

// ---- the board build -----------------------------------------------------------------

std::string armProgram(const std::string &name) { return KV_BOARD_TEST_DIR "/bin/" + name; }
std::string armStandIn(const std::string &name) { return KV_BOARD_TEST_DIR "/sim/" + name; }

// The same program of the workstation's build, from the same sources.
std::string hostCounterpart(const std::string &arm_file) {
  return KV_HOST_BUILD_DIR + arm_file.substr(std::string(KV_BOARD_TEST_DIR).size());
}

// An ARM program linked before the workstation's one, which may have been built from newer
// sources: the two sides could then speak different versions, and the failures would
// point elsewhere.
bool olderThanHostBuild(const std::string &arm_file) {
  std::error_code ec_arm, ec_host;
  auto arm = std::filesystem::last_write_time(arm_file, ec_arm);
  auto host = std::filesystem::last_write_time(hostCounterpart(arm_file), ec_host);
  return !ec_arm && !ec_host && arm < host;
}

// The board build must be there, and current: `make test` builds it after the
// workstation's when the cross toolchain is installed. Without it the tests are skipped,
// but never in CI.
class CrossArch : public testing::Test {
 protected:
  void SetUp() override {
    for (const auto &file :
         {armProgram("kv_sentinel"), armProgram("kv_shocklog"), armProgram("kv_navlink"),
          armProgram("kv_powerctl"), armProgram("kv_bootcheck"), armProgram("i2c_rw"),
          armProgram("kv_wifi_switch"), armProgram("kv_stationd"),
          armStandIn("kv_channel_probe")}) {
      if (kvsim::isArmProgram(file)) {
        // Only said: with `make -j test` the two builds may finish in either order.
        if (olderThanHostBuild(file))
          printf(
              "note: %s is older than %s; should a case fail, rebuild the board's suites "
              "first (cmake --build --preset board-test)\n",
              file.c_str(), hostCounterpart(file).c_str());
        continue;
      }
      const char *ci = getenv("CI");
      if (ci && std::string(ci) == "true") FAIL() << "no ARM build of " << file;
      GTEST_SKIP() << "no ARM build of " << file << " (make board-test builds it)";
    }
  }
};

std::string fileBytes(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::string> linesStartingWith(const std::vector<std::string> &lines,
                                           const std::string &start) {
  std::vector<std::string> found;
  for (const auto &line : lines)
    if (line.rfind(start, 0) == 0) found.push_back(line);
  return found;
}

// Resident memory of an ARM program after start-up, as VmRSS would show it on the board
// (printed for the record). The bounds are about twice what the programs use today
// (glibc's pages, the stacks of the threads, the settings record mapped): a program that
// grows past one has taken a buffer or a leak the board's memory, shared with the video
// servers, cannot spare.
constexpr long kSentinelResidentKb = 3072;
constexpr long kShocklogResidentKb = 3072;
constexpr long kNavlinkResidentKb = 4096;  // its 242 KB ring, zeroed by the GPS reader
constexpr long kToolResidentKb = 3072;

void expectResidentWithin(const char *program, long kb, long bound_kb,
                          const char *when = "after start-up") {
  printf("%s (ARM926 under qemu-arm): %ld kB resident %s\n", program, kb, when);
  testing::Test::RecordProperty(std::string(program) + "_resident_kb", std::to_string(kb));
  EXPECT_GT(kb, 0) << program << ": no memory map read";
  EXPECT_LE(kb, bound_kb) << program;
}

// ---- every client channel ----------------------------------------------------------------

// What one build of the probe exchanged with the four stand-ins of a fresh board.
struct Exchange {
  std::vector<std::string> received;                     // the probe's lines
  std::map<std::string, std::vector<std::string>> sent;  // each server's log
};

const char *const kServers[] = {"file_manager", "system_server", "kv_server", "av_server.out"};

Exchange exchangeWith(const std::string &probe) {
  Sandbox board;
  // The servers' answers: G-sensor items with distinct values in every field, a MAC and a
  // title from the system server, the frame memory and a locked frame from the AV server.
  std::string items;
  for (int i = 0; i < 50; ++i)
    items += std::to_string(100000 + 250 * i) + " " + std::to_string(-7 * i) + " " +
             std::to_string(i) + " " + std::to_string(-i) + " " + std::to_string(2 * i) + " " +
             std::to_string(i % 3) + " " + std::to_string(4000 + i) + " " +
             std::to_string(3600 + i) + "\n";
  board.write(kvsim::kGSensorFeed, items);
  board.setControl("system_server", "reply." + std::to_string(SYS_MSG_GET_MAC), "hex=0a1b2c3d4e5f");
  board.setControl("system_server", "reply." + std::to_string(SYS_MSG_GET_TITLE),
                   "data=front unit");
  board.setControl("av_server.out", "reply." + std::to_string(MSG_CMD_GET_MEM),
                   "addr=2281701376\nmemsize=31457280");
  board.setControl("av_server.out", "reply." + std::to_string(MSG_CMD_LOCK_FRAME),
                   "offset=4096\nsize=65536\nwidth=1280\nheight=720\nframeType=1\n"
                   "quality=80\nflags=3\ntimestamp=4000000000\ntemporalId=2\nframeNum=99\n"
                   "timeTick=123456");
  for (const char *server : kServers) board.startServer(server);

  pid_t pid = board.start({probe});
  int status = board.wait(pid, 60s);
  EXPECT_EQ(Sandbox::exitCode(status), 0) << probe << ": " << board.stderrOf(pid);
  Exchange seen{kvsim::splitLines(board.stdoutOf(pid)), {}};
  // The segment's id is the only thing that differs between two boards.
  std::regex shmid("shmid=-?[0-9]+");
  for (const char *server : kServers)
    for (const auto &line : board.serverLog(server))
      seen.sent[server].push_back(std::regex_replace(line, shmid, "shmid=*"));
  return seen;
}

TEST_F(CrossArch, an_arm_client_of_every_channel_exchanges_the_same_bytes_as_the_workstations) {
  Exchange host = exchangeWith(Sandbox::simDir() + "/kv_channel_probe");
  Exchange arm = exchangeWith(armStandIn("kv_channel_probe"));

  // The workstation's run is the reference: it must have got the scripted answers.
  ASSERT_EQ(host.received.size(), 19u);
  for (const auto &line : host.received)
    EXPECT_FALSE(contains(line, "ret=-1")) << "the reference run failed: " << line;
  auto answer = [&](const std::string &call) {
    auto lines = linesStartingWith(host.received, call + " ");
    return lines.empty() ? std::string() : lines.front();
  };
  EXPECT_TRUE(contains(answer("system GetMAC"), "0a1b2c3d4e5f"));
  EXPECT_TRUE(contains(answer("system GetTitle"), "66726f6e7420756e6974"));  // "front unit"
  EXPECT_TRUE(contains(answer("av GetPhyMem"), "000000880000e001"));
  EXPECT_TRUE(contains(answer("av LockFrame"), "00100000070000000000010000050000d0020000"));

  ASSERT_EQ(arm.received.size(), host.received.size());
  for (size_t i = 0; i < host.received.size(); ++i)
    EXPECT_EQ(arm.received[i], host.received[i]) << "what the ARM client received";
  for (const char *server : kServers) {
    ASSERT_FALSE(host.sent[server].empty()) << server;
    EXPECT_EQ(arm.sent[server], host.sent[server]) << "what " << server << " received";
  }
}

// ---- kv_shocklog -------------------------------------------------------------------------

constexpr const char *kRecordings = "/mnt/mmc/Recordings";

// One run of a kv_shocklog build on a still sensor, with kv_server's 50 previous samples
// (distinct ones) lying after the start tick: the file it leaves, and its request.
struct ShocklogRun {
  std::string bytes;
  std::vector<std::string> requests;
  long resident_kb = -1;  // the ARM build's, while it records
};

ShocklogRun recordWith(const std::string &program, int64_t start_tick) {
  Sandbox board;
  board.mkdir(kRecordings);
  board.write(KV_NODE_BATTERY_LEVEL, "3700000\n");
  board.write(KV_NODE_GSENSOR_DATA, kvsim::sensorToken({1000, 5, -7, 4242, 0}) + "\n");
  std::string history;
  for (int i = 0; i < 50; ++i)
    history += kvsim::serverItemLine(start_tick + 100 + 250 * i,
                                     {900 + i, 10 * i, -3 * i, 100 + i, 0}, 3600) +
               "\n";
  board.write(kvsim::kGSensorFeed, history);
  board.startServer("kv_server");

  std::string stem = board.path(kRecordings) + "/20240607_101500_N_F";
  pid_t pid = board.start({program, stem, "0", std::to_string(start_tick), "0", "600000"},
                          {kvsim::kPinnedGuestMemory});
  // Until a few of its own samples are in the file (qemu starts slower than the host).
  Sandbox::waitUntil(
      [&] { return fileBytes(stem + ".gsf").size() >= gsf::kHeaderSize + 53 * gsf::kRecordSize; },
      10s);
  ShocklogRun run;
  if (kvsim::isArmProgram(program)) run.resident_kb = kvsim::emulatedResidentKb(pid);
  board.signal(pid, SIGINT);
  EXPECT_EQ(Sandbox::exitCode(board.wait(pid, 10s)), 0) << program << board.stdoutOf(pid);
  run.bytes = fileBytes(stem + ".gsf");
  run.requests = linesStartingWith(board.serverLog("kv_server"), "id=280 ");
  return run;
}

TEST_F(CrossArch, arm_kv_shocklog_leaves_the_same_data_file_as_the_workstations) {
  int64_t start_tick = kv::tick_ms() - 13000;
  ShocklogRun host = recordWith(Sandbox::programDir() + "/kv_shocklog", start_tick);
  ShocklogRun arm = recordWith(armProgram("kv_shocklog"), start_tick);

  auto host_file = gsf::parse(host.bytes), arm_file = gsf::parse(arm.bytes);
  ASSERT_TRUE(host_file && arm_file);
  ASSERT_TRUE(host_file->complete());
  ASSERT_TRUE(arm_file->complete());
  ASSERT_GE(host_file->records.size(), 53u);
  ASSERT_GE(arm_file->records.size(), 53u);
  EXPECT_EQ(arm.requests, host.requests) << "the request for the previous samples";
  EXPECT_EQ(host.requests.size(), 1u);

  // Header: magic and record size, and the name; the date is the wall clock's.
  EXPECT_EQ(arm.bytes.substr(0, 8), host.bytes.substr(0, 8));
  EXPECT_EQ(arm_file->name, host_file->name);
  // kv_server's 50 samples, with their times from the same start tick: every byte.
  size_t previous = gsf::kHeaderSize + 50 * gsf::kRecordSize;
  EXPECT_EQ(arm.bytes.substr(gsf::kHeaderSize, previous - gsf::kHeaderSize),
            host.bytes.substr(gsf::kHeaderSize, previous - gsf::kHeaderSize));
  // Own samples: every byte but the time, which is each run's own.
  for (size_t k = 50; k < 53; ++k) {
    size_t at = gsf::kHeaderSize + k * gsf::kRecordSize + 8;
    EXPECT_EQ(arm.bytes.substr(at, gsf::kRecordSize - 8),
              host.bytes.substr(at, gsf::kRecordSize - 8))
        << "record " << k;
  }
  expectResidentWithin("kv_shocklog", arm.resident_kb, kShocklogResidentKb);
}

// ---- kv_sentinel ---------------------------------------------------------------------------

TEST_F(CrossArch, arm_kv_sentinel_watches_the_workstations_servers_and_restarts_on_the_error_flag) {
  Sandbox board;
  SysInfo rec = kvsim::defaultSettings();
  rec.kv_config.front_rear_type = 1;  // a front unit
  rec.kv_config.bRunning = 1;
  kvsim::saveSettingsStore(rec);
  board.write("/mnt/nand/lang", "JA\n");
  board.append("/proc/mounts", "/dev/mmcblk0p1 /mnt/mmc vfat rw,relatime 0 0\n");
  int link = board.openPty("/dev/ttyS1");
  fcntl(link, F_SETFL, fcntl(link, F_GETFL) | O_NONBLOCK);
  for (const char *server : kServers) board.startServer(server);
  kvsim::LiveSettings live;

  pid_t sentinel = board.start({armProgram("kv_sentinel")}, {kvsim::kPinnedGuestMemory});
  // Each monitor's liveness request, decoded by the workstation's servers.
  auto asked = [&](const char *server, const char *line_start) {
    return !linesStartingWith(board.serverLog(server), line_start).empty();
  };
  ASSERT_TRUE(Sandbox::waitUntil(
      [&] {
        return asked("kv_server", "id=300 src=16 ") && asked("system_server", "cmd=312 src=16 ") &&
               asked("av_server.out", "cmd=70 src=16 ");
      },
      30s))
      << board.stdoutOf(sentinel);
  expectResidentWithin("kv_sentinel", kvsim::emulatedResidentKb(sentinel), kSentinelResidentKb);

  // The flag raised here, in the record the ARM program maps: it clears it and restarts.
  live->kv_config.error_flag = 1;
  ASSERT_TRUE(Sandbox::waitUntil(
      [&] { return *static_cast<volatile uint8_t *>(&live->kv_config.error_flag) == 0; }, 3s));
  ASSERT_TRUE(Sandbox::waitUntil(
      [&] {
        std::string micom = board.read(KV_NODE_MICOM_DATA);
        return micom.size() == 20 && micom.compare(0, 4, std::string("1_0\0", 4)) == 0;
      },
      20s))
      << board.stdoutOf(sentinel);
  EXPECT_TRUE(contains(board.stdoutOf(sentinel), "error reported... restart\n"));
  char notice = 0;
  EXPECT_EQ(read(link, &notice, 1), 1);
  EXPECT_EQ(notice, '\x5C') << "the stop notice to the rear unit";
  EXPECT_FALSE(board.commandsOf("killall").empty());
  EXPECT_EQ(live->kv_config.front_rear_type, 1) << "the rest of the record is untouched";
  EXPECT_EQ(live->kv_config.bRunning, 1);
}

// ---- the GPS channel: kv_server's requests from an ARM client ---------------------------------

constexpr const char *kTrackStem = "/mnt/mmc/Recordings/20240507_123519_N_F";
constexpr int kProbeSlot = 4 * 0x3000;  // the probe sends as process 6

std::vector<std::string> probeGps(Sandbox &board, const std::string &probe,
                                  const std::vector<std::string> &request) {
  std::vector<std::string> argv = {probe, "gps"};
  argv.insert(argv.end(), request.begin(), request.end());
  pid_t pid = board.start(argv);
  EXPECT_EQ(Sandbox::exitCode(board.wait(pid, 20s)), 0) << probe << ": " << board.stderrOf(pid);
  return kvsim::splitLines(board.stdoutOf(pid));
}

// What one build of the probe put on the GPS channel of a board without kv_navlink, request
// by request: what the probe said, the record as the kernel carries it, and the sender's
// slot (the 104 bytes of a start record).
struct GpsRequests {
  std::vector<std::string> said, records, slots;
};

GpsRequests sendGpsWith(const std::string &probe) {
  Sandbox board;
  GpsRequests sent;
  const std::vector<std::string> requests[] = {
      {"start", kTrackStem, "123456789012", "61000"}, {"relay", "20"}, {"stop"}};
  for (const auto &request : requests) {
    for (auto &line : probeGps(board, probe, request)) sent.said.push_back(line);
    KV_MSG_BUF rec = {};
    EXPECT_GT(Msg_RsvFlags(Msg_Init(KV_GPS_MSG_KEY), 1, &rec, sizeof rec, IPC_NOWAIT), 0)
        << probe << " " << request[0] << ": no record on the queue";
    sent.records.push_back(kvsim::hex(&rec, sizeof rec));
    unsigned char slot[KV_GPS_START_RECORD_SIZE] = {};
    kv::segment_copy_out(shmget(kv_ipc_key(KV_GPS_MSG_KEY), 0, 0), kProbeSlot, slot, sizeof slot);
    sent.slots.push_back(kvsim::hex(slot, sizeof slot));
  }
  return sent;
}

// A record as the reference's hex: Des 1 (the kernel's type), cmd, src 0 (one-way),
// shmid 0, length, and the sender's slot, each a 32-bit little-endian word.
std::string oneWayRecord(int32_t cmd, int32_t length) {
  int32_t words[] = {1, cmd, 0, 0, length, kProbeSlot};
  return kvsim::hex(words, sizeof words);
}

TEST_F(CrossArch, an_arm_client_of_the_gps_channel_sends_the_same_records_as_the_workstations) {
  GpsRequests host = sendGpsWith(Sandbox::simDir() + "/kv_channel_probe");
  GpsRequests arm = sendGpsWith(armStandIn("kv_channel_probe"));

  // The reference, by the channel's layout: three one-way records from process 6's slot,
  // the start record's stem, its ignored word, 64-bit tick and duration at 0, 80, 88, 96.
  ASSERT_EQ(host.records.size(), 3u);
  EXPECT_EQ(host.records[0], oneWayRecord(KV_GPS_START_SAVE, 104));
  EXPECT_EQ(host.records[1], oneWayRecord(20, 4));
  EXPECT_EQ(host.records[2], oneWayRecord(KV_GPS_STOP_SAVE, 0));
  std::string stem = kvsim::hex(kTrackStem, strlen(kTrackStem));
  std::string start = stem + std::string(160 - stem.size(), '0') + "0d0c0b0a" + "00000000" +
                      "141a99be1c000000" + "48ee0000" + "00000000";
  EXPECT_EQ(host.slots[0], start);
  EXPECT_EQ(host.slots[1], "14000000" + start.substr(8)) << "the code over the record's start";
  EXPECT_EQ(host.slots[2], host.slots[1]) << "a stop carries nothing";

  EXPECT_EQ(arm.said, host.said);
  EXPECT_EQ(arm.records, host.records);
  EXPECT_EQ(arm.slots, host.slots);
}

// ---- the GPS channel: kv_navlink on either side ------------------------------------------------

// A front unit for kv_navlink: the settings manager and kv_server up, the GPS port on a
// pseudo-terminal that the sandbox's feeder plays, the card's recordings folder.
struct NavUnit {
  NavUnit() {
    SysInfo rec = kvsim::defaultSettings();
    KV_Config_Data &c = rec.kv_config;
    c.front_rear_type = 1;
    c.gps_speed_display = 1;
    c.gps_sync_time = 1;
    c.gps_timezone = 900;
    c.gps_cable_connected = 1;
    c.gps_need_alert = 1;
    kvsim::saveSettingsStore(rec);
    board.installTool("sync");
    board.mkdir("/mnt/mmc/Recordings");
    int gps = board.openPty("/dev/ttyS0");
    fcntl(gps, F_SETFL, fcntl(gps, F_GETFL) | O_NONBLOCK);
    feeder = kvsim::NmeaFeeder(gps);
    board.startServer("file_manager");
    board.startServer("kv_server");
    live = std::make_unique<kvsim::LiveSettings>();
  }
  KV_Config_Data &cfg() const { return (*live)->kv_config; }

  // Starts a build of kv_navlink and waits until it serves its channel.
  void start(const std::string &program) {
    daemon = board.start({program}, {kvsim::kPinnedGuestMemory});
    ASSERT_TRUE(Sandbox::waitUntil(
        [&] { return cfg().gps_proc_alive == 1 || !board.running(daemon); }, 20s));
    ASSERT_TRUE(board.running(daemon)) << board.stdoutOf(daemon) << board.stderrOf(daemon);
  }
  // Plays sentences at once, then a copy of their last fix at `knots`, and waits until the
  // OSD speed shows it (`kmh`): the daemon has then handled every line before it. The
  // marker's own track line follows its speed by one call of the same thread.
  void feed(const std::vector<kvsim::Sentence> &sentences, kvsim::FeedOptions options,
            const char *knots, int kmh) {
    options.speed = 0;
    feeder.play(sentences, options);
    feeder.play({speedMarker(sentences, knots)}, {.speed = 0});
    ASSERT_TRUE(Sandbox::waitUntil([&] { return cfg().gps_speed == kmh; }, 20s))
        << "the OSD speed stayed at " << cfg().gps_speed;
    kv::sleep_ms(200);
  }
  static kvsim::Sentence speedMarker(const std::vector<kvsim::Sentence> &sentences,
                                     const char *knots) {
    std::string rmc;
    for (const auto &s : sentences)
      if (s.text.rfind("$GPRMC,", 0) == 0) rmc = s.text;
    std::vector<std::string> fields;
    std::string body = rmc.substr(1, rmc.find('*') - 1);
    for (size_t from = 0, comma;; from = comma + 1) {
      comma = body.find(',', from);
      fields.push_back(body.substr(from, comma - from));
      if (comma == std::string::npos) break;
    }
    fields.at(7) = knots;  // speed over ground
    std::string marker = fields[0];
    for (size_t k = 1; k < fields.size(); ++k) marker += "," + fields[k];
    return {0, kvsim::withChecksum(marker)};
  }
  std::string stem() const { return board.path(kTrackStem); }
  std::string trackPath() const { return std::string(kTrackStem) + ".gps"; }
  bool trackOpened() {
    return Sandbox::waitUntil([&] { return board.exists(trackPath()); }, 10s);
  }
  bool trackClosed() {
    return Sandbox::waitUntil([&] { return !board.commandsOf("sync").empty(); }, 10s);
  }

  Sandbox board;
  kvsim::NmeaFeeder feeder{-1};
  std::unique_ptr<kvsim::LiveSettings> live;
  pid_t daemon = 0;
};

std::vector<std::string> sentencesOf(const gpstrack::Track &track) {
  std::vector<std::string> texts;
  for (const auto &line : track.lines) texts.push_back(line.sentence);
  return texts;
}

// Twelve seconds of a drive that starts now, so that its fixes may set the clock.
std::vector<kvsim::Sentence> driveFromNow() {
  kvsim::DriveOptions o;
  o.seconds = 8;
  o.start_utc = time(nullptr);
  return kvsim::generateDrive(o);
}

TEST_F(CrossArch, an_arm_client_starts_and_stops_a_track_of_the_workstations_kv_navlink) {
  NavUnit unit;
  unit.start(Sandbox::programDir() + "/kv_navlink");
  std::string probe = armStandIn("kv_channel_probe");
  probeGps(unit.board, probe, {"start", unit.stem(), "0", "600000"});
  ASSERT_TRUE(unit.trackOpened());
  unit.feed(driveFromNow(), {}, "53.5", 99);  // 53.5 kn: 99.08 km/h
  ASSERT_FALSE(HasFatalFailure());
  probeGps(unit.board, probe, {"stop"});
  ASSERT_TRUE(unit.trackClosed());

  auto track = gpstrack::parse(unit.board.read(unit.trackPath()));
  EXPECT_TRUE(track.valid && track.complete) << track.bad_line;
  EXPECT_EQ(track.name, "20240507_123519_N_F.gps");
  EXPECT_EQ(sentencesOf(track), kvsim::acceptedLines(unit.feeder.ledger()));
  ASSERT_FALSE(track.lines.empty());
  EXPECT_GE(track.lines.front().offset, 0) << "offsets from the request";
}

// What one build of kv_navlink made of the same requests and the same receiver.
struct NavlinkRun {
  std::vector<std::string> replies;  // records it sent back, its segment id masked
  std::string slot_byte;             // what the test request left in the asker's slot
  gpstrack::Track track;
  std::vector<std::string> accepted;  // what the intake had to take, by the feeder's ledger
  std::set<std::string> noise_kinds;  // and what else the port carried
  std::vector<std::string> signal_events;
  std::string clock;
  size_t clock_sets = 0;
  int exit_code = -1;
  long resident_kb = -1;
};

// A request with a reply, as a C client of process 5 makes it.
std::string askNavlink(int cmd, int shmid) {
  int qid = Msg_Init(KV_GPS_MSG_KEY);
  KV_MSG_BUF m = {};
  m.Des = 1;
  m.cmd = cmd;
  m.src = 5;
  Msg_Send(qid, &m, sizeof m);
  KV_MSG_BUF r = {};
  Sandbox::waitUntil([&] { return Msg_RsvFlags(qid, 5, &r, sizeof r, IPC_NOWAIT) > 0; }, 10s);
  EXPECT_EQ(r.shmid, shmid) << "the reply to " << cmd << " names the channel's segment";
  r.shmid = 0;
  return kvsim::hex(&r, sizeof r);
}

NavlinkRun runNavlink(const std::string &program, const std::vector<kvsim::Sentence> &drive) {
  NavUnit unit;
  NavlinkRun run;
  unit.start(program);
  if (testing::Test::HasFatalFailure()) return run;
  // The first half before the track: in the ring only. Noise between the lines (garbage,
  // bad checksums, other talkers, lower-case checksums, lost CR LFs, overlong lines, NUL
  // bytes: this seed gives each at least once) must meet the same verdicts.
  const kvsim::FeedOptions noisy = {.noise_seed = 9, .noise_every = 5};
  auto half = drive.begin() + static_cast<long>(drive.size() / 2);
  unit.feed({drive.begin(), half}, noisy, "53.5", 99);  // 99.08 km/h
  if (testing::Test::HasFatalFailure()) return run;
  if (kvsim::isArmProgram(program)) run.resident_kb = kvsim::emulatedResidentKb(unit.daemon);

  int shmid = shmget(kv_ipc_key(KV_GPS_MSG_KEY), 0, 0);
  run.replies = {askNavlink(KV_GPS_GET_TEST, shmid), askNavlink(999, shmid)};
  unsigned char byte = 0;
  kv::segment_copy_out(shmid, 3 * 0x3000, &byte, 1);
  run.slot_byte = kvsim::hex(&byte, 1);

  // kv_server's track, started a minute back: the ring's part first, then the second half.
  EXPECT_TRUE(kvsim::sendGpsRequests(
      unit.board, "start stem=" + unit.stem() + " ago=60000 duration=600000\n", 10s));
  EXPECT_TRUE(unit.trackOpened()) << program;
  unit.feed({half, drive.end()}, {}, "47.6", 88);  // 88.16 km/h
  if (testing::Test::HasFatalFailure()) return run;
  EXPECT_TRUE(kvsim::sendGpsRequests(unit.board, "stop\n", 10s));
  EXPECT_TRUE(unit.trackClosed()) << program;

  run.track = gpstrack::parse(unit.board.read(unit.trackPath()));
  run.accepted = kvsim::acceptedLines(unit.feeder.ledger());
  for (const auto &line : unit.feeder.ledger()) run.noise_kinds.insert(line.kind);
  for (const auto &line : unit.board.serverLog("kv_server"))
    if (line.rfind("id=" + std::to_string(KV_MSG_GPS_SIGNAL_ONOFF) + " ", 0) == 0)
      run.signal_events.push_back(line);
  run.clock = unit.board.read("/sim/clock");
  run.clock_sets = unit.board.commandsOf("hwclock").size();
  unit.board.signal(unit.daemon, SIGINT);
  run.exit_code = Sandbox::exitCode(unit.board.wait(unit.daemon, 10s));
  EXPECT_EQ(unit.cfg().gps_proc_alive, 0) << program;
  EXPECT_LT(msgget(kv_ipc_key(KV_GPS_MSG_KEY), 0), 0) << program << ": the queue is removed";
  return run;
}

TEST_F(CrossArch, arm_kv_navlink_serves_the_workstations_kv_server_and_writes_the_same_track) {
  auto drive = driveFromNow();
  NavlinkRun host = runNavlink(Sandbox::programDir() + "/kv_navlink", drive);
  NavlinkRun arm = runNavlink(armProgram("kv_navlink"), drive);

  // The workstation's run is the reference: a whole track of every accepted line, the ring's
  // part with them, the clock set from the first fix and again at the track's start.
  ASSERT_TRUE(host.track.valid && host.track.complete) << host.track.bad_line;
  EXPECT_EQ(host.track.name, "20240507_123519_N_F.gps");
  EXPECT_EQ(sentencesOf(host.track), host.accepted);
  EXPECT_GT(host.accepted.size(), drive.size() / 2) << "both halves are in the track";
  EXPECT_EQ(host.noise_kinds.size(), 8u) << "each kind of noise, and the capture's lines";
  EXPECT_EQ(host.clock_sets, 2u);
  EXPECT_EQ(host.signal_events.size(), 1u);
  EXPECT_EQ(host.exit_code, 0);

  EXPECT_EQ(arm.accepted, host.accepted) << "the same input";
  ASSERT_TRUE(arm.track.valid && arm.track.complete) << arm.track.bad_line;
  EXPECT_EQ(arm.track.name, host.track.name);
  EXPECT_EQ(sentencesOf(arm.track), sentencesOf(host.track));
  // Offsets are each run's own timing: from 0 on, in order, within the duration.
  ASSERT_FALSE(arm.track.lines.empty());
  EXPECT_GE(arm.track.lines.front().offset, 0);
  for (size_t k = 1; k < arm.track.lines.size(); ++k)
    EXPECT_LE(arm.track.lines[k - 1].offset, arm.track.lines[k].offset) << "line " << k;
  EXPECT_LT(arm.track.lines.back().offset, 600000);
  EXPECT_EQ(arm.replies, host.replies);
  EXPECT_EQ(arm.slot_byte, host.slot_byte);
  EXPECT_EQ(arm.signal_events, host.signal_events) << "the GPS signal notice on the event bus";
  EXPECT_EQ(arm.clock, host.clock);
  EXPECT_EQ(arm.clock_sets, host.clock_sets);
  EXPECT_EQ(arm.exit_code, 0);
  expectResidentWithin("kv_navlink", arm.resident_kb, kNavlinkResidentKb);
}

// ---- memory of the one-shot programs ----------------------------------------------------------

// Each tool started on a board where something it waits for does not answer yet, and its
// memory taken while it waits there, with all its set-up behind it.
struct WaitingTool {
  const char *program;
  std::vector<std::string> args;
  void (*prepare)(const Sandbox &board);
  bool (*waiting)(const Sandbox &board);
};

const kvsim::ToolScript kNeverReturns = {0, "", -1};

const WaitingTool kWaitingTools[] = {
    {"kv_powerctl",
     {"2"},
     [](const Sandbox &board) { board.scriptTool("killall", kNeverReturns); },
     [](const Sandbox &board) { return !board.commandsOf("killall").empty(); }},
    {"kv_bootcheck",
     {},
     [](const Sandbox &board) {
       board.append("/proc/mounts", "/dev/mmcblk0p1 /mnt/mmc vfat rw,relatime 0 0\n");
       board.scriptTool("fsck_msdos", kNeverReturns);
     },
     [](const Sandbox &board) { return !board.commandsOf("fsck_msdos").empty(); }},
    {"kv_wifi_switch",
     {"on", "CamNet-0001", "secret1234", "6"},
     [](const Sandbox &board) {
       kvsim::writeWifiDefaults(board);
       board.scriptTool("ifconfig", kNeverReturns);
     },
     [](const Sandbox &board) { return !board.commandsOf("ifconfig").empty(); }},
    {"kv_stationd",
     {"on", "HomeNet", "secret123", "2", "FrontCam", "0"},
     [](const Sandbox &board) {
       kvsim::writeWifiDefaults(board);
       board.scriptTool("ifconfig", kNeverReturns);
     },
     [](const Sandbox &board) { return !board.commandsOf("ifconfig").empty(); }},
    // A device whose register map is a pipe nobody writes: the read request waits on it.
    {"i2c_rw",
     {"-r", "50", "10"},
     [](const Sandbox &board) {
       kvsim::I2cBus bus(board);
       board.mkdir(KV_SIM_I2C_FOLDER);
       mkfifo(board.path(KV_SIM_I2C_FOLDER "/50").c_str(), 0644);
     },
     [](const Sandbox &board) { return contains(board.read(KV_SIM_I2C_LOG), "read 0x50 "); }},
};

TEST_F(CrossArch, every_arm_one_shot_tool_fits_its_memory_where_it_waits) {
  for (const auto &tool : kWaitingTools) {
    Sandbox board;
    tool.prepare(board);
    std::vector<std::string> argv = {armProgram(tool.program)};
    argv.insert(argv.end(), tool.args.begin(), tool.args.end());
    pid_t pid = board.start(argv, {kvsim::kPinnedGuestMemory});
    bool waits = Sandbox::waitUntil([&] { return tool.waiting(board); }, 20s);
    long kb = kvsim::emulatedResidentKb(pid);
    EXPECT_TRUE(waits && board.running(pid))
        << tool.program << " did not wait where expected: " << board.stdoutOf(pid)
        << board.stderrOf(pid);
    expectResidentWithin(tool.program, kb, kToolResidentKb, "where it waits");
    board.kill(pid);
  }
}

}  // namespace
