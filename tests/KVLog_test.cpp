// SPDX-License-Identifier: MIT
// The programs' log: hourly files on the flash, line format, levels, old-file removal,
// copies to the card and the encrypted export, in a sandbox.
// ctest-labels: threaded
#include "KVLog.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "dm368_zt5_util.h"
#include "local_time.h"
#include "sandbox.h"

namespace {

namespace fs = std::filesystem;
using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

// The log's wall clock, fixed by each test.
time_t g_now = 0;
time_t fixed_clock() { return g_now; }

class Log : public ::testing::Test {
 protected:
  explicit Log(std::string_view sandbox_name = "kvsim") : board(sandbox_name) {}
  void SetUp() override {
    g_now = localTime(2024, 5, 6, 10, 20, 30);
    kv::log_set_clock_for_tests(fixed_clock);
    KVLogSetLevel(KV_LOG_DEFAULT_LEVEL);
    KVLogClose();
  }
  void TearDown() override {
    KVLogClose();
    KVLogSetWriteFile(1);
    KVLogSetLevel(KV_LOG_DEFAULT_LEVEL);
    kv::log_set_clock_for_tests(nullptr);
  }

  // Initialise as a program does (its stdout is the shell's "mkdir").
  void init(const char *tag) { KVLogInitialize(tag, 1, ""); }

