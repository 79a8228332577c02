// SPDX-License-Identifier: MIT
// kv_sentinel on a simulated board: the real program with the stand-ins of its four peers.
// The waits are the system's own (10 s start-up, 10 s rounds, 40 s without an answer),
// so each case takes up to a minute and a half; they run in parallel.
// ctest-labels: threaded
// board-test: host only (each case waits the system's own 10 s and 40 s)
// ctest-cost: 60 (the supervisor's 10 s start and 40 s without an answer)
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <regex>
#include <string>
#include <vector>

#include "dm368_zt5_util.h"
#include "sandbox.h"
#include "sandbox_settings.h"

namespace {

using namespace std::chrono_literals;
using kvsim::contains;
using kvsim::Sandbox;

enum Unit { kSingle = 0, kFront = 1, kRear = 2 };

const char *const kServers[] = {"file_manager", "system_server", "av_server.out", "kv_server"};

// A board with the four peers up, the card and flash mounted, the link to the other unit
// on a pseudo-terminal, and kv_sentinel started last.
class SentinelBoard {
 public:
  explicit SentinelBoard(Unit unit, bool running = true, std::string_view root_name = "kvsim")
      : board(root_name) {
    SysInfo rec = kvsim::defaultSettings();
    rec.kv_config.front_rear_type = static_cast<uint8_t>(unit);
    rec.kv_config.bRunning = running ? 1 : 0;
    kvsim::saveSettingsStore(rec);
    board.write("/mnt/nand/lang", "JA\n");
    board.append("/proc/mounts", "/dev/mmcblk0p1 /mnt/mmc vfat rw,relatime 0 0\n");
    link = board.openPty("/dev/ttyS1");
    fcntl(link, F_SETFL, fcntl(link, F_GETFL) | O_NONBLOCK);
    for (const char *server : kServers) board.startServer(server);
    live = std::make_unique<kvsim::LiveSettings>();
  }

  // Whatever the case did, the supervisor must not have tripped a sanitizer.
  ~SentinelBoard() {
    if (sentinel > 0) {
      board.kill(sentinel);
      EXPECT_FALSE(contains(board.stderrOf(sentinel), "Sanitizer")) << board.stderrOf(sentinel);
    }
  }

  void startSentinel() {
    started = std::chrono::steady_clock::now();
    sentinel = board.start({"kv_sentinel"});
  }

  double secondsSinceStart() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  }

  std::string out() const { return board.stdoutOf(sentinel); }

  std::string log() const { return board.flashLogs(); }

  bool powerRestarted() const {
    std::string rec = board.read(KV_NODE_MICOM_DATA);
    return rec.size() == 20 && rec.compare(0, 4, std::string("1_0\0", 4)) == 0;
  }

  std::string serialBytes() {
    char buf[256];
    ssize_t n;
    while ((n = read(link, buf, sizeof buf)) > 0) serial.append(buf, static_cast<size_t>(n));
    return serial;
  }

  int watchdogRequests(const std::string &server, const std::string &line_start) const {
    int n = 0;
    for (auto &line : board.serverLog(server)) n += line.rfind(line_start, 0) == 0;
    return n;
  }

  bool waitFor(const std::function<bool()> &done, kvsim::Ms timeout) {
    return Sandbox::waitUntil(done, timeout);
  }

  // The live record, written and read by the peers in other processes.
  SysInfo &settings() { return **live; }
  int sharedErrorFlag() {
    return *static_cast<volatile uint8_t *>(&settings().kv_config.error_flag);
  }

  Sandbox board;
  std::unique_ptr<kvsim::LiveSettings> live;
  pid_t sentinel = -1;
  int link = -1;
  std::string serial;
  std::chrono::steady_clock::time_point started;
};

// The liveness request as each stand-in logs it.
const char kAvWatchdog[] = "cmd=70 src=16";
const char kKvWatchdog[] = "id=300 src=16";
const char kSysWatchdog[] = "cmd=312 src=16";

// ---- start-up and shutdown ---------------------------------------------------------

class OrderlyExit : public ::testing::TestWithParam<int> {};

