// SPDX-License-Identifier: MIT
// kv_export, the workstation exporter: what a person gets from a recording's track and
// G-sensor files, checked with the programs people open them with (xmllint, gpsbabel,
// rsvg-convert), and what the tool makes of files cut short by a kill or not made by the
// recorder at all. Track files come from a small generator of the recorder's format;
// G-sensor files from the real kv_shocklog in a simulated board.
// board-test: host only (kv_export is a workstation tool, never built for the board)
#include <fcntl.h>
#include <gtest/gtest.h>
#include <math.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#ifdef KV_TEST_HAVE_PNG
#include <png.h>
#endif

#include "board_root.h"
#include "dm368_zt5_util.h"
#include "gsensor_motion.h"
#include "gsensor_reader.hpp"
#include "gsf_file_gen.h"
#include "gsf_reader.h"
#include "kv_common_util.h"
#include "kv_server_gps.h"
#include "nmea_feed.h"
#include "sandbox.h"
#include "sandbox_link.h"
#include "track_file_gen.h"
#include "track_reader.hpp"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using kvsim::Sandbox;

constexpr const char *kStem = "20240507-143519_EVT_D_F";

struct Ran {
  int status;  // exit code
  std::string out, err;
};

// Output of a command line (standard error joined); its exit status in `status`.
std::string shell(const std::string &command, int *status = nullptr) {
  std::string out;
  FILE *p = popen((command + " 2>&1").c_str(), "r");
  if (!p) return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  int st = pclose(p);
  if (status) *status = WIFEXITED(st) ? WEXITSTATUS(st) : 128;
  return out;
}

