// SPDX-License-Identifier: MIT
// The SD card and the flash: mount detection, the unmount ladders, checking, formatting,
// the boot check marker, the write test, free memory and disk space. Every command runs
// against the sandbox's stand-in tools; the mount table is the sandbox's.
#include <gtest/gtest.h>
#include <limits.h>
#include <stdio.h>
#include <string.h>
#include <sys/statfs.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "board_root.h"
#include "kv_common_util.h"
#include "sandbox.h"

namespace {

using namespace std::chrono_literals;
using kvsim::Sandbox;
using kvsim::ToolScript;
using Clock = std::chrono::steady_clock;

constexpr char kBaseTable[] = "rootfs / rootfs rw 0 0\nproc /proc proc rw 0 0\n";
constexpr char kCardLine[] = "/dev/mmcblk0p1 /mnt/mmc vfat rw,relatime,fmask=0022 0 0\n";
constexpr char kNandLine[] = "/dev/mtdblock4 /mnt/nand jffs2 rw,relatime 0 0\n";

long long msSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// A status word of system() for a command that exited with `code`.
constexpr int exited(int code) { return code << 8; }

// The table with only the card (or nothing) mounted: a new sandbox has the flash mounted.
void setTable(const Sandbox &board, const std::string &mounted) {
  board.write("/proc/mounts", kBaseTable + mounted);
}

void failCalls(const Sandbox &board, const std::string &tool, std::vector<int> calls) {
  for (int call : calls) board.scriptTool(tool, ToolScript{1, "", 0}, call);
}

// ---- mount detection ---------------------------------------------------------------

TEST(MountDetection, a_card_mounted_read_only_counts_as_not_mounted) {
  Sandbox board;
  board.append("/proc/mounts", "/dev/mmcblk0p1 /mnt/mmc vfat ro,relatime 0 0\n");
  EXPECT_EQ(IsSdMounted(), 0);

  // So mounting skips the unmount ladder, and the mount over the read-only card fails.
  EXPECT_EQ(MountSdcard(), 0);
  EXPECT_TRUE(board.commandsOf("umount").empty());
  ASSERT_EQ(board.commandsOf("mount").size(), 1u);
  EXPECT_EQ(board.commandsOf("mount")[0],
            "mount -t vfat " + board.root() + "/dev/mmcblk0p1 " + board.root() + "/mnt/mmc");
}

TEST(MountDetection, the_stand_ins_keep_the_table_in_board_paths) {
  Sandbox board;
  setTable(board, "");
  EXPECT_EQ(IsSdMounted(), 0);
  EXPECT_EQ(MountSdcard(), 1);
  EXPECT_TRUE(kvsim::contains(board.read("/proc/mounts"), "/dev/mmcblk0p1 /mnt/mmc vfat rw,"));
  EXPECT_EQ(UnmountSdcard(), 0);
  EXPECT_EQ(IsSdMounted(), 0);
  EXPECT_EQ(board.read("/proc/mounts"), kBaseTable);
  EXPECT_NE(UnmountSdcard(), 0) << "nothing left to unmount";

  EXPECT_EQ(IsNanMounted(), 0);
  EXPECT_EQ(MountNand(), 0);
  EXPECT_EQ(IsNanMounted(), 1);
  EXPECT_TRUE(kvsim::contains(board.read("/proc/mounts"), kNandLine));
  EXPECT_EQ(UnmountNandLazy(), 0);
  EXPECT_EQ(IsNanMounted(), 0);
  EXPECT_EQ(board.commandsOf("umount").back(), "umount -l " + board.root() + "/mnt/nand");
}

TEST(MountDetection, the_card_and_the_flash_listed_late_in_a_long_table_are_still_seen) {
  Sandbox board;
  std::string table = kBaseTable;
  for (int i = 0; table.size() < 20000; ++i)
    table += "tmpfs /var/volatile" + std::to_string(i) + " tmpfs rw,relatime 0 0\n";
  board.write("/proc/mounts", table + kCardLine + kNandLine);
  EXPECT_EQ(IsSdMounted(), 1);
  EXPECT_EQ(IsNanMounted(), 1);
}

TEST(MountDetection, a_mount_point_cut_by_a_read_boundary_is_still_seen) {
  Sandbox board;
  // The card's "/mnt/mmc vfat rw" starts 15 bytes into its line; the table is read in
  // kilobytes, so these lines put it across the third kilobyte's end.
  for (size_t shift = 1; shift < 16; ++shift) {
    size_t line_at = 3072 - 15 - shift;
    board.write("/proc/mounts", std::string(line_at - 1, '#') + "\n" + kCardLine);
    EXPECT_EQ(IsSdMounted(), 1) << "card text " << shift << " bytes before the boundary";
  }
}

// A board root with a blank and a quote in its name: an unquoted board path would split
// or break the command, and the tool would not be run on the card or flash at all.
TEST(MountDetection, every_command_takes_each_board_path_as_one_word) {
  Sandbox board("kv 'sim");
  setTable(board, "");
  EXPECT_EQ(MountSdcard(), 1);
  EXPECT_EQ(board.commandsOf("mount").back(),
            "mount -t vfat " + board.root() + "/dev/mmcblk0p1 " + board.root() + "/mnt/mmc");
  int status = 0;
  EXPECT_EQ(CheckDiskSdcard(&status), CHECK_DISK_SUCCESS);
  EXPECT_EQ(board.commandsOf("fsck_msdos").back(),
            "fsck_msdos -y " + board.root() + "/dev/mmcblk0p1");
  EXPECT_EQ(SafeUnmountSd(), 0);
  EXPECT_EQ(MountNand(), 0);
  EXPECT_EQ(IsNanMounted(), 1);
  EXPECT_EQ(EraseAllNand(), 0);
  EXPECT_EQ(board.commandsOf("flash_eraseall").back(),
            "flash_eraseall " + board.root() + "/dev/mtd4");
}

TEST(MountDetection, an_unreadable_table_means_nothing_is_mounted) {
  Sandbox board;
  board.remove("/proc/mounts");
  testing::internal::CaptureStdout();
  EXPECT_EQ(IsSdMounted(), 0);
  EXPECT_EQ(IsNanMounted(), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "IsSdMounted GetfreememInfo open file fail \n"
            "IsSdMounted GetfreememInfo open file fail \n");

  board.write("/proc/mounts", "");
  testing::internal::CaptureStdout();
  EXPECT_EQ(IsSdMounted(), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "IsSdMounted read device error !!");
}

// ---- ladders -----------------------------------------------------------------------

struct LadderCase {
  const char *what;
  bool mounted;
  std::vector<int> failing_calls;  // umount calls that fail (and leave the card mounted)
  size_t umounts;
  long long min_ms;
  int result;
};

// UmountSdcardRepeat: three umount commands at most, 200 ms apart.
TEST(UmountSdcardRepeat, command_counts_sleeps_and_results) {
  const LadderCase cases[] = {
      {"not mounted", false, {}, 0, 0, 1},
      {"first umount works", true, {}, 1, 0, 1},
      {"third umount works", true, {1, 2}, 3, 400, 1},
      {"never unmounts", true, {1, 2, 3}, 3, 400, -1},
  };
  for (const auto &c : cases) {
    Sandbox board;
    if (c.mounted) board.append("/proc/mounts", kCardLine);
    failCalls(board, "umount", c.failing_calls);
    testing::internal::CaptureStdout();
    auto start = Clock::now();
    EXPECT_EQ(UmountSdcardRepeat(), c.result) << c.what;
    long long ms = msSince(start);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(board.commandsOf("umount").size(), c.umounts) << c.what;
    EXPECT_GE(ms, c.min_ms) << c.what;
    EXPECT_LT(ms, c.min_ms + 2000) << c.what;
    EXPECT_EQ(out, c.result == -1 ? "SD Unmount fail\n" : "") << c.what;
  }
}

TEST(MountSdcard, mounting_goes_on_when_the_card_stays_mounted) {
  Sandbox board;
  board.append("/proc/mounts", kCardLine);
  failCalls(board, "umount", {1, 2, 3});
  testing::internal::CaptureStdout();
  EXPECT_EQ(MountSdcard(), 1) << "still mounted read-write at the end";
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "SD Unmount fail\n");
  EXPECT_EQ(board.commandsOf("umount").size(), 3u);
  EXPECT_EQ(board.commandsOf("mount").size(), 1u);
  for (const auto &line : board.commandsOf("umount"))
    EXPECT_EQ(line, "umount " + board.root() + "/mnt/mmc");
}

