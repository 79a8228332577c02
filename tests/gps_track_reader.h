// Reads a GPS track file (".gps") as the recorder's players do and says whether it holds
// what a track may hold: the 14-digit start time, the file's name, then "<ms>:<sentence>"
// lines ended by LF. A file cut off by a power loss or a killed writer may end in a
// partial line: it is reported (complete false) and left out of `lines`.
#pragma once

#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <string>
#include <vector>

#include "nmea_drive.h"

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

inline bool digitsOnly(const std::string &s) {
  return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos;
}

inline Track parse(const std::string &text) {
  Track t;
  t.complete = !text.empty() && text.back() == '\n';
  std::vector<std::string> rows;
  size_t start = 0;
  for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
    rows.push_back(text.substr(start, nl - start));
  t.valid = true;
  t.checksums_ok = true;
  for (size_t i = 0; i < rows.size(); ++i) {
    const std::string &r = rows[i];
    bool ok;
    if (i == 0) {
      ok = r.size() == 14 && digitsOnly(r);
      t.date_time = r;
    } else if (i == 1) {
      ok = !r.empty() && r.find('/') == std::string::npos;
      t.name = r;
    } else {
      size_t colon = r.find(':');
      std::string number = colon == std::string::npos ? "" : r.substr(0, colon);
      bool negative = !number.empty() && number[0] == '-';
      ok = digitsOnly(negative ? number.substr(1) : number) && colon + 1 < r.size() &&
           r[colon + 1] == '$';
      if (ok) {
        t.lines.push_back({strtoll(number.c_str(), nullptr, 10), r.substr(colon + 1)});
        if (!kvsim::nmeaAccepted(t.lines.back().sentence)) t.checksums_ok = false;
      }
    }
    if (!ok && t.valid) {
      t.valid = false;
      t.bad_line = r;
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
