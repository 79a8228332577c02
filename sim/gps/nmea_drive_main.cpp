// SPDX-License-Identifier: MIT
// nmea_drive: writes a generated NMEA capture of a drive to standard output.
//
//   nmea_drive [--rate 1|5] [--seconds N] [--start YYYY-MM-DDThh:mm:ss|now]
//              [--tunnel FROM-TO]... [--no-fix FROM-TO]... [--rollover] [--seed N]
//
// --rate 1: RMC, VTG, GGA, GSA and three GSV each second; --rate 5: RMC, VTG and GGA five
// times a second, GSA and GSV once. --start is the first fix in UTC (default
// 2024-05-07T12:35:19). --tunnel: no sentences from FROM to TO seconds; --no-fix: status
// "V" meanwhile; --rollover: dates 1024 weeks early, as a receiver that missed the 2019
// rollover reports them. The first line says how the capture was made. Status 2 on a bad
// argument.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <string>

#include "nmea_drive.h"

namespace {

bool parseSpan(const char *text, kvsim::Span &span) {
  return sscanf(text, "%d-%d", &span.from, &span.to) == 2 && span.from <= span.to;
}

bool parseStart(const char *text, time_t &out) {
  if (strcmp(text, "now") == 0) {
    out = time(nullptr);
    return true;
  }
  int y, mo, d, h, mi, s;
  if (sscanf(text, "%d-%d-%dT%d:%d:%d", &y, &mo, &d, &h, &mi, &s) != 6) return false;
  out = kvsim::utcSeconds(y, mo, d, h, mi, s);
  return true;
}

bool parse(int argc, char **argv, kvsim::DriveOptions &o) {
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    const char *value = i + 1 < argc ? argv[i + 1] : nullptr;
    kvsim::Span span;
    if (a == "--rollover") {
      o.rollover = true;
      continue;
    }
    if (!value) return false;
    ++i;
    if (a == "--rate")
      o.rate_hz = atoi(value);
    else if (a == "--seconds")
      o.seconds = atoi(value);
    else if (a == "--seed")
      o.seed = static_cast<unsigned>(strtoul(value, nullptr, 10));
    else if (a == "--start") {
      if (!parseStart(value, o.start_utc)) return false;
    } else if (a == "--tunnel" && parseSpan(value, span))
      o.tunnels.push_back(span);
    else if (a == "--no-fix" && parseSpan(value, span))
      o.no_fix.push_back(span);
    else
      return false;
  }
  return (o.rate_hz == 1 || o.rate_hz == 5) && o.seconds > 0;
}

}  // namespace

int main(int argc, char **argv) {
  kvsim::DriveOptions o;
  if (!parse(argc, argv, o)) {
    fprintf(stderr,
            "usage: nmea_drive [--rate 1|5] [--seconds N] [--start YYYY-MM-DDThh:mm:ss|now]"
            " [--tunnel A-B] [--no-fix A-B] [--rollover] [--seed N]\n");
    return 2;
  }
  std::string how = kvsim::describe(o) + " (sim/nmea_drive: a generated drive, not a recording)";
  fputs(kvsim::captureText(kvsim::generateDrive(o), how).c_str(), stdout);
  return 0;
}