// SafeUnmountSd: up to six commands, 400 ms after each failure, then 500 ms.
TEST(SafeUnmountSd, command_counts_sleeps_and_results) {
  const LadderCase cases[] = {
      {"not mounted", false, {}, 0, 500, 0},
      {"first umount works", true, {}, 1, 500, 0},
      {"fourth umount works", true, {1, 2, 3}, 4, 3 * 400 + 500, 0},
      {"never unmounts", true, {1, 2, 3, 4, 5, 6}, 6, 6 * 400 + 500, 2},
  };
  for (const auto &c : cases) {
    Sandbox board;
    if (c.mounted) board.append("/proc/mounts", kCardLine);
    failCalls(board, "umount", c.failing_calls);
    auto start = Clock::now();
    EXPECT_EQ(SafeUnmountSd(), c.result) << c.what;
    long long ms = msSince(start);
    EXPECT_EQ(board.commandsOf("umount").size(), c.umounts) << c.what;
    EXPECT_GE(ms, c.min_ms) << c.what;
    EXPECT_LT(ms, c.min_ms + 2500) << c.what;
  }
}

TEST(SafeUnmountSd, a_card_that_goes_away_after_a_failed_command_ends_the_ladder) {
  Sandbox board;
  board.append("/proc/mounts", kCardLine);
  board.scriptTool("umount", ToolScript{1, "", 0});
  // Someone else unmounts the card while the ladder waits after its first failure.
  std::thread other([&] {
    std::this_thread::sleep_for(150ms);
    board.write("/proc/mounts", kBaseTable);
  });
  EXPECT_EQ(SafeUnmountSd(), 0);
  other.join();
  EXPECT_EQ(board.commandsOf("umount").size(), 1u);
}

