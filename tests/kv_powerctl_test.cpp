// SPDX-License-Identifier: MIT
// kv_powerctl on a simulated board: the real tool with the stand-in killall and umount
// keeping the sandbox's process list and mount table true. The board controller's node is
// the file the controller's driver would take the command from.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "dm368_zt5_util.h"
#include "sandbox.h"

namespace {

using namespace std::chrono_literals;
using kvsim::contains;
using kvsim::Sandbox;
using kvsim::ToolScript;

constexpr char kCardLine[] = "/dev/mmcblk0p1 /mnt/mmc vfat rw,relatime 0 0\n";
// What a new sandbox's controller node holds: no command has been written.
constexpr char kControllerAtRest[] = "0_0_0_0\n";

// A controller command as the driver takes it: the text, zeros up to 20 bytes.
std::string controllerRecord(const char *text) {
  std::string record(text);
  record.resize(20, '\0');
  return record;
}

struct Outcome {
  int status;
  std::string out, err;
};

// A board with the card and the flash mounted.
struct PowerBoard {
  PowerBoard() { board.append("/proc/mounts", kCardLine); }

  Outcome run(const std::vector<std::string> &args) {
    std::vector<std::string> argv{"kv_powerctl"};
    argv.insert(argv.end(), args.begin(), args.end());
    pid_t pid = board.start(argv);
    int status = board.wait(pid, 20000ms);
    return {Sandbox::exitCode(status), board.stdoutOf(pid), board.stderrOf(pid)};
  }

  std::string controller() const { return board.read(KV_NODE_MICOM_DATA); }

  // The three kills, then the card and the flash unmounted, in this order.
  std::vector<std::string> stopAndUnmount() const {
    return {"killall -9 kv_sentinel", "killall -9 system_server", "killall -9 kv_server",
            "umount " + board.root() + "/mnt/mmc", "umount " + board.root() + "/mnt/nand"};
  }

  bool unmountedBoth() const {
    std::string table = board.read("/proc/mounts");
    return !contains(table, " /mnt/mmc ") && !contains(table, " /mnt/nand ");
  }

  // Whether the controller node was written after the mount table last changed.
  bool controllerWrittenAfterUnmounts() const {
    struct stat node, table;
    if (stat(board.path(KV_NODE_MICOM_DATA).c_str(), &node) != 0 ||
        stat(board.path("/proc/mounts").c_str(), &table) != 0)
      return false;
    const auto &n = node.st_mtim, &t = table.st_mtim;
    return n.tv_sec > t.tv_sec || (n.tv_sec == t.tv_sec && n.tv_nsec > t.tv_nsec);
  }

