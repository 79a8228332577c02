// Reads a G-sensor data file (".gsf") as a person checking a recording would: header,
// records, end marker. A file whose writer was killed has no end marker and a count of 0;
// its whole records are still taken, a cut-off last one is not.
//
// The layout is decoded here byte by byte, independently of the writer's structures, so
// a wrong field offset in the writer shows up as a wrong value.
#pragma once

#include <stdint.h>
#include <string.h>

#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace gsf {

inline constexpr size_t kHeaderSize = 524;
inline constexpr size_t kRecordSize = 32;
inline constexpr uint32_t kMagic = 0xA10000A1u;
inline constexpr uint32_t kEndMarker = 0xA1FFFFA1u;

struct Record {
  int64_t time;  // ms since the start tick
  int32_t axis1, axis2, axis3, reserved, sensor4, battery;
};

struct File {
  size_t size = 0;
  uint32_t magic = 0;
  int32_t record_size = 0;
  int32_t count = 0;      // as stored in the header
  std::string date_time;  // the 14 digits
  std::string name;       // after "//"
  bool text_zero_filled = false;
  bool end_marker = false;
  size_t trailing_bytes = 0;  // bytes after the last whole record (cut file), or 0
  std::vector<Record> records;

  // Closed properly: end marker right after the records and the count matching them.
  bool complete() const {
    return end_marker && count >= 0 && static_cast<size_t>(count) == records.size() &&
           size == kHeaderSize + kRecordSize * records.size() + 4;
  }
};

template <typename T>
T load(const std::string &bytes, size_t at) {
  T v;
  memcpy(&v, bytes.data() + at, sizeof v);
  return v;
}

inline Record parseRecord(const std::string &bytes, size_t at) {
  Record r;
  r.time = load<int64_t>(bytes, at);
  r.axis1 = load<int32_t>(bytes, at + 8);
  r.axis2 = load<int32_t>(bytes, at + 12);
  r.axis3 = load<int32_t>(bytes, at + 16);
  r.reserved = load<int32_t>(bytes, at + 20);
  r.sensor4 = load<int32_t>(bytes, at + 24);
  r.battery = load<int32_t>(bytes, at + 28);
  return r;
}

// Parses the bytes of a data file; nothing when even the header is incomplete.
inline std::optional<File> parse(const std::string &bytes) {
  if (bytes.size() < kHeaderSize) return std::nullopt;
  File f;
  f.size = bytes.size();
  f.magic = load<uint32_t>(bytes, 0);
  f.record_size = load<int32_t>(bytes, 4);
  f.count = load<int32_t>(bytes, 8);
  std::string text(bytes.data() + 12, 512);
  size_t end = text.find('\0');
  std::string shown = text.substr(0, end);
  f.text_zero_filled =
      end != std::string::npos && text.find_first_not_of('\0', end) == std::string::npos;
  f.date_time = shown.substr(0, 14);
  if (shown.size() >= 16 && shown.compare(14, 2, "//") == 0) f.name = shown.substr(16);

  size_t body = bytes.size() - kHeaderSize;
  // A whole file ends in the marker right after its last record.
  if (body >= 4 && (body - 4) % kRecordSize == 0 &&
      load<uint32_t>(bytes, bytes.size() - 4) == kEndMarker) {
    f.end_marker = true;
    body -= 4;
  } else {
    f.trailing_bytes = body % kRecordSize;
  }
  for (size_t at = kHeaderSize; at + kRecordSize <= kHeaderSize + body; at += kRecordSize)
    f.records.push_back(parseRecord(bytes, at));
  return f;
}

inline std::optional<File> read(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return parse(bytes);
}

}  // namespace gsf
