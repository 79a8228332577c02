// SPDX-License-Identifier: MIT
// The one reader of ".gps" GPS track files, for kv_export, the demo and the tests.
//
// A track file is ASCII text, each line ended by LF: a header of two lines (the start
// tick's local time as 14 digits, the file's own name), then one line per sentence,
// "<ms since the start tick>:<sentence as received>". The offset is negative for a
// sentence the writer took before the start tick. A second start on an existing name
// appends another header and its lines.
//
// The reader takes a file cut anywhere (the writers write whole 512-byte blocks, so a
// kill or a power cut leaves a partial last line) and says where it was cut; it hands
// over every line in order, classified, so that each caller keeps its own view of them.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <string_view>
#include <vector>

namespace kvformat {

struct GpsLine {
  enum Kind {
    kHeader,    // 14 digits: a track starts (again); `text` holds them
    kName,      // the line after a header: the file's own name
    kSentence,  // "<offset>:<sentence>"; `text` is the sentence
    kDamaged,   // none of these forms; `text` is the whole line, `why` says what is wrong
  };
  Kind kind;
  size_t line_no;  // 1-based
  std::string_view text;
  int64_t offset_ms = 0;      // kSentence
  bool checksum_ok = false;   // kSentence: begins with '$' and passes the NMEA checksum
  const char *why = nullptr;  // kDamaged
};

struct GpsFile {
  std::vector<GpsLine> lines;  // every line ended by LF, in order
  size_t headers = 0;
  bool cut = false;      // the text does not end with LF: its last line is partial
  size_t cut_bytes = 0;  // bytes of that partial line (left out of `lines`)
  bool empty = false;    // no byte reached the card
};

// Reads the text of a track file; the lines point into `bytes`, which must outlive
// `file`. False, with `error` saying why, when it is not a track file at all (its first
// line is not a start time, or not the beginning of one cut short).
bool readGps(std::string_view bytes, GpsFile &file, std::string &error);

}  // namespace kvformat