// SafeUnmountNand: 200 ms first, up to four commands with 400 ms after each failure.
TEST(SafeUnmountNand, command_counts_sleeps_and_results) {
  const LadderCase cases[] = {
      {"not mounted", false, {}, 0, 200, 0},
      {"first umount works", true, {}, 1, 200, 0},
      {"never unmounts", true, {1, 2, 3, 4}, 4, 200 + 4 * 400, 2},
  };
  for (const auto &c : cases) {
    Sandbox board;
    setTable(board, c.mounted ? kNandLine : "");
    failCalls(board, "umount", c.failing_calls);
    auto start = Clock::now();
    EXPECT_EQ(SafeUnmountNand(), c.result) << c.what;
    long long ms = msSince(start);
    EXPECT_EQ(board.commandsOf("umount").size(), c.umounts) << c.what;
    EXPECT_GE(ms, c.min_ms) << c.what;
    EXPECT_LT(ms, c.min_ms + 2000) << c.what;
  }
}

TEST(EraseAllNand, erases_only_an_unmounted_partition) {
  {
    Sandbox board;
    setTable(board, kNandLine);
    board.scriptTool("umount", ToolScript{1, "", 0});
    EXPECT_EQ(EraseAllNand(), -2);
    EXPECT_TRUE(board.commandsOf("flash_eraseall").empty());
  }
  {
    Sandbox board;
    setTable(board, kNandLine);
    board.scriptTool("flash_eraseall", ToolScript{1, "", 0});
    EXPECT_EQ(EraseAllNand(), 0) << "the erase status is not looked at";
    EXPECT_EQ(board.commandsOf("flash_eraseall"),
              std::vector<std::string>{"flash_eraseall " + board.root() + "/dev/mtd4"});
    EXPECT_EQ(IsNanMounted(), 0) << "not mounted again";
  }
}

