// SPDX-License-Identifier: MIT
// The tests' view of a GPS track file (".gps"), through the one reader of the format:
// whether it holds what a track may hold (the 14-digit start time, the file's name, then
// "<ms>:<sentence>" lines ended by LF). A file cut off by a power loss or a killed writer
// may end in a partial line: it is reported (complete false) and left out of `lines`.
#pragma once

#include <stdlib.h>
#include <time.h>

#include <string>
#include <vector>

#include "gps_reader.hpp"

namespace gpstrack {

struct Line {
  long long offset;
  std::string sentence;
};

struct Track {
  bool valid = false;         // every complete line has its form
  bool complete = false;      // the text ends with LF
  bool checksums_ok = false;  // every sentence passes the NMEA checksum
  std::string date_time, name;
  std::vector<Line> lines;
  std::string bad_line;  // the first line without its form
};

inline Track parse(const std::string &text) {
  Track t;
  kvformat::GpsFile file;
  std::string error;
  if (!kvformat::readGps(text, file, error)) {
    t.bad_line = text.substr(0, text.find('\n'));
    return t;
  }
  t.complete = !file.empty && !file.cut;
  t.valid = t.checksums_ok = true;
  for (const kvformat::GpsLine &l : file.lines) {
    bool ok = true;
    if (l.kind == kvformat::GpsLine::kHeader && t.date_time.empty()) {
      t.date_time = std::string(l.text);
    } else if (l.kind == kvformat::GpsLine::kName) {
      if (t.name.empty()) t.name = std::string(l.text);
      ok = !l.text.empty() && l.text.find('/') == std::string::npos;
    } else if (l.kind == kvformat::GpsLine::kSentence) {
      ok = l.text.starts_with('$');
      if (ok) t.lines.push_back({l.offset_ms, std::string(l.text)});
      t.checksums_ok = t.checksums_ok && l.checksum_ok;
    } else {
      ok = l.kind != kvformat::GpsLine::kDamaged;
    }
    if (!ok && t.valid) {
      t.valid = false;
      t.bad_line = std::string(l.text);
    }
  }
  return t;
}

// Seconds between a header's "YYYYMMDDhhmmss" (local time) and `reference`.
inline double secondsFrom(const std::string &digits, time_t reference) {
  struct tm tm = {};
  if (digits.size() != 14 || !strptime(digits.c_str(), "%Y%m%d%H%M%S", &tm)) return 1e9;
  tm.tm_isdst = -1;
  return difftime(mktime(&tm), reference);
}

}  // namespace gpstrack