  Sandbox board;
};

// ---- modes ---------------------------------------------------------------------------

struct ModeCase {
  const char *name;
  const char *arg;
  const char *sent;  // the controller's text, or nullptr for none
  int status;
  const char *out;
  bool stops = true;  // the recorder stopped and the storage unmounted first
};

void PrintTo(const ModeCase &c, std::ostream *os) { *os << "kv_powerctl " << c.arg; }

class PowerMode : public ::testing::TestWithParam<ModeCase> {};

TEST_P(PowerMode, stops_the_recorder_and_unmounts_before_the_controller_command) {
  const ModeCase &c = GetParam();
  PowerBoard unit;
  std::string table = unit.board.read("/proc/mounts");
  Outcome got = unit.run({c.arg});
  EXPECT_EQ(got.status, c.status);
  EXPECT_EQ(got.out, c.out);
  if (!c.stops) {
    EXPECT_TRUE(unit.board.commands().empty());
    EXPECT_EQ(unit.board.read("/proc/mounts"), table);
    EXPECT_EQ(unit.controller(), kControllerAtRest);
    return;
  }
  EXPECT_EQ(unit.board.commands(), unit.stopAndUnmount());
  EXPECT_TRUE(unit.unmountedBoth()) << unit.board.read("/proc/mounts");
  if (c.sent) {
    EXPECT_EQ(unit.controller(), controllerRecord(c.sent));
    EXPECT_TRUE(unit.controllerWrittenAfterUnmounts());
  } else {
    EXPECT_EQ(unit.controller(), kControllerAtRest);
  }
}

const ModeCase kModes[] = {
    {"power_off", "0", "2_0", 0, ""},
    {"emergency_off", "1", "6_0", 0, ""},
    {"restart", "2", "1_0", 0, ""},
    {"mode_3", "3", nullptr, 255, "wrong input argument"},
    {"negative", "-1", nullptr, 255, "wrong input argument"},
    // A number past 32 bits must not fold into mode 0 on a 64-bit build.
    {"beyond_32_bits", "4294967296", nullptr, 255, "wrong input argument"},
    {"plus_sign", "+2", "1_0", 0, ""},
    // Text that is no decimal number would be mode 0 and power the board off on a typo:
    // it is refused before anything is stopped.
    {"not_a_number", "off", nullptr, 255, "wrong input argument", false},
    {"digits_then_text", "1st", nullptr, 255, "wrong input argument", false},
    {"empty", "", nullptr, 255, "wrong input argument", false},
    {"a_misspelt_option", "--hlep", nullptr, 255, "wrong input argument", false},
};
INSTANTIATE_TEST_SUITE_P(Modes, PowerMode, ::testing::ValuesIn(kModes),
                         [](const auto &mode) { return std::string(mode.param.name); });

// ---- what else a person on the board sees ---------------------------------------------

TEST(KvPowerctl, without_an_argument_nothing_is_stopped_or_unmounted) {
  PowerBoard unit;
  std::string table = unit.board.read("/proc/mounts");
  Outcome got = unit.run({});
  EXPECT_EQ(got.status, 255);
  EXPECT_EQ(got.out, "wrong input argument");
  EXPECT_TRUE(unit.board.commands().empty());
  EXPECT_EQ(unit.board.read("/proc/mounts"), table);
  EXPECT_EQ(unit.controller(), kControllerAtRest);
}

TEST(KvPowerctl, the_supervisor_and_both_servers_are_killed) {
  PowerBoard unit;
  pid_t sentinel = unit.board.start({"kv_sentinel"});  // still in its start-up wait
  pid_t system = unit.board.startServer("system_server");
  pid_t server = unit.board.startServer("kv_server");
  Outcome got = unit.run({"2"});
  EXPECT_EQ(got.status, 0);
  for (pid_t pid : {sentinel, system, server}) {
    int status = unit.board.wait(pid, 5000ms);
    ASSERT_NE(status, -1) << "still running: " << pid;
    EXPECT_EQ(Sandbox::exitCode(status), 128 + 9);
  }
}

TEST(KvPowerctl, a_controller_node_that_cannot_be_opened_is_silent) {
  PowerBoard unit;
  unit.board.remove("/sys/devices/platform/i2c_davinci.1");
  Outcome got = unit.run({"0"});
  EXPECT_EQ(got.status, 0);
  EXPECT_EQ(got.out, "");
  // Only the stand-in killall speaks (no process of those names runs here).
  for (const auto &text : kvsim::splitLines(got.err))
    EXPECT_EQ(text.rfind("killall: ", 0), 0u) << text;
  EXPECT_EQ(unit.board.commands(), unit.stopAndUnmount());
  EXPECT_FALSE(unit.board.exists(KV_NODE_MICOM_DATA));
}

TEST(KvPowerctl, a_card_that_stays_mounted_does_not_stop_the_power_off) {
  PowerBoard unit;
  for (int call = 1; call <= 6; ++call) unit.board.scriptTool("umount", ToolScript{1, "", 0}, call);
  Outcome got = unit.run({"0"});
  EXPECT_EQ(got.status, 0);
  EXPECT_EQ(unit.board.commandsOf("umount").size(), 7u) << "six for the card, one for the flash";
  EXPECT_TRUE(contains(unit.board.read("/proc/mounts"), " /mnt/mmc "));
  EXPECT_EQ(unit.controller(), controllerRecord("2_0"));
}

}  // namespace