// ---- checking ----------------------------------------------------------------------

TEST(CheckDisk, a_missing_result_pointer_is_refused_without_touching_the_card) {
  Sandbox board;
  board.append("/proc/mounts", kCardLine);
  EXPECT_EQ(CheckDiskSdcard(nullptr), CHECK_DISK_INPUT_ERROR);
  EXPECT_TRUE(board.commands().empty());
}

TEST(CheckDisk, a_repaired_fat_is_checked_again_and_the_card_mounted) {
  Sandbox board;
  board.append("/proc/mounts", kCardLine);
  board.scriptTool("fsck_msdos", ToolScript{FSFATMOD, "", 0}, 1);
  int status = -7;
  EXPECT_EQ(CheckDiskSdcard(&status), CHECK_DISK_SUCCESS);
  EXPECT_EQ(status, 0);
  std::string check = "fsck_msdos -y " + board.root() + "/dev/mmcblk0p1";
  EXPECT_EQ(board.commandsOf("fsck_msdos"), (std::vector<std::string>{check, check}));
  EXPECT_EQ(IsSdMounted(), 1);
}

TEST(CheckDisk, a_dirty_card_after_the_second_run_fails_and_stays_unmounted) {
  Sandbox board;
  board.append("/proc/mounts", kCardLine);
  board.scriptTool("fsck_msdos", ToolScript{FSFATMOD, "", 0}, 1);
  board.scriptTool("fsck_msdos", ToolScript{FSDIRTY, "", 0}, 2);
  int status = 0;
  EXPECT_EQ(CheckDiskSdcard(&status), CHECK_DISK_MSDOS_FAIL);
  EXPECT_EQ(status, exited(FSDIRTY));
  EXPECT_EQ(IsSdMounted(), 0);
  EXPECT_TRUE(board.commandsOf("mount").empty());
}

TEST(CheckDisk, a_card_that_stays_mounted_is_not_checked) {
  Sandbox board;
  board.append("/proc/mounts", kCardLine);
  board.scriptTool("umount", ToolScript{1, "", 0});
  testing::internal::CaptureStdout();
  int status = 0;
  EXPECT_EQ(CheckDiskSdcard(&status), CHECK_DISK_UNMOUNT_FAIL);
  testing::internal::GetCapturedStdout();
  EXPECT_TRUE(board.commandsOf("fsck_msdos").empty());
}

TEST(CheckDisk, a_failed_mount_after_a_clean_check) {
  Sandbox board;
  board.scriptTool("mount", ToolScript{255, "", 0});
  int status = -7;
  EXPECT_EQ(CheckDiskSdcard(&status), CHECK_DISK_MOUNT_FAIL);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(board.commandsOf("fsck_msdos").size(), 1u);
}

TEST(BootCheck, results_and_the_card_left_unmounted) {
  struct Case {
    const char *what;
    int first, second;  // exit codes; second -1: no second run expected
    int result;
  } cases[] = {
      {"clean", 0, -1, 1},
      {"repaired then clean", FSFATMOD, 0, 1},
      {"repaired twice", FSFATMOD, FSDIRMOD | FSFIXFAT, 1},
      {"error after repair", FSFATMOD, FSERROR, -1},
      {"exFAT", FSEXFAT, FSEXFAT, -1},
  };
  for (const auto &c : cases) {
    Sandbox board;
    board.append("/proc/mounts", kCardLine);
    board.scriptTool("fsck_msdos", ToolScript{c.first, "", 0}, 1);
    if (c.second >= 0) board.scriptTool("fsck_msdos", ToolScript{c.second, "", 0}, 2);
    EXPECT_EQ(DoBootCheckDiskSdCard(), c.result) << c.what;
    EXPECT_EQ(board.commandsOf("fsck_msdos").size(), c.second >= 0 ? 2u : 1u) << c.what;
    EXPECT_EQ(IsSdMounted(), 0) << c.what;
    EXPECT_TRUE(board.commandsOf("mount").empty()) << c.what;
  }
}