TEST_P(OrderlyExit, on_sigint_and_sigterm_with_status_0) {
  SentinelBoard unit(kFront);
  unit.startSentinel();
  ASSERT_TRUE(
      unit.waitFor([&] { return unit.watchdogRequests("kv_server", kKvWatchdog) > 0; }, 20s));
  unit.board.signal(unit.sentinel, GetParam());
  int status = unit.board.wait(unit.sentinel, 5s);
  ASSERT_NE(status, -1) << "still running after the signal";
  EXPECT_EQ(Sandbox::exitCode(status), 0);
  std::string out = unit.out();
  EXPECT_TRUE(contains(out, "kv_sentinel_main, main enter\n"));
  EXPECT_TRUE(contains(
      out, "kv_sentinel caught SIGTERM: shutting down signum=" + std::to_string(GetParam())));
  EXPECT_TRUE(contains(out, "kv_sentinel_main, main exit\n"));
  EXPECT_TRUE(contains(unit.log(), "[watch_d]: start process\n"));
  EXPECT_TRUE(contains(unit.log(), "[watch_d]: stop process\n"));
  EXPECT_FALSE(unit.powerRestarted());
}
INSTANTIATE_TEST_SUITE_P(Signals, OrderlyExit, ::testing::Values(SIGINT, SIGTERM));

TEST(SentinelStartUp, a_stop_while_a_server_hangs_still_ends_the_program) {
  SentinelBoard unit(kFront);
  unit.board.setControl("kv_server", "hang", "");
  unit.startSentinel();
  // The monitors start together; once the system server has its request, the event
  // bus's is stuck in the hung queue.
  ASSERT_TRUE(
      unit.waitFor([&] { return unit.watchdogRequests("system_server", kSysWatchdog) > 0; }, 20s));
  std::this_thread::sleep_for(500ms);
  unit.board.signal(unit.sentinel, SIGTERM);
  int status = unit.board.wait(unit.sentinel, 5s);
  ASSERT_NE(status, -1) << "shutdown waited for the hung exchange";
  EXPECT_EQ(Sandbox::exitCode(status), 0);
}

TEST(SentinelStartUp, a_stop_while_the_settings_manager_hangs_still_ends_the_program) {
  SentinelBoard unit(kFront);
  unit.board.setControl("file_manager", "hang", "");
  unit.startSentinel();
  // After the start-up wait every thread asks for the settings record; none gets it.
  ASSERT_TRUE(unit.waitFor(
      [&] { return unit.watchdogRequests("file_manager", "cmd=1 src=16 ") > 0; }, 20s));
  std::this_thread::sleep_for(500ms);
  unit.board.signal(unit.sentinel, SIGINT);
  // Threads stuck behind the settings client's lock cost 1 s each to give up on.
  int status = unit.board.wait(unit.sentinel, 10s);
  ASSERT_NE(status, -1) << "shutdown waited for the settings client's lock";
  EXPECT_EQ(Sandbox::exitCode(status), 0);
  EXPECT_TRUE(contains(unit.out(), "kv_sentinel_main, main exit\n"));
}

TEST(SentinelStartUp, a_missing_av_driver_ends_start_up_with_status_minus_1) {
  SentinelBoard unit(kFront);
  unit.board.remove("/dev/cmem");
  unit.startSentinel();
  int status = unit.board.wait(unit.sentinel, 20s);
  ASSERT_NE(status, -1);
  EXPECT_EQ(Sandbox::exitCode(status), 255);
  EXPECT_TRUE(contains(unit.out(), "OrvelDrvInit fail\n"));
  EXPECT_GE(unit.secondsSinceStart(), 10.0) << "start-up waits 10 s for the servers";
  EXPECT_EQ(unit.watchdogRequests("kv_server", kKvWatchdog), 0);
}

TEST(SentinelStartUp, threads_wait_for_the_settings_record_instead_of_crashing) {
  SentinelBoard unit(kFront);
  // The manager answers every request with a wrong length: GetSysInfo delivers nothing.
  unit.board.setControl("file_manager", "reply", "length=5");
  unit.startSentinel();
  std::this_thread::sleep_for(14s);
  EXPECT_TRUE(unit.board.running(unit.sentinel));
  EXPECT_EQ(unit.watchdogRequests("system_server", kSysWatchdog), 0);

  unit.board.clearControl("file_manager", "reply");
  EXPECT_TRUE(unit.waitFor(
      [&] {
        return unit.watchdogRequests("system_server", kSysWatchdog) > 0 &&
               unit.watchdogRequests("kv_server", kKvWatchdog) > 0 &&
               unit.watchdogRequests("av_server.out", kAvWatchdog) > 0;
      },
      5s))
      << "the monitors did not start once the record came";
  EXPECT_FALSE(contains(unit.out(), "restart"));
}

// ---- no restart while all answer -----------------------------------------------------

TEST(SentinelWatch, servers_answering_for_70_s_cause_no_restart) {
  SentinelBoard unit(kFront);
  unit.startSentinel();
  std::this_thread::sleep_for(80s);
  EXPECT_FALSE(contains(unit.out(), "not responding"));
  EXPECT_FALSE(contains(unit.out(), "StartRestartThread"));
  EXPECT_FALSE(unit.powerRestarted());
  // Rounds at about 10, 20, ... 80 s after launch.
  EXPECT_GE(unit.watchdogRequests("av_server.out", kAvWatchdog), 6);
  EXPECT_GE(unit.watchdogRequests("kv_server", kKvWatchdog), 6);
  EXPECT_GE(unit.watchdogRequests("system_server", kSysWatchdog), 6);
  EXPECT_TRUE(unit.board.commandsOf("killall").empty());
}

