// SPDX-License-Identifier: MIT
#include "nmea_drive.h"

#include <math.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>

#include <fstream>
#include <random>
#include <sstream>

#include "kv_nmea.h"

namespace kvsim {
namespace {

constexpr double kKnotKmh = 1.852;
constexpr int64_t kDayMs = 86400000;
constexpr int kRolloverDays = 7168;

// The speed profile, repeated: seconds, speed at the end (km/h). A segment ending at 0
// after one at 0 is standing still.
struct Segment {
  int seconds;
  double end_kmh;
};
constexpr Segment kProfile[] = {
    {6, 0},   {8, 45},  {12, 50}, {5, 12}, {4, 0}, {6, 0},
    {10, 80}, {15, 85}, {8, 30},  {6, 30}, {4, 0},
};

// Speed (km/h) at `t` seconds, and a turn counter that changes at every segment.
double profileSpeed(double t, int &segment_index) {
  double cycle = 0;
  for (const Segment &s : kProfile) cycle += s.seconds;
  double in = fmod(t, cycle);
  double start_kmh = kProfile[sizeof kProfile / sizeof kProfile[0] - 1].end_kmh;
  int index = 0;
  for (const Segment &s : kProfile) {
    if (in < s.seconds) {
      segment_index = static_cast<int>(t / cycle) * 100 + index;
      return start_kmh + (s.end_kmh - start_kmh) * in / s.seconds;
    }
    in -= s.seconds;
    start_kmh = s.end_kmh;
    ++index;
  }
  return 0;
}

bool inside(const std::vector<Span> &spans, double t) {
  for (const Span &s : spans)
    if (t >= s.from && t < s.to) return true;
  return false;
}

std::string format(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char *fmt, ...) {
  char buf[512];
  va_list ap;
  va_start(ap, fmt);
  vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  return buf;
}

std::string angle(double value, int degree_digits) {
  double a = fabs(value);
  int deg = static_cast<int>(a);
  double minutes = (a - deg) * 60.0;
  return format("%0*d%07.4f", degree_digits, deg, minutes);
}

struct Fix {
  std::string time, date;  // hhmmss.sss, ddmmyy
  bool valid;
  double lat, lon, kmh, course;
};

void addFix(std::vector<Sentence> &out, int64_t at, const Fix &f, bool full_second) {
  auto add = [&](const std::string &body) { out.push_back({at, withChecksum(body)}); };
  std::string lat = angle(f.lat, 2), lon = angle(f.lon, 3);
  if (f.valid) {
    add(format("GPRMC,%s,A,%s,N,%s,E,%.1f,%.1f,%s,,,A", f.time.c_str(), lat.c_str(), lon.c_str(),
               f.kmh / kKnotKmh, f.course, f.date.c_str()));
    add(format("GPVTG,%.1f,T,,M,%.1f,N,%.1f,K,A", f.course, f.kmh / kKnotKmh, f.kmh));
    add(format("GPGGA,%s,%s,N,%s,E,1,08,0.9,545.4,M,46.9,M,,", f.time.c_str(), lat.c_str(),
               lon.c_str()));
  } else {
    add(format("GPRMC,%s,V,,,,,,,%s,,,N", f.time.c_str(), f.date.c_str()));
    add("GPVTG,,T,,M,,N,,K,N");
    add(format("GPGGA,%s,,,,,0,00,99.9,,M,,M,,", f.time.c_str()));
  }
  if (!full_second) return;
  add(f.valid ? "GPGSA,A,3,04,05,09,12,17,24,,,,,,,1.8,0.9,1.5"
              : "GPGSA,A,1,,,,,,,,,,,,,99.9,99.9,99.9");
  add("GPGSV,3,1,11,04,62,281,42,05,14,043,35,09,33,143,40,12,56,094,44");
  add("GPGSV,3,2,11,17,41,312,38,24,22,201,33,25,08,165,,29,03,330,");
  add("GPGSV,3,3,11,31,12,062,22,02,05,244,,06,01,010,");
}

// ms of the day of a "hhmmss.sss" field, or -1.
int64_t fixTimeMs(std::string_view field) {
  kv_nmea_time t;
  if (!kv_nmea_read_time({field.data(), field.size()}, &t)) return -1;
  return (t.hour * 3600 + t.minute * 60 + t.second) * 1000LL + t.ms;
}

// The fix time of a "$GPRMC"/"$GPGGA" line (any talker), or -1.
int64_t lineFixTime(std::string_view line) {
  if (line.size() < 7 || line[0] != '$') return -1;
  std::string_view type = line.substr(3, 3);
  if (type != "RMC" && type != "GGA") return -1;
  size_t comma = line.find(',');
  if (comma == std::string_view::npos) return -1;
  size_t end = line.find_first_of(",*", comma + 1);
  return fixTimeMs(line.substr(
      comma + 1, end == std::string_view::npos ? std::string_view::npos : end - comma - 1));
}

}  // namespace

time_t utcSeconds(int year, int month, int day, int hour, int minute, int second) {
  int64_t days = kv_nmea_days_from_civil(year, month, day);
  return static_cast<time_t>(((days * 24 + hour) * 60 + minute) * 60 + second);
}

std::string withChecksum(std::string_view body) {
  std::string line(body.size() + 5, '\0');
  line.resize(kv_nmea_sentence(body.data(), body.size(), line.data(), line.size()));
  return line;
}

std::vector<Sentence> generateDrive(const DriveOptions &o) {
  std::vector<Sentence> out;
  std::mt19937 rng(o.seed);
  std::uniform_real_distribution<double> jitter(0.0, 2.6);
  int rate = o.rate_hz == 5 ? 5 : 1;
  double lat = kDriveStart.lat, lon = kDriveStart.lon, course = kDriveStart.course;
  int last_segment = -1;
  for (int k = 0; k < o.seconds * rate; ++k) {
    int64_t at = k * 1000LL / rate;
    double t = at / 1000.0;
    int segment = 0;
    double kmh = profileSpeed(t, segment);
    if (kmh < 1.0) kmh = jitter(rng);  // a standing receiver's speed wanders
    if (segment != last_segment) {
      course = fmod(course + (segment % 2 ? 35.0 : -20.0) + 360.0, 360.0);
      last_segment = segment;
    }
    double metres = kmh / 3.6 / rate;
    lat += metres * cos(course * M_PI / 180.0) / 111320.0;
    lon += metres * sin(course * M_PI / 180.0) / (111320.0 * cos(lat * M_PI / 180.0));
    if (inside(o.tunnels, t)) continue;
    time_t now = o.start_utc + static_cast<time_t>(at / 1000);
    time_t dated = o.rollover ? now - static_cast<time_t>(kRolloverDays) * 86400 : now;
    struct tm tm_now, tm_date;
    gmtime_r(&now, &tm_now);
    gmtime_r(&dated, &tm_date);
    Fix f;
    f.time = format("%02d%02d%02d.%03d", tm_now.tm_hour, tm_now.tm_min, tm_now.tm_sec,
                    static_cast<int>(at % 1000));
    f.date = format("%02d%02d%02d", tm_date.tm_mday, tm_date.tm_mon + 1, tm_date.tm_year % 100);
    f.valid = !inside(o.no_fix, t);
    f.lat = lat;
    f.lon = lon;
    f.kmh = kmh;
    f.course = course;
    addFix(out, at, f, k % rate == 0);
  }
  return out;
}

std::string describe(const DriveOptions &o) {
  struct tm tm;
  gmtime_r(&o.start_utc, &tm);
  std::string text = format(
      "nmea_drive --rate %d --seconds %d --start %04d-%02d-%02dT%02d:%02d:%02d", o.rate_hz,
      o.seconds, tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
  for (const Span &s : o.tunnels) text += format(" --tunnel %d-%d", s.from, s.to);
  for (const Span &s : o.no_fix) text += format(" --no-fix %d-%d", s.from, s.to);
  if (o.rollover) text += " --rollover";
  text += format(" --seed %u", o.seed);
  return text;
}

std::string captureText(const std::vector<Sentence> &sentences, const std::string &how_made) {
  std::string text = "# " + how_made + "\n";
  for (const Sentence &s : sentences) text += s.text + "\n";
  return text;
}

std::vector<Sentence> parseCapture(std::string_view text) {
  std::vector<Sentence> out;
  int64_t first = -1, last = -1, day = 0, now = 0;
  size_t start = 0;
  while (start < text.size()) {
    size_t nl = text.find('\n', start);
    if (nl == std::string_view::npos) nl = text.size();
    std::string_view line = text.substr(start, nl - start);
    start = nl + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line[0] == '#') continue;
    int64_t fix = lineFixTime(line);
    if (fix >= 0) {
      if (last >= 0 && fix + kDayMs / 2 < last) day += kDayMs;  // past midnight
      last = fix;
      if (first < 0) first = fix + day;
      now = fix + day - first;
    }
    out.push_back({now, std::string(line)});
  }
  return out;
}

std::vector<Sentence> readCapture(const std::string &file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return {};
  std::stringstream ss;
  ss << in.rdbuf();
  return parseCapture(ss.str());
}

}  // namespace kvsim
