// SPDX-License-Identifier: MIT
// The time_t of a local wall-clock time, for tests that fix "now".
#pragma once

#include <time.h>

inline time_t localTime(int year, int month, int day, int hour, int minute, int second) {
  struct tm tm = {};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  tm.tm_isdst = -1;  // the zone's daylight saving for that date
  return mktime(&tm);
}