TEST(CheckerStatus, which_statuses_pass) {
  struct Case {
    int status;
    int dos_ok, msdos_ok;
  } cases[] = {
      {-1, 0, 0},
      {0, 1, 1},
      {exited(FSBOOTMOD), 0, 1},
      {exited(FSDIRMOD | FSFATMOD | FSFIXFAT), 0, 1},
      {exited(FSERROR), 0, 0},
      {exited(FSFATAL), 0, 0},
      {exited(FSDIRTY), 0, 0},
      {exited(FSEXFAT), 0, 0},
      {exited(127), 0, 0},  // the shell did not find the checker
      {9, 0, 0},            // the checker was killed: it checked nothing
  };
  for (const auto &c : cases) {
    EXPECT_EQ(IsDosFsckResultOk(c.status), c.dos_ok) << c.status;
    EXPECT_EQ(IsFsckMsdosResultOk(c.status), c.msdos_ok) << c.status;
  }
}

TEST(CheckerStatus, flag_texts) {
  struct Case {
    int status;
    const char *text;
  } cases[] = {
      {0, "FSOK"},
      {0x0300, " FSBOOTMOD  FSDIRMOD "},
      {exited(FSDIRTY), " FSDIRTY "},
      {exited(0xFF),
       " FSBOOTMOD  FSDIRMOD  FSFATMOD  FSERROR  FSFATAL  FSDIRTY  FSFIXFAT  FSEXFAT "},
      {9, ""},
  };
  for (const auto &c : cases) {
    char text[KV_FSCK_ERROR_TEXT_SIZE];
    memset(text, 'x', sizeof text);
    PrintFsckMsdosError(c.status, text);
    EXPECT_STREQ(text, c.text) << c.status;
  }
  EXPECT_EQ(strlen(cases[3].text) + 1, static_cast<size_t>(KV_FSCK_ERROR_TEXT_SIZE));
}

// ---- formatting --------------------------------------------------------------------

TEST(FormatSdcard, repartitions_formats_and_mounts) {
  Sandbox board;
  board.append("/proc/mounts", kCardLine);
  EXPECT_EQ(FormatSdcard(), CHECK_DISK_SUCCESS);
  std::string dev = board.root() + "/dev/mmcblk0p1";
  EXPECT_EQ(board.commands(), (std::vector<std::string>{
                                  "umount " + board.root() + "/mnt/mmc", "repartitioning_mmc.sh",
                                  "mkdosfs -s 64 -n TRAVELOGBOX " + dev,
                                  "mount -t vfat " + dev + " " + board.root() + "/mnt/mmc"}));
  EXPECT_EQ(IsSdMounted(), 1);
}

TEST(FormatSdcard, results_of_failed_formats_and_mounts) {
  struct Case {
    const char *what;
    int mkdosfs1, mkdosfs2, mount;
    int result;
    const char *printed;
  } cases[] = {
      {"second format works", 1, 0, 0, CHECK_DISK_SUCCESS, "SD format fail 1\n"},
      {"both formats fail", 1, 1, 0, CHECK_DISK_MSDOS_FAIL, "SD format fail 1\nSD format fail 2\n"},
      {"both fail and no mount", 1, 1, 255, CHECK_DISK_MOUNT_FAIL,
       "SD format fail 1\nSD format fail 2\n"},
      {"formatted but no mount", 0, 0, 255, CHECK_DISK_MOUNT_FAIL, ""},
  };
  for (const auto &c : cases) {
    Sandbox board;
    board.scriptTool("mkdosfs", ToolScript{c.mkdosfs1, "", 0}, 1);
    board.scriptTool("mkdosfs", ToolScript{c.mkdosfs2, "", 0}, 2);
    board.scriptTool("mount", ToolScript{c.mount, "", 0});
    board.scriptTool("repartitioning_mmc.sh", ToolScript{1, "", 0});  // not looked at
    testing::internal::CaptureStdout();
    EXPECT_EQ(FormatSdcard(), c.result) << c.what;
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.printed) << c.what;
    if (c.mkdosfs1 != 0) {
      EXPECT_EQ(board.commandsOf("mkdosfs").back(),
                "mkdosfs -n TRAVELOGBOX " + board.root() + "/dev/mmcblk0p1")
          << c.what;
    }
  }
}

