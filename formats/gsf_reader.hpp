// SPDX-License-Identifier: MIT
// The one reader of ".gsf" G-sensor data files (layout: gsf_layout.h), for kv_export, the
// demo and the tests. It takes a file cut anywhere: a header cut short, a partial last
// record, no end marker, and a record count that lags behind the records.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <string_view>
#include <vector>

#include "gsf_layout.h"

namespace kvformat {

// One record as stored, decoded field by field.
struct GsfRecord {
  int64_t time;  // ms since the recording's start tick
  int32_t axis1, axis2, axis3, reserved, sensor4, battery;
};

// How the header's record count stands to the records found.
enum class GsfCount {
  kMatches,  // the count is the number of records
  kStale,    // records follow beyond the count (0 included): the writer stored it
             // earlier, or not yet, and was cut off before storing it again
  kTooHigh,  // the count names more records than there are: records are missing
};

struct GsfFile {
  size_t size = 0;
  uint32_t magic = 0;
  int32_t record_size = 0;
  int32_t count = 0;              // as stored in the header
  bool header_cut = false;        // the file ends inside the 524-byte header: no records
  std::string date_time;          // the text's first 14 characters
  std::string name;               // after "//"
  bool text_zero_filled = false;  // the text is NUL-ended and zero after that
  bool end_marker = false;
  size_t cut_bytes = 0;  // bytes of a partial record at the end
  std::vector<GsfRecord> records;
  GsfCount count_state = GsfCount::kMatches;

  // Closed properly: header, records, end marker, and the count matching the records.
  bool complete() const { return !header_cut && end_marker && count_state == GsfCount::kMatches; }
};

// Reads the bytes of a data file. False, with `error` saying why, when they are not a
// G-sensor data file at all (an empty file is one: no header reached the card, and
// `header_cut` says so).
bool readGsf(std::string_view bytes, GsfFile &file, std::string &error);

}  // namespace kvformat
