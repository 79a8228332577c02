// SPDX-License-Identifier: MIT
/* The NMEA 0183 rules that the daemon, the exporter and the simulated receiver share:
 * the checksum, the intake's gate, cutting a sentence into fields and reading the
 * fields the recorder uses (time, date, angle, number), and civil dates.
 *
 * Dependency-free and allocation-free: every function reads the bytes it is given and
 * writes only into what the caller passes. Text is never assumed NUL-terminated; lengths
 * are explicit. Usable from C (C99) and C++.
 *
 *   kv_nmea_field f[KV_NMEA_MAX_FIELDS];
 *   if (kv_nmea_accepted(line, len)) {
 *     size_t n = kv_nmea_split(line, len, f, KV_NMEA_MAX_FIELDS);
 *     kv_nmea_time t;
 *     if (n > 1 && kv_nmea_read_time(f[1], &t)) ...
 *   }
 */
#ifndef KV_NMEA_H
#define KV_NMEA_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The longest line the receiving end takes (its readers' 1024-byte line buffers). */
#define KV_NMEA_MAX_LINE 1023
/* The receiving end keeps the checksum text in a 20-byte field: at most 19 characters. */
#define KV_NMEA_MAX_CHECKSUM_TEXT 19
/* Fields kv_nmea_split stores at most: RMC has 13, GGA 15, GSV up to 20. */
#define KV_NMEA_MAX_FIELDS 24

/* A piece of a sentence: `len` bytes at `text`, not NUL-terminated. */
typedef struct {
  const char *text;
  size_t len;
} kv_nmea_field;

typedef struct {
  int hour, minute, second; /* second may be 60 (a leap second) */
  int ms;                   /* from the first three digits of the fraction; 0 without one */
} kv_nmea_time;

typedef struct {
  int year, month, day;
} kv_nmea_date;

/* XOR of the first `len` bytes of `line`, skipping every '$' and stopping before the
 * first '*'. */
unsigned kv_nmea_xor(const char *line, size_t len);

/* The checksum rule: the line holds a '*'; the text after its last '*' is 1 to
 * KV_NMEA_MAX_CHECKSUM_TEXT hexadecimal digits (either case) whose value is
 * kv_nmea_xor(line, len). */
bool kv_nmea_check(const char *line, size_t len);

/* The receiving end's gate for a line without CR LF: longer than 3 characters, at most
 * KV_NMEA_MAX_LINE, begins with "$GP" (other talkers are dropped) and passes the
 * checksum rule. */
bool kv_nmea_accepted(const char *line, size_t len);

/* Writes "$" body "*" and the two upper-case hex digits of the XOR of the body into
 * `out`, NUL-terminated. Returns the sentence's length, or 0 (and writes nothing) when it
 * does not fit in `size` bytes. */
size_t kv_nmea_sentence(const char *body, size_t len, char *out, size_t size);

/* Cuts a sentence into fields. A field ends at ',', '*', CR or LF, so the checksum after
 * '*' is a field only when another separator follows it; the text after the last
 * separator is never a field. Field 0 is the address ("$GPRMC"). Stores at most `max`
 * fields and returns how many it stored; the fields it did not store stay as they were. */
size_t kv_nmea_split(const char *line, size_t len, kv_nmea_field *fields, size_t max);

/* True when the field's text is exactly the NUL-terminated `text`. */
bool kv_nmea_field_is(kv_nmea_field field, const char *text);

/* "hhmmss", "hhmmss." or "hhmmss.f..." with hour 0-23, minute 0-59, second 0-60. */
bool kv_nmea_read_time(kv_nmea_field field, kv_nmea_time *out);

/* "ddmmyy": a real day of 2000 + yy (the recorder's receivers date from this century). */
bool kv_nmea_read_date(kv_nmea_field field, kv_nmea_date *out);

/* "ddmm.mmmm" (or "dddmm.mmmm") and its hemisphere field "N", "S", "E" or "W", as signed
 * degrees of at most `max_degrees` (90 for latitude, 180 for longitude). */
bool kv_nmea_read_degrees(kv_nmea_field value, kv_nmea_field hemisphere, int max_degrees,
                          double *out);

/* A plain decimal number ("-12.5", "0.9"): no exponent, no "inf" or "nan". */
bool kv_nmea_read_decimal(kv_nmea_field field, double *out);

/* A decimal integer that fits an int. */
bool kv_nmea_read_int(kv_nmea_field field, int *out);

/* Days since 1970-01-01 of a proleptic Gregorian date, and back. */
int64_t kv_nmea_days_from_civil(int64_t year, int month, int day);
void kv_nmea_civil_from_days(int64_t days, int64_t *year, int *month, int *day);
/* 28 to 31; 0 for a month outside 1-12. */
int kv_nmea_days_in_month(int64_t year, int month);

#ifdef __cplusplus
}
#endif

#endif /* KV_NMEA_H */
