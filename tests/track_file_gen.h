// SPDX-License-Identifier: MIT
// A small generator of GPS track files in the recorder's format, for the exporter's tests
// and benchmark: a header (the start's local time as 14 digits, the file's own name), then
// "<ms since the start>:<sentence>\n" for an RMC and a GGA per fix epoch, as a receiver
// sends them at 5 Hz. A drive through a town: a start, a stop at lights, a faster stretch
// and a tunnel without fix.
//
// Each epoch keeps the position as its sentences print it (minutes to four decimals), so
// a test compares what a reader found with what the file says, not with the exporter.
#pragma once

#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <time.h>

#include <string>
#include <vector>

#include "nmea_drive.h"

namespace trackgen {

struct Epoch {
  int64_t offset_ms;  // since the recording's start tick
  int64_t utc_ms;     // UTC time of the fix, ms since 1970
  bool fix;
  double lat, lon;  // degrees, as printed in the sentences
  double knots, course;
  double alt_m;
  int sats;
  double hdop;
};

using kvsim::withChecksum;

// "ddmm.mmmm,N" (or dddmm.mmmm for longitude) and the degrees that text stands for.
inline std::string angle(double deg, bool longitude, double *printed) {
  double a = fabs(deg);
  int d = static_cast<int>(a);
  long ten_thousandths = lround((a - d) * 60 * 10000);
  if (ten_thousandths == 600000) ++d, ten_thousandths = 0;
  char text[64];
  snprintf(text, sizeof text, longitude ? "%03d%02ld.%04ld,%c" : "%02d%02ld.%04ld,%c", d,
           ten_thousandths / 10000, ten_thousandths % 10000,
           longitude ? (deg < 0 ? 'W' : 'E') : (deg < 0 ? 'S' : 'N'));
  if (printed) *printed = (d + ten_thousandths / 600000.0) * (deg < 0 ? -1 : 1);
  return text;
}

inline void utcFields(int64_t utc_ms, char (&time)[48], char (&date)[48]) {
  time_t s = static_cast<time_t>(utc_ms / 1000);
  struct tm tm;
  gmtime_r(&s, &tm);
  snprintf(time, sizeof time, "%02d%02d%02d.%03d", tm.tm_hour, tm.tm_min, tm.tm_sec,
           static_cast<int>(utc_ms % 1000));
  snprintf(date, sizeof date, "%02d%02d%02d", tm.tm_mday, tm.tm_mon + 1, tm.tm_year % 100);
}

inline std::string rmc(const Epoch &e) {
  char time[48], date[48], rest[96];
  utcFields(e.utc_ms, time, date);
  if (!e.fix) return withChecksum(std::string("GPRMC,") + time + ",V,,,,,,," + date + ",,,N");
  snprintf(rest, sizeof rest, ",%.1f,%.1f,%s,,,A", e.knots, e.course, date);
  return withChecksum(std::string("GPRMC,") + time + ",A," + angle(e.lat, false, nullptr) + "," +
                      angle(e.lon, true, nullptr) + rest);
}

inline std::string gga(const Epoch &e) {
  char time[48], date[48], rest[96];
  utcFields(e.utc_ms, time, date);
  if (!e.fix) return withChecksum(std::string("GPGGA,") + time + ",,,,,0,00,99.9,,M,,M,,");
  snprintf(rest, sizeof rest, ",1,%02d,%.1f,%.1f,M,46.9,M,,", e.sats, e.hdop, e.alt_m);
  return withChecksum(std::string("GPGGA,") + time + "," + angle(e.lat, false, nullptr) + "," +
                      angle(e.lon, true, nullptr) + rest);
}

// `n` epochs every `period_ms`, from a start in Munich on 7 May 2024, 12:35:19 UTC.
// Speed in km/h by phase: pulling away, a stop at lights, town, a faster stretch with a
// tunnel (no fix) in its middle, slowing down.
inline std::vector<Epoch> drive(int n, int period_ms = 200, int64_t first_offset_ms = 120) {
  std::vector<Epoch> out;
  double lat = kvsim::kDriveStart.lat, lon = kvsim::kDriveStart.lon,
         course = kvsim::kDriveStart.course;
  const int64_t start_utc = static_cast<int64_t>(kvsim::kDriveStart.utc) * 1000;
  for (int i = 0; i < n; ++i) {
    double f = static_cast<double>(i) / n;  // how far through the drive
    double kmh = f < 0.1    ? 500 * f
                 : f < 0.15 ? 0
                 : f < 0.45 ? 48
                 : f < 0.85 ? 95
                            : 95 * (1 - f) * 6;
    course = fmod(course + (f < 0.45 ? 0.35 : 0.05) + 360, 360);
    double metres = kmh / 3.6 * period_ms / 1000;
    lat += metres * cos(course * M_PI / 180) / 110540.0;
    lon += metres * sin(course * M_PI / 180) / (111320.0 * cos(lat * M_PI / 180));
    Epoch e;
    e.offset_ms = first_offset_ms + static_cast<int64_t>(i) * period_ms;
    e.utc_ms = start_utc + static_cast<int64_t>(i) * period_ms;
    e.fix = !(f > 0.6 && f < 0.65);  // the tunnel
    angle(lat, false, &e.lat);
    angle(lon, true, &e.lon);
    e.knots = round(kmh / 1.852 * 10) / 10;
    e.course = round(course * 10) / 10;
    e.alt_m = round((520 + 30 * sin(f * 6)) * 10) / 10;
    e.sats = 7 + i % 3;
    e.hdop = 0.9;
    out.push_back(e);
  }
  return out;
}

inline std::string header(const std::string &start14, const std::string &own_name) {
  return start14 + "\n" + own_name + "\n";
}

// The sentence lines of the epochs, RMC then GGA (or GGA first) at the epoch's offset.
inline std::string lines(const std::vector<Epoch> &epochs, bool gga_first = false) {
  std::string out;
  for (const Epoch &e : epochs) {
    std::string at = std::to_string(e.offset_ms) + ":";
    out += at + (gga_first ? gga(e) : rmc(e)) + "\n";
    out += at + (gga_first ? rmc(e) : gga(e)) + "\n";
  }
  return out;
}

inline std::string trackFile(const std::vector<Epoch> &epochs, const std::string &own_name,
                             const std::string &start14 = "20240507143519") {
  return header(start14, own_name) + lines(epochs);
}

}  // namespace trackgen
