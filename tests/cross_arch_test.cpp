// One recorder, two architectures: the programs built for the board's processor (the
// board-test build, run under qemu-arm) in a sandbox with the workstation's own stand-in
// servers. The queues, segments and records they share must mean the same on both sides,
// whichever side built a record: the settings record read and written in place, the
// event bus's G-sensor items, the frame descriptors, the data files on the card.
// board-test: host only (it starts the board build's programs from the workstation)
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "OrvelDrvMsg.h"
#include "dm368_zt5_util.h"
#include "gsensor_motion.h"
#include "gsf_reader.h"
#include "kv_common_util.h"
#include "sandbox.h"
#include "sandbox_emulator.h"
#include "sandbox_settings.h"
#include "sys_msg_drv.h"

namespace {

using namespace std::chrono_literals;
using kvsim::contains;
using kvsim::Sandbox;

// ---- the board build -----------------------------------------------------------------

std::string armProgram(const std::string &name) { return KV_BOARD_TEST_DIR "/bin/" + name; }
std::string armStandIn(const std::string &name) { return KV_BOARD_TEST_DIR "/sim/" + name; }

// The board build must be there: `make test` builds it first when the cross toolchain is
// installed. Elsewhere the tests are skipped, but never in CI.
class CrossArch : public testing::Test {
 protected:
  void SetUp() override {
    for (const auto &file :
         {armProgram("kv_sentinel"), armProgram("kv_shocklog"), armStandIn("kv_channel_probe")}) {
      if (kvsim::isArmProgram(file)) continue;
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

void expectResidentWithin(const char *program, long kb, long bound_kb) {
  printf("%s (ARM926 under qemu-arm): %ld kB resident after start-up\n", program, kb);
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

}  // namespace