bool haveTool(const char *name) {
  return system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

std::string slurp(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

int count(const std::string &text, const std::string &what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// "2024-05-07T12:35:19.200Z" for ms since 1970, as a GPX time must read.
// Milliseconds since 1970 of an ISO 8601 UTC time ("...T12:35:19Z" or "...19.200Z").
int64_t isoMs(const std::string &text) {
  struct tm tm = {};
  const char *rest = strptime(text.c_str(), "%Y-%m-%dT%H:%M:%S", &tm);
  if (!rest) return -1;
  int ms = 0;
  if (*rest == '.') ms = static_cast<int>(lround(strtod(rest, nullptr) * 1000));
  return static_cast<int64_t>(timegm(&tm)) * 1000 + ms;
}

std::string isoUtc(int64_t ms) {
  time_t s = static_cast<time_t>(ms / 1000);
  struct tm tm;
  gmtime_r(&s, &tm);
  char text[40];
  strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &tm);
  return std::string(text) + "." + std::to_string(1000 + ms % 1000).substr(1) + "Z";
}

struct GpxPoint {
  double lat, lon;
  std::string time;
};

// The track points of a GPX file, whoever wrote it, in order.
std::vector<GpxPoint> gpxPoints(const std::string &gpx) {
  static const std::regex kPoint(
      "<trkpt lat=\"([-0-9.]+)\" lon=\"([-0-9.]+)\">[\\s\\S]*?<time>([^<]+)</time>");
  std::vector<GpxPoint> out;
  for (std::sregex_iterator it(gpx.begin(), gpx.end(), kPoint), end; it != end; ++it)
    out.push_back({std::stod((*it)[1]), std::stod((*it)[2]), (*it)[3]});
  return out;
}

std::vector<std::vector<std::string>> csvRows(const std::string &csv) {
  std::vector<std::vector<std::string>> rows;
  for (const auto &line : kvsim::splitLines(csv)) {
    std::vector<std::string> cells;
    std::stringstream s(line);
    for (std::string cell; std::getline(s, cell, ',');) cells.push_back(cell);
    rows.push_back(cells);
  }
  if (!rows.empty()) rows.erase(rows.begin());  // the header
  return rows;
}

int64_t msOf(const std::string &seconds) {  // "12.345" -> 12345
  size_t dot = seconds.find('.');
  return std::stoll(seconds.substr(0, dot)) * 1000 + std::stoll(seconds.substr(dot + 1));
}

std::vector<trackgen::Epoch> fixes(const std::vector<trackgen::Epoch> &epochs) {
  std::vector<trackgen::Epoch> out;
  for (const auto &e : epochs)
    if (e.fix) out.push_back(e);
  return out;
}

// A card's recordings folder and an output folder in a sandbox, and kv_export run on them.
class Exporter {
 public:
  Exporter() { fs::create_directories(card); }

  std::string put(const std::string &name, const std::string &bytes) const {
    std::ofstream(card + "/" + name, std::ios::binary) << bytes;
    return card + "/" + name;
  }
  Ran run(std::vector<std::string> args) {
    args.insert(args.begin(), "kv_export");
    pid_t pid = board.start(args);
    int status = board.wait(pid, 60000ms);
    EXPECT_NE(status, -1) << "kv_export did not end";
    return {Sandbox::exitCode(status), board.stdoutOf(pid), board.stderrOf(pid)};
  }
  Ran exportCard() { return run({"-o", out, card}); }
  std::string output(const std::string &name) const { return slurp(out + "/" + name); }
  bool has(const std::string &name) const { return fs::exists(out + "/" + name); }
  std::vector<std::string> outputs() const {
    std::vector<std::string> names;
    if (fs::exists(out))
      for (const auto &e : fs::directory_iterator(out)) names.push_back(e.path().filename());
    return names;
  }

  Sandbox board;
  std::string card = board.root() + "/card/Recordings";
  std::string out = board.root() + "/exported";
};

// ---- reading the recorder's files ---------------------------------------------------

TEST(TrackChecksum, follows_the_receivers_rule_as_kv_navlink_does) {
  struct Case {
    const char *sentence;
    bool ok;
  } cases[] = {
      {"$GPRMC,123519.000,A,4807.038,N,01131.000,E,022.4,084.4,070524,003.1,W*7F", true},
      {"$GPRMC,123519.000,A,4807.038,N,01131.000,E,022.4,084.4,070524,003.1,W*7f", true},
      {"$GPRMC,123519.000,A,4807.038,N,01131.000,E,022.4,084.4,070524,003.1,W*7E", false},
      {"$GPRMC,123519.000,A,4807.038,N,01131.000,E,022.4,084.4,070524,003.1,W*", false},
      {"$GPRMC,123519.000,A,4807.038,N,01131.000,E,022.4,084.4,070524,003.1,W*7G", false},
      {"$GPRMC,123519.000,A,4807.038,N,01131.000,E,022.4,084.4,070524,003.1,W", false},
      {"$GPRMC,123519.000,A,4807.038,N,01131.000,E,022.4,084.4,070524,003.1,W*007F", true},
  };
  for (const auto &c : cases) EXPECT_EQ(kv_export::nmeaChecksumOk(c.sentence), c.ok) << c.sentence;
}

TEST(TrackReading, each_fix_joins_the_gga_of_its_second_and_a_loss_of_fix_ends_the_segment) {
  auto epochs = trackgen::drive(40);  // the tunnel: epoch 25 has no fix
  for (bool gga_first : {false, true}) {
    SCOPED_TRACE(gga_first ? "GGA first" : "RMC first");
    std::string file =
        trackgen::header("20240507143519", "x.gps") + trackgen::lines(epochs, gga_first);
    kv_export::Track t;
    std::string error;
    ASSERT_TRUE(kv_export::readTrack(file, t, error)) << error;
    ASSERT_EQ(t.segments.size(), 2u);
    EXPECT_EQ(t.segments[0].size(), 25u);
    EXPECT_EQ(t.segments[1].size(), 14u);
    ASSERT_EQ(t.no_fix.size(), 1u);
    EXPECT_EQ(t.no_fix[0].from_ms, epochs[25].offset_ms);
    EXPECT_EQ(t.no_fix[0].to_ms, epochs[26].offset_ms);
    const kv_export::TrackPoint &p = t.segments[1][0];  // epoch 26
    EXPECT_EQ(p.offset_ms, epochs[26].offset_ms);
    EXPECT_EQ(p.utc_ms, epochs[26].utc_ms);
    EXPECT_NEAR(p.speed_mps, epochs[26].knots * 1852 / 3600, 1e-9);
    EXPECT_TRUE(p.has_gga);
    EXPECT_EQ(p.sats, epochs[26].sats);
    EXPECT_DOUBLE_EQ(p.ele_m, epochs[26].alt_m);
    EXPECT_EQ(t.report.damaged, 0u);
    EXPECT_FALSE(t.report.cut);
  }
}

TEST(TrackReading, damaged_lines_are_skipped_and_the_first_is_named_by_its_line_number) {
  auto epochs = trackgen::drive(6);
  std::string lines = trackgen::lines(epochs);
  std::string bad_sum = trackgen::rmc(epochs[2]);
  bad_sum.back() = bad_sum.back() == '0' ? '1' : '0';
  std::string file = trackgen::header("20240507143519", "x.gps") +
                     lines.substr(0, lines.find('\n') + 1) + "700:" + bad_sum + "\n" +
                     "garbage without offset\n" + lines.substr(lines.find('\n') + 1);
  kv_export::Track t;
  std::string error;
  ASSERT_TRUE(kv_export::readTrack(file, t, error));
  EXPECT_EQ(t.report.damaged, 2u);
  EXPECT_EQ(t.report.first_damaged, 4u);  // header, name, first RMC, then the bad one
  EXPECT_EQ(t.points(), 6u);
}

TEST(TrackReading, an_appended_start_on_the_same_name_continues_later_on_the_time_axis) {
  auto first = trackgen::drive(5), second = trackgen::drive(5);
  std::string file = trackgen::trackFile(first, "x.gps", "20240507143519") +
                     trackgen::trackFile(second, "x.gps", "20240507143649");  // 90 s later
  kv_export::Track t;
  std::string error;
  ASSERT_TRUE(kv_export::readTrack(file, t, error));
  EXPECT_EQ(t.sessions, 2);
  ASSERT_EQ(t.segments.size(), 2u);
  EXPECT_EQ(t.segments[1][0].offset_ms, 90000 + second[0].offset_ms);
  EXPECT_EQ(t.start_local, "20240507143519");
}

TEST(TrackReading, what_is_not_a_track_file_is_refused) {
  for (const char *bytes : {"hello\n", "2024050714351\nx.gps\n", "20240507143519x\n",
                            "\x7f"
                            "ELF\x02\x01"}) {
    kv_export::Track t;
    std::string error;
    EXPECT_FALSE(kv_export::readTrack(bytes, t, error)) << bytes;
    EXPECT_NE(error.find("not a GPS track file"), std::string::npos) << bytes;
  }
}

TEST(GSensorReading, a_count_stored_before_a_power_cut_keeps_every_record_after_it) {
  std::string bytes = gsfBytes({{0, 1, 2, 3, 0}, {250, 4, 5, 6, 0}, {500, 7, 8, 9, 0}}, false);
  bytes[8] = 2;  // the count the writer stored at its last sync, one record earlier
  kv_export::GSensorData d;
  std::string error;
  ASSERT_TRUE(kv_export::readGSensor(bytes, d, error)) << error;
  EXPECT_EQ(d.samples.size(), 3u);
  EXPECT_EQ(d.samples.back().time_ms, 500);
  EXPECT_EQ(d.report.damaged, 0u);
  std::string notices;
  for (const auto &n : d.report.notices) notices += n + "\n";
  EXPECT_NE(notices.find("record count 2 stored before the cut, 1 more record after it"),
            std::string::npos)
      << notices;
}

TEST(GSensorReading, the_pre_event_part_ends_where_the_recorders_own_samples_begin) {
  struct Case {
    const char *what;
    std::vector<std::array<int64_t, 5>> records;
    size_t pre_event;
  } cases[] = {
      {"history overlapping the first own sample",
       {{0, 1, 1, 1, 0},
        {250, 2, 2, 2, 0},
        {500, 3, 3, 3, 0},
        {480, 4, 4, 4, 0},
        {730, 5, 5, 5, 0}},
       3},
      {"history carrying a reserved mark",
       {{0, 1, 1, 1, 9}, {250, 2, 2, 2, 9}, {510, 3, 3, 3, 0}, {760, 4, 4, 4, 0}},
       2},
      {"own samples only", {{40, 1, 1, 1, 0}, {290, 2, 2, 2, 0}, {540, 3, 3, 3, 0}}, 0},
  };
  for (const auto &c : cases) {
    kv_export::GSensorData d;
    std::string error;
    ASSERT_TRUE(kv_export::readGSensor(gsfBytes(c.records), d, error)) << c.what;
    EXPECT_EQ(d.pre_event, c.pre_event) << c.what;
    EXPECT_EQ(d.samples.size(), c.records.size()) << c.what;
  }
}

TEST(GSensorReading, a_count_that_contradicts_the_records_is_damage_and_a_foreign_file_is_refused) {
  std::string b = gsfBytes({{0, 1, 2, 3, 0}, {250, 1, 2, 3, 0}});
  b[8] = 5;  // count 5, two records
  kv_export::GSensorData d;
  std::string error;
  ASSERT_TRUE(kv_export::readGSensor(b, d, error));
  EXPECT_EQ(d.report.damaged, 1u);

  EXPECT_FALSE(kv_export::readGSensor(gsfBytes({}, true, 40), d, error));
  EXPECT_NE(error.find("record size"), std::string::npos) << error;
  EXPECT_FALSE(kv_export::readGSensor(std::string(600, '\0'), d, error));
  EXPECT_NE(error.find("not a G-sensor data file"), std::string::npos) << error;
}

// ---- the exported track -------------------------------------------------------------

TEST(ExportTrack,
     gpx_holds_every_fix_to_1e7_degrees_and_the_millisecond_and_gpsbabel_reads_it_back) {
  Exporter ex;
  auto epochs = trackgen::drive(600);
  ex.put(std::string(kStem) + ".gps", trackgen::trackFile(epochs, std::string(kStem) + ".gps"));
  Ran r = ex.exportCard();
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");

  std::string gpx_path = ex.out + "/" + kStem + ".gpx";
  std::string gpx = ex.output(std::string(kStem) + ".gpx");
  auto want = fixes(epochs);
  auto got = gpxPoints(gpx);
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) {
    EXPECT_NEAR(got[i].lat, want[i].lat, 1e-7) << "point " << i;
    EXPECT_NEAR(got[i].lon, want[i].lon, 1e-7) << "point " << i;
    EXPECT_EQ(got[i].time, isoUtc(want[i].utc_ms)) << "point " << i;
  }
  EXPECT_EQ(count(gpx, "<trkseg>"), 2) << "the tunnel splits the track";
  EXPECT_EQ(count(gpx, "<gpxtpx:speed>"), static_cast<int>(want.size()));

  if (!haveTool("xmllint") || !haveTool("gpsbabel"))
    GTEST_SKIP() << "xmllint or gpsbabel not installed";
  int status = -1;
  EXPECT_EQ(shell("xmllint --noout " + gpx_path, &status), "");
  EXPECT_EQ(status, 0);
  std::string again = shell("gpsbabel -t -i gpx -f " + gpx_path + " -o gpx -F -", &status);
  ASSERT_EQ(status, 0) << again;
  auto back = gpxPoints(again);
  ASSERT_EQ(back.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) {
    EXPECT_NEAR(back[i].lat, want[i].lat, 1e-7) << "point " << i;
    EXPECT_NEAR(back[i].lon, want[i].lon, 1e-7) << "point " << i;
    EXPECT_EQ(isoMs(back[i].time), want[i].utc_ms) << "point " << i << ": " << back[i].time;
  }
}

TEST(ExportTrack, csv_and_geojson_hold_a_row_and_a_position_per_fix) {
  Exporter ex;
  auto epochs = trackgen::drive(100);
  ex.put(std::string(kStem) + ".gps", trackgen::trackFile(epochs, std::string(kStem) + ".gps"));
  ASSERT_EQ(ex.exportCard().status, 0);
  auto want = fixes(epochs);
  auto rows = csvRows(ex.output(std::string(kStem) + ".track.csv"));
  ASSERT_EQ(rows.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) {
    ASSERT_EQ(rows[i].size(), 12u) << "row " << i;
    EXPECT_EQ(msOf(rows[i][0]), want[i].offset_ms) << "row " << i;
    EXPECT_EQ(rows[i][1], isoUtc(want[i].utc_ms)) << "row " << i;
    // The file's header says 14:35:19 local for a start at 12:35:19 UTC.
    EXPECT_EQ(isoMs(rows[i][2]), want[i].utc_ms + 2 * 3600000) << "row " << i;
    EXPECT_TRUE(rows[i][2].ends_with("+02:00")) << rows[i][2];
    EXPECT_NEAR(std::stod(rows[i][4]), want[i].lat, 1e-7) << "row " << i;
    EXPECT_NEAR(std::stod(rows[i][6]), want[i].knots * 1.852, 0.01) << "row " << i;
  }
  std::string json = ex.output(std::string(kStem) + ".geojson");
  EXPECT_EQ(count(json, "\"LineString\""), 2) << "a line for each side of the tunnel";
  std::regex position("\\[(-?[0-9.]+),(-?[0-9.]+),(-?[0-9.]+)\\]");
  auto n = std::distance(std::sregex_iterator(json.begin(), json.end(), position),
                         std::sregex_iterator());
  EXPECT_EQ(static_cast<size_t>(n), want.size());
}

TEST(ExportTrack, each_geojson_position_is_its_fixs_lon_lat_and_the_csv_has_its_longitude) {
  Exporter ex;
  auto epochs = trackgen::drive(60);
  ex.put(std::string(kStem) + ".gps", trackgen::trackFile(epochs, std::string(kStem) + ".gps"));
  ASSERT_EQ(ex.exportCard().status, 0);
  auto want = fixes(epochs);
  auto rows = csvRows(ex.output(std::string(kStem) + ".track.csv"));
  ASSERT_EQ(rows.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i)
    EXPECT_NEAR(std::stod(rows[i].at(5)), want[i].lon, 1e-7) << "row " << i;
  std::string json = ex.output(std::string(kStem) + ".geojson");
  std::regex position("\\[(-?[0-9.]+),(-?[0-9.]+),(-?[0-9.]+)\\]");
  size_t i = 0;
  for (std::sregex_iterator it(json.begin(), json.end(), position), end; it != end; ++it, ++i) {
    ASSERT_LT(i, want.size());
    EXPECT_NEAR(std::stod((*it)[1]), want[i].lon, 1e-7) << "position " << i;
    EXPECT_NEAR(std::stod((*it)[2]), want[i].lat, 1e-7) << "position " << i;
  }
  EXPECT_EQ(i, want.size());
}

// What GIS tools make of the files: GDAL (what QGIS reads with) and gpsbabel's CSV.
TEST(ExportGis,
     geojson_opens_in_gdal_with_a_point_for_a_lone_fix_and_gpx10_keeps_speed_and_course) {
  if (!haveTool("ogrinfo") || !haveTool("gpsbabel")) {
    if (getenv("CI") && std::string(getenv("CI")) == "true")
      FAIL() << "ogrinfo or gpsbabel missing";
    GTEST_SKIP() << "ogrinfo (gdal-bin) or gpsbabel not installed";
  }
  Exporter ex;
  auto epochs = trackgen::drive(60, 1000);
  for (size_t i : {9, 11, 12}) epochs[i].fix = false;  // epoch 10: a stretch of one fix
  ex.put(std::string(kStem) + ".gps", trackgen::trackFile(epochs, std::string(kStem) + ".gps"));
  Ran r = ex.run({"--gpx10", "-o", ex.out, ex.card});
  ASSERT_EQ(r.status, 0) << r.err;

  int status = -1;
  std::string gdal = shell("ogrinfo -ro -al -q " + ex.out + "/" + kStem + ".geojson", &status);
  ASSERT_EQ(status, 0) << gdal;
  EXPECT_EQ(count(gdal, "\n  POINT Z ("), 1) << gdal.substr(0, 2000);
  EXPECT_EQ(count(gdal, "\n  LINESTRING Z ("), 3) << "before, after and beyond the tunnel";
  EXPECT_EQ(count(gdal, "utc_offset (String) = +02:00"), 4);

  std::string gpx = ex.out + "/" + kStem + ".gpx";
  EXPECT_EQ(shell("xmllint --noout " + gpx), "");
  std::string csv = shell("gpsbabel -t -i gpx -f " + gpx + " -o unicsv -F -", &status);
  ASSERT_EQ(status, 0) << csv;
  auto lines = kvsim::splitLines(csv);
  ASSERT_FALSE(lines.empty());
  EXPECT_TRUE(lines[0].starts_with("No,Latitude,Longitude,Altitude,Speed,Course,")) << lines[0];
  auto rows = csvRows(csv);
  auto want = fixes(epochs);
  ASSERT_EQ(rows.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) {
    EXPECT_NEAR(std::stod(rows[i][4]), want[i].knots * 1852 / 3600, 0.006) << "row " << i;
    EXPECT_NEAR(std::stod(rows[i][5]), want[i].course, 0.01) << "row " << i;
  }
}

// A receiver that speaks for several satellite systems ($GN...) gives a track of no
// position; an empty file gives nothing either. Both are said, and no empty file written.
TEST(ExportMessages, unrecorded_sentences_are_counted_and_named_and_empty_input_writes_no_file) {
  Exporter ex;
  std::string gn;
  for (const auto &line : kvsim::splitLines(trackgen::lines(trackgen::drive(30)))) {
    size_t colon = line.find(':');
    std::string body = line.substr(colon + 2, line.find('*') - colon - 2);  // "GPRMC,..."
    gn += line.substr(0, colon + 1) + trackgen::withChecksum("GN" + body.substr(2)) + "\n";
  }
  const std::string a = "20240507-143519_NOR_D_F", b = "20240507-143619_NOR_D_F";
  ex.put(a + ".gps", trackgen::header("20240507143519", a + ".gps") + gn);
  ex.put(b + ".gps", "");
  Ran r = ex.exportCard();
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find(a + ".gps: 60 sentences of kinds the recorder does not record (it "
                           "records $GP sentences), not read: $GNRMC 30, $GNGGA 30"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find(a + ".gps: no position with fix in it: no GPX, CSV, GeoJSON or subtitles"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find(b + ".gps: empty"), std::string::npos) << r.err;
  for (const auto &name : ex.outputs()) {
    EXPECT_FALSE(name.ends_with(".gpx") || name.ends_with(".csv") || name.ends_with(".geojson") ||
                 name.ends_with(".srt") || name.ends_with(".svg"))
        << name;
    if (!fs::is_directory(ex.out + "/" + name)) {
      EXPECT_GT(fs::file_size(ex.out + "/" + name), 0u) << name;
    }
  }
  std::string empty = ex.board.root() + "/empty";
  fs::create_directories(empty);
  Ran none = ex.run({"-o", ex.out + "2", empty});
  EXPECT_EQ(none.status, 1);
  EXPECT_NE(none.err.find("no .gps, .gsf or .mp4 file in it (a card's recordings are in its "
                          "Recordings folder)"),
            std::string::npos)
      << none.err;
}

// ---- the round trip through the real kv_navlink ------------------------------------------

// Degrees of an NMEA angle field ("4807.0380", "01131.0000") and its hemisphere letter,
// converted here from the sentence's own digits.
double nmeaDegrees(const std::string &field, const std::string &hemisphere) {
  size_t dot = field.find('.');
  double value = std::stod(field.substr(0, dot - 2)) + std::stod(field.substr(dot - 2)) / 60.0;
  return hemisphere == "S" || hemisphere == "W" ? -value : value;
}

struct SentFix {
  double lat, lon;
  int64_t utc_ms;
  std::string sentence;
};

// Every "$GPRMC" with fix of a drive: its position in degrees and its UTC time in ms.
std::vector<SentFix> sentFixes(const std::vector<kvsim::Sentence> &drive) {
  std::vector<SentFix> out;
  for (const auto &s : drive) {
    std::vector<std::string> f;
    std::stringstream in(s.text.substr(0, s.text.find('*')));
    for (std::string field; std::getline(in, field, ',');) f.push_back(field);
    if (f.size() < 10 || f[0] != "$GPRMC" || f[2] != "A") continue;
    struct tm tm = {};
    tm.tm_mday = std::stoi(f[9].substr(0, 2));
    tm.tm_mon = std::stoi(f[9].substr(2, 2)) - 1;
    tm.tm_year = 100 + std::stoi(f[9].substr(4, 2));
    tm.tm_hour = std::stoi(f[1].substr(0, 2));
    tm.tm_min = std::stoi(f[1].substr(2, 2));
    tm.tm_sec = std::stoi(f[1].substr(4, 2));
    int64_t ms = static_cast<int64_t>(timegm(&tm)) * 1000 + std::stoi(f[1].substr(7, 3));
    out.push_back({nmeaDegrees(f[3], f[4]), nmeaDegrees(f[5], f[6]), ms, s.text});
  }
  return out;
}

void expectSamePoints(const std::vector<GpxPoint> &got, const std::vector<SentFix> &want,
                      const char *reader) {
  ASSERT_EQ(got.size(), want.size()) << reader;
  for (size_t i = 0; i < want.size(); ++i) {
    EXPECT_NEAR(got[i].lat, want[i].lat, 1e-7) << reader << ", " << want[i].sentence;
    EXPECT_NEAR(got[i].lon, want[i].lon, 1e-7) << reader << ", " << want[i].sentence;
    EXPECT_EQ(isoMs(got[i].time), want[i].utc_ms)
        << reader << ": " << got[i].time << ", " << want[i].sentence;
  }
}

TEST(ExportRoundTrip, a_drive_through_kv_navlink_comes_back_from_gpx_point_for_point) {
  kvsim::RecorderUnit unit(DEVICE_2CH_FRONT, nullptr);
  ASSERT_TRUE(unit.startNavlink());
  kvsim::DriveOptions o;
  o.rate_hz = 5;   // fix times with milliseconds
  o.seconds = 12;  // the daemon reads about 8 KB a second: a few seconds of test
  o.no_fix = {{5, 7}};
  auto drive = kvsim::generateDrive(o);
  const std::string stem = unit.board.path("/mnt/mmc/Recordings/") + kStem;
  ASSERT_TRUE(kvsim::sendGpsRequests(unit.board, "start stem=" + stem + "\n"));
  kvsim::NmeaFeeder(unit.gps).play(drive, {.speed = 0});
  ASSERT_TRUE(unit.board.waitPortRead("/dev/ttyS0", 20000ms, 200ms));
  ASSERT_TRUE(kvsim::sendGpsRequests(unit.board, "stop\n"));
  ASSERT_TRUE(Sandbox::waitUntil([&] { return !unit.board.commandsOf("sync").empty(); }, 5000ms));

  const std::string out = unit.board.root() + "/exported", gpx_path = out + "/" + kStem + ".gpx";
  pid_t pid = unit.board.start({"kv_export", "-o", out, "--only", "gpx", stem + ".gps"});
  int status = unit.board.wait(pid, 30000ms);
  ASSERT_EQ(Sandbox::exitCode(status), 0) << unit.board.stderrOf(pid);
  std::string gpx = slurp(gpx_path);
  auto want = sentFixes(drive);
  ASSERT_EQ(want.size(), (12u - 2u) * 5u);
  expectSamePoints(gpxPoints(gpx), want, "kv_export's GPX");
  EXPECT_EQ(count(gpx, "<trkseg>"), 2) << "the loss of fix splits the track";

  if (!haveTool("xmllint") || !haveTool("gpsbabel"))
    GTEST_SKIP() << "xmllint or gpsbabel not installed";
  EXPECT_EQ(shell("xmllint --noout " + gpx_path, &status), "");
  EXPECT_EQ(status, 0);
  std::string again = shell("gpsbabel -t -i gpx -f " + gpx_path + " -o gpx -F -", &status);
  ASSERT_EQ(status, 0) << again;
  expectSamePoints(gpxPoints(again), want, "gpsbabel");
}

#ifdef KV_TEST_HAVE_PNG
// Pixels of a PNG as RGB, or empty when it cannot be read.
std::vector<uint8_t> pngPixels(const std::string &path, unsigned &w, unsigned &h) {
  png_image image = {};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return {};
  image.format = PNG_FORMAT_RGB;
  std::vector<uint8_t> px(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, px.data(), 0, nullptr)) return {};
  w = image.width, h = image.height;
  return px;
}
#endif

TEST(ExportPicture, the_svg_renders_the_route_and_the_g_forces_in_their_colours) {
#ifndef KV_TEST_HAVE_PNG
  GTEST_SKIP() << "libpng not found at build time";
#else
  if (!haveTool("rsvg-convert")) GTEST_SKIP() << "rsvg-convert not installed";
  Exporter ex;
  ex.put(std::string(kStem) + ".gps", trackgen::trackFile(trackgen::drive(300), "x.gps"));
  std::vector<std::array<int64_t, 5>> records;
  for (int i = 0; i < 240; ++i) {
    auto s = kvsim::motionSample(i);
    records.push_back({250 * i, s.x, s.y, s.z - 1000, 0});
  }
  ex.put(std::string(kStem) + ".gsf", gsfBytes(records));
  ASSERT_EQ(ex.run({"--only", "svg", "-o", ex.out, ex.card}).status, 0);
  std::string png = ex.out + "/view.png";
  int status = -1;
  EXPECT_EQ(shell("rsvg-convert -o " + png + " " + ex.out + "/" + kStem + ".svg", &status), "");
  ASSERT_EQ(status, 0);
  unsigned w = 0, h = 0;
  auto px = pngPixels(png, w, h);
  ASSERT_FALSE(px.empty());
  size_t inked = 0, route_blue = 0, x_red = 0;
  for (size_t i = 0; i + 2 < px.size(); i += 3) {
    int r = px[i], g = px[i + 1], b = px[i + 2];
    inked += r + g + b < 600;
    route_blue += std::abs(r - 0x1f) < 30 && std::abs(g - 0x77) < 30 && std::abs(b - 0xb4) < 30;
    x_red += std::abs(r - 0xd6) < 30 && std::abs(g - 0x27) < 40 && std::abs(b - 0x28) < 40;
  }
  EXPECT_GT(inked, w * h / 50) << "the picture is nearly blank";
  EXPECT_GT(route_blue, 1000u) << "no route or speed line";
  EXPECT_GT(x_red, 300u) << "no x-axis G-force line";
#endif
}

// A stretch of one fix (a tunnel right after the start) is still seen in the route and in
// the speed panel, where a line of one point would draw nothing.
TEST(ExportPicture, a_stretch_of_a_single_fix_is_drawn_as_a_dot) {
  auto svgOf = [](const std::vector<trackgen::Epoch> &epochs) {
    Exporter ex;
    ex.put(std::string(kStem) + ".gps", trackgen::trackFile(epochs, "x.gps"));
    EXPECT_EQ(ex.run({"--only", "svg", "-o", ex.out, ex.card}).status, 0);
    return ex.output(std::string(kStem) + ".svg");
  };
  auto drive = trackgen::drive(60);
  for (int i = 1; i < 10; ++i) drive[i].fix = false;
  std::string lone = svgOf(drive);
  drive[0].fix = false;
  std::string none = svgOf(drive);
  EXPECT_EQ(count(lone, "<circle "), count(none, "<circle ") + 2) << lone;
}

// ---- a recordings folder ------------------------------------------------------------

// The relative links (href, src) of a page, percent-escapes undone.
std::vector<std::string> localLinks(const std::string &page) {
  static const std::regex kLink("(?:href|src)=\"([^\"#]+)\"");
  std::vector<std::string> out;
  for (std::sregex_iterator it(page.begin(), page.end(), kLink), end; it != end; ++it) {
    std::string link = (*it)[1], plain;
    if (link.starts_with("http")) continue;
    for (size_t i = 0; i < link.size(); ++i)
      if (link[i] == '%' && i + 2 < link.size()) {
        plain += static_cast<char>(std::stoi(link.substr(i + 1, 2), nullptr, 16));
        i += 2;
      } else {
        plain += link[i];
      }
    out.push_back(plain);
  }
  return out;
}

TEST(ExportFolder, a_cards_root_gives_an_overview_of_its_trips_and_every_link_of_every_page_works) {
  Exporter ex;
  // A, its rear unit's recording named a second later, B a minute after A (one trip), and
  // C parked half an hour later (a trip of its own).
  const std::string a = "20240507-143519_EVT_D_F", a_rear = "20240507-143520_EVT_D_R",
                    b = "20240507-143619_NOR_D_F", c = "20240507-151500_MOT_P_R";
  ex.put(a + ".gps", trackgen::trackFile(trackgen::drive(50), a + ".gps"));
  ex.put(a + ".gsf", gsfBytes({{0, 1, 2, 3, 0}, {250, 4, 5, 6, 0}}));
  ex.put(a + ".mp4", "video");
  ex.put(a_rear + ".gsf", gsfBytes({{0, 1, 2, 3, 0}}));
  ex.put(a_rear + ".mp4", "video");
  ex.put(b + ".gps", trackgen::trackFile(trackgen::drive(20), b + ".gps", "20240507143619"));
  ex.put(c + ".gsf", gsfBytes({{0, 1, 2, 3, 0}}));
  ex.put("._" + a + ".gps", "another computer's companion file");
  std::string root = fs::path(ex.card).parent_path();
  Ran r = ex.run({"-o", ex.out, root});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find(root + " is a card: reading its recordings in " + ex.card),
            std::string::npos)
      << r.err;

  std::string index = ex.output("index.html");
  EXPECT_EQ(count(index, "<tbody class=\"trip\""), 2);
  for (const auto &stem : {a, a_rear, b, c})
    EXPECT_EQ(count(index, "href=\"" + stem + ".html\""), 1) << stem;
  size_t row = index.rfind("<tr", index.find(a + ".html"));
  EXPECT_NE(index.substr(row, index.find("</tr>", row) - row).find(a_rear + ".html"),
            std::string::npos)
      << "front and rear of one moment share a row";
  EXPECT_NE(index.find("2024-05-07 14:35:19 +02:00"), std::string::npos) << "start with its zone";

  for (const auto &page : {std::string("index"), a, a_rear, b, c}) {
    std::string html = ex.output(page + ".html");
    ASSERT_FALSE(html.empty()) << page;
    for (const auto &link : localLinks(html))
      EXPECT_TRUE(fs::exists(ex.out + "/" + link)) << page << ": " << link;
    if (haveTool("xmllint")) {
      int status = -1;
      // Written as polyglot markup: well-formed XML as well as HTML5.
      EXPECT_EQ(shell("xmllint --noout " + ex.out + "/" + page + ".html", &status), "");
    }
  }
  std::string front_page = ex.output(a + ".html");
  EXPECT_NE(front_page.find("id=\"rear\""), std::string::npos) << "the rear video beside";
  EXPECT_FALSE(ex.has(c + ".gpx"));
}