TEST(FormatSdcard, a_card_that_stays_mounted_is_not_formatted) {
  Sandbox board;
  board.append("/proc/mounts", kCardLine);
  board.scriptTool("umount", ToolScript{1, "", 0});
  testing::internal::CaptureStdout();
  EXPECT_EQ(FormatSdcard(), CHECK_DISK_UNMOUNT_FAIL);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "SD Unmount fail\n");
  EXPECT_TRUE(board.commandsOf("mkdosfs").empty());
  EXPECT_TRUE(board.commandsOf("repartitioning_mmc.sh").empty());
}

// ---- boot check marker -------------------------------------------------------------

TEST(BootCheckMarker, is_twenty_nul_padded_bytes_read_back_as_a_number) {
  Sandbox board;
  EXPECT_EQ(BootReadCheckDisk(), -1) << "no marker";
  char result[KV_BOOT_CHECK_MARKER_SIZE] = "-1";
  EXPECT_EQ(BootWriteCheckDisk(result), 0);
  EXPECT_EQ(board.read("/mnt/nand/boot_checkdisk"), std::string("-1") + std::string(18, '\0'));
  EXPECT_EQ(BootReadCheckDisk(), -1);

  char one[] = "1";  // shorter than the record: not read past its end
  BootWriteCheckDisk(one);
  EXPECT_EQ(board.read("/mnt/nand/boot_checkdisk"), std::string("1") + std::string(19, '\0'));
  EXPECT_EQ(BootReadCheckDisk(), 1);

  board.write("/mnt/nand/boot_checkdisk", "junk");
  EXPECT_EQ(BootReadCheckDisk(), 0);

  BootDeleteCheckDisk();
  EXPECT_FALSE(board.exists("/mnt/nand/boot_checkdisk"));
  EXPECT_EQ(BootReadCheckDisk(), -1);
}

// ---- write test --------------------------------------------------------------------

// With rm standing in (and so deleting nothing), the test file stays for inspection.
std::vector<std::string> testFiles(const Sandbox &board) {
  std::vector<std::string> names;
  for (const auto &line : board.commandsOf("rm")) {
    auto at = line.find(std::string(KV_WRITE_TEST_BASE_NAME) + "_");
    if (at != std::string::npos) names.push_back(line.substr(line.rfind('/') + 1));
  }
  return names;
}

TEST(WriteTest, writes_reads_and_deletes_the_41_byte_pattern) {
  Sandbox board;
  EXPECT_EQ(KVCheckMemoryWritePossible(), 0);
  EXPECT_TRUE(board.exists("/mnt/mmc/Recordings"));
  EXPECT_EQ(IsEmptyDirectory(kv::rooted("/mnt/mmc/Recordings").c_str()), 1);

  board.installTool("rm");
  testing::internal::CaptureStdout();
  EXPECT_EQ(KVCheckMemoryWritePossible(), -1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "CheckMemoryWritePossible delete path error\n");
  auto names = testFiles(board);
  ASSERT_EQ(names.size(), 1u);
  EXPECT_EQ(board.read("/mnt/mmc/Recordings/" + names[0]),
            "*#01234567890ABCDEFGHIJKLMNOPQRSTUVWXYZ#*");
  EXPECT_EQ(board.read("/mnt/mmc/Recordings/" + names[0]).size(), 41u);
}

