// SPDX-License-Identifier: MIT
// The recordings folder and the time helpers: the name rule, counting, sizing and deleting
// by the name rule, the path helpers, the saved-recording notices, and setting the clock
// through the board root.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

#include "board_root.h"
#include "kv_common_util.h"
#include "local_time.h"
#include "sandbox.h"

namespace {

using kvsim::Sandbox;

constexpr char kFolder[] = "/mnt/mmc/Recordings";

std::string folder() { return kv::rooted(kFolder); }

// A file of `size` bytes in the recordings folder.
void put(const Sandbox &board, const std::string &name, size_t size) {
  board.write(std::string(kFolder) + "/" + name, std::string(size, 'x'));
}

bool has(const Sandbox &board, const std::string &name) {
  return board.exists(std::string(kFolder) + "/" + name);
}

std::string nameOf(const std::string &path) { return path.substr(path.rfind('/') + 1); }

// ---- the name rule -----------------------------------------------------------------

TEST(NameRule, separator_by_kind_state_and_continuity) {
  struct Case {
    int state, kind, continuous;
    const char *sep;
  } cases[] = {
      {MAIN_STATE_DRIVE, BB_RECORD_ALWAYS, 0, "_NOR_D"},
      {MAIN_STATE_PARK, BB_RECORD_ALWAYS, 0, "_NOR_D"},
      {MAIN_STATE_DRIVE, BB_RECORD_IMPACT_EVENT, 0, "_EVT_D"},
      {MAIN_STATE_PARK, BB_RECORD_IMPACT_EVENT, 0, "_EVT_P"},
      {MAIN_STATE_DRIVE, BB_RECORD_MANUAL_EVENT, 0, "_EVT_D"},
      {MAIN_STATE_PARK, BB_RECORD_MANUAL_EVENT, 0, "_EVT_P"},
      {MAIN_STATE_SYSTEM, BB_RECORD_MANUAL_EVENT, 0, "_EVT_P"},
      {MAIN_STATE_DRIVE, BB_RECORD_PARKING_MOTION, 0, "_MOT_P"},
      {MAIN_STATE_DRIVE, BB_RECORD_PARKING_ALWAYS, 0, "_NOR_P"},
      {MAIN_STATE_PARK, BB_RECORD_NONE, 0, "_MOT_P"},
      {MAIN_STATE_PARK, BB_RECORD_NONE, 1, "_NOR_P"},
      {MAIN_STATE_DRIVE, BB_RECORD_NONE, 0, "_NOR_D"},
      {MAIN_STATE_DRIVE, BB_RECORD_NONE, 1, "_NOR_D"},
      {MAIN_STATE_PARK, 42, 1, "_NOR_P"},
  };
  for (const auto &c : cases)
    EXPECT_STREQ(GetFileNameSeparator(c.state, c.kind, c.continuous), c.sep)
        << c.state << " " << c.kind << " " << c.continuous;
}

TEST(NameRule, a_name_is_date_time_kind_unit_and_extension) {
  Sandbox board;
  time_t ref = localTime(2024, 1, 31, 23, 59, 58);
  struct Case {
    int role;
    const char *name;
  } cases[] = {
      {DEVICE_2CH_FRONT, "20240131-235958_EVT_P_F.mp4"},
      {DEVICE_2CH_REAR, "20240131-235958_EVT_P_R.mp4"},
      {DEVICE_1CH_ONLY, "20240131-235958_EVT_P.mp4"},
  };
  for (const auto &c : cases) {
    char path[KV_PATH_SIZE];
    EXPECT_EQ(GenerateRecordFileName(path, sizeof path, MAIN_STATE_PARK, BB_RECORD_IMPACT_EVENT, 0,
                                     c.role, static_cast<int>(ref)),
              static_cast<int>(ref));
    EXPECT_EQ(std::string(path), folder() + "/" + c.name);
  }
  EXPECT_TRUE(board.exists(kFolder)) << "the folder is made on demand";
  EXPECT_EQ(GetRecordFileLength(), 27);
  EXPECT_EQ(std::string(kFolder).size() + 1 + 27, 47u);
}

TEST(NameRule, two_names_in_one_second_differ_by_one_in_the_seconds_field) {
  Sandbox board;
  // The clock may cross a second between the two requests; then try again.
  for (int tries = 0; tries < 5; ++tries) {
    char first[KV_PATH_SIZE], second[KV_PATH_SIZE];
    int t1 = GenerateRecordFileName(first, sizeof first, MAIN_STATE_DRIVE, BB_RECORD_ALWAYS, 1,
                                    DEVICE_2CH_FRONT, 0);
    board.write(std::string(kFolder) + "/" + nameOf(first), "video");
    int t2 = GenerateRecordFileName(second, sizeof second, MAIN_STATE_DRIVE, BB_RECORD_ALWAYS, 1,
                                    DEVICE_2CH_FRONT, 0);
    if (t1 != t2) continue;
    std::string a = nameOf(first), b = nameOf(second);
    ASSERT_EQ(a.size(), 27u);
    ASSERT_EQ(b.size(), 27u);
    EXPECT_EQ(a.substr(0, 13), b.substr(0, 13));
    EXPECT_EQ(atoi(b.substr(13, 2).c_str()), atoi(a.substr(13, 2).c_str()) + 1) << a << " " << b;
    EXPECT_EQ(a.substr(15), b.substr(15));
    return;
  }
  FAIL() << "never two requests within one second";
}

TEST(NameRule, the_reference_time_is_used_only_in_the_first_attempt) {
  Sandbox board;
  time_t ref = localTime(2020, 6, 1, 12, 0, 0);
  char path[KV_PATH_SIZE];
  ASSERT_EQ(GenerateRecordFileName(path, sizeof path, MAIN_STATE_DRIVE, BB_RECORD_ALWAYS, 1,
                                   DEVICE_2CH_FRONT, static_cast<int>(ref)),
            static_cast<int>(ref));
  EXPECT_EQ(nameOf(path), "20200601-120000_NOR_D_F.mp4");
  put(board, nameOf(path), 5);

  time_t before = time(nullptr);
  int t = GenerateRecordFileName(path, sizeof path, MAIN_STATE_DRIVE, BB_RECORD_ALWAYS, 1,
                                 DEVICE_2CH_FRONT, static_cast<int>(ref));
  time_t after = time(nullptr);
  EXPECT_GE(t, before);
  EXPECT_LE(t, after);
  struct tm tm;
  time_t tt = t;
  localtime_r(&tt, &tm);
  char expected[64];
  snprintf(expected, sizeof expected, "%04d%02d%02d-%02d%02d%02d_NOR_D_F.mp4", tm.tm_year + 1900,
           tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec + 1);
  EXPECT_EQ(nameOf(path), expected) << "attempt 1: the clock, seconds + 1";
}

TEST(NameRule, a_leftover_track_file_also_makes_a_name_taken) {
  Sandbox board;
  time_t ref = localTime(2020, 6, 1, 12, 0, 0);
  put(board, "20200601-120000_NOR_D_F.gps", 5);
  char path[KV_PATH_SIZE];
  int t = GenerateRecordFileName(path, sizeof path, MAIN_STATE_DRIVE, BB_RECORD_ALWAYS, 1,
                                 DEVICE_2CH_FRONT, static_cast<int>(ref));
  EXPECT_NE(t, static_cast<int>(ref));
  EXPECT_NE(nameOf(path), "20200601-120000_NOR_D_F.mp4");
}

TEST(NameRule, a_name_that_does_not_fit_the_buffer_is_not_written_past_it) {
  Sandbox board;
  char path[16];
  memset(path, 'x', sizeof path);
  EXPECT_EQ(GenerateRecordFileName(path, sizeof path, MAIN_STATE_DRIVE, BB_RECORD_ALWAYS, 1,
                                   DEVICE_2CH_FRONT, 0),
            -1);
  EXPECT_STREQ(path, "");
}

// ---- counting and sizing -----------------------------------------------------------

TEST(CountByRecordType, counts_videos_by_family_and_everything_else_as_other) {
  Sandbox board;
  put(board, "20240101-120000_NOR_D_F.mp4", 10);
  put(board, "20240101-120000_NOR_D_F.gps", 10);
  put(board, "20240101-120000_NOR_D_F.gsf", 10);
  put(board, "notes.txt", 10);
  RecordFileCount count = {};
  EXPECT_EQ(GetCountByRecordType(folder().c_str(), &count), 0);
  EXPECT_EQ(count.nNOR, 1);
  EXPECT_EQ(count.nEVT + count.nMOT, 0);
  EXPECT_EQ(count.nOTHER, 1);

  put(board, "20240101-120100_EVT_P_R.mp4", 10);
  put(board, "20240101-120200_MOT_P_F.mp4", 10);
  put(board, "20240101-120300_XYZ_P_F.mp4", 10);  // unknown family
  put(board, "20240101-120400_NOR_D_F.txt", 10);  // unknown extension
  put(board, "20240101-120500_NOR_D.mp4", 10);    // no unit suffix: not recognised
  board.mkdir(std::string(kFolder) + "/sub");
  count = RecordFileCount{};
  count.nTmp = 7;
  EXPECT_EQ(GetCountByRecordType(kFolder, &count), 0) << "a board path works as well";
  EXPECT_EQ(count.nNOR, 1);
  EXPECT_EQ(count.nEVT, 1);
  EXPECT_EQ(count.nMOT, 1);
  EXPECT_EQ(count.nOTHER, 5);
  EXPECT_EQ(count.nTmp, 7) << "not touched";
}

TEST(CountByRecordType, a_missing_folder_or_argument) {
  Sandbox board;
  RecordFileCount count = {1, 2, 3, 4, 5};
  EXPECT_EQ(GetCountByRecordType("/mnt/mmc/none", &count), 0);
  EXPECT_EQ(count.nNOR + count.nEVT + count.nMOT + count.nTmp + count.nOTHER, 15);
  EXPECT_EQ(GetCountByRecordType(nullptr, &count), -1);
  EXPECT_EQ(GetCountByRecordType(kFolder, nullptr), -1);
}

TEST(SizeByRecordType, adds_video_sizes_by_kind) {
  Sandbox board;
  put(board, "20240101-120000_NOR_D_F.mp4", 100);
  put(board, "20240101-120100_NOR_P_F.mp4", 20);
  put(board, "20240101-120000_NOR_D_F.gps", 1000);  // companions are not counted
  put(board, "20240101-120200_EVT_D_F.mp4", 30);
  put(board, "20240101-120300_EVT_P_R.mp4", 4);
  put(board, "20240101-120400_MOT_P_F.mp4", 5);
  put(board, "20240101-120500_MOT_D_F.mp4", 6);  // no such kind
  put(board, "readme", 7);
  RecordFileSize size;
  memset(&size, 0x55, sizeof size);
  ASSERT_EQ(GetSizeByRecordType(folder().c_str(), &size), 0);
  EXPECT_EQ(size.llAlways, 120);
  EXPECT_EQ(size.llEvent, 34);
  EXPECT_EQ(size.llParking, 5);
  EXPECT_EQ(size.nUserCreatedCount, 2);

  EXPECT_EQ(GetSizeByRecordType("/mnt/mmc/none", &size), -1);
  EXPECT_EQ(GetSizeByRecordType(nullptr, &size), -1);
}

TEST(FolderTotals, sizes_emptiness_and_names) {
  Sandbox board;
  board.mkdir(kFolder);
  std::string f = folder();
  char *dir = f.data();
  EXPECT_EQ(IsEmptyDirectory(dir), 1);
  EXPECT_EQ(GetTotalFileSize(dir), 0);
  EXPECT_EQ(IsDirOverSize(dir, 0), 0);
  put(board, "a", 100);
  put(board, "b", 50);
  EXPECT_EQ(IsEmptyDirectory(dir), 0);
  EXPECT_EQ(GetTotalFileSize(dir), 150);
  EXPECT_EQ(IsDirOverSize(dir, 149), 1);
  EXPECT_EQ(IsDirOverSize(dir, 150), 0);
  EXPECT_EQ(IsEqualNameExistInDir(dir, "a"), 1);
  EXPECT_EQ(IsEqualNameExistInDir(dir, "a.mp4"), 0);

  char missing[] = "/mnt/mmc/none";
  EXPECT_EQ(IsEmptyDirectory(missing), -1);
  EXPECT_EQ(GetTotalFileSize(missing), -1);
  EXPECT_EQ(IsDirOverSize(missing, -5), 0);
  EXPECT_EQ(IsEqualNameExistInDir(missing, "a"), 0);
  EXPECT_EQ(IsEmptyDirectory(nullptr), -1);
  EXPECT_EQ(GetTotalFileSize(nullptr), -1);
  EXPECT_EQ(IsDirOverSize(nullptr, 0), 0);
  EXPECT_EQ(IsEqualNameExistInDir(nullptr, "a"), 0);
}

TEST(FolderTotals, disk_use_reported_by_du) {
  Sandbox board;
  put(board, "big", 64 * 1024);
  long long used = KVGetDirectoryTotalSpace(folder().c_str());
  EXPECT_GE(used, 64 * 1024);
  EXPECT_EQ(used % 1024, 0);
  EXPECT_EQ(KVGetDirectoryTotalSpace("/mnt/mmc/none"), 0);
  EXPECT_EQ(KVGetDirectoryTotalSpace(nullptr), 0);
}

// ---- deleting ----------------------------------------------------------------------

TEST(DeleteRecording, removes_the_three_files_of_the_stem_only) {
  Sandbox board;
  for (const char *ext : {".mp4", ".gps", ".gsf"}) {
    put(board, std::string("20240101-120000_NOR_D_F") + ext, 1);
    put(board, std::string("20240101-120100_NOR_D_F") + ext, 1);
  }
  std::string path = folder() + "/20240101-120000_NOR_D_F.gps";
  EXPECT_EQ(DeleteRecordFileNoSize(path.data()), 0);
  for (const char *ext : {".mp4", ".gps", ".gsf"}) {
    EXPECT_FALSE(has(board, std::string("20240101-120000_NOR_D_F") + ext)) << ext;
    EXPECT_TRUE(has(board, std::string("20240101-120100_NOR_D_F") + ext)) << ext;
  }
  // A stem without extension: the dot of a folder above is no extension.
  std::string stem = folder() + "/20240101-120100_NOR_D_F";
  EXPECT_EQ(DeleteRecordFileNoSize(stem.data()), 0);
  EXPECT_TRUE(IsEmptyDirectory(folder().c_str()));
  EXPECT_EQ(DeleteRecordFileNoSize(nullptr), 0);
}

TEST(DeleteOldFileOverSize, with_zero_removes_empty_heads_then_the_first_sized_recording) {
  Sandbox board;
  put(board, "0000_empty_a", 0);
  put(board, "0001_empty_b", 0);
  for (const char *ext : {".gps", ".gsf", ".mp4"})
    put(board, std::string("20240101-120000_NOR_D_F") + ext, 10);
  for (const char *ext : {".gps", ".gsf", ".mp4"})
    put(board, std::string("20240101-120100_EVT_D_F") + ext, 10);
  std::string f = folder();
  EXPECT_EQ(DeleteOldFileOverSize(f.data(), 0), 1);
  EXPECT_FALSE(has(board, "0000_empty_a"));
  EXPECT_FALSE(has(board, "0001_empty_b"));
  for (const char *ext : {".gps", ".gsf", ".mp4"}) {
    EXPECT_FALSE(has(board, std::string("20240101-120000_NOR_D_F") + ext)) << ext;
    EXPECT_TRUE(has(board, std::string("20240101-120100_EVT_D_F") + ext)) << ext;
  }
}

TEST(DeleteOldFileOverSize, deletes_oldest_first_until_the_amount_is_passed) {
  Sandbox board;
  for (const char *stem :
       {"20240101-120000_NOR_D_F", "20240101-120100_NOR_D_F", "20240101-120200_NOR_D_F"}) {
    put(board, std::string(stem) + ".gps", 10);
    put(board, std::string(stem) + ".mp4", 100);
  }
  std::string f = folder();
  // 10 + 100 + 10 = 120 > 115: the first recording alone, then the second's track file
  // passes the amount and takes its video with it.
  EXPECT_EQ(DeleteOldFileOverSize(f.data(), 115), 1);
  EXPECT_EQ(GetTotalFileSize(f.data()), 110);
  EXPECT_TRUE(has(board, "20240101-120200_NOR_D_F.mp4"));

  // A folder that holds less than the amount is emptied and the amount not reached.
  EXPECT_EQ(DeleteOldFileOverSize(f.data(), 1000), 0);
  EXPECT_EQ(IsEmptyDirectory(f.c_str()), 1);
  EXPECT_EQ(DeleteOldFileOverSize(nullptr, 0), 0);
  char missing[] = "/mnt/mmc/none";
  EXPECT_EQ(DeleteOldFileOverSize(missing, 0), 0);
}

TEST(DeleteOldFileOverSize, an_entry_that_is_no_recording_is_deleted_itself) {
  Sandbox board;
  put(board, "0000_notes.txt", 10);
  put(board, "zz_later.txt", 10);
  std::string f = folder();
  EXPECT_EQ(DeleteOldFileOverSize(f.data(), 5), 1);
  EXPECT_FALSE(has(board, "0000_notes.txt")) << "the space counted is really freed";
  EXPECT_TRUE(has(board, "zz_later.txt"));
}

TEST(DeleteOldFileSepOverSize, only_the_given_families_take_part) {
  Sandbox board;
  put(board, "0000_user_file", 50);
  put(board, "20240101-120000_NOR_D_F.mp4", 100);
  put(board, "20240101-120100_EVT_D_F.gps", 10);
  put(board, "20240101-120100_EVT_D_F.mp4", 100);
  put(board, "20240101-120200_MOT_P_F.mp4", 100);
  put(board, "20240101-120300_EVT_P_F.mp4", 100);
  std::string f = folder();
  char evt[] = "_EVT_", mot[] = "_MOT_";
  EXPECT_EQ(DeleteOldFileSepOverSize(f.data(), evt, nullptr, 50), 1);
  EXPECT_FALSE(has(board, "20240101-120100_EVT_D_F.gps"));
  EXPECT_FALSE(has(board, "20240101-120100_EVT_D_F.mp4"));
  EXPECT_TRUE(has(board, "20240101-120300_EVT_P_F.mp4"));
  EXPECT_TRUE(has(board, "0000_user_file"));
  EXPECT_TRUE(has(board, "20240101-120000_NOR_D_F.mp4"));

  EXPECT_EQ(DeleteOldFileSepOverSize(f.data(), evt, mot, 1000), 0);
  EXPECT_FALSE(has(board, "20240101-120200_MOT_P_F.mp4"));
  EXPECT_FALSE(has(board, "20240101-120300_EVT_P_F.mp4"));
  EXPECT_TRUE(has(board, "0000_user_file"));
  EXPECT_TRUE(has(board, "20240101-120000_NOR_D_F.mp4"));
  EXPECT_EQ(DeleteOldFileSepOverSize(f.data(), nullptr, nullptr, 0), 0);
}

TEST(DeleteAllOthers, keeps_recordings_and_removes_the_rest_within_limits) {
  Sandbox board;
  put(board, "20240101-120000_NOR_D_F.mp4", 10);
  put(board, "20240101-120000_NOR_D_F.gps", 10);
  put(board, "20240101-120100_XYZ_D_F.mp4", 10);  // 27 characters, no recording
  put(board, "junk.txt", 10);
  board.mkdir(std::string(kFolder) + "/somedir/inner");
  put(board, "somedir/inner/file", 10);
  DeleteAllOthers(folder().c_str(), 100, 1LL << 40);
  EXPECT_TRUE(has(board, "20240101-120000_NOR_D_F.mp4"));
  EXPECT_TRUE(has(board, "20240101-120000_NOR_D_F.gps"));
  EXPECT_FALSE(has(board, "20240101-120100_XYZ_D_F.mp4"));
  EXPECT_FALSE(has(board, "junk.txt"));
  EXPECT_FALSE(has(board, "somedir"));
}

TEST(DeleteAllOthers, with_a_count_of_zero_stops_after_the_fifth_entry) {
  Sandbox board;
  for (const char *ext : {".gps", ".gsf", ".mp4"})
    put(board, std::string("20240101-120000_NOR_D_F") + ext, 1);
  for (const char *ext : {".gps", ".gsf"})
    put(board, std::string("20240101-120100_NOR_D_F") + ext, 1);
  put(board, "x_other_a", 1);
  put(board, "x_other_b", 1);
  DeleteAllOthers(folder().c_str(), 0, 1LL << 40);
  EXPECT_TRUE(has(board, "x_other_a")) << "five recording files examined, nothing deleted";
  EXPECT_TRUE(has(board, "x_other_b"));
}

TEST(DeleteAllOthers, stops_when_enough_bytes_are_deleted) {
  Sandbox board;
  put(board, "a_other", 30);
  put(board, "b_other", 30);
  put(board, "c_other", 30);
  DeleteAllOthers(folder().c_str(), 100, 50);
  EXPECT_FALSE(has(board, "a_other"));
  EXPECT_FALSE(has(board, "b_other"));
  EXPECT_TRUE(has(board, "c_other"));
  DeleteAllOthers("/mnt/mmc/none", 0, 0);  // nothing to do, no crash
  DeleteAllOthers(nullptr, 0, 0);
}

TEST(Deletion, names_with_quotes_dollars_and_backquotes_never_run_a_command) {
  Sandbox board;
  const std::vector<std::string> names = {"a\";cd $KV_SYSROOT;touch injected1;\".txt",
                                          "$(cd $KV_SYSROOT;touch injected2)",
                                          "`cd $KV_SYSROOT;touch injected3`",
                                          "it's here.txt",
                                          "back\\slash\\",
                                          "new\nline"};
  for (const auto &name : names) put(board, name, 3);
  DeleteAllOthers(folder().c_str(), 100, 1LL << 40);
  for (const auto &name : names) EXPECT_FALSE(has(board, name)) << name;

  for (const auto &name : names) put(board, name, 3);
  for (const auto &name : names) {
    std::string path = folder() + "/" + name;
    KVDeleteFile(path.data());
    EXPECT_FALSE(has(board, name)) << name;
  }
  for (const char *mark : {"/injected1", "/injected2", "/injected3"})
    EXPECT_FALSE(board.exists(mark)) << mark;

  std::string odd = folder() + "/made $(cd $KV_SYSROOT;touch injected4) 'dir'";
  CreatePath(odd.data());
  EXPECT_TRUE(IsDirectory(odd.data()));
  EXPECT_FALSE(board.exists("/injected4"));
}

TEST(Deletion, a_stem_with_any_extension_goes_at_once) {
  Sandbox board;
  for (const char *ext : {".mp4", ".gps", ".gsf", ".idx"})
    put(board, std::string("20240101-120000_NOR_D_F") + ext, 1);
  put(board, "20240101-120100_NOR_D_F.mp4", 1);
  std::string stem = folder() + "/20240101-120000_NOR_D_F";
  EXPECT_EQ(KVDeleteAllExtFile(stem.data()), 0);
  for (const char *ext : {".mp4", ".gps", ".gsf", ".idx"})
    EXPECT_FALSE(has(board, std::string("20240101-120000_NOR_D_F") + ext)) << ext;
  EXPECT_TRUE(has(board, "20240101-120100_NOR_D_F.mp4"));
  EXPECT_EQ(KVDeleteFile(nullptr), -1);
}

// A stem or path that names no file (nothing, a folder with its '/', ".", "..") must
// not turn into the hidden files of a folder: "<stem>.*" would be ".*" of the working
// folder, "<stem>.gsf" a file called ".gsf".
TEST(Deletion, a_stem_that_names_no_file_deletes_nothing) {
  Sandbox board;
  const std::string here = board.path("/tmp/cwd");
  board.mkdir("/tmp/cwd");
  char saved[4096];
  ASSERT_NE(getcwd(saved, sizeof saved), nullptr);
  ASSERT_EQ(chdir(here.c_str()), 0);
  const std::vector<std::string> hidden = {".hidden_file", ".mp4", ".gsf", ".gps"};
  for (const auto &name : hidden) {
    board.write("/tmp/cwd/" + name, "x");
    put(board, name, 1);
  }
  board.mkdir("/tmp/cwd/.hidden_dir");
  const std::vector<std::string> stems = {"", folder() + "/", "/", folder() + "/.",
                                          folder() + "/.."};
  for (std::string stem : stems) {
    EXPECT_EQ(KVDeleteAllExtFile(stem.data()), -1) << "stem \"" << stem << "\"";
    EXPECT_EQ(DeleteRecordFileNoSize(stem.data()), 0) << "stem \"" << stem << "\"";
  }
  for (std::string path : {std::string(), std::string("/"), folder() + "/.", std::string("//")})
    EXPECT_EQ(KVDeleteFile(path.data()), -1) << "path \"" << path << "\"";
  std::string video = folder() + "/.mp4";
  EXPECT_EQ(DeleteRecordFileNoSize(video.data()), 0);
  ASSERT_EQ(chdir(saved), 0);
  for (const auto &name : hidden) {
    EXPECT_TRUE(board.exists("/tmp/cwd/" + name)) << "working folder: " << name;
    EXPECT_TRUE(has(board, name)) << "recordings folder: " << name;
  }
  EXPECT_TRUE(board.exists("/tmp/cwd/.hidden_dir"));
  EXPECT_TRUE(board.exists("/mnt/mmc/Recordings"));
}

TEST(Folders, the_recordings_folder_is_made_on_request) {
  Sandbox board;
  GenerateBlackBoxFolders();
  EXPECT_TRUE(board.exists(kFolder));
  char nested[] = "/mnt/mmc/log/sub";
  CreatePath(nested);
  EXPECT_TRUE(board.exists("/mnt/mmc/log/sub")) << "a board path is taken below the root";
}

// ---- path helpers ------------------------------------------------------------------

TEST(PathHelpers, names_and_extensions) {
  char path[KV_PATH_SIZE] = "/mnt/mmc/Recordings/20240101-120000_NOR_D_F.mp4";
  EXPECT_STREQ(GetFileNamePointerFromPath(path), "20240101-120000_NOR_D_F.mp4");
  char name[KV_PATH_SIZE];
  EXPECT_EQ(GetFileNameFromPath(path, name), 27);
  EXPECT_STREQ(name, "20240101-120000_NOR_D_F.mp4");
  char bare[] = "file.mp4";
  EXPECT_EQ(GetFileNamePointerFromPath(bare), nullptr);
  EXPECT_EQ(GetFileNameFromPath(bare, name), -1);
  EXPECT_EQ(GetFileNamePointerFromPath(nullptr), nullptr);

  char gps[] = ".gps";
  EXPECT_EQ(ChangePathDotExt(path, gps), 47);
  EXPECT_STREQ(path, "/mnt/mmc/Recordings/20240101-120000_NOR_D_F.gps");
  EXPECT_EQ(RemovePathDotExt(path), 43);
  EXPECT_STREQ(path, "/mnt/mmc/Recordings/20240101-120000_NOR_D_F");
  EXPECT_EQ(RemovePathDotExt(path), -1) << "no extension in the last component";
  EXPECT_EQ(ChangePathDotExt(path, gps), -1);
  EXPECT_STREQ(path, "/mnt/mmc/Recordings/20240101-120000_NOR_D_F");

  char dotted[KV_PATH_SIZE] = "/tmp/kvsim.ab12/mnt/stem";
  EXPECT_EQ(RemovePathDotExt(dotted), -1);
  EXPECT_STREQ(dotted, "/tmp/kvsim.ab12/mnt/stem");
}

TEST(PathHelpers, sizes_and_kinds) {
  Sandbox board;
  put(board, "ten", 10);
  std::string file = folder() + "/ten";
  EXPECT_EQ(GetFileSize(file.data()), 10);
  EXPECT_EQ(GetFileSizeByTell(file.data()), 10);
  EXPECT_EQ(IsDirectory(file.data()), 0);
  std::string dir = folder();
  EXPECT_EQ(IsDirectory(dir.data()), 1);
  char missing[] = "/mnt/mmc/none";
  EXPECT_EQ(GetFileSize(missing), 0);
  EXPECT_EQ(GetFileSizeByTell(missing), 0);
  EXPECT_EQ(IsDirectory(missing), 0);
}

// A recording of 2 GiB or more (a FAT32 card holds up to 4 GiB in one file) counts with
// its whole size on the 32-bit board too, never as an empty or unreadable file.
TEST(PathHelpers, a_recording_of_3_gib_counts_with_its_whole_size) {
  Sandbox board;
  constexpr long long kSize = 3LL << 30;
  put(board, "20240101-120000_NOR_D_F.mp4", 0);
  std::string file = folder() + "/20240101-120000_NOR_D_F.mp4";
  // Sparse, so no disk is used; made by the shell's tool, whatever offsets this build has.
  ASSERT_EQ(system(("truncate -s 3G " + kv::shell_word(file)).c_str()), 0);
  EXPECT_EQ(GetFileSize(file.data()), kSize);
  EXPECT_EQ(GetFileSizeByTell(file.data()), kSize);
  std::string dir = folder();
  EXPECT_EQ(GetTotalFileSize(dir.data()), kSize);
  RecordFileSize size{};
  ASSERT_EQ(GetSizeByRecordType(dir.c_str(), &size), 0);
  EXPECT_EQ(size.llAlways, kSize);
}

// ---- saved-recording notices -------------------------------------------------------

TEST(SaveNotices, codes_and_command_texts) {
  const std::pair<int, const char *> table[] = {{70, "#CMAND"}, {71, "#CMAID"}, {72, "#CMAIP"},
                                                {73, "#CMAED"}, {74, "#CMAEP"}, {75, "#CMAMP"},
                                                {76, "#CMANP"}};
  for (const auto &[code, text] : table) {
    EXPECT_STREQ(ChangeSaveCommandToString(code), text) << code;
    std::string line = std::string(text) + "=1\r\n";
    EXPECT_EQ(ChangeSaveStringToCommand(line.data()), code) << text;
  }
  EXPECT_EQ(ChangeSaveCommandToString(SEND_TO_FRONT_AVI_STOP), nullptr);
  EXPECT_EQ(ChangeSaveCommandToString(69), nullptr);
  char other[] = "#CMAXX", short_text[] = "#CMA";
  EXPECT_EQ(ChangeSaveStringToCommand(other), 0);
  EXPECT_EQ(ChangeSaveStringToCommand(short_text), 0);
  EXPECT_EQ(ChangeSaveStringToCommand(nullptr), 0);
}

// ---- time --------------------------------------------------------------------------

// The clock value the library asked the board root to set.
time_t requestedClock(const Sandbox &board) {
  return static_cast<time_t>(atoll(board.read("/sim/clock").c_str()));
}

TEST(Clock, set_time_keeps_the_date_and_adds_a_second) {
  Sandbox board;
  time_t now = time(nullptr);
  ASSERT_EQ(SetSysTime(12, 0, 0), 0);
  time_t set = requestedClock(board);
  struct tm got, today;
  localtime_r(&set, &got);
  localtime_r(&now, &today);
  EXPECT_EQ(got.tm_hour, 12);
  EXPECT_EQ(got.tm_min, 0);
  EXPECT_EQ(got.tm_sec, 1);
  EXPECT_EQ(got.tm_yday, today.tm_yday);
  EXPECT_EQ(board.commandsOf("hwclock"), std::vector<std::string>{"hwclock -uw"});
}

TEST(Clock, set_date_and_time_and_date_alone) {
  Sandbox board;
  ASSERT_EQ(SetSystemDateTime(2024, 2, 29, 23, 59, 59), 0);
  EXPECT_EQ(requestedClock(board), localTime(2024, 3, 1, 0, 0, 0));

  time_t before = time(nullptr);
  ASSERT_EQ(SetSysDate(2030, 6, 15), 0);
  time_t set = requestedClock(board);
  struct tm got, was;
  localtime_r(&set, &got);
  localtime_r(&before, &was);
  EXPECT_EQ(got.tm_year + 1900, 2030);
  EXPECT_EQ(got.tm_mon + 1, 6);
  EXPECT_EQ(got.tm_mday, 15);
  int got_s = got.tm_hour * 3600 + got.tm_min * 60 + got.tm_sec;
  int was_s = was.tm_hour * 3600 + was.tm_min * 60 + was.tm_sec;
  EXPECT_LE(abs(got_s - was_s), 2) << "the time of day is kept, no extra second";
  EXPECT_EQ(board.commandsOf("hwclock").size(), 2u);
}

TEST(Clock, local_dates_to_seconds_with_the_systems_clamps) {
  EXPECT_EQ(MakeSystemDateTime(2024, 1, 31, 23, 59, 58), localTime(2024, 1, 31, 23, 59, 58));
  EXPECT_EQ(MakeSystemDateTime(1800, 0, 1, 0, 0, 0), MakeSystemDateTime(1900, 1, 1, 0, 0, 0));
  EXPECT_EQ(MakeSystemDateTime(2024, -3, 5, 1, 2, 3), localTime(2024, 1, 5, 1, 2, 3));
  long now = MakeCurrentDateTime();
  EXPECT_LE(labs(now - static_cast<long>(time(nullptr))), 1);
  EXPECT_LE(llabs(GetCurrentTimeMillis() / 1000 - static_cast<long long>(time(nullptr))), 1);
}

TEST(Clock, time_stamp_texts) {
  char text[20];
  memset(text, 'x', sizeof text);
  GetCurrentTimeString(text);
  ASSERT_EQ(strlen(text), 19u);
  EXPECT_EQ(text[4], '-');
  EXPECT_EQ(text[10], ':');
  EXPECT_EQ(text[13], '-');

  char gsf[15];
  time_t then = time(nullptr) - 3600;
  EXPECT_EQ(GetDateTimeGSensorFormat(gsf, -3600), 14);
  struct tm tm;
  localtime_r(&then, &tm);
  char expected[64];
  snprintf(expected, sizeof expected, "%04d%02d%02d%02d", tm.tm_year + 1900, tm.tm_mon + 1,
           tm.tm_mday, tm.tm_hour);
  EXPECT_EQ(std::string(gsf).substr(0, 10), expected);
  EXPECT_EQ(strlen(gsf), 14u);
}

}  // namespace
