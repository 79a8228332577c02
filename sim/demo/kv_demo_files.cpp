// SPDX-License-Identifier: MIT
#include "kv_demo_files.h"

#include <string_view>

#include "gps_reader.hpp"
#include "gsensor_motion.h"
#include "gsf_reader.hpp"
#include "sandbox.h"
#include "standin.h"

namespace kvdemo {
namespace {

// Status "A" or "V" of a "$GPRMC,hhmmss.sss,<status>,..." sentence; 0 for other sentences.
char rmcStatus(std::string_view sentence) {
  if (!sentence.starts_with("$GPRMC,")) return 0;
  size_t status = sentence.find(',', 7);
  return status != std::string_view::npos && status + 1 < sentence.size() ? sentence[status + 1]
                                                                          : 0;
}

}  // namespace

TrackFacts readTrack(const std::string &path, int64_t trigger_ms) {
  TrackFacts f;
  std::string text, error;
  kvformat::GpsFile file;
  if (!kvsim::readFile(path, text) || !kvformat::readGps(text, file, error)) return f;
  f.ends_whole = !file.empty && !file.cut;
  if (file.lines.size() < 2 || file.lines[1].kind != kvformat::GpsLine::kName) return f;
  f.start_local = std::string(file.lines[0].text);
  f.own_name = std::string(file.lines[1].text);
  for (const kvformat::GpsLine &line : file.lines) {
    if (line.kind == kvformat::GpsLine::kDamaged) return f;
    if (line.kind != kvformat::GpsLine::kSentence) continue;
    if (!line.text.starts_with('$')) return f;
    if (f.first_ms < 0) f.first_ms = line.offset_ms;
    f.last_ms = line.offset_ms;
    ++f.lines;
    if (line.offset_ms < trigger_ms) ++f.before;
    char status = rmcStatus(line.text);
    if (status == 'A') ++f.fixes;
    if (status == 'V') ++f.no_fix;
  }
  f.readable = true;
  return f;
}

GSensorFacts readGSensor(const std::string &path) {
  GSensorFacts f;
  std::string bytes, error;
  kvformat::GsfFile file;
  if (!kvsim::readFile(path, bytes) || !kvformat::readGsf(bytes, file, error) || file.header_cut)
    return f;
  f.readable = true;
  f.count = file.count;
  f.records = file.records.size();
  f.closed = file.complete();
  for (const kvformat::GsfRecord &r : file.records) {
    if (f.first_ms < 0) f.first_ms = r.time;
    f.last_ms = r.time;
    if (r.reserved == kvsim::kServerItemMark) {
      ++f.from_history;
      f.last_history_ms = r.time;
    }
    if (r.axis1 < f.min_x) {
      f.min_x = r.axis1;
      f.min_x_ms = r.time;
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