// ---- files cut short by a kill ------------------------------------------------------

TEST(ExportKilled, a_track_cut_at_a_block_boundary_keeps_every_whole_line_and_says_what_was_cut) {
  Exporter ex;
  auto epochs = trackgen::drive(80);
  std::string whole = trackgen::trackFile(epochs, std::string(kStem) + ".gps");
  std::string cut = whole.substr(0, 512 * 7);  // kv_navlink writes 512-byte blocks
  ASSERT_NE(cut.back(), '\n');
  ex.put(std::string(kStem) + ".gps", cut);
  Ran r = ex.exportCard();
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("last line cut short"), std::string::npos) << r.err;
  // Every whole RMC line with fix is a point.
  std::string kept = cut.substr(0, cut.rfind('\n') + 1);
  int rmc_fixes = count(kept, ",A,");
  EXPECT_EQ(gpxPoints(ex.output(std::string(kStem) + ".gpx")).size(),
            static_cast<size_t>(rmc_fixes));
}

// kv_shocklog in a simulated board: kv_server holds 20 samples of the last 5 s, the
// recording starts 5 s back, and the recorder is stopped with SIGINT after 1.2 s or, when
// `kill_at_bytes` is given, killed once its file has grown that far.
gsf::File recordWithShocklog(Exporter &ex, size_t kill_at_bytes = 0) {
  Sandbox &board = ex.board;
  board.write(KV_NODE_BATTERY_LEVEL, "3700000\n");
  board.write(KV_NODE_GSENSOR_DATA, kvsim::sensorToken({1000, 5, -7, 4242, 0}) + "\n");
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  int64_t now = static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
  std::string history;
  for (int i = 0; i < 20; ++i)  // 250 ms apart, up to now: all after the start tick
    history += kvsim::serverItemLine(now - 4750 + 250 * i, kvsim::motionSample(i), 3600) + "\n";
  board.write(kvsim::kGSensorFeed, history);
  board.startServer("kv_server");
  std::string stem = ex.card + "/" + kStem;
  pid_t pid = board.start({"kv_shocklog", stem, "0", std::to_string(now - 5000), "0", "600000"});
  if (kill_at_bytes) {
    std::error_code ec;
    EXPECT_TRUE(Sandbox::waitUntil(
        [&] { return fs::file_size(stem + ".gsf", ec) >= kill_at_bytes && !ec; }, 15000ms));
    board.kill(pid);
  } else {
    std::this_thread::sleep_for(1200ms);
    board.signal(pid, SIGINT);
    EXPECT_NE(board.wait(pid, 5000ms), -1);
  }
  auto f = gsf::read(stem + ".gsf");
  EXPECT_TRUE(f.has_value());
  return f.value_or(gsf::File{});
}

