// SPDX-License-Identifier: MIT
#include "gps_reader.hpp"

#include <charconv>

#include "kv_nmea.h"

namespace kvformat {
namespace {

bool allDigits(std::string_view s) {
  return !s.empty() && s.find_first_not_of("0123456789") == std::string_view::npos;
}

bool isHeader(std::string_view line) { return line.size() == 14 && allDigits(line); }

// "<offset>:<sentence>", the offset of at most 15 digits with an optional '-'.
GpsLine sentenceLine(std::string_view text, size_t line_no) {
  GpsLine l{GpsLine::kDamaged, line_no, text};
  size_t colon = text.find(':');
  std::string_view offset = text.substr(0, colon);
  std::string_view digits = offset.starts_with('-') ? offset.substr(1) : offset;
  if (colon == std::string_view::npos || digits.size() > 15 || !allDigits(digits) ||
      std::from_chars(offset.data(), offset.data() + offset.size(), l.offset_ms).ec !=
          std::errc()) {
    l.why = "not \"<offset>:<sentence>\"";
    return l;
  }
  l.kind = GpsLine::kSentence;
  l.text = text.substr(colon + 1);
  l.checksum_ok = l.text.starts_with('$') && kv_nmea_check(l.text.data(), l.text.size());
  return l;
}

}  // namespace

bool readGps(std::string_view bytes, GpsFile &f, std::string &error) {
  f = GpsFile{};
  if (bytes.empty()) {
    f.empty = true;
    return true;
  }
  size_t first_end = bytes.find('\n');
  std::string_view first = bytes.substr(0, first_end);
  // The writer's first block holds the whole header, so only a start time cut short
  // after a few digits can be the writer's.
  if (first_end == std::string_view::npos ? !allDigits(first) || first.size() > 14
                                          : !isHeader(first)) {
    error = "not a GPS track file (the first line is not a 14-digit start time)";
    return false;
  }
  bool name_next = false;
  size_t at = 0, line_no = 0;
  while (at < bytes.size()) {
    size_t end = bytes.find('\n', at);
    if (end == std::string_view::npos) {
      f.cut = true;
      f.cut_bytes = bytes.size() - at;
      break;
    }
    std::string_view text = bytes.substr(at, end - at);
    at = end + 1;
    ++line_no;
    if (isHeader(text)) {
      f.lines.push_back({GpsLine::kHeader, line_no, text});
      ++f.headers;
      name_next = true;
    } else if (name_next) {
      f.lines.push_back({GpsLine::kName, line_no, text});
      name_next = false;
    } else {
      f.lines.push_back(sentenceLine(text, line_no));
    }
  }
  return true;
}

}  // namespace kvformat
