// SPDX-License-Identifier: MIT
// Time helpers of the recorder: time stamp texts, local date and time to seconds, and
// setting the system clock (through the board root) and then the hardware clock.
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/time.h>
#include <time.h>

#include <mutex>

#include "board_root.h"
#include "kv_common_util.h"

namespace {

struct tm localNow(time_t offset = 0) {
  time_t t = time(nullptr) + offset;
  struct tm tm = {};
  localtime_r(&t, &tm);
  return tm;
}

// The system's clamps: a year up to 1900 is 1900, a month below 1 is January.
void setDate(struct tm &tm, int year, int month, int day) {
  tm.tm_year = (year <= 1900 ? 1900 : year) - 1900;
  tm.tm_mon = month <= 0 ? 0 : month - 1;
  tm.tm_mday = day;
}

void setTimeOfDay(struct tm &tm, int hour, int min, int sec) {
  tm.tm_hour = hour;
  tm.tm_min = min;
  tm.tm_sec = sec;
}

// Local time to seconds; daylight saving as the zone has it on that date. With TZ unset,
// every mktime() replaces the C library's saved zone name; the library serialises that
// with a lock of its own, which the thread checker does not see, so threads of one
// program (kv_navlink's GPS reader and message thread) are also serialised here.
time_t toSeconds(struct tm tm) {
  static std::mutex zone;
  std::lock_guard<std::mutex> hold(zone);
  tm.tm_isdst = -1;
  return mktime(&tm);
}

// Sets the system clock to `t` (plus `extra` seconds), then writes the hardware clock in UTC.
int setClock(time_t t, int extra) {
  if (t == static_cast<time_t>(-1)) return -1;
  struct timespec ts = {t + extra, 0};
  if (kv_set_clock(&ts) != 0) return -1;
  kv::shellf("hwclock -uw\n");
  return 0;
}

// Room the callers give the two time texts: 19 and 14 characters and the terminator.
constexpr size_t kTimeStringSize = 20;
constexpr size_t kGSensorTimeSize = 15;

int copyBounded(char *out, const char *text, size_t size) {
  size_t n = strnlen(text, size - 1);
  memcpy(out, text, n);
  out[n] = '\0';
  return static_cast<int>(n);
}

}  // namespace

extern "C" {

void GetCurrentTimeString(char *strDateTime) {
  if (!strDateTime) return;
  struct tm tm = localNow();
  char text[64];
  snprintf(text, sizeof text, "%04d-%02d-%02d:%02d-%02d-%02d", tm.tm_year + 1900, tm.tm_mon + 1,
           tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
  copyBounded(strDateTime, text, kTimeStringSize);
}

int GetDateTimeGSensorFormat(char *strDateTime, int seconds) {
  if (!strDateTime) return -1;
  struct tm tm = localNow(seconds);
  char text[64];
  snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d", tm.tm_year + 1900, tm.tm_mon + 1,
           tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
  return copyBounded(strDateTime, text, kGSensorTimeSize);
}

long MakeCurrentDateTime(void) { return static_cast<long>(toSeconds(localNow())); }

long MakeSystemDateTime(int year, int month, int day, int hour, int min, int sec) {
  struct tm tm = {};
  setDate(tm, year, month, day);
  setTimeOfDay(tm, hour, min, sec);
  return static_cast<long>(toSeconds(tm));
}

int SetSystemDateTime(int year, int month, int day, int hour, int min, int sec) {
  struct tm tm = {};
  setDate(tm, year, month, day);
  setTimeOfDay(tm, hour, min, sec);
  // One second ahead: the time was read from a source that is already past it.
  return setClock(toSeconds(tm), 1);
}

int SetSysTime(int hour, int min, int sec) {
  struct tm tm = localNow();
  setTimeOfDay(tm, hour, min, sec);
  return setClock(toSeconds(tm), 1);
}

int SetSysDate(int year, int month, int day) {
  struct tm tm = localNow();
  setDate(tm, year, month, day);
  return setClock(toSeconds(tm), 0);
}

long long GetCurrentTimeMillis(void) {
  struct timeval tv;
  gettimeofday(&tv, nullptr);
  return static_cast<long long>(tv.tv_sec) * 1000 + tv.tv_usec / 1000;
}

}  // extern "C"

namespace kv {

void sleep_ms(int ms) {
  if (ms <= 0) return;
  struct timespec ts = {ms / 1000, static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

int64_t tick_ms() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

bool sleep_until_tick(int64_t deadline) {
  struct timespec at = {static_cast<time_t>(deadline / 1000),
                        static_cast<long>(deadline % 1000) * 1000000L};
  return clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) != EINTR;
}

}  // namespace kv
