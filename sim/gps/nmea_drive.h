// SPDX-License-Identifier: MIT
// Drives for the simulated GPS receiver: generated NMEA captures, reading them back with
// their timing, and the receiving end's verdict on a line.
//
// A capture is plain NMEA as a receiver sends it, one sentence a line, with '#' comment
// lines on top saying how it was made (gpsd's tools read the same files). Its timing is
// the receiver's own: every sentence belongs to the fix whose time ("$GPRMC"/"$GPGGA"
// field 1) came last, so a tunnel shows as a gap between two fix times.
//
//   kvsim::DriveOptions o;
//   o.rate_hz = 5;                          // RMC, GGA and VTG 5 times a second
//   o.seconds = 30;
//   o.start_utc = kvsim::utcSeconds(2024, 5, 7, 12, 35, 19);
//   o.tunnels = {{10, 14}};                 // no sentences at all from 10 s to 14 s
//   o.no_fix = {{20, 23}};                  // status "V" from 20 s to 23 s
//   o.rollover = true;                      // dates 1024 weeks early, as old receivers do
//   std::string text = kvsim::captureText(kvsim::generateDrive(o), kvsim::describe(o));
//   std::vector<kvsim::Sentence> back = kvsim::parseCapture(text);
//
// The program nmea_drive (nmea_drive_main.cpp) writes the same captures to standard output.
#pragma once

#include <stdint.h>
#include <time.h>

#include <string>
#include <string_view>
#include <vector>

namespace kvsim {

// A sentence of a capture: when it is sent (ms after the first fix) and its text, without
// CR LF.
struct Sentence {
  int64_t at_ms = 0;
  std::string text;
};

// [from, to) seconds after the start.
struct Span {
  int from = 0, to = 0;
};

// Where and when every generated drive starts: near Munich, heading east, on
// 2024-05-07 at 12:35:19 UTC.
struct DriveStart {
  double lat, lon, course;  // degrees
  time_t utc;
};
inline constexpr DriveStart kDriveStart = {48.1173, 11.5167, 84.4, 1715085319};

struct DriveOptions {
  int rate_hz = 1;  // 1: every sentence type each second; 5: RMC, GGA, VTG five times
  int seconds = 60;
  time_t start_utc = kDriveStart.utc;
  bool rollover = false;      // dates 7168 days (1024 GPS weeks) early
  std::vector<Span> tunnels;  // no sentences
  std::vector<Span> no_fix;   // status "V", no position, no speed
  unsigned seed = 1;          // the jitter of a standing vehicle's speed
};

// The drive: per fix RMC, VTG, GGA; once a second GSA and three GSV. The speed follows a
// town-and-road profile (standing with jitter, accelerating, cruising, stopping at lights,
// a faster stretch), the position a route with turns near Munich.
std::vector<Sentence> generateDrive(const DriveOptions &options);
// The options as the command line that makes the same capture ("nmea_drive --rate 5 ...").
std::string describe(const DriveOptions &options);
// A capture file's text: a '#' header line, then one sentence a line (LF).
std::string captureText(const std::vector<Sentence> &sentences, const std::string &how_made);
// Sentences of a capture's text, timed by their fixes; comment and empty lines skipped,
// a trailing CR of a line removed.
std::vector<Sentence> parseCapture(std::string_view text);
// The same from a file; empty when it cannot be read.
std::vector<Sentence> readCapture(const std::string &file);

// "$" body "*" and the two upper-case hex digits of the XOR of the body.
std::string withChecksum(std::string_view body);

// Seconds since 1970 of a UTC date and time.
time_t utcSeconds(int year, int month, int day, int hour, int minute, int second);

}  // namespace kvsim
