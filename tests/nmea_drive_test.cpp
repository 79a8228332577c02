// SPDX-License-Identifier: MIT
// The simulated receiver's captures: each committed capture says on its first line how it
// was made, and that command makes it again byte for byte; what it holds is what a
// receiver sends (checksums, fix timing, the tunnel's gap, the rollover's dates).
#include "nmea_drive.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "kv_nmea.h"
#include "sandbox.h"

namespace {

std::string slurp(const std::string &file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// Runs the drive generator with the words of `args` and returns what it printed. Started
// through a sandbox, so that a build for the board's processor runs it in the emulator.
std::string runDrive(const std::string &args) {
  kvsim::Sandbox board;
  std::vector<std::string> argv = {"nmea_drive"};
  std::istringstream words(args);
  for (std::string w; words >> w;) argv.push_back(w);
  pid_t pid = board.start(argv);
  if (board.wait(pid, std::chrono::seconds(30)) < 0) return "(nmea_drive did not end)";
  return board.stdoutOf(pid);
}

TEST(NmeaCaptures, each_committed_capture_is_made_again_by_its_header_line) {
  for (const char *name : {"drive_1hz.nmea", "drive_5hz.nmea", "rollover_1hz.nmea"}) {
    std::string text = slurp(std::string(KV_TEST_DATA_DIR) + "/" + name);
    ASSERT_EQ(text.rfind("# nmea_drive ", 0), 0u) << name;
    std::string header = text.substr(2, text.find('\n') - 2);
    std::string args = header.substr(header.find(' '), header.find(" (") - header.find(' '));
    EXPECT_EQ(runDrive(args), text) << name;
    for (const auto &s : kvsim::parseCapture(text))
      EXPECT_TRUE(kv_nmea_accepted(s.text.data(), s.text.size())) << name << ": " << s.text;
  }
}

TEST(NmeaCaptures, timing_comes_from_the_fixes_and_shows_the_tunnel) {
  auto drive = kvsim::readCapture(std::string(KV_TEST_DATA_DIR) + "/drive_1hz.nmea");
  ASSERT_FALSE(drive.empty());
  EXPECT_EQ(drive.front().at_ms, 0);
  int64_t gap = 0;
  for (size_t i = 1; i < drive.size(); ++i) {
    EXPECT_GE(drive[i].at_ms, drive[i - 1].at_ms);
    gap = std::max(gap, drive[i].at_ms - drive[i - 1].at_ms);
  }
  EXPECT_EQ(gap, 7000) << "--tunnel 30-36: the fixes of 30 s to 35 s are missing";
  auto fast = kvsim::readCapture(std::string(KV_TEST_DATA_DIR) + "/drive_5hz.nmea");
  int rmc_first_second = 0;
  for (const auto &s : fast) rmc_first_second += s.at_ms < 1000 && s.text.rfind("$GPRMC", 0) == 0;
  EXPECT_EQ(rmc_first_second, 5);
}

TEST(NmeaCaptures, a_rollover_receiver_dates_its_fixes_7168_days_early) {
  kvsim::DriveOptions o;
  o.seconds = 1;
  o.start_utc = kvsim::utcSeconds(2024, 5, 7, 12, 35, 19);
  o.rollover = true;
  std::string rmc = kvsim::generateDrive(o).front().text;
  EXPECT_NE(rmc.find(",210904,"), std::string::npos) << rmc;  // 2004-09-21
  EXPECT_NE(rmc.find(",123519.000,A,"), std::string::npos) << rmc;
}

}  // namespace