TEST(SentinelWatch, nothing_is_watched_until_the_recorder_runs) {
  SentinelBoard unit(kFront, /*running=*/false);
  unit.board.setControl("kv_server", "hang", "");
  unit.startSentinel();
  std::this_thread::sleep_for(55s);
  EXPECT_EQ(unit.watchdogRequests("kv_server", kKvWatchdog), 0);
  EXPECT_EQ(unit.watchdogRequests("system_server", kSysWatchdog), 0);
  EXPECT_FALSE(contains(unit.out(), "not responding"));

  // The system server's monitor polls bRunning: its request follows within a moment.
  auto set = std::chrono::steady_clock::now();
  unit.settings().kv_config.bRunning = 1;
  ASSERT_TRUE(
      unit.waitFor([&] { return unit.watchdogRequests("system_server", kSysWatchdog) > 0; }, 2s));
  EXPECT_LT(std::chrono::steady_clock::now() - set, 1s);
}

// ---- restart of a unit whose server hangs -------------------------------------------

struct HangCase {
  const char *stand_in;
  const char *name;  // as the supervisor reports it
  Unit unit;
};

std::ostream &operator<<(std::ostream &os, const HangCase &c) {
  return os << c.name << (c.unit == kFront ? " on a front unit" : " on a rear unit");
}

class HungServer : public ::testing::TestWithParam<HangCase> {};

TEST_P(HungServer, restarts_the_unit_once_after_40_s) {
  const HangCase &c = GetParam();
  SentinelBoard unit(c.unit);
  unit.board.setControl(c.stand_in, "hang", "");
  unit.startSentinel();

  ASSERT_TRUE(unit.waitFor([&] { return unit.powerRestarted(); }, 90s))
      << "no power restart; output:\n"
      << unit.out();
  double at = unit.secondsSinceStart();
  std::this_thread::sleep_for(1s);
  unit.board.kill(unit.sentinel);

  // Detected 40 to 41 s after the request that hung, about 10 s after launch. The watcher
  // looks once a second; on a loaded machine its wake-up may come up to one more of its
  // periods late, which adds to the age it sees.
  constexpr int kWatcherPeriodMs = 1000;
  std::string out = unit.out(), log = unit.log();
  EXPECT_TRUE(contains(out, std::string(c.name) + " not responding... restart\n")) << out;
  std::smatch age;
  std::regex before(std::string(c.name) + " not responding\\.\\.\\. restart, before=(\\d+)ms\n");
  ASSERT_TRUE(std::regex_search(log, age, before)) << log;
  int ms = std::stoi(age[1]);
  EXPECT_GE(ms, 40000);
  EXPECT_LE(ms, 41000 + kWatcherPeriodMs);
  EXPECT_GT(at, 50.0);
  EXPECT_LT(at, 75.0);

  // One restart sequence, and only for the hung server.
  auto count = [&](const std::string &text) {
    size_t n = 0;
    for (size_t p = out.find(text); p != std::string::npos; p = out.find(text, p + 1)) ++n;
    return n;
  };
  EXPECT_EQ(count("StartRestartThread enter"), 1u);
  EXPECT_EQ(count("not responding"), 1u);

  // The other unit is told first.
  std::string sent = unit.serialBytes();
  if (c.unit == kFront) {
    EXPECT_EQ(sent, "\x5C");
  } else {
    EXPECT_EQ(sent, "\r\n#CMSTP\r\n");
  }

  // Prompts in the unit's language, then the kill list in order.
  std::string sounds = unit.board.path("/opt/vcam/sounds/JA/");
  std::vector<std::string> expected = {
      "aplay " + sounds + "27_recording_not_working.wav",
      "aplay " + sounds + "03_travelogbox_restart.wav",
      "killall -2 kv_wifi_switch",
      "killall -9 bftpd",
      "killall -9 boa",
      "killall -2 kv_navlink",
      "killall -2 av_server.out",
      "killall -9 system_server",
      "killall -9 kv_server",
  };
  // The saver is stopped in the background, so its place in the log may vary.
  std::vector<std::string> seen;
  bool saverStopped = false;
  for (auto &line : unit.board.commands()) {
    if (line == "killall -2 Orvel_avi_save")
      saverStopped = true;
    else if (line.rfind("aplay", 0) == 0 || line.rfind("killall", 0) == 0)
      seen.push_back(line);
  }
  EXPECT_EQ(seen, expected);
  EXPECT_TRUE(saverStopped);

  // The settings manager is asked to end; the card and then the flash are unmounted.
  bool quit = false;
  for (auto &line : unit.board.serverLog("file_manager"))
    quit = quit || line.rfind("cmd=0 ", 0) == 0;
  EXPECT_TRUE(quit) << "no FILE_MSG_QUIT";
  auto umounts = unit.board.commandsOf("umount");
  ASSERT_GE(umounts.size(), 2u);
  EXPECT_TRUE(contains(umounts.front(), "/mnt/mmc")) << umounts.front();
  EXPECT_TRUE(contains(umounts.back(), "/mnt/nand")) << umounts.back();
  EXPECT_TRUE(contains(log, "**** SafeUnmountSd ret=0\n"));
}

