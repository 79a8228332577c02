// SPDX-License-Identifier: MIT
// What the exporter reads out of one recording's ".gps" and ".gsf" files, and what it
// noticed while reading them. Both files count time from the same moment, the recording's
// start tick, so their offsets share one time axis.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

namespace kv_export {

// How a file was read. A file cut short by a kill is normal (the writers flush in 512-byte
// blocks); a damaged one (bad checksum, garbage, a count that contradicts the records)
// makes the run end with status 1, though everything readable is still exported.
struct ReadReport {
  bool cut = false;          // the last line or record was incomplete and is skipped
  size_t cut_bytes = 0;      // how many bytes it had
  size_t damaged = 0;        // lines or records skipped as damaged
  size_t first_damaged = 0;  // 1-based line number (or record index) of the first
  std::string first_reason;
  std::vector<std::string> notices;  // other facts worth telling (a header cut short ...)

  void damage(size_t where, const char *reason) {
    if (damaged++ == 0) {
      first_damaged = where;
      first_reason = reason;
    }
  }
};

// One position with a fix, from a "$GPRMC" sentence and, when the receiver sent one for
// the same second, its "$GPGGA".
struct TrackPoint {
  int64_t offset_ms = 0;  // since the recording's start tick
  double lat = 0, lon = 0;
  bool has_utc = false;
  int64_t utc_ms = 0;  // milliseconds since 1970-01-01 UTC, from the RMC date and time
  double speed_mps = 0;
  bool has_course = false;
  double course_deg = 0;
  // From GGA, where present.
  bool has_gga = false;
  int quality = -1;  // GGA fix quality, -1 when absent
  int sats = -1;
  double hdop = -1;
  bool has_ele = false;
  double ele_m = 0;
  bool has_geoid = false;
  double geoid_m = 0;
};

// A stretch of time without a fix (status "V", or a new header of an appended file).
struct Gap {
  int64_t from_ms, to_ms;
};

struct Track {
  std::string start_local;  // the header's 14 digits, local time of the start tick
  std::string own_name;     // the header's second line
  std::vector<std::vector<TrackPoint>> segments;  // one per stretch with fix
  std::vector<Gap> no_fix;
  int64_t end_ms = 0;  // offset of the last line read
  size_t lines = 0;    // sentence lines read
  int sessions = 0;    // headers met: an existing file is appended to, not replaced
  ReadReport report;

  size_t points() const {
    size_t n = 0;
    for (const auto &s : segments) n += s.size();
    return n;
  }
};

// One G-sensor record: time since the start tick and the three axes as stored (the
// recorder has removed the mean of the four samples before each one).
struct GSample {
  int64_t time_ms;
  int32_t x, y, z;
  int32_t reserved;
};

struct GSensorData {
  std::string start_local;  // 14 digits
  std::string own_name;
  int32_t stored_count = 0;
  bool end_marker = false;
  std::vector<GSample> samples;
  // Records taken over from kv_server's history (the seconds before the recording was
  // started) come first in the file; this many of them were recognised as such.
  size_t pre_event = 0;
  ReadReport report;
};

}  // namespace kv_export