  std::string logFile(const std::string &name) const { return board.read(KV_LOG_DIR + name); }
  std::vector<std::string> logNames() const {
    std::vector<std::string> names;
    for (const auto &e : fs::directory_iterator(board.path(KV_LOG_DIR)))
      names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  // Fills the log folder with files of the given sizes in KiB, newest name first on disk
  // so that only the names can tell their age.
  void fillLogs(const std::vector<std::pair<std::string, int>> &files) const {
    for (auto it = files.rbegin(); it != files.rend(); ++it)
      board.write(KV_LOG_DIR + it->first, std::string(static_cast<size_t>(it->second) * 1024, 'x'));
  }

  kvsim::Sandbox board;
};

// ---- line format and files --------------------------------------------------------------

TEST_F(Log, a_line_is_date_tag_and_the_text_in_this_hours_file) {
  init("gps_p");
  KVLog("start process\n");
  KVLog("speed %d km/h\n", 42);
  EXPECT_EQ(logFile("2024-05-06-10_f.log"),
            "2024-05-06 10:20:30 [gps_p]: start process\n"
            "2024-05-06 10:20:30 [gps_p]: speed 42 km/h\n");
}

TEST_F(Log, an_empty_tag_leaves_out_the_tag_part) {
  init("");
  KVLog("no tag\n");
  EXPECT_EQ(logFile("2024-05-06-10_f.log"), "2024-05-06 10:20:30: no tag\n");
}

TEST_F(Log, a_long_tag_is_cut_to_nineteen_characters) {
  init("abcdefghijklmnopqrstuvwxyz");
  KVLog("x\n");
  EXPECT_EQ(logFile("2024-05-06-10_f.log"), "2024-05-06 10:20:30 [abcdefghijklmnopqrs]: x\n");
}

TEST_F(Log, the_file_ending_follows_the_board_type) {
  const std::pair<const char *, const char *> boards[] = {
      {"1\n", "_f.log"}, {"2\n", "_r.log"}, {"0\n", ".log"}, {"7\n", ".log"}, {nullptr, ".log"}};
  for (const auto &[type, ending] : boards) {
    if (type)
      board.write(KV_NODE_BOARD_INFO, type);
    else
      board.remove(KV_NODE_BOARD_INFO);
    board.remove(KV_LOG_DIR);
    board.mkdir(KV_LOG_DIR);
    CaptureStderr();
    init("t");
    KVLog("x\n");
    GetCapturedStderr();
    EXPECT_EQ(logNames(), std::vector<std::string>{std::string("2024-05-06-10") + ending})
        << "board type " << (type ? type : "missing");
  }
}

TEST_F(Log, each_hour_has_its_own_file) {
  init("watch_d");
  g_now = localTime(2024, 5, 6, 10, 59, 59);
  KVLog("before\n");
  g_now = localTime(2024, 5, 6, 11, 0, 0);
  KVLog("after\n");
  EXPECT_EQ(logFile("2024-05-06-10_f.log"), "2024-05-06 10:59:59 [watch_d]: before\n");
  EXPECT_EQ(logFile("2024-05-06-11_f.log"), "2024-05-06 11:00:00 [watch_d]: after\n");
}

TEST_F(Log, a_percent_sign_in_the_text_is_written_as_it_is) {
  init("t");
  KVLog("%s\n", "100% done %d %s %n");
  EXPECT_EQ(logFile("2024-05-06-10_f.log"), "2024-05-06 10:20:30 [t]: 100% done %d %s %n\n");
}

TEST_F(Log, a_message_longer_than_the_buffer_is_cut) {
  init("t");
  KVLog("%s", std::string(5000, 'a').c_str());
  EXPECT_EQ(logFile("2024-05-06-10_f.log"), "2024-05-06 10:20:30 [t]: " + std::string(1023, 'a'));
}

TEST_F(Log, messages_above_the_level_are_dropped) {
  init("t");
  CaptureStderr();
  EXPECT_EQ(KVLogF(7, __FILE__, __LINE__, __func__, "debug\n"), 0);
  EXPECT_GT(KVLogF(6, __FILE__, __LINE__, __func__, "info\n"), 0);
  EXPECT_EQ(GetCapturedStderr(), "2024-05-06 10:20:30 [t]: info\n");

  KVLogSetLevel(4);
  EXPECT_EQ(KVLogGetLevel(), 4);
  KVLog("dropped\n");
  EXPECT_TRUE(logNames().empty()) << "a dropped message creates no file";
}

TEST_F(Log, with_file_saving_off_lines_go_to_standard_error) {
  init("watch_d");
  KVLogSetWriteFile(0);
  CaptureStderr();
  KVLog("stop process\n");
  EXPECT_EQ(GetCapturedStderr(), "2024-05-06 10:20:30 [watch_d]: stop process\n");
  EXPECT_TRUE(logNames().empty());
}

TEST_F(Log, without_the_flash_lines_go_to_standard_error_and_nothing_is_removed) {
  board.write("/proc/mounts", "rootfs / rootfs rw 0 0\n");
  fillLogs({{"2024-05-05-00_f.log", 600}});
  init("t");
  CaptureStderr();
  KVLog("no flash\n");
  EXPECT_EQ(GetCapturedStderr(), "2024-05-06 10:20:30 [t]: no flash\n");
  EXPECT_EQ(logNames(), std::vector<std::string>{"2024-05-05-00_f.log"});
}

TEST_F(Log, an_unreadable_mount_table_counts_as_no_flash) {
  board.remove("/proc/mounts");
  CaptureStdout();
  EXPECT_EQ(IsNanMountedL(), 0);
  EXPECT_EQ(GetCapturedStdout(), "IsSdMounted GetfreememInfo open file fail \n");
  board.write("/proc/mounts", "");
  CaptureStdout();
  EXPECT_EQ(IsNanMountedL(), 0);
  EXPECT_EQ(GetCapturedStdout(), "IsSdMounted read device error !!");
  board.write("/proc/mounts", "/dev/mtdblock4 /mnt/nand jffs2 ro 0 0\n");
  EXPECT_EQ(IsNanMountedL(), 1);
}

TEST_F(Log, a_flash_listed_after_the_first_kilobyte_of_the_mount_table_gets_the_lines) {
  std::string table = "rootfs / rootfs rw 0 0\n";
  while (table.size() < 2048) table += "tmpfs /var/volatile tmpfs rw,relatime 0 0\n";
  board.write("/proc/mounts", table + "/dev/mtdblock4 /mnt/nand jffs2 rw,relatime 0 0\n");
  init("t");
  CaptureStderr();
  KVLog("kept\n");
  EXPECT_EQ(GetCapturedStderr(), "");
  EXPECT_EQ(logFile("2024-05-06-10_f.log"), "2024-05-06 10:20:30 [t]: kept\n");
}

TEST_F(Log, a_file_that_cannot_be_opened_sends_the_line_to_standard_error) {
  init("t");
  board.mkdir(std::string(KV_LOG_DIR) + "2024-05-06-10_f.log");  // a folder in its place
  CaptureStderr();
  KVLog("still seen\n");
  EXPECT_EQ(GetCapturedStderr(), "2024-05-06 10:20:30 [t]: still seen\n");
}

// ---- old-file removal -------------------------------------------------------------------

TEST_F(Log, the_first_message_of_an_hour_removes_the_oldest_files_beyond_512_KiB) {
  // 600 KiB: the two oldest (by name) must go to get to at most 512 KiB.
  fillLogs({{"2024-05-05-08_f.log", 50},
            {"2024-05-05-09_f.log", 50},
            {"2024-05-05-10_f.log", 100},
            {"2024-05-05-11_r.log", 100},
            {"2024-05-06-08_f.log", 100},
            {"2024-05-06-09_f.log", 200}});
  init("gps_p");
  KVLog("first of the hour\n");
  EXPECT_EQ(logNames(), (std::vector<std::string>{"2024-05-05-10_f.log", "2024-05-05-11_r.log",
                                                  "2024-05-06-08_f.log", "2024-05-06-09_f.log",
                                                  "2024-05-06-10_f.log"}));
  EXPECT_EQ(logFile("2024-05-06-10_f.log"),
            "2024-05-06 10:20:30 [gps_p]: N LOG DEL=2024-05-05-08_f.log\n"
            "2024-05-06 10:20:30 [gps_p]: N LOG DEL=2024-05-05-09_f.log\n"
            "2024-05-06 10:20:30 [gps_p]: first of the hour\n");
}

TEST_F(Log, removal_runs_only_for_a_new_hours_file) {
  init("t");
  KVLog("first\n");
  fillLogs({{"2024-05-05-08_f.log", 600}});
  KVLog("second\n");
  EXPECT_EQ(logNames().size(), 2u) << "the hour's file existed: nothing removed";
}

TEST_F(Log, a_folder_below_512_KiB_is_left_alone_and_exactly_512_KiB_loses_one_file) {
  fillLogs({{"2024-05-05-08_f.log", 256}, {"2024-05-05-09_f.log", 255}});
  init("t");
  KVLog("a\n");
  EXPECT_EQ(logNames().size(), 3u);

  board.remove(KV_LOG_DIR);
  board.mkdir(KV_LOG_DIR);
  fillLogs({{"2024-05-05-08_f.log", 256}, {"2024-05-05-09_f.log", 256}});
  g_now = localTime(2024, 5, 6, 11, 0, 0);
  KVLog("b\n");
  EXPECT_EQ(logNames(), (std::vector<std::string>{"2024-05-05-09_f.log", "2024-05-06-11_f.log"}));
}

TEST_F(Log, a_file_name_with_shell_characters_is_removed_and_runs_nothing) {
  const std::string evil = "2000 \"$(touch pwned)\" `touch pwned2` 'q'.log";
  fillLogs({{evil, 600}});
  init("t");
  // Commands run in the sandbox, so an injected one would leave its files there.
  fs::path here = fs::current_path();
  fs::current_path(board.root());
  KVLog("x\n");
  fs::current_path(here);
  EXPECT_EQ(logNames(), std::vector<std::string>{"2024-05-06-10_f.log"});
  EXPECT_TRUE(kvsim::contains(logFile("2024-05-06-10_f.log"), "N LOG DEL=" + evil + "\n"));
  EXPECT_FALSE(board.exists("/pwned"));
  EXPECT_FALSE(board.exists("/pwned2"));
}

// ---- processes and threads --------------------------------------------------------------

// Lines of one writer: "<who>-<n>-" and n % 700 'x', so a torn or mixed line shows.
std::string lineText(char who, int n) {
  return std::string(1, who) + "-" + std::to_string(n) + "-" + std::string(n % 700, 'x') + "\n";
}

void checkWholeLines(const std::string &text, const std::map<char, int> &expected) {
  static const std::regex line(R"(2024-05-06 10:20:30 \[w_(\w)\]: (\w)-(\d+)-(x*))");
  std::map<char, int> count;
  for (const auto &l : kvsim::splitLines(text)) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(l, m, line)) << "torn line: " << l.substr(0, 80);
    ASSERT_EQ(m[1].str(), m[2].str()) << "mixed line: " << l.substr(0, 80);
    ASSERT_EQ(m[4].length(), std::stoi(m[3].str()) % 700) << l.substr(0, 80);
    ++count[m[1].str()[0]];
  }
  EXPECT_EQ(count, expected);
}