INSTANTIATE_TEST_SUITE_P(EachServerEachUnit, HungServer,
                         ::testing::Values(HangCase{"av_server.out", "av_server", kFront},
                                           HangCase{"kv_server", "kv_server", kFront},
                                           HangCase{"system_server", "sys_server", kFront},
                                           HangCase{"av_server.out", "av_server", kRear},
                                           HangCase{"kv_server", "kv_server", kRear},
                                           HangCase{"system_server", "sys_server", kRear}),
                         [](const auto &p) {
                           return std::string(p.param.name) +
                                  (p.param.unit == kFront ? "_front" : "_rear");
                         });

// ---- the shared error flag ------------------------------------------------------------

class ErrorFlag : public ::testing::TestWithParam<Unit> {};

// On a board root with a blank and a quote in its name: the prompts' paths are built from
// it, and each must reach aplay as one word.
TEST_P(ErrorFlag, is_cleared_within_a_second_and_restarts_the_unit) {
  SentinelBoard unit(GetParam(), true, "kv 'sim");
  unit.startSentinel();
  ASSERT_TRUE(
      unit.waitFor([&] { return unit.watchdogRequests("kv_server", kKvWatchdog) > 0; }, 20s));
  auto raised = std::chrono::steady_clock::now();
  unit.settings().kv_config.error_flag = 1;
  // The watcher looks once a second; a loaded machine may delay it by one more period.
  ASSERT_TRUE(unit.waitFor([&] { return unit.sharedErrorFlag() == 0; }, 3s));
  EXPECT_LT(std::chrono::steady_clock::now() - raised, 2000ms);
  // The stopping half restarts the power once it has stopped everything.
  ASSERT_TRUE(unit.waitFor([&] { return unit.powerRestarted(); }, 15s));
  EXPECT_TRUE(unit.waitFor([&] { return contains(unit.out(), "KillAndRestart exit\n"); }, 2s));
  EXPECT_TRUE(contains(unit.out(), "error reported... restart\n"));
  EXPECT_TRUE(contains(unit.log(), "error reported... restart\n"));
  std::string sounds = unit.board.path("/opt/vcam/sounds/JA/");
  EXPECT_EQ(unit.board.commandsOf("aplay"),
            (std::vector<std::string>{"aplay " + sounds + "27_recording_not_working.wav",
                                      "aplay " + sounds + "03_travelogbox_restart.wav"}));
  std::this_thread::sleep_for(500ms);
  std::string sent = unit.serialBytes();
  if (GetParam() == kSingle) {
    EXPECT_EQ(sent, "") << "a single unit has no link";
  } else {
    EXPECT_EQ(sent, "\x5C");
  }
}
INSTANTIATE_TEST_SUITE_P(Units, ErrorFlag, ::testing::Values(kSingle, kFront), [](const auto &p) {
  return std::string(p.param == kSingle ? "single" : "front");
});

// ---- a stopping step that hangs ---------------------------------------------------------

TEST(SentinelRestart, a_hanging_prompt_does_not_keep_the_unit_from_restarting) {
  SentinelBoard unit(kRear);
  unit.board.scriptTool("aplay", {0, "", -1});
  unit.board.remove("/dev/ttyS1");
  unit.startSentinel();
  ASSERT_TRUE(
      unit.waitFor([&] { return unit.watchdogRequests("kv_server", kKvWatchdog) > 0; }, 20s));
  auto raised = std::chrono::steady_clock::now();
  unit.settings().kv_config.error_flag = 1;
  ASSERT_TRUE(unit.waitFor([&] { return unit.powerRestarted(); }, 15s));
  auto took = std::chrono::steady_clock::now() - raised;
  EXPECT_GE(took, 10s);
  EXPECT_LT(took, 12s);
  EXPECT_TRUE(unit.board.commandsOf("killall").empty()) << "the kill list waits behind aplay";
  EXPECT_TRUE(contains(unit.out(), "Error: can't open device\n"));
}

}  // namespace
