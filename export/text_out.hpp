// SPDX-License-Identifier: MIT
// Small text builders shared by the writers: printf-style appends, escaping for XML,
// JSON and CSV, and the time texts the outputs show.
#pragma once

#include <stdint.h>

#include <string>
#include <string_view>

namespace kv_export {

// Appends printf-formatted text (any length).
void appendf(std::string &out, const char *format, ...) __attribute__((format(printf, 2, 3)));

// Appends `value` in decimal, zero-padded to `width` digits: without printf, which a full
// card's export calls millions of times for times and counts.
void appendDigits(std::string &out, uint64_t value, int width = 1);
void appendInt(std::string &out, int64_t value);

// Appends `value` with exactly `decimals` digits after the point ("%.*f", but without
// printf's multi-precision arithmetic: an hour's track holds 150,000 such numbers).
void appendFixed(std::string &out, double value, int decimals);

// Text for an XML attribute or element ('&', '<', '>', '"', '\'' escaped; control bytes
// that XML 1.0 forbids, and bytes that are not UTF-8, become '?').
std::string xmlText(std::string_view text);
// The inside of a JSON string (bytes that are not UTF-8 become '?').
std::string jsonText(std::string_view text);
// One CSV cell, quoted when it holds a comma, a quote or a line break.
std::string csvCell(std::string_view text);

// A relative link (a file name, or folders and a name joined by '/'), percent-escaped
// wherever a URL needs it.
std::string href(std::string_view path);

// "2024-05-07T12:35:19.200Z" for milliseconds since 1970-01-01 UTC.
std::string utcText(int64_t utc_ms);
// Milliseconds since 1970-01-01 UTC of a calendar date and time (proleptic Gregorian).
int64_t utcMs(int year, int month, int day, int hour, int minute, int second, int ms);
// "2024-05-07 12:35:19" for the 14 digits "20240507123519" of a file header; the text
// as it is when it is not 14 digits.
std::string headerTimeText(std::string_view digits);
// Seconds between two 14-digit header times (b - a); 0 when either is not one.
int64_t headerSecondsBetween(std::string_view a, std::string_view b);

}  // namespace kv_export