TEST_F(Log, two_processes_logging_at_once_leave_only_whole_lines) {
  constexpr int kLines = 1500;
  std::vector<pid_t> children;
  for (char who : {'a', 'b'}) {
    fflush(nullptr);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      std::string tag = std::string("w_") + who;
      KVLogInitialize(tag.c_str(), 1, "");
      for (int i = 0; i < kLines; ++i) KVLog("%s", lineText(who, i).c_str());
      _exit(0);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  checkWholeLines(logFile("2024-05-06-10_f.log"), {{'a', kLines}, {'b', kLines}});
}

TEST_F(Log, threads_of_one_program_share_the_log) {
  init("w_t");
  constexpr int kLines = 300;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([] {
      for (int i = 0; i < kLines; ++i) KVLog("%s", lineText('t', i).c_str());
    });
  // Another thread opens and closes the current stream meanwhile.
  threads.emplace_back([] {
    for (int i = 0; i < 200; ++i) {
      KVLogOpen(nullptr);
      KVLogClose();
    }
  });
  for (auto &t : threads) t.join();
  checkWholeLines(logFile("2024-05-06-10_f.log"), {{'t', 4 * kLines}});
}

// ---- streams, files and hex dumps -------------------------------------------------------

TEST_F(Log, an_opened_file_is_the_stream_until_it_is_closed) {
  init("t");
  std::string file = board.path("/mnt/mmc/trace.txt");
  EXPECT_EQ(KVLogOpen(file.c_str()), 1);
  KVLogF(5, __FILE__, __LINE__, __func__, "one\n");
  EXPECT_EQ(KVLogClose(), 1);
  CaptureStderr();
  KVLogF(5, __FILE__, __LINE__, __func__, "two\n");
  EXPECT_EQ(GetCapturedStderr(), "2024-05-06 10:20:30 [t]: two\n");
  EXPECT_EQ(KVLogOpen(nullptr), 1) << "reopens the remembered file";
  KVLogF(5, __FILE__, __LINE__, __func__, "three\n");
  KVLogClose();
  EXPECT_EQ(board.read("/mnt/mmc/trace.txt"),
            "2024-05-06 10:20:30 [t]: one\n2024-05-06 10:20:30 [t]: three\n");

  std::string nowhere = board.path("/no/such/folder/x.txt");
  EXPECT_EQ(KVLogOpen(nowhere.c_str()), 0);
  CaptureStderr();
  KVLogF(5, __FILE__, __LINE__, __func__, "four\n");
  EXPECT_EQ(GetCapturedStderr(), "2024-05-06 10:20:30 [t]: four\n");
}

TEST_F(Log, write_file_appends_one_line_and_falls_back_to_standard_error) {
  init("t");
  std::string file = board.path("/mnt/mmc/event.txt");
  KVLogWriteFile(file.c_str(), "event %d\n", 1);
  KVLogWriteFile(file.c_str(), "event %d\n", 2);
  EXPECT_EQ(board.read("/mnt/mmc/event.txt"),
            "2024-05-06 10:20:30 [t]: event 1\n2024-05-06 10:20:30 [t]: event 2\n");
  CaptureStderr();
  KVLogWriteFile(nullptr, "no file\n");
  EXPECT_EQ(GetCapturedStderr(), "2024-05-06 10:20:30 [t]: no file\n");
}

TEST_F(Log, a_hex_dump_lists_sixteen_bytes_a_row) {
  init("t");
  const char data[] = "ABCDEFGHIJKLMNOP\x01 z~\x7f";  // 21 bytes
  CaptureStderr();
  KVLogHex(5, __FILE__, __LINE__, __func__, "frame", data, 21);
  EXPECT_EQ(GetCapturedStderr(),
            "2024-05-06 10:20:30 [t]: frame (21 bytes):"
            "   0: 41 42 43 44 45 46 47 48 : 49 4A 4B 4C 4D 4E 4F 50   ABCDEFGH  IJKLMNOP\n"
            "  10: 01 20 7A 7E 7F          :                           ..z~.\n");
  CaptureStderr();
  KVLogHex(7, __FILE__, __LINE__, __func__, "hidden", data, 21);
  KVLogHex(5, __FILE__, __LINE__, __func__, "empty", nullptr, 4);
  EXPECT_EQ(GetCapturedStderr(), "2024-05-06 10:20:30 [t]: empty (4 bytes):\n");
}

// ---- copies to the card -----------------------------------------------------------------

TEST_F(Log, the_dumps_copy_logs_and_flash_files_to_the_card) {
  fillLogs({{"2024-05-06-09_f.log", 1}, {"2024-05-06-08_r.log", 1}, {"notes.txt", 1}});
  board.write("/var/log/bftpd.log", "ftp\n");
  board.write("/mnt/nand/wifi.conf", "ssid=car\n");
  board.write("/mnt/nand/version", "1.23:456\n");
  KVLogDumpToSd();
  KVNandDumpToSd();
  EXPECT_TRUE(board.exists("/mnt/mmc/log/2024-05-06-09_f.log"));
  EXPECT_TRUE(board.exists("/mnt/mmc/log/2024-05-06-08_r.log"));
  EXPECT_FALSE(board.exists("/mnt/mmc/log/notes.txt"));
  EXPECT_EQ(board.read("/mnt/mmc/log/bftpd.log"), "ftp\n");
  EXPECT_EQ(board.read("/mnt/mmc/nand/wifi.conf"), "ssid=car\n");
  EXPECT_FALSE(board.exists("/mnt/mmc/nand/version")) << "only names with a dot";

  KVLogRemoveAll();
  EXPECT_TRUE(logNames().empty());
}

// A board root with a blank and a quote in its name: a board path left unquoted in any
// command would split or break it, and the command would do nothing.
class LogOnAnOddRoot : public Log {
 protected:
  LogOnAnOddRoot() : Log("kv 'sim") {}
};

TEST_F(LogOnAnOddRoot, every_command_takes_each_board_path_as_one_word) {
  board.remove(KV_LOG_DIR);
  init("t");
  KVLog("here\n");
  EXPECT_EQ(logFile("2024-05-06-10_f.log"), "2024-05-06 10:20:30 [t]: here\n");
  board.write("/var/log/bftpd.log", "ftp\n");
  board.write("/mnt/nand/wifi.conf", "ssid=car\n");
  KVLogDumpToSd();
  KVNandDumpToSd();
  EXPECT_TRUE(board.exists("/mnt/mmc/log/2024-05-06-10_f.log"));
  EXPECT_EQ(board.read("/mnt/mmc/log/bftpd.log"), "ftp\n");
  EXPECT_EQ(board.read("/mnt/mmc/nand/wifi.conf"), "ssid=car\n");
  fillLogs({{"2024-05-05-00_f.log", 600}});
  g_now = localTime(2024, 5, 6, 11, 0, 0);
  KVLog("next hour\n");
  EXPECT_EQ(logNames(), (std::vector<std::string>{"2024-05-06-10_f.log", "2024-05-06-11_f.log"}))
      << "the oldest file is removed";
  KVLogRemoveAll();
  EXPECT_TRUE(logNames().empty());
}

TEST_F(Log, the_export_decrypts_with_the_pass_phrase_to_the_logs_and_settings) {
  fillLogs({{"2024-05-06-09_f.log", 3}, {"2024-05-06-10_f.log", 1}});
  board.write("/var/log/bftpd.log", "ftp session\n");
  board.write("/mnt/mmc/Config/setting.ini", "[video]\nfps=30\n");

  CaptureStdout();
  KVTravelogboxSystemLogToSd();
  std::string out = GetCapturedStdout();
  EXPECT_EQ(out.rfind("travelogbox_system_log detected.", 0), 0u) << out;
  EXPECT_TRUE(kvsim::contains(out, "travelogbox.system_log_2024_05_06_10_20_30 generated.\n"))
      << out;

  const std::string sealed = "/mnt/mmc/travelogbox.system_log_2024_05_06_10_20_30";
  ASSERT_TRUE(board.exists(sealed));
  EXPECT_FALSE(board.exists("/log")) << "staging folder left behind";
  EXPECT_FALSE(board.exists("/travelogbox.system_log.tar.gz")) << "plain archive left behind";
  EXPECT_FALSE(kvsim::contains(board.read(sealed), "ftp session")) << "not encrypted";

  std::string plain = board.path("/sim/out/export.tar.gz");
  std::string decrypt = "openssl enc -d -aes-128-cbc -pass file:" +
                        board.path("/opt/vcam/kv_openssl/tamso_travelogbox.key") + " -in " +
                        board.path(sealed) + " -out " + plain + " 2>/dev/null";
  ASSERT_EQ(std::system(decrypt.c_str()), 0) << decrypt;
  std::string list = board.path("/sim/out/export.list");
  ASSERT_EQ(std::system(("tar tzf " + plain + " > " + list).c_str()), 0);
  std::vector<std::string> members;
  for (auto &m : kvsim::splitLines(board.read("/sim/out/export.list")))
    if (!m.empty() && m.back() != '/') members.push_back(fs::path(m).filename().string());
  std::sort(members.begin(), members.end());
  EXPECT_EQ(members, (std::vector<std::string>{"2024-05-06-09_f.log", "2024-05-06-10_f.log",
                                               "bftpd.log", "setting.ini"}));
}

}  // namespace
