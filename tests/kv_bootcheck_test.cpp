// SPDX-License-Identifier: MIT
// kv_bootcheck on a simulated board: the real tool with the stand-in umount and
// fsck_msdos, the card-detect node and the marker file on the flash.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dm368_zt5_util.h"
#include "kv_common_util.h"
#include "sandbox.h"

namespace {

using kvsim::contains;
using kvsim::Sandbox;
using kvsim::ToolScript;

constexpr char kCardLine[] = "/dev/mmcblk0p1 /mnt/mmc vfat rw,relatime 0 0\n";
constexpr char kMarker[] = "/mnt/nand/boot_checkdisk";

std::string line(const char *result) {
  return std::string("####################### BootCheckDiskSdcard=") + result + "\n";
}

// The marker as the recorder reads it: the decimal result, NUL-padded to 20 bytes.
std::string marker(const char *result) {
  std::string record(result);
  record.resize(20, '\0');
  return record;
}

enum class Slot { empty, card, detectBroken };

struct Case {
  const char *what;
  Slot slot;
  bool mounted;
  std::vector<int> checker;  // exit codes of the first and second checker runs
  bool umountRefuses;
  const char *result;
  size_t umounts, checks;
  std::string out;  // "" for the result line alone
};

TEST(KvBootcheck, outcomes_leave_their_marker_and_line) {
  const Case cases[] = {
      {"no card", Slot::empty, false, {}, false, "0", 0, 0, ""},
      {"clean card", Slot::card, true, {0}, false, "1", 1, 1, ""},
      {"unmounted clean card", Slot::card, false, {0}, false, "1", 0, 1, ""},
      {"repaired on the first run", Slot::card, true, {FSFATMOD, 0}, false, "1", 1, 2, ""},
      {"repaired twice", Slot::card, true, {FSFATMOD, FSFIXFAT}, false, "1", 1, 2, ""},
      {"dirty after the repair", Slot::card, true, {FSFATMOD, FSDIRTY}, false, "-1", 1, 2, ""},
      {"refuses three unmounts", Slot::card, true, {}, true, "-1", 3, 0, "SD Unmount fail\n"},
      {"card detect unreadable", Slot::detectBroken, true, {0}, false, "1", 1, 1, ""},
  };
  for (const auto &c : cases) {
    Sandbox board;
    if (c.slot == Slot::empty) board.write(KV_NODE_CD_STATUS, "0\n");
    if (c.slot == Slot::detectBroken) board.remove(KV_NODE_CD_STATUS);
    if (c.mounted) board.append("/proc/mounts", kCardLine);
    for (size_t i = 0; i < c.checker.size(); ++i)
      board.scriptTool("fsck_msdos", ToolScript{c.checker[i], "", 0}, static_cast<int>(i) + 1);
    if (c.umountRefuses) board.scriptTool("umount", ToolScript{1, "", 0});

    pid_t pid = board.start({"kv_bootcheck"});
    int status = board.wait(pid);
    EXPECT_EQ(Sandbox::exitCode(status), 0) << c.what;
    EXPECT_EQ(board.stdoutOf(pid), c.out + line(c.result)) << c.what;
    EXPECT_EQ(board.read(kMarker), marker(c.result)) << c.what;
    EXPECT_EQ(board.commandsOf("umount").size(), c.umounts) << c.what;
    EXPECT_EQ(board.commandsOf("fsck_msdos").size(), c.checks) << c.what;
    EXPECT_EQ(contains(board.read("/proc/mounts"), " /mnt/mmc "), c.umountRefuses) << c.what;
    EXPECT_TRUE(board.commandsOf("mount").empty()) << c.what << ": the card is left unmounted";
    if (c.slot == Slot::detectBroken) {
      EXPECT_TRUE(contains(board.stderrOf(pid), "Error: can't open device\n")) << c.what;
    }
  }
}

TEST(KvBootcheck, arguments_are_ignored_and_an_unwritable_flash_only_loses_the_marker) {
  Sandbox board;
  board.remove("/mnt/nand");
  pid_t pid = board.start({"kv_bootcheck", "-x", "3"});
  int status = board.wait(pid);
  EXPECT_EQ(Sandbox::exitCode(status), 0);
  EXPECT_EQ(board.stdoutOf(pid), line("1"));
  EXPECT_FALSE(board.exists(kMarker));
  EXPECT_EQ(board.commandsOf("fsck_msdos").size(), 1u);
}

}  // namespace
