#include "kv_demo_files.h"

#include <stdlib.h>
#include <string.h>

#include <string_view>

#include "gsensor_motion.h"
#include "sandbox.h"
#include "standin.h"

namespace kvdemo {
namespace {

constexpr size_t kGsfHeader = 524;
constexpr size_t kGsfRecord = 32;
constexpr uint32_t kGsfMagic = 0xA10000A1u;
constexpr uint32_t kGsfEnd = 0xA1FFFFA1u;

bool allDigits(std::string_view s) {
  return !s.empty() && s.find_first_not_of("0123456789") == std::string_view::npos;
}

template <typename T>
T load(const std::string &bytes, size_t at) {
  T v;
  memcpy(&v, bytes.data() + at, sizeof v);  // little-endian, as this workstation
  return v;
}

// One "<ms>:<sentence>" line into the facts; false when it has not that form.
bool takeTrackLine(const std::string &line, int64_t trigger_ms, TrackFacts &f) {
  size_t colon = line.find(':');
  if (colon == std::string::npos || !allDigits(line.substr(0, colon)) ||
      line.compare(colon + 1, 1, "$") != 0)
    return false;
  int64_t ms = strtoll(line.c_str(), nullptr, 10);
  std::string_view sentence = std::string_view(line).substr(colon + 1);
  if (f.first_ms < 0) f.first_ms = ms;
  f.last_ms = ms;
  ++f.lines;
  if (ms < trigger_ms) ++f.before;
  if (sentence.starts_with("$GPRMC,")) {
    // $GPRMC,hhmmss.sss,<status>,...
    size_t status = sentence.find(',', 7);
    if (status != std::string_view::npos && status + 1 < sentence.size())
      ++(sentence[status + 1] == 'A' ? f.fixes : f.no_fix);
  }
  return true;
}

}  // namespace

TrackFacts readTrack(const std::string &path, int64_t trigger_ms) {
  TrackFacts f;
  std::string text;
  if (!kvsim::readFile(path, text)) return f;
  f.ends_whole = !text.empty() && text.back() == '\n';
  auto lines = kvsim::splitLines(text);
  if (lines.size() < 2 || lines[0].size() != 14 || !allDigits(lines[0])) return f;
  f.start_local = lines[0];
  f.own_name = lines[1];
  for (size_t i = 2; i < lines.size(); ++i)
    if (!takeTrackLine(lines[i], trigger_ms, f)) return f;
  f.readable = true;
  return f;
}

GSensorFacts readGSensor(const std::string &path) {
  GSensorFacts f;
  std::string bytes;
  if (!kvsim::readFile(path, bytes) || bytes.size() < kGsfHeader ||
      load<uint32_t>(bytes, 0) != kGsfMagic || load<int32_t>(bytes, 4) != 32)
    return f;
  f.readable = true;
  f.count = load<int32_t>(bytes, 8);
  size_t body = bytes.size() - kGsfHeader;
  bool marker = body >= 4 && (body - 4) % kGsfRecord == 0 &&
                load<uint32_t>(bytes, bytes.size() - 4) == kGsfEnd;
  f.records = (marker ? body - 4 : body) / kGsfRecord;
  f.closed = marker && f.count == static_cast<int32_t>(f.records);
  for (size_t i = 0; i < f.records; ++i) {
    size_t at = kGsfHeader + i * kGsfRecord;
    int64_t ms = load<int64_t>(bytes, at);
    int32_t x = load<int32_t>(bytes, at + 8);
    if (f.first_ms < 0) f.first_ms = ms;
    f.last_ms = ms;
    if (load<int32_t>(bytes, at + 20) == kvsim::kServerItemMark) {
      ++f.from_history;
      f.last_history_ms = ms;
    }
    if (x < f.min_x) {
      f.min_x = x;
      f.min_x_ms = ms;
    }
  }
  return f;
}

std::string readableTime(const std::string &d) {
  if (d.size() != 14) return d;
  return d.substr(0, 4) + "-" + d.substr(4, 2) + "-" + d.substr(6, 2) + " " + d.substr(8, 2) + ":" +
         d.substr(10, 2) + ":" + d.substr(12, 2);
}

}  // namespace kvdemo
