#include "gsensor_reader.hpp"

#include <string.h>

#include "text_out.hpp"

namespace kv_export {
namespace {

constexpr size_t kHeaderSize = 524;
constexpr size_t kTextAt = 12;
constexpr size_t kTextSize = 512;
constexpr size_t kRecordSize = 32;
constexpr uint32_t kMagic = 0xA10000A1u;
constexpr uint32_t kEndMarker = 0xA1FFFFA1u;
// kv_server hands over at most 50 items of its history; they come first in the file.
constexpr size_t kMaxHistoryItems = 50;

template <typename T>
T load(std::string_view bytes, size_t at) {
  T v;
  memcpy(&v, bytes.data() + at, sizeof v);  // the file is little-endian, as this host
  return v;
}

void readHeaderText(std::string_view bytes, GSensorData &d) {
  std::string_view text = bytes.substr(kTextAt, kTextSize);
  text = text.substr(0, text.find('\0'));
  d.start_local = std::string(text.substr(0, 14));
  size_t slashes = text.find("//");
  if (slashes != std::string_view::npos) d.own_name = std::string(text.substr(slashes + 2));
}

// kv_shocklog writes the history it took over from kv_server ahead of its own samples, but
// the file does not say where one ends: the header's count is of all records, its time is
// the start tick's to the second (not when kv_shocklog started), and every record's time
// counts from the start tick whichever process sampled it. Two traces are exact where
// they occur: the reserved field, which kv_shocklog sets to 0 and kv_server's items carry
// through, drops to 0 at the seam when kv_server marks its items (the sandbox's stand-in
// does); and a writer that keeps the own samples taken while it waited for the history
// steps back in time there, as that history reaches past them. Without either (kv_server
// leaves the field 0 and the writer dropped the overlapping own samples, as this project's
// kv_shocklog does) no pre-event part is marked rather than a guessed one.
size_t preEventRecords(const std::vector<GSample> &s) {
  for (size_t i = 1; i < s.size() && i <= kMaxHistoryItems; ++i)
    if (s[i].time_ms <= s[i - 1].time_ms || (s[i - 1].reserved != 0 && s[i].reserved == 0))
      return i;
  return 0;
}

}  // namespace

bool readGSensor(std::string_view bytes, GSensorData &d, std::string &error) {
  d = GSensorData{};
  if (bytes.empty()) {
    d.report.notices.push_back(
        "empty: the recorder was stopped before the first block reached the card");
    return true;
  }
  if (bytes.size() < kTextAt || load<uint32_t>(bytes, 0) != kMagic) {
    error = "not a G-sensor data file (no A1 00 00 A1 at its start)";
    return false;
  }
  if (load<int32_t>(bytes, 4) != static_cast<int32_t>(kRecordSize)) {
    error = "not a G-sensor data file this exporter knows (record size is not 32)";
    return false;
  }
  d.stored_count = load<int32_t>(bytes, 8);
  if (bytes.size() < kHeaderSize) {
    // The first 512-byte block reached the card, the rest of the header did not.
    readHeaderText(bytes, d);
    std::string notice;
    appendf(notice, "header cut short (%zu of %zu bytes; the recorder was stopped): no records",
            bytes.size(), kHeaderSize);
    d.report.notices.push_back(notice);
    return true;
  }
  readHeaderText(bytes, d);

  size_t body = bytes.size() - kHeaderSize;
  if (body >= 4 && (body - 4) % kRecordSize == 0 &&
      load<uint32_t>(bytes, bytes.size() - 4) == kEndMarker) {
    d.end_marker = true;
    body -= 4;
  } else if (body % kRecordSize != 0) {
    d.report.cut = true;
    d.report.cut_bytes = body % kRecordSize;
  }
  size_t count = body / kRecordSize;
  d.samples.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    size_t at = kHeaderSize + i * kRecordSize;
    d.samples.push_back({load<int64_t>(bytes, at), load<int32_t>(bytes, at + 8),
                         load<int32_t>(bytes, at + 12), load<int32_t>(bytes, at + 16),
                         load<int32_t>(bytes, at + 20)});
  }
  if (!d.end_marker) {
    d.report.notices.push_back("no end marker: the recorder did not close the file");
  } else if (d.stored_count == 0 && count > 0) {
    d.report.notices.push_back("record count not written: the recorder stopped while closing");
  } else if (d.stored_count != static_cast<int32_t>(count)) {
    d.report.damage(1, "the header's record count differs from the records in the file");
  }
  d.pre_event = preEventRecords(d.samples);
  return true;
}

}  // namespace kv_export
