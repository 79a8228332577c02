// SPDX-License-Identifier: MIT
#include "gsf_reader.hpp"

#include <string.h>

#include <algorithm>

namespace kvformat {
namespace {

template <typename T>
T load(std::string_view bytes, size_t at) {
  T v;
  memcpy(&v, bytes.data() + at, sizeof v);  // the file is little-endian, as this host
  return v;
}

// The text block, as far as it reached the card.
void readText(std::string_view bytes, GsfFile &f) {
  std::string_view text = bytes.substr(kGsfTextAt, kGsfTextSize);
  size_t end = text.find('\0');
  f.text_zero_filled = end != std::string_view::npos &&
                       text.find_first_not_of('\0', end) == std::string_view::npos &&
                       text.size() == kGsfTextSize;
  text = text.substr(0, end);
  f.date_time = std::string(text.substr(0, 14));
  if (text.size() >= 16 && text.substr(14, 2) == "//") f.name = std::string(text.substr(16));
}

GsfRecord readRecord(std::string_view bytes, size_t at) {
  return {load<int64_t>(bytes, at + kGsfTimeAt),     load<int32_t>(bytes, at + kGsfAxis1At),
          load<int32_t>(bytes, at + kGsfAxis2At),    load<int32_t>(bytes, at + kGsfAxis3At),
          load<int32_t>(bytes, at + kGsfReservedAt), load<int32_t>(bytes, at + kGsfSensor4At),
          load<int32_t>(bytes, at + kGsfBatteryAt)};
}

// A closed file ends in the marker right after its last record.
bool endsInMarker(std::string_view bytes, size_t body) {
  return body >= kGsfEndMarkerSize && (body - kGsfEndMarkerSize) % kGsfRecordSize == 0 &&
         load<uint32_t>(bytes, bytes.size() - kGsfEndMarkerSize) == kGsfEndMarker;
}

GsfCount countState(int32_t count, size_t records) {
  if (count >= 0 && static_cast<size_t>(count) == records) return GsfCount::kMatches;
  if (count >= 0 && static_cast<size_t>(count) < records) return GsfCount::kStale;
  return GsfCount::kTooHigh;
}

}  // namespace

bool readGsf(std::string_view bytes, GsfFile &f, std::string &error) {
  f = GsfFile{};
  f.size = bytes.size();
  if (bytes.empty()) {
    f.header_cut = true;
    return true;
  }
  // A file cut inside its first words is still the writer's when what is there matches.
  static constexpr char kMagicBytes[] = {'\xA1', '\x00', '\x00', '\xA1'};
  if (bytes.substr(0, sizeof kMagicBytes) !=
      std::string_view(kMagicBytes, std::min(bytes.size(), sizeof kMagicBytes))) {
    error = "not a G-sensor data file (no A1 00 00 A1 at its start)";
    return false;
  }
  f.magic = kGsfMagic;
  if (bytes.size() >= kGsfRecordSizeAt + 4) {
    f.record_size = load<int32_t>(bytes, kGsfRecordSizeAt);
    if (f.record_size != static_cast<int32_t>(kGsfRecordSize)) {
      error = "not a G-sensor data file this reader knows (record size is not 32)";
      return false;
    }
  }
  if (bytes.size() >= kGsfCountAt + 4) f.count = load<int32_t>(bytes, kGsfCountAt);
  if (bytes.size() > kGsfTextAt) readText(bytes, f);
  if (bytes.size() < kGsfHeaderSize) {
    f.header_cut = true;
    f.count_state = countState(f.count, 0);
    return true;
  }
  size_t body = bytes.size() - kGsfHeaderSize;
  f.end_marker = endsInMarker(bytes, body);
  if (f.end_marker) body -= kGsfEndMarkerSize;
  f.cut_bytes = body % kGsfRecordSize;
  size_t n = body / kGsfRecordSize;
  f.records.reserve(n);
  for (size_t i = 0; i < n; ++i)
    f.records.push_back(readRecord(bytes, kGsfHeaderSize + i * kGsfRecordSize));
  f.count_state = countState(f.count, n);
  return true;
}

}  // namespace kvformat