void expectCsvMatches(const Exporter &ex, const gsf::File &f) {
  auto rows = csvRows(ex.output(std::string(kStem) + ".gsensor.csv"));
  ASSERT_EQ(rows.size(), f.records.size());
  for (size_t i = 0; i < rows.size(); ++i) {
    const auto &rec = f.records[i];
    ASSERT_EQ(rows[i].size(), 5u) << "row " << i;
    EXPECT_EQ(msOf(rows[i][0]), rec.time) << "row " << i;
    EXPECT_EQ(rows[i][1], std::to_string(rec.axis1)) << "row " << i;
    EXPECT_EQ(rows[i][2], std::to_string(rec.axis2)) << "row " << i;
    EXPECT_EQ(rows[i][3], std::to_string(rec.axis3)) << "row " << i;
    bool from_history = rec.reserved == kvsim::kServerItemMark;
    EXPECT_EQ(rows[i][4], from_history ? "1" : "0") << "row " << i;
  }
}

TEST(ExportKilled, a_closed_g_sensor_file_gives_every_record_with_kv_servers_history_as_pre_event) {
  Exporter ex;
  gsf::File f = recordWithShocklog(ex);
  ASSERT_TRUE(f.complete());
  ASSERT_GE(f.records.size(), 21u);
  Ran r = ex.exportCard();
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  expectCsvMatches(ex, f);
}

