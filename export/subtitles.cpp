// SPDX-License-Identifier: MIT
#include "subtitles.hpp"

#include <math.h>

#include <algorithm>

#include "text_out.hpp"

namespace kv_export {
namespace {

void cueTime(std::string &out, int64_t ms, SubtitleFormat f) {
  uint64_t u = static_cast<uint64_t>(ms);
  appendDigits(out, u / 3600000, 2);
  out += ':';
  appendDigits(out, u / 60000 % 60, 2);
  out += ':';
  appendDigits(out, u / 1000 % 60, 2);
  out += f == SubtitleFormat::kSrt ? ',' : '.';
  appendDigits(out, u % 1000, 3);
}

void angle(std::string &out, double deg, char pos, char neg) {
  appendFixed(out, fabs(deg), 5);
  out += ' ';
  out += deg < 0 ? neg : pos;
}

// The text of the cue of the second starting at `ms`: the last fix at or before its end.
std::string cueText(const TrackPoint *p, int64_t ms, const RecordingFacts &facts) {
  // The receiver's time where there is a fix, else the unit's own clock.
  std::string out = p && p->has_utc
                        ? isoLocalText(p->utc_ms + (ms - p->offset_ms), facts.zone).substr(0, 19)
                        : localText(facts.start_local_s + ms / 1000);
  out[10] = ' ';
  out += facts.zone.known ? " UTC" + zoneText(facts.zone) : " local";
  if (!p) return out + "\nno GPS fix";
  double kmh = p->speed_mps * 3.6;
  out += "  ";
  appendFixed(out, kmh, 0);
  out += " km/h (";
  appendFixed(out, kmh / 1.609344, 0);
  out += " mph)\n";
  angle(out, p->lat, 'N', 'S');
  out += "  ";
  angle(out, p->lon, 'E', 'W');
  return out;
}

}  // namespace

std::string subtitles(const Track &track, const RecordingFacts &facts, SubtitleFormat format) {
  if (track.lines == 0) return {};
  std::vector<const TrackPoint *> fixes;
  for (const auto &seg : track.segments)
    for (const auto &p : seg) fixes.push_back(&p);
  std::string out = format == SubtitleFormat::kVtt ? "WEBVTT\n\n" : "";
  size_t next = 0;
  const TrackPoint *last = nullptr;
  // A cue a second: a damaged offset far ahead must not make millions of them. No recording
  // of the unit lasts anywhere near six hours; what lies beyond gets no cue.
  constexpr int64_t kLastCueMs = 6 * 3600 * 1000;
  int64_t end = (std::min(track.end_ms, kLastCueMs) + 999) / 1000 * 1000;
  for (int64_t ms = 0, cue = 1; ms < end || cue == 1; ms += 1000, ++cue) {
    while (next < fixes.size() && fixes[next]->offset_ms < ms + 1000) last = fixes[next++];
    // A fix older than the second before is stale: the car is in a tunnel.
    const TrackPoint *p = last && last->offset_ms >= ms - 1000 ? last : nullptr;
    if (format == SubtitleFormat::kSrt) {
      appendInt(out, cue);
      out += '\n';
    }
    cueTime(out, ms, format);
    out += " --> ";
    cueTime(out, ms + 1000, format);
    out += '\n' + cueText(p, ms, facts) + "\n\n";
  }
  return out;
}

}  // namespace kv_export
