// SPDX-License-Identifier: MIT
#include "kv_nmea.h"

#include <limits.h>
#include <math.h>
#include <stdlib.h>
#include <string.h>

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool allDigits(const char *p, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (!isDigit(p[i])) return false;
  return true;
}

// Two decimal digits at `p` (the caller has checked them).
int twoDigits(const char *p) { return (p[0] - '0') * 10 + (p[1] - '0'); }

int hexValue(char c) {
  if (isDigit(c)) return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool isSeparator(char c) { return c == ',' || c == '*' || c == '\n' || c == '\r'; }

const char *lastStar(const char *line, size_t len) {
  for (size_t i = len; i > 0; --i)
    if (line[i - 1] == '*') return line + i - 1;
  return nullptr;
}

// "[-]digits[.digits]" with at least one digit: the numbers receivers print.
bool plainDecimal(const char *p, size_t n) {
  size_t i = p[0] == '-' ? 1 : 0, digits = 0;
  bool point = false;
  for (; i < n; ++i) {
    if (isDigit(p[i]))
      ++digits;
    else if (p[i] == '.' && !point)
      point = true;
    else
      return false;
  }
  return digits > 0;
}

}  // namespace

extern "C" {

unsigned kv_nmea_xor(const char *line, size_t len) {
  unsigned sum = 0;
  for (size_t i = 0; i < len && line[i] != '*'; ++i)
    if (line[i] != '$') sum ^= static_cast<unsigned char>(line[i]);
  return sum;
}

bool kv_nmea_check(const char *line, size_t len) {
  const char *star = lastStar(line, len);
  if (!star) return false;
  const char *text = star + 1;
  size_t text_len = static_cast<size_t>(line + len - text);
  if (text_len == 0 || text_len > KV_NMEA_MAX_CHECKSUM_TEXT) return false;
  unsigned value = 0;
  for (size_t i = 0; i < text_len; ++i) {
    int digit = hexValue(text[i]);
    if (digit < 0) return false;
    // A value past 255 can never match; keep reading for a non-hex character.
    value = value > 0xFF ? value : value * 16 + static_cast<unsigned>(digit);
  }
  return value == kv_nmea_xor(line, len);
}

bool kv_nmea_accepted(const char *line, size_t len) {
  return len > 3 && len <= KV_NMEA_MAX_LINE && memcmp(line, "$GP", 3) == 0 &&
         kv_nmea_check(line, len);
}

size_t kv_nmea_sentence(const char *body, size_t len, char *out, size_t size) {
  static const char kHex[] = "0123456789ABCDEF";
  size_t total = len + 4;  // '$', body, '*', two digits
  if (size <= total) return 0;
  unsigned sum = 0;
  for (size_t i = 0; i < len; ++i) sum ^= static_cast<unsigned char>(body[i]);
  out[0] = '$';
  memcpy(out + 1, body, len);
  out[len + 1] = '*';
  out[len + 2] = kHex[(sum >> 4) & 0xF];
  out[len + 3] = kHex[sum & 0xF];
  out[total] = '\0';
  return total;
}

size_t kv_nmea_split(const char *line, size_t len, kv_nmea_field *fields, size_t max) {
  size_t n = 0, start = 0;
  for (size_t i = 0; i < len && n < max; ++i) {
    if (!isSeparator(line[i])) continue;
    fields[n++] = kv_nmea_field{line + start, i - start};
    start = i + 1;
  }
  return n;
}

bool kv_nmea_field_is(kv_nmea_field field, const char *text) {
  return strlen(text) == field.len && memcmp(field.text, text, field.len) == 0;
}

bool kv_nmea_read_time(kv_nmea_field f, kv_nmea_time *out) {
  if (f.len < 6 || !allDigits(f.text, 6)) return false;
  if (f.len > 6 && (f.text[6] != '.' || !allDigits(f.text + 7, f.len - 7))) return false;
  kv_nmea_time t = {twoDigits(f.text), twoDigits(f.text + 2), twoDigits(f.text + 4), 0};
  if (t.hour > 23 || t.minute > 59 || t.second > 60) return false;
  for (size_t i = 7; i < 10; ++i) t.ms = t.ms * 10 + (i < f.len ? f.text[i] - '0' : 0);
  *out = t;
  return true;
}

bool kv_nmea_read_date(kv_nmea_field f, kv_nmea_date *out) {
  if (f.len != 6 || !allDigits(f.text, 6)) return false;
  kv_nmea_date d = {2000 + twoDigits(f.text + 4), twoDigits(f.text + 2), twoDigits(f.text)};
  if (d.day < 1 || d.day > kv_nmea_days_in_month(d.year, d.month)) return false;
  *out = d;
  return true;
}

bool kv_nmea_read_degrees(kv_nmea_field value, kv_nmea_field hemisphere, int max_degrees,
                          double *out) {
  const char *dot = static_cast<const char *>(memchr(value.text, '.', value.len));
  size_t whole = dot ? static_cast<size_t>(dot - value.text) : value.len;
  if (whole < 3 || whole > 5 || !allDigits(value.text, whole)) return false;
  int degrees = 0;
  for (size_t i = 0; i + 2 < whole; ++i) degrees = degrees * 10 + (value.text[i] - '0');
  double minutes = 0;
  if (!kv_nmea_read_decimal({value.text + whole - 2, value.len - (whole - 2)}, &minutes))
    return false;
  if (minutes >= 60 || degrees > max_degrees) return false;
  double result = degrees + minutes / 60.0;
  if (result > max_degrees) return false;
  bool south_or_west = kv_nmea_field_is(hemisphere, "S") || kv_nmea_field_is(hemisphere, "W");
  if (!south_or_west && !kv_nmea_field_is(hemisphere, "N") && !kv_nmea_field_is(hemisphere, "E"))
    return false;
  *out = south_or_west ? -result : result;
  return true;
}

bool kv_nmea_read_decimal(kv_nmea_field f, double *out) {
  if (f.len == 0 || f.len > KV_NMEA_MAX_LINE || !plainDecimal(f.text, f.len)) return false;
  // strtod rounds correctly; it needs a terminated copy, bounded by the longest line.
  char copy[KV_NMEA_MAX_LINE + 1];
  memcpy(copy, f.text, f.len);
  copy[f.len] = '\0';
  double value = strtod(copy, nullptr);
  if (!isfinite(value)) return false;  // more digits than a double holds
  *out = value;
  return true;
}

bool kv_nmea_read_int(kv_nmea_field f, int *out) {
  size_t i = f.len > 0 && f.text[0] == '-' ? 1 : 0;
  if (i == f.len || !allDigits(f.text + i, f.len - i)) return false;
  long long value = 0;
  for (; i < f.len; ++i) {
    value = value * 10 + (f.text[i] - '0');
    if (value > static_cast<long long>(INT_MAX) + 1) return false;
  }
  if (f.text[0] == '-') value = -value;
  if (value > INT_MAX || value < INT_MIN) return false;
  *out = static_cast<int>(value);
  return true;
}

// H. Hinnant's algorithms, exact over the whole range of the proleptic calendar.
int64_t kv_nmea_days_from_civil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void kv_nmea_civil_from_days(int64_t z, int64_t *year, int *month, int *day) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  *day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  *month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  *year = yoe + era * 400 + (*month <= 2);
}

int kv_nmea_days_in_month(int64_t year, int month) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

}  // extern "C"
