// SPDX-License-Identifier: MIT
// What the demo reads out of a recording's files to tell whether they hold what it
// promised: the ".gps" track kv_navlink wrote and the ".gsf" data file kv_shocklog wrote,
// each read by the one reader of its format (formats/), not through kv_export, whose
// outputs the demo checks against them.
#pragma once

#include <stdint.h>

#include <string>

namespace kvdemo {

struct TrackFacts {
  bool readable = false;    // header of 14 digits and the file's name, then offset lines
  std::string start_local;  // the header's 14 digits
  std::string own_name;
  size_t lines = 0;       // sentence lines
  size_t fixes = 0;       // "$GPRMC" lines with status A
  size_t no_fix = 0;      // "$GPRMC" lines with status V
  size_t before = 0;      // lines stamped before `trigger_ms`
  int64_t first_ms = -1;  // offset of the first and last line
  int64_t last_ms = -1;
  bool ends_whole = false;  // the last line ends with LF
};
TrackFacts readTrack(const std::string &path, int64_t trigger_ms);

struct GSensorFacts {
  bool readable = false;  // magic, record size 32
  bool closed = false;    // end marker present and the count equals the records
  int32_t count = 0;      // the header's record count
  size_t records = 0;
  size_t from_history = 0;  // records that carry kv_server's mark (the seconds before)
  int64_t first_ms = -1, last_ms = -1;
  int64_t last_history_ms = -1;
  int32_t min_x = 0;  // strongest pull backwards on x (baseline removed), and when
  int64_t min_x_ms = -1;
};
GSensorFacts readGSensor(const std::string &path);

// "2024-05-07 14:35:19" for a header's 14 digits.
std::string readableTime(const std::string &digits);

}  // namespace kvdemo
