// SPDX-License-Identifier: MIT
// The one reader of ".gsf" data files on files cut anywhere. Each file is built here byte
// by byte, as the card would hold it, so the expected values are the bytes themselves.
#include "gsf_reader.hpp"

#include <gtest/gtest.h>

#include <string>

namespace {

void put32(std::string &b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b += static_cast<char>((v >> (8 * i)) & 0xFF);
}

// A header with `count`, then records whose time is 250 ms apart and whose axes name the
// record (x = index, y = -index, z = 1000 + index), then the end marker if `closed`.
std::string gsfFile(int32_t count, int records, bool closed) {
  std::string b;
  put32(b, 0xA10000A1u);
  put32(b, 32);
  put32(b, static_cast<uint32_t>(count));
  std::string text = "20240507143519//X.gsf";
  b += text + std::string(512 - text.size(), '\0');
  for (int i = 0; i < records; ++i) {
    uint64_t time = 250u * static_cast<uint64_t>(i);
    put32(b, static_cast<uint32_t>(time));
    put32(b, static_cast<uint32_t>(time >> 32));
    for (int32_t v : {i, -i, 1000 + i, 0, 7, 3700}) put32(b, static_cast<uint32_t>(v));
  }
  if (closed) put32(b, 0xA1FFFFA1u);
  return b;
}

TEST(GsfReader, every_whole_record_is_read_and_the_count_is_told_for_what_it_is) {
  struct Case {
    const char *what;
    std::string bytes;
    size_t records, cut_bytes;
    bool end_marker;
    kvformat::GsfCount count;
  } cases[] = {
      {"closed", gsfFile(5, 5, true), 5, 0, true, kvformat::GsfCount::kMatches},
      {"count refreshed, then cut at a record", gsfFile(5, 5, false), 5, 0, false,
       kvformat::GsfCount::kMatches},
      {"stale count: records beyond it", gsfFile(3, 5, false), 5, 0, false,
       kvformat::GsfCount::kStale},
      {"count never written", gsfFile(0, 5, false), 5, 0, false, kvformat::GsfCount::kStale},
      {"cut inside a record", gsfFile(3, 5, false).substr(0, 524 + 4 * 32 + 11), 4, 11, false,
       kvformat::GsfCount::kStale},
      {"cut inside the end marker", gsfFile(5, 5, true).substr(0, 524 + 5 * 32 + 2), 5, 2, false,
       kvformat::GsfCount::kMatches},
      {"count beyond the records", gsfFile(9, 5, true), 5, 0, true, kvformat::GsfCount::kTooHigh},
  };
  for (const Case &c : cases) {
    kvformat::GsfFile f;
    std::string error;
    ASSERT_TRUE(kvformat::readGsf(c.bytes, f, error)) << c.what << ": " << error;
    EXPECT_FALSE(f.header_cut) << c.what;
    EXPECT_EQ(f.records.size(), c.records) << c.what;
    EXPECT_EQ(f.cut_bytes, c.cut_bytes) << c.what;
    EXPECT_EQ(f.end_marker, c.end_marker) << c.what;
    EXPECT_EQ(f.count_state, c.count) << c.what;
    EXPECT_EQ(f.complete(), c.end_marker && c.count == kvformat::GsfCount::kMatches) << c.what;
    for (size_t i = 0; i < f.records.size(); ++i) {
      const kvformat::GsfRecord &r = f.records[i];
      int n = static_cast<int>(i);
      EXPECT_EQ(r.time, 250 * n) << c.what << " record " << i;
      EXPECT_EQ(std::vector<int32_t>({r.axis1, r.axis2, r.axis3, r.reserved, r.sensor4, r.battery}),
                std::vector<int32_t>({n, -n, 1000 + n, 0, 7, 3700}))
          << c.what << " record " << i;
    }
  }
}

TEST(GsfReader, a_header_cut_short_is_a_data_file_without_records) {
  for (size_t size :
       {size_t{0}, size_t{2}, size_t{6}, size_t{10}, size_t{12}, size_t{40}, size_t{523}}) {
    kvformat::GsfFile f;
    std::string error;
    ASSERT_TRUE(kvformat::readGsf(gsfFile(0, 0, false).substr(0, size), f, error)) << size;
    EXPECT_TRUE(f.header_cut) << size;
    EXPECT_TRUE(f.records.empty()) << size;
  }
  kvformat::GsfFile f;
  std::string error;
  ASSERT_TRUE(kvformat::readGsf(gsfFile(0, 0, false).substr(0, 40), f, error));
  EXPECT_EQ(f.date_time, "20240507143519");
  EXPECT_EQ(f.name, "X.gsf");
}

TEST(GsfReader, other_files_are_refused_with_the_reason) {
  std::string wrong_size = gsfFile(0, 0, true);
  wrong_size[4] = 40;
  struct Case {
    const char *what;
    std::string bytes, reason;
  } cases[] = {
      {"a text file", "20240507143519\nX.gps\n", "no A1 00 00 A1"},
      {"another start", std::string("\xA1\x00\x01", 3), "no A1 00 00 A1"},
      {"another record size", wrong_size, "record size is not 32"},
  };
  for (const Case &c : cases) {
    kvformat::GsfFile f;
    std::string error;
    EXPECT_FALSE(kvformat::readGsf(c.bytes, f, error)) << c.what;
    EXPECT_NE(error.find(c.reason), std::string::npos) << c.what << ": " << error;
  }
}

}  // namespace
