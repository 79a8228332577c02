// SPDX-License-Identifier: MIT
// The one reader of ".gps" track files on files cut anywhere, appended to, or damaged.
// Checksums of the sentences were worked out by hand (XOR between '$' and '*').
#include "gps_reader.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const std::string kRmc = "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A";
const std::string kGga = "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47";

// The lines as "<kind letter><line number>:<offset>:<text>" (H header, N name, S sentence
// with a passing checksum, s one without, D damaged).
std::vector<std::string> shape(const kvformat::GpsFile &f) {
  std::vector<std::string> out;
  for (const kvformat::GpsLine &l : f.lines) {
    char kind = "HNSD"[l.kind];
    if (l.kind == kvformat::GpsLine::kSentence && !l.checksum_ok) kind = 's';
    std::string s(1, kind);  // appended piece by piece: GCC 12 at -O3 warns on '+' chains
    s += std::to_string(l.line_no);
    s += ':';
    s += std::to_string(l.offset_ms);
    s += ':';
    s += l.text;
    out.push_back(std::move(s));
  }
  return out;
}

TEST(GpsReader, lines_are_told_apart_and_a_cut_last_line_is_reported) {
  const std::string head = "20240507143519\nX.gps\n";
  struct Case {
    const char *what;
    std::string text;
    std::vector<std::string> lines;
    size_t cut_bytes;
  } cases[] = {
      {"whole",
       head + "120:" + kRmc + "\n-80:" + kGga + "\n",
       {"H1:0:20240507143519", "N2:0:X.gps", "S3:120:" + kRmc, "S4:-80:" + kGga},
       0},
      {"cut inside a sentence",
       head + "120:" + kRmc + "\n1120:$GPGGA,1235",
       {"H1:0:20240507143519", "N2:0:X.gps", "S3:120:" + kRmc},
       16},
      {"cut inside the header", "2024050714", {}, 10},
      {"cut right after the header", head, {"H1:0:20240507143519", "N2:0:X.gps"}, 0},
      {"appended: a second header and its name",
       head + "5:" + kRmc + "\n20240507143619\nX.gps\n7:" + kGga + "\n",
       {"H1:0:20240507143519", "N2:0:X.gps", "S3:5:" + kRmc, "H4:0:20240507143619", "N5:0:X.gps",
        "S6:7:" + kGga},
       0},
      {"a bad checksum and lines without an offset",
       head + "1:" + kRmc.substr(0, kRmc.size() - 1) + "B\nno offset\n--3:" + kRmc + "\n1:\n",
       {"H1:0:20240507143519", "N2:0:X.gps", "s3:1:" + kRmc.substr(0, kRmc.size() - 1) + "B",
        "D4:0:no offset", "D5:0:--3:" + kRmc, "s6:1:"},
       0},
      {"an offset longer than 15 digits",
       head + "1234567890123456:" + kRmc + "\n",
       {"H1:0:20240507143519", "N2:0:X.gps", "D3:0:1234567890123456:" + kRmc},
       0},
  };
  for (const Case &c : cases) {
    kvformat::GpsFile f;
    std::string error;
    ASSERT_TRUE(kvformat::readGps(c.text, f, error)) << c.what << ": " << error;
    EXPECT_EQ(shape(f), c.lines) << c.what;
    EXPECT_EQ(f.cut, c.cut_bytes > 0) << c.what;
    EXPECT_EQ(f.cut_bytes, c.cut_bytes) << c.what;
  }
}

TEST(GpsReader, only_a_file_that_begins_with_a_start_time_is_a_track) {
  struct Case {
    std::string text;
    bool track;
  } cases[] = {
      {"", true},  // nothing reached the card
      {"2024", true},     {"202405071435190", false}, {"2024050714351\n", false},
      {"2024x\n", false}, {"\x89PNG\r\n", false},
  };
  for (const Case &c : cases) {
    kvformat::GpsFile f;
    std::string error;
    EXPECT_EQ(kvformat::readGps(c.text, f, error), c.track) << c.text;
    EXPECT_EQ(error.empty(), c.track) << c.text;
    EXPECT_EQ(f.empty, c.text.empty() && c.track) << c.text;
  }
}

}  // namespace