TEST(ExportKilled, a_killed_g_sensor_file_gives_its_whole_records_and_says_one_was_cut) {
  Exporter ex;
  // Three 512-byte blocks hold the 524-byte header, the 20 records of kv_server's history
  // and 11 own ones, and end 20 bytes into the next record.
  gsf::File f = recordWithShocklog(ex, 3 * 512);
  ASSERT_FALSE(f.end_marker);
  ASSERT_GT(f.cut_bytes, 0u) << "the kill left whole records only; the test needs a cut";
  Ran r = ex.exportCard();
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("last record cut short"), std::string::npos) << r.err;
  expectCsvMatches(ex, f);
}

// ---- bad input and the command line -------------------------------------------------

TEST(ExportBadInput, is_refused_with_its_name_and_reason_and_leaves_no_output_file) {
  struct Case {
    const char *name;
    std::string bytes;
    const char *reason;
  } cases[] = {
      {"20240507-143519_EVT_D_F.gps", "<html>not a track</html>\n", "not a GPS track file"},
      {"20240507-143519_EVT_D_F.gsf", std::string(600, 'x'), "not a G-sensor data file"},
      {"20240507-143519_EVT_D_F.gsf", gsfBytes({}, true, 40), "record size is not 32"},
      {"20240507-143519_EVT_D_F.txt", "notes", "not a recording's .gps, .gsf or .mp4 file"},
      {"", "", "No such file or directory"},
  };
  for (const auto &c : cases) {
    Exporter ex;
    std::string path = *c.name ? ex.put(c.name, c.bytes) : ex.card + "/missing.gps";
    Ran r = ex.run({"-o", ex.out, path});
    EXPECT_EQ(r.status, 1) << path;
    EXPECT_NE(r.err.find(path + ": "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
    for (const auto &name : ex.outputs())  // the pages, which tell what was wrong
      EXPECT_TRUE(name.ends_with(".html") || name == "viewer" || name == "leaflet")
          << path << " left " << name;
  }
}

TEST(ExportBadInput, a_damaged_line_is_reported_and_the_rest_still_exported_with_status_1) {
  Exporter ex;
  auto epochs = trackgen::drive(30);
  std::string file = trackgen::trackFile(epochs, "x.gps");
  file.insert(file.find("\n", 100) + 1, "900:$GPRMC,garbled*00\n");
  ex.put(std::string(kStem) + ".gps", file);
  Ran r = ex.exportCard();
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("1 damaged line skipped"), std::string::npos) << r.err;
  EXPECT_EQ(gpxPoints(ex.output(std::string(kStem) + ".gpx")).size(), fixes(epochs).size());
}

TEST(ExportCommandLine, help_says_where_outputs_go_and_a_wrong_line_writes_nothing) {
  Exporter ex;
  Ran help = ex.run({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("-o, --output FOLDER"), std::string::npos) << help.out;
  EXPECT_NE(help.out.find("./exported"), std::string::npos) << help.out;
  std::string track =
      ex.put(std::string(kStem) + ".gps", trackgen::trackFile(trackgen::drive(5), "x.gps"));
  for (const std::vector<std::string> &args : {std::vector<std::string>{"-o", ex.out},
                                               {"--only", "kml", "-o", ex.out, track},
                                               {"--frobnicate", "-o", ex.out, track},
                                               {track, "-o"}}) {
    Ran r = ex.run(args);
    EXPECT_EQ(r.status, 2) << args.back();
    EXPECT_NE(r.err, "") << args.back();
    EXPECT_FALSE(fs::exists(ex.out)) << args.back();
  }
  Ran only = ex.run({"--only", "gpx,svg", "-o", ex.out, track});
  EXPECT_EQ(only.status, 0) << only.err;
  auto names = ex.outputs();
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names,
            (std::vector<std::string>{std::string(kStem) + ".gpx", std::string(kStem) + ".svg"}));
}

TEST(ExportInterrupted, a_stopped_run_leaves_whole_files_and_no_temporary_one) {
  Exporter ex;
  ex.put(std::string(kStem) + ".gps", trackgen::trackFile(trackgen::drive(18000), "x.gps"));
  pid_t pid = ex.board.start({"kv_export", "-o", ex.out, ex.card});
  // Stop it once it has written its first file, while it writes the others.
  Sandbox::waitUntil([&] { return !ex.outputs().empty(); }, 20000ms);
  ex.board.signal(pid, SIGTERM);
  ASSERT_NE(ex.board.wait(pid, 20000ms), -1);
  for (const auto &name : ex.outputs()) {
    EXPECT_FALSE(name.starts_with(".kv_export-")) << "temporary file left: " << name;
    if (name.ends_with(".gpx")) {
      EXPECT_TRUE(ex.output(name).ends_with("</gpx>\n")) << name << " is not whole";
    }
  }
}

TEST(ExportOutput, an_output_folder_that_cannot_be_made_is_a_clear_error) {
  Exporter ex;
  std::string track =
      ex.put(std::string(kStem) + ".gps", trackgen::trackFile(trackgen::drive(5), "x.gps"));
  std::ofstream(ex.out) << "a file where the folder should be";
  Ran r = ex.run({"-o", ex.out, track});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("cannot make the output folder " + ex.out), std::string::npos) << r.err;
}

}  // namespace
