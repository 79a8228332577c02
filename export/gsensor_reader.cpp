// SPDX-License-Identifier: MIT
#include "gsensor_reader.hpp"

#include "gsf_reader.hpp"
#include "text_out.hpp"

namespace kv_export {
namespace {

// kv_server hands over at most 50 items of its history; they come first in the file.
constexpr size_t kMaxHistoryItems = 50;

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
  kvformat::GsfFile f;
  if (!kvformat::readGsf(bytes, f, error)) return false;
  if (bytes.empty()) {
    d.report.notices.push_back(
        "empty: the recorder was stopped before the first block reached the card");
    return true;
  }
  d.start_local = f.date_time;
  d.own_name = f.name;
  d.stored_count = f.count;
  if (f.header_cut) {
    // The first 512-byte block reached the card, the rest of the header did not.
    std::string notice;
    appendf(notice, "header cut short (%zu of %zu bytes; the recorder was stopped): no records",
            bytes.size(), kGsfHeaderSize);
    d.report.notices.push_back(notice);
    return true;
  }
  d.end_marker = f.end_marker;
  d.report.cut = f.cut_bytes > 0;
  d.report.cut_bytes = f.cut_bytes;
  d.samples.reserve(f.records.size());
  for (const kvformat::GsfRecord &r : f.records)
    d.samples.push_back({r.time, r.axis1, r.axis2, r.axis3, r.reserved});
  size_t count = f.records.size();
  if (!d.end_marker) {
    d.report.notices.push_back("no end marker: the recorder did not close the file");
    if (f.count_state == kvformat::GsfCount::kStale && f.count > 0) {
      std::string notice;
      size_t more = count - static_cast<size_t>(f.count);
      appendf(notice, "record count %d stored before the cut, %zu more record%s after it", f.count,
              more, more == 1 ? "" : "s");
      d.report.notices.push_back(notice);
    }
  } else if (f.count == 0 && count > 0) {
    d.report.notices.push_back("record count not written: the recorder stopped while closing");
  } else if (f.count_state != kvformat::GsfCount::kMatches) {
    d.report.damage(1, "the header's record count differs from the records in the file");
  }
  d.pre_event = preEventRecords(d.samples);
  return true;
}

}  // namespace kv_export
