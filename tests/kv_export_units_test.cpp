// SPDX-License-Identifier: MIT
// kv_export's small units on their own: the text helpers every output goes through, the
// recording name rule, the time zone, trips and subtitles. Expected values are written
// out by hand (or come from the track generator), never from the code under test.
// board-test: host only (kv_export is a workstation tool, never built for the board)
// test-links: kvexport
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "data_writers.hpp"
#include "recording_facts.hpp"
#include "recordings.hpp"
#include "subtitles.hpp"
#include "text_out.hpp"
#include "track_file_gen.h"
#include "track_reader.hpp"
#include "trips.hpp"

namespace {

using namespace kv_export;

// A folder or stem name a person may give a card's copy: every character markup minds.
constexpr const char *kAwkward = "Tom & Jerry's <\"trip\">";

TEST(ExportText, each_escape_turns_the_awkward_characters_of_its_format) {
  struct Case {
    std::string (*escape)(std::string_view);
    std::string in, want;
  } cases[] = {
      {xmlText, kAwkward, "Tom &amp; Jerry&apos;s &lt;&quot;trip&quot;&gt;"},
      {xmlText,
       std::string("a\x01"
                   "b\tc"),
       "a?b\tc"},
      {jsonText, kAwkward, "Tom & Jerry's <\\\"trip\\\">"},
      {jsonText, "back\\slash\nline", "back\\\\slash\\u000aline"},
      {csvCell, "plain", "plain"},
      {csvCell, kAwkward, "\"Tom & Jerry's <\"\"trip\"\">\""},
      {csvCell, "a,b", "\"a,b\""},
      {csvCell, "two\nlines", "\"two\nlines\""},
      {href, kAwkward, "Tom%20%26%20Jerry%27s%20%3C%22trip%22%3E"},
      {href, "../card/Recordings/20240507-143519_EVT_D_F.mp4",
       "../card/Recordings/20240507-143519_EVT_D_F.mp4"},
      {href, "caf\xc3\xa9.html", "caf%C3%A9.html"},
      {xmlText, "caf\xc3\xa9 caf\xe9 \xed\xa0\x80", "caf\xc3\xa9 caf? ???"},  // Latin-1, surrogate
      {jsonText, "caf\xe9\xc3", "caf??"},
  };
  for (const auto &c : cases) EXPECT_EQ(c.escape(c.in), c.want) << c.in;
}

TEST(ExportText, utc_milliseconds_of_calendar_dates_across_leap_days_and_before_1970) {
  struct Case {
    int y, mo, d, h, mi, s, ms;
    int64_t want;
  } cases[] = {
      {1970, 1, 1, 0, 0, 0, 0, 0},
      {1969, 12, 31, 23, 59, 59, 0, -1000},
      {2000, 3, 1, 0, 0, 0, 0, 951868800000},
      {2024, 2, 29, 12, 0, 0, 500, 1709208000500},
      {2024, 5, 7, 12, 35, 19, 200, 1715085319200},
      {2100, 3, 1, 0, 0, 0, 0, 4107542400000},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(utcMs(c.y, c.mo, c.d, c.h, c.mi, c.s, c.ms), c.want) << c.y << "-" << c.mo;
    EXPECT_EQ(utcMs(c.y, c.mo, c.d, c.h, c.mi, c.s, c.ms) / 1000,
              static_cast<int64_t>(c.want >= 0 ? c.want / 1000 : -((-c.want + 999) / 1000)));
  }
  EXPECT_EQ(utcText(1715085319200), "2024-05-07T12:35:19.200Z");
  EXPECT_EQ(utcText(-1000), "1969-12-31T23:59:59.000Z");
}

TEST(ExportText, a_recording_name_says_start_kind_state_and_unit_or_nothing) {
  struct Case {
    std::string stem, want;
  } cases[] = {
      {"20240507-143519_EVT_D_F", "2024-05-07 14:35:19, event recording while driving, front unit"},
      {"20240507-143519_NOR_P_R",
       "2024-05-07 14:35:19, continuous recording while parked, rear unit"},
      {"20240507-143519_MOT_P", "2024-05-07 14:35:19, motion recording while parked"},
      {"20240507-143560_NOR_D", "2024-05-07 14:35:60, continuous recording while driving"},
      {"20240507-143519_XYZ_D_F", ""},
      {"20240507-143519_EVT_X_F", ""},
      {"20240507-143519_EVT_D_Q", ""},
      {"2024050a-143519_EVT_D_F", ""},
      {"20240507_143519_EVT_D_F", ""},
      {kAwkward, ""},
      {"", ""},
  };
  for (const auto &c : cases) EXPECT_EQ(describeRecordingName(c.stem), c.want) << c.stem;
  // The recorder names a taken second ":60": it counts on into the next minute.
  EXPECT_EQ(parseRecordingName("20240507-143560_NOR_D").start_s,
            parseRecordingName("20240507-143600_NOR_D").start_s);
}

Track readGenerated(const std::string &file) {
  Track t;
  std::string error;
  EXPECT_TRUE(readTrack(file, t, error)) << error;
  return t;
}

TEST(ExportZone, the_local_start_against_the_receivers_utc_gives_the_zone_to_the_quarter_hour) {
  // The generated drive's first fix is 12:35:19.000 UTC, 120 ms after the start tick.
  struct Case {
    const char *header;
    bool known;
    const char *text;
  } cases[] = {
      {"20240507143519", true, "+02:00"}, {"20240507123519", true, "+00:00"},
      {"20240507090519", true, "-03:30"}, {"20240507181519", true, "+05:45"},
      {"20240507143521", true, "+02:00"},  // the header's second is cut, the fix is not
      {"20000101000000", false, ""},       // the unit's clock was never set
  };
  for (const auto &c : cases) {
    Zone z = zoneOf(readGenerated(trackgen::trackFile(trackgen::drive(10), "x.gps", c.header)));
    EXPECT_EQ(z.known, c.known) << c.header;
    EXPECT_EQ(zoneText(z), c.text) << c.header;
  }
  EXPECT_EQ(isoLocalText(1715085319200, Zone{true, -210}), "2024-05-07T09:05:19.200-03:30");
  EXPECT_EQ(isoLocalText(1715085319200, Zone{}), "2024-05-07T12:35:19.200Z");
}

TEST(ExportTrips, consecutive_recordings_make_a_trip_and_front_and_rear_of_a_moment_go_together) {
  struct Rec {
    const char *stem;
    int64_t duration_ms;
  };
  struct Case {
    const char *what;
    std::vector<Rec> recs;
    std::vector<std::vector<std::pair<int, int>>> want;  // per trip: (front, rear) per moment
  } cases[] = {
      {"three minutes of driving, one trip",
       {{"20240507-143519_NOR_D_F", 60000},
        {"20240507-143619_NOR_D_F", 60000},
        {"20240507-143719_NOR_D_F", 60000}},
       {{{0, -1}, {1, -1}, {2, -1}}}},
      {"a pause of two minutes ends a trip",
       {{"20240507-143519_NOR_D", 60000}, {"20240507-143819_NOR_D", 60000}},
       {{{0, -1}}, {{1, -1}}}},
      {"the rear named a second later, and listed first",
       {{"20240507-143520_EVT_D_R", 20000}, {"20240507-143519_EVT_D_F", 20000}},
       {{{1, 0}}}},
      {"the rear named a second earlier",
       {{"20240507-143519_NOR_D_F", 60000}, {"20240507-143518_NOR_D_R", 60000}},
       {{{0, 1}}}},
      {"a rear recording of another kind is a moment of its own",
       {{"20240507-143519_NOR_D_F", 60000}, {"20240507-143519_EVT_D_R", 20000}},
       {{{0, -1}, {-1, 1}}}},
      {"a rear recording alone", {{"20240507-151500_MOT_P_R", 20000}}, {{{-1, 0}}}},
  };
  for (const auto &c : cases) {
    std::vector<RecordingFacts> facts;
    for (const auto &r : c.recs) {
      RecordingFacts f;
      f.name = parseRecordingName(r.stem);
      ASSERT_TRUE(f.name.valid) << r.stem;
      f.start_local_s = f.name.start_s;
      f.duration_ms = r.duration_ms;
      facts.push_back(f);
    }
    std::vector<const RecordingFacts *> all;
    for (const auto &f : facts) all.push_back(&f);
    std::vector<std::vector<std::pair<int, int>>> got;
    for (const Trip &t : tripsOf(all)) {
      got.emplace_back();
      for (const Moment &m : t.moments) got.back().push_back({m.front, m.rear});
    }
    EXPECT_EQ(got, c.want) << c.what;
  }
}

TEST(ExportSubtitles, a_cue_each_second_with_the_local_time_the_speed_and_the_position) {
  auto epochs = trackgen::drive(25, 200);  // 5 s at 5 Hz, from 12:35:19.000 UTC at +120 ms
  Track t = readGenerated(trackgen::trackFile(epochs, "x.gps"));
  RecordingFacts f = factsOf("20240507-143519_NOR_D_F", &t, nullptr);
  std::string srt = subtitles(t, f, SubtitleFormat::kSrt);
  std::string vtt = subtitles(t, f, SubtitleFormat::kVtt);
  // Cue 3 covers 2 s to 3 s of the video, from 12:35:20.880 UTC (the start tick is 120 ms
  // before the first fix); its last fix is the epoch at 2.920 s (index 14).
  const trackgen::Epoch &e = epochs[14];
  char speed[32];
  snprintf(speed, sizeof speed, "%.0f km/h", e.knots * 1.852);
  std::string cue3 = "3\n00:00:02,000 --> 00:00:03,000\n2024-05-07 14:35:20 UTC+02:00  ";
  size_t at = srt.find(cue3);
  ASSERT_NE(at, std::string::npos) << srt;
  std::string text = srt.substr(at + cue3.size(), srt.find("\n\n", at) - at - cue3.size());
  EXPECT_TRUE(text.starts_with(speed)) << text;
  double lat = 0, lon = 0;
  ASSERT_EQ(sscanf(text.c_str() + text.find('\n') + 1, "%lf N  %lf E", &lat, &lon), 2) << text;
  EXPECT_NEAR(lat, e.lat, 0.6e-5) << text;
  EXPECT_NEAR(lon, e.lon, 0.6e-5) << text;
  EXPECT_NE(srt.find("5\n00:00:04,000 --> 00:00:05,000\n"), std::string::npos);
  EXPECT_EQ(srt.find("\n6\n"), std::string::npos) << "the track ends at 4.920 s";
  EXPECT_TRUE(vtt.starts_with("WEBVTT\n\n00:00:00.000 --> 00:00:01.000\n")) << vtt;
}

TEST(ExportGeoJson, a_stretch_of_one_fix_is_a_point_and_longer_ones_lines) {
  auto epochs = trackgen::drive(40, 1000);
  // Fixes 0 to 8, then 10 alone between losses, then 14 on (and the generator's tunnel).
  for (size_t i : {9, 11, 12, 13}) epochs[i].fix = false;
  Track t = readGenerated(trackgen::trackFile(epochs, "x.gps"));
  ASSERT_GE(t.segments.size(), 3u);
  ASSERT_EQ(t.segments[1].size(), 1u);
  std::string json = trackGeoJson(t, "x", "+02:00");
  EXPECT_NE(json.find("\"stretch\":2,\"time\":\""), std::string::npos) << json.substr(0, 400);
  size_t points = 0, lines = 0;
  for (size_t at = 0; (at = json.find("\"type\":\"Point\"", at)) != std::string::npos; ++at)
    ++points;
  for (size_t at = 0; (at = json.find("\"type\":\"LineString\"", at)) != std::string::npos; ++at)
    ++lines;
  EXPECT_EQ(points, 1u);
  EXPECT_EQ(lines, t.segments.size() - 1);
}

}  // namespace
