// SPDX-License-Identifier: MIT
#include "text_out.hpp"

#include <stdarg.h>
#include <stdio.h>

#include <charconv>

#include "kv_nmea.h"

namespace kv_export {
namespace {

bool allDigits(std::string_view s) {
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return !s.empty();
}

int num(std::string_view s, size_t at, size_t n) {
  int v = 0;
  for (size_t i = at; i < at + n; ++i) v = v * 10 + (s[i] - '0');
  return v;
}

// Length of the valid UTF-8 sequence at the start of `s`, or 0 when it is not one
// (a stray continuation byte, an overlong form, a surrogate, a sequence cut short).
size_t utf8Length(std::string_view s) {
  unsigned char c = static_cast<unsigned char>(s[0]);
  if (c < 0x80) return 1;
  size_t n = c >= 0xC2 && c <= 0xDF ? 2 : (c & 0xF0) == 0xE0 ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
  if (n == 0 || s.size() < n) return 0;
  unsigned cp = c & (0x7F >> n);
  for (size_t k = 1; k < n; ++k) {
    unsigned char d = static_cast<unsigned char>(s[k]);
    if ((d & 0xC0) != 0x80) return 0;
    cp = cp << 6 | (d & 0x3F);
  }
  bool overlong = (n == 3 && cp < 0x800) || (n == 4 && cp < 0x10000);
  if (overlong || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return n;
}

// Calls `plain(byte)` for each ASCII byte and appends whole UTF-8 sequences as they are;
// a byte that is not part of one becomes '?': XML and JSON are UTF-8, and a name copied
// from a card by another computer may be Latin-1.
template <class Plain>
std::string escapedUtf8(std::string_view text, Plain plain) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    size_t n = utf8Length(text.substr(i));
    if (n == 1)
      plain(out, static_cast<unsigned char>(text[i]));
    else if (n > 1)
      out.append(text.substr(i, n));
    else
      out += '?';
    i += n ? n : 1;
  }
  return out;
}

}  // namespace

void appendf(std::string &out, const char *format, ...) {
  char small[256];
  va_list args;
  va_start(args, format);
  int n = vsnprintf(small, sizeof small, format, args);
  va_end(args);
  if (n < 0) return;
  if (static_cast<size_t>(n) < sizeof small) {
    out.append(small, static_cast<size_t>(n));
    return;
  }
  size_t at = out.size();
  out.resize(at + static_cast<size_t>(n) + 1);
  va_start(args, format);
  vsnprintf(out.data() + at, static_cast<size_t>(n) + 1, format, args);
  va_end(args);
  out.resize(at + static_cast<size_t>(n));
}

void appendDigits(std::string &out, uint64_t value, int width) {
  char buf[24];
  int n = 0;
  do {
    buf[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value && n < 20);
  while (n < width && n < 20) buf[n++] = '0';
  while (n) out += buf[--n];
}

void appendInt(std::string &out, int64_t value) {
  if (value < 0) out += '-';
  appendDigits(out, value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value));
}

void appendFixed(std::string &out, double value, int decimals) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
  if (r.ec == std::errc())
    out.append(buf, r.ptr);
  else
    appendf(out, "%.*f", decimals, value);  // far beyond any coordinate or speed
}

std::string xmlText(std::string_view text) {
  return escapedUtf8(text, [](std::string &out, unsigned char c) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      default:
        out += (c < 0x20 && c != '\t' && c != '\n' && c != '\r') ? '?' : static_cast<char>(c);
    }
  });
}

std::string jsonText(std::string_view text) {
  return escapedUtf8(text, [](std::string &out, unsigned char c) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      appendf(out, "\\u%04x", c);
    } else {
      out += static_cast<char>(c);
    }
  });
}

std::string csvCell(std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

std::string href(std::string_view path) {
  std::string out;
  for (unsigned char c : path) {
    bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                 c == '-' || c == '_' || c == '.' || c == '~' || c == '/';
    if (plain)
      out += static_cast<char>(c);
    else
      appendf(out, "%%%02X", c);
  }
  return out;
}

int64_t utcMs(int year, int month, int day, int hour, int minute, int second, int ms) {
  int64_t days = kv_nmea_days_from_civil(year, month, day);
  return ((days * 24 + hour) * 60 + minute) * 60000 + second * 1000 + ms;
}

std::string utcText(int64_t utc_ms) {
  int64_t days = utc_ms >= 0 ? utc_ms / 86400000 : -((-utc_ms + 86399999) / 86400000);
  int64_t in_day = utc_ms - days * 86400000;
  int64_t y;
  int m, d;
  kv_nmea_civil_from_days(days, &y, &m, &d);
  std::string out;
  out.reserve(24);
  auto two = [&](int64_t v, char after) {
    appendDigits(out, static_cast<uint64_t>(v), 2);
    out += after;
  };
  if (y < 0 || y > 9999) {  // far outside any receiver's dates: printf tells it as it is
    appendf(out, "%04lld-", static_cast<long long>(y));
  } else {
    appendDigits(out, static_cast<uint64_t>(y), 4);
    out += '-';
  }
  two(m, '-');
  two(d, 'T');
  two(in_day / 3600000, ':');
  two(in_day / 60000 % 60, ':');
  two(in_day / 1000 % 60, '.');
  appendDigits(out, static_cast<uint64_t>(in_day % 1000), 3);
  out += 'Z';
  return out;
}

std::string headerTimeText(std::string_view digits) {
  if (digits.size() != 14 || !allDigits(digits)) return std::string(digits);
  std::string out;
  appendf(out, "%.4s-%.2s-%.2s %.2s:%.2s:%.2s", digits.data(), digits.data() + 4, digits.data() + 6,
          digits.data() + 8, digits.data() + 10, digits.data() + 12);
  return out;
}

int64_t headerSecondsBetween(std::string_view a, std::string_view b) {
  auto seconds = [](std::string_view s) {
    return utcMs(num(s, 0, 4), num(s, 4, 2), num(s, 6, 2), num(s, 8, 2), num(s, 10, 2),
                 num(s, 12, 2), 0) /
           1000;
  };
  if (a.size() != 14 || b.size() != 14 || !allDigits(a) || !allDigits(b)) return 0;
  return seconds(b) - seconds(a);
}

}  // namespace kv_export