TEST(WriteTest, a_card_without_room_for_the_pattern_still_passes_with_an_empty_file) {
  Sandbox board;
  board.write("/sim/statfs", "/mnt/mmc bsize=512 blocks=1000 bfree=0 bavail=0\n");
  EXPECT_EQ(KVCheckMemoryWritePossible(), 0);
  EXPECT_EQ(IsEmptyDirectory(kv::rooted("/mnt/mmc/Recordings").c_str()), 1);

  board.installTool("rm");
  testing::internal::CaptureStdout();
  EXPECT_EQ(KVCheckMemoryWritePossible(), -1);
  testing::internal::GetCapturedStdout();
  auto names = testFiles(board);
  ASSERT_EQ(names.size(), 1u);
  EXPECT_TRUE(board.exists("/mnt/mmc/Recordings/" + names[0]));
  EXPECT_EQ(board.read("/mnt/mmc/Recordings/" + names[0]), "");
}

// ---- memory and space --------------------------------------------------------------

TEST(FreeMemory, adds_free_and_cached_and_warns_below_two_megabytes) {
  Sandbox board;
  testing::internal::CaptureStderr();
  EXPECT_EQ(KVGetfreememInfo(), 31636 + 20484);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

  board.write("/proc/meminfo",
              "MemTotal:          119644 kB\nMemFree:             1000 kB\n"
              "Buffers:             1084 kB\nCached:               1000 kB\n");
  testing::internal::CaptureStderr();
  EXPECT_EQ(KVGetfreememInfo(), 2000);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "AVI check free Memory = 2000 Kbyte is not enough !!!!!!!!!!!!!\n");
}

TEST(FreeMemory, a_table_without_cached_or_without_a_file_gives_minus_one) {
  Sandbox board;
  board.write("/proc/meminfo", "MemTotal: 119644 kB\nMemFree: 1000 kB\n");
  EXPECT_EQ(KVGetfreememInfo(), -1);
  board.write("/proc/meminfo", "");
  testing::internal::CaptureStdout();
  EXPECT_EQ(KVGetfreememInfo(), -1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "read device error !!");
  board.remove("/proc/meminfo");
  testing::internal::CaptureStdout();
  EXPECT_EQ(KVGetfreememInfo(), -1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "GetfreememInfo open file fail \n");
}

// A corrupt table once overflowed the sum (undefined behaviour) or came back negative.
TEST(FreeMemory, huge_figures_of_a_corrupt_table_saturate_at_int_max) {
  Sandbox board;
  const char *tables[] = {"MemFree: 9223372036854775807 kB\nCached: 9 kB\n",
                          "MemFree: 3000000000 kB\nCached: 1 kB\n",
                          "MemFree: 99999999999999999999999 kB\nCached: 99999999999999999999 kB\n"};
  for (const char *table : tables) {
    board.write("/proc/meminfo", table);
    EXPECT_EQ(KVGetfreememInfo(), INT_MAX) << table;
  }
}

TEST(DiskSpace, block_size_times_blocks_of_the_holding_file_system) {
  Sandbox board;
  board.mkdir("/mnt/mmc/Recordings");
  board.write("/sim/statfs",
              "/mnt bsize=1024 blocks=1 bfree=1 bavail=1\n"
              "/mnt/mmc bsize=32768 blocks=1000 bfree=600 bavail=500\n");
  for (const std::string path : {"/mnt/mmc", "/mnt/mmc/Recordings"}) {
    EXPECT_EQ(KVGetDiskTotalSpace(path.c_str()), 32768LL * 1000) << path;
    EXPECT_EQ(KVGetDiskfreeSpace(path.c_str()), 32768LL * 600) << path;
    EXPECT_EQ(KVGetDiskAvailSpace(kv::rooted(path).c_str()), 32768LL * 500) << path;
  }
  EXPECT_EQ(KVGetDiskTotalSpace("/mnt/nand"), 1024) << "the nearest stated mount point";
  EXPECT_EQ(KVGetDiskTotalSpace("/mnt/nowhere"), 0);
  EXPECT_EQ(KVGetDiskAvailSpace(nullptr), 0);

  char here[] = "/mnt/mmc", missing[] = "/mnt/mmc/none";
  EXPECT_EQ(IsPathExists(here), 1);
  EXPECT_EQ(IsPathExists(missing), 0);
  EXPECT_EQ(IsPathExists(nullptr), 0);
}

}  // namespace
