// SPDX-License-Identifier: MIT
// The shared NMEA rules, sentence by sentence. Expected values are worked out by hand
// (checksums with a calculator: XOR of the bytes between '$' and '*').
#include "kv_nmea.h"

#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

namespace {

kv_nmea_field field(const char *text) { return {text, strlen(text)}; }

// The worked example of the receivers' manuals; its checksum is 0x6A.
const char kRmc[] = "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A";

TEST(KvNmea, the_checksum_rule_takes_only_a_matching_hex_text_after_the_last_star) {
  struct Case {
    std::string line;
    bool passes;
  } cases[] = {
      {kRmc, true},
      {"$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6a", true},
      {"$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6B", false},
      {"$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*", false},
      {"$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W", false},
      {"$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6G", false},
      {"$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*006A", true},
      // 19 characters fit the receiving end's field, 20 do not.
      {"$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*000000000000000006A",
       true},
      {"$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*0000000000000000006A",
       false},
      {"$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*16A", false},
      // The sum stops at the first '*'; the text is read after the last one.
      {"$GPA*x*56", true},
      {"$$GPA*56", true},
      {"*00", true},
  };
  for (const Case &c : cases)
    EXPECT_EQ(kv_nmea_check(c.line.data(), c.line.size()), c.passes) << c.line;
}

TEST(KvNmea, the_gate_takes_checked_gp_sentences_of_4_to_1023_characters) {
  // An odd number of 'A's XORs to one 'A': "GPTXT," then 'A' sum to 0x22 either way.
  std::string longest = "$GPTXT," + std::string(1013, 'A') + "*22";
  ASSERT_EQ(longest.size(), 1023u);
  struct Case {
    std::string line;
    bool accepted;
  } cases[] = {
      {kRmc, true},
      {"$GNRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*74", false},
      {"$GP*", false},
      {"$GP*17", true},
      {longest, true},
      {longest.substr(0, 7) + "AA" + longest.substr(7), false},
  };
  for (const Case &c : cases)
    EXPECT_EQ(kv_nmea_accepted(c.line.data(), c.line.size()), c.accepted) << c.line;
}

TEST(KvNmea, a_sentence_is_built_with_its_upper_case_checksum_or_not_at_all) {
  char out[80];
  const char body[] = "GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W";
  ASSERT_EQ(kv_nmea_sentence(body, strlen(body), out, sizeof out), strlen(kRmc));
  EXPECT_STREQ(out, kRmc);
  char tight[8] = "unused";
  EXPECT_EQ(kv_nmea_sentence("GPAB", 4, tight, sizeof tight), 0u) << "needs 9 bytes with NUL";
  EXPECT_STREQ(tight, "unused");
  EXPECT_EQ(kv_nmea_sentence("GPA", 3, tight, sizeof tight), 7u);
  EXPECT_STREQ(tight, "$GPA*56");
}

TEST(KvNmea, fields_end_at_comma_star_cr_or_lf_and_the_unended_rest_is_no_field) {
  struct Case {
    const char *line;
    std::vector<std::string> fields;
  } cases[] = {
      {"$GPGGA,1,,2*4F", {"$GPGGA", "1", "", "2"}},
      {"$GPGGA,1*4F,", {"$GPGGA", "1", "4F"}},
      {"$GPX,a\rb\nc", {"$GPX", "a", "b"}},
      {"$GPX", {}},
      {",", {""}},
  };
  for (const Case &c : cases) {
    kv_nmea_field f[KV_NMEA_MAX_FIELDS];
    size_t n = kv_nmea_split(c.line, strlen(c.line), f, KV_NMEA_MAX_FIELDS);
    std::vector<std::string> got;
    for (size_t i = 0; i < n; ++i) got.emplace_back(f[i].text, f[i].len);
    EXPECT_EQ(got, c.fields) << c.line;
  }
  kv_nmea_field two[2];
  EXPECT_EQ(kv_nmea_split("a,b,c,d,", 8, two, 2), 2u) << "stops at the caller's room";
}

TEST(KvNmea, times_are_six_digits_in_range_with_an_optional_fraction) {
  struct Case {
    const char *text;
    bool ok;
    int h, m, s, ms;
  } cases[] = {
      {"123519", true, 12, 35, 19, 0},     {"123519.", true, 12, 35, 19, 0},
      {"123519.2", true, 12, 35, 19, 200}, {"235960.05", true, 23, 59, 60, 50},
      {"000000.1239", true, 0, 0, 0, 123}, {"240000", false, 0, 0, 0, 0},
      {"126000", false, 0, 0, 0, 0},       {"120061", false, 0, 0, 0, 0},
      {"12351", false, 0, 0, 0, 0},        {"123519x000", false, 0, 0, 0, 0},
      {"123519.0a", false, 0, 0, 0, 0},    {"1a3519", false, 0, 0, 0, 0},
  };
  for (const Case &c : cases) {
    kv_nmea_time t = {-1, -1, -1, -1};
    ASSERT_EQ(kv_nmea_read_time(field(c.text), &t), c.ok) << c.text;
    if (!c.ok) continue;
    EXPECT_EQ(std::vector<int>({t.hour, t.minute, t.second, t.ms}),
              std::vector<int>({c.h, c.m, c.s, c.ms}))
        << c.text;
  }
}

TEST(KvNmea, dates_are_real_days_of_this_century) {
  struct Case {
    const char *text;
    bool ok;
    int y, m, d;
  } cases[] = {
      {"230394", true, 2094, 3, 23}, {"290224", true, 2024, 2, 29}, {"290223", false, 0, 0, 0},
      {"290200", true, 2000, 2, 29}, {"310424", false, 0, 0, 0},    {"001224", false, 0, 0, 0},
      {"011324", false, 0, 0, 0},    {"010024", false, 0, 0, 0},    {"01012", false, 0, 0, 0},
      {"0101245", false, 0, 0, 0},   {"01a124", false, 0, 0, 0},
  };
  for (const Case &c : cases) {
    kv_nmea_date d = {-1, -1, -1};
    ASSERT_EQ(kv_nmea_read_date(field(c.text), &d), c.ok) << c.text;
    if (!c.ok) continue;
    EXPECT_EQ(std::vector<int>({d.year, d.month, d.day}), std::vector<int>({c.y, c.m, c.d}))
        << c.text;
  }
}

TEST(KvNmea, angles_are_degrees_and_minutes_signed_by_their_hemisphere) {
  struct Case {
    const char *value, *hemisphere;
    int max;
    bool ok;
    double degrees;
  } cases[] = {
      {"4807.038", "N", 90, true, 48.1173},
      {"4807.038", "S", 90, true, -48.1173},
      {"01131.000", "E", 180, true, 11.516667},
      {"01131.000", "W", 180, true, -11.516667},
      {"9000.000", "N", 90, true, 90.0},
      {"9000.001", "N", 90, false, 0},
      {"18000", "E", 180, true, 180.0},
      {"4860.000", "N", 90, false, 0},
      {"4807.038", "X", 90, false, 0},
      {"4807.038", "", 90, false, 0},
      {"07.038", "N", 90, false, 0},
      {"480000.0", "N", 90, false, 0},
      {"48a7.038", "N", 90, false, 0},
      {"4807.0.8", "N", 90, false, 0},
  };
  for (const Case &c : cases) {
    double got = 999;
    ASSERT_EQ(kv_nmea_read_degrees(field(c.value), field(c.hemisphere), c.max, &got), c.ok)
        << c.value << c.hemisphere;
    if (!c.ok) continue;
    EXPECT_NEAR(got, c.degrees, 1e-6) << c.value << c.hemisphere;
  }
}

TEST(KvNmea, numbers_are_plain_decimals_and_ints) {
  struct Case {
    const char *text;
    bool ok;
    double value;
  } decimals[] = {
      {"022.4", true, 22.4},
      {"-0.5", true, -0.5},
      {".5", true, 0.5},
      {"5.", true, 5.0},
      {"", false, 0},
      {"-", false, 0},
      {"1e3", false, 0},
      {"inf", false, 0},
      {"nan", false, 0},
      {"+1", false, 0},
      {"1.2.3", false, 0},
      {" 1", false, 0},
      {"1000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
       "0000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
       "0000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
       "00000000000000000000000000000000000000000000000000000000000000000000000000000",
       false, 0},
  };
  for (const Case &c : decimals) {
    double got = -1;
    ASSERT_EQ(kv_nmea_read_decimal(field(c.text), &got), c.ok) << c.text;
    if (!c.ok) continue;
    EXPECT_EQ(got, c.value) << c.text;
  }
  struct IntCase {
    const char *text;
    bool ok;
    int value;
  } ints[] = {
      {"08", true, 8},
      {"-12", true, -12},
      {"2147483647", true, 2147483647},
      {"2147483648", false, 0},
      {"-2147483648", true, -2147483647 - 1},
      {"", false, 0},
      {"1.0", false, 0},
      {"-", false, 0},
  };
  for (const IntCase &c : ints) {
    int got = -1;
    ASSERT_EQ(kv_nmea_read_int(field(c.text), &got), c.ok) << c.text;
    if (!c.ok) continue;
    EXPECT_EQ(got, c.value) << c.text;
  }
}

TEST(KvNmea, civil_dates_count_days_from_1970_both_ways) {
  struct Case {
    int64_t y;
    int m, d;
    int64_t days;
  } cases[] = {
      {1970, 1, 1, 0},     {1969, 12, 31, -1},   {2000, 3, 1, 11017},
      {2024, 5, 7, 19850}, {2094, 3, 23, 45372}, {1600, 1, 1, -135140},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(kv_nmea_days_from_civil(c.y, c.m, c.d), c.days) << c.y << "-" << c.m << "-" << c.d;
    int64_t y;
    int m, d;
    kv_nmea_civil_from_days(c.days, &y, &m, &d);
    EXPECT_EQ(std::vector<int64_t>({y, m, d}), std::vector<int64_t>({c.y, c.m, c.d})) << c.days;
  }
  // 1024 GPS weeks: the first week rollover to the second.
  EXPECT_EQ(kv_nmea_days_from_civil(2019, 4, 7) - kv_nmea_days_from_civil(1999, 8, 22), 7168);
  struct Month {
    int64_t y;
    int m, days;
  } months[] = {{2023, 2, 28}, {2024, 2, 29},  {1900, 2, 28}, {2000, 2, 29},
                {2024, 4, 30}, {2024, 12, 31}, {2024, 0, 0},  {2024, 13, 0}};
  for (const Month &c : months)
    EXPECT_EQ(kv_nmea_days_in_month(c.y, c.m), c.days) << c.y << "-" << c.m;
}

}  // namespace
