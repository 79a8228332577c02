// SPDX-License-Identifier: MIT
#include "recording_facts.hpp"

#include <math.h>

#include <algorithm>

#include "svg_view.hpp"
#include "text_out.hpp"

namespace kv_export {
namespace {

bool digitsAt(std::string_view s, std::initializer_list<size_t> at) {
  for (size_t i : at)
    if (i >= s.size() || s[i] < '0' || s[i] > '9') return false;
  return true;
}

int num(std::string_view s, size_t at, size_t n) {
  int v = 0;
  for (size_t i = at; i < at + n; ++i) v = v * 10 + (s[i] - '0');
  return v;
}

// Seconds of a local clock for the 14 digits "20240507143519"; -1 when not such digits.
int64_t headerSeconds(std::string_view d) {
  if (d.size() != 14 || !digitsAt(d, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13})) return -1;
  return utcMs(num(d, 0, 4), num(d, 4, 2), num(d, 6, 2), num(d, 8, 2), num(d, 10, 2), num(d, 12, 2),
               0) /
         1000;
}

const TrackPoint *firstFixWithTime(const Track &t) {
  for (const auto &seg : t.segments)
    for (const auto &p : seg)
      if (p.has_utc) return &p;
  return nullptr;
}

}  // namespace

RecordingName parseRecordingName(std::string_view stem) {
  RecordingName n;
  if ((stem.size() != 21 && stem.size() != 23) || stem[8] != '-' ||
      !digitsAt(stem, {0, 1, 2, 3, 4, 5, 6, 7, 9, 10, 11, 12, 13, 14}))
    return n;
  std::string_view family = stem.substr(15, 5);
  if (family == "_NOR_")
    n.family = 'N';
  else if (family == "_EVT_")
    n.family = 'E';
  else if (family == "_MOT_")
    n.family = 'M';
  else
    return n;
  if (stem[20] != 'D' && stem[20] != 'P') return n;
  n.parked = stem[20] == 'P';
  if (stem.size() == 23) {
    if (stem[21] != '_' || (stem[22] != 'F' && stem[22] != 'R')) return n;
    n.unit = stem[22];
  }
  // The recorder prints the seconds unnormalised when a name is taken (":60" and more).
  n.start_s = utcMs(num(stem, 0, 4), num(stem, 4, 2), num(stem, 6, 2), num(stem, 9, 2),
                    num(stem, 11, 2), 0, 0) /
                  1000 +
              num(stem, 13, 2);
  n.valid = true;
  return n;
}

Zone zoneOf(const Track &t) {
  Zone z;
  int64_t local_s = headerSeconds(t.start_local);
  const TrackPoint *p = firstFixWithTime(t);
  if (local_s < 0 || !p) return z;
  int64_t start_utc_ms = p->utc_ms - p->offset_ms;
  double diff = static_cast<double>(local_s * 1000 - start_utc_ms) / 60000.0;
  long diff_min = lround(diff / 15) * 15;
  if (diff_min < -14 * 60 || diff_min > 14 * 60) return z;  // no zone: a clock not yet set
  z.known = true;
  z.minutes = static_cast<int>(diff_min);
  return z;
}

std::string zoneText(const Zone &z) {
  if (!z.known) return {};
  std::string out;
  int m = z.minutes < 0 ? -z.minutes : z.minutes;
  appendf(out, "%c%02d:%02d", z.minutes < 0 ? '-' : '+', m / 60, m % 60);
  return out;
}

// A damaged file can give any number of seconds: beyond the year 9999 a time is told as a
// count, never multiplied into milliseconds past what 64 bits hold.
constexpr int64_t kLastSecond = 253402300799;  // 9999-12-31 23:59:59

std::string localText(int64_t local_s) {
  if (local_s < -kLastSecond || local_s > kLastSecond) return std::to_string(local_s) + " s";
  std::string iso = utcText(local_s * 1000);  // "2024-05-07T14:35:19.000Z"
  return iso.substr(0, 10) + " " + iso.substr(11, 8);
}

std::string isoLocalText(int64_t utc_ms, const Zone &z) {
  if (!z.known || utc_ms < -kLastSecond * 1000 || utc_ms > kLastSecond * 1000)
    return utcText(utc_ms);
  std::string iso = utcText(utc_ms + z.minutes * 60000LL);
  iso.pop_back();  // the 'Z'
  return iso + zoneText(z);
}

std::string ForeignSentences::text() const {
  std::string out;
  for (const auto &[kind, n] : kinds)
    appendf(out, "%s%s %zu", out.empty() ? "" : ", ", kind.c_str(), n);
  return out;
}

ForeignSentences foreignSentences(std::string_view bytes) {
  ForeignSentences f;
  size_t at = 0;
  while (at < bytes.size()) {
    size_t end = std::min(bytes.find('\n', at), bytes.size());
    std::string_view line = bytes.substr(at, end - at);
    at = end + 1;
    size_t colon = line.find(':');
    if (colon == std::string_view::npos || line.size() < colon + 7 || line[colon + 1] != '$')
      continue;
    std::string_view kind = line.substr(colon + 1, 6);
    if (kind.substr(0, 3) == "$GP") continue;
    ++f.total;
    auto it = std::find_if(f.kinds.begin(), f.kinds.end(),
                           [&](const auto &k) { return k.first == kind; });
    if (it == f.kinds.end())
      f.kinds.push_back({std::string(kind), 1});
    else
      ++it->second;
  }
  return f;
}

double distanceKm(const Track &t) {
  constexpr double kEarthKm = 6371.0, kRad = 3.14159265358979323846 / 180;
  double km = 0;
  for (const auto &seg : t.segments)
    for (size_t i = 1; i < seg.size(); ++i) {
      double dlat = (seg[i].lat - seg[i - 1].lat) * kRad,
             dlon = (seg[i].lon - seg[i - 1].lon) * kRad;
      double a = sin(dlat / 2) * sin(dlat / 2) + cos(seg[i].lat * kRad) *
                                                     cos(seg[i - 1].lat * kRad) * sin(dlon / 2) *
                                                     sin(dlon / 2);
      km += 2 * kEarthKm * atan2(sqrt(a), sqrt(1 - a));
    }
  return km;
}

RecordingFacts factsOf(std::string_view stem, const Track *track, const GSensorData *gs) {
  RecordingFacts f;
  f.name = parseRecordingName(stem);
  f.has_track = track != nullptr;
  f.has_gsensor = gs != nullptr;
  f.start_local_s = f.name.valid ? f.name.start_s : 0;
  if (track) {
    f.zone = zoneOf(*track);
    if (!f.start_local_s) f.start_local_s = std::max<int64_t>(0, headerSeconds(track->start_local));
    f.duration_ms = track->end_ms;
    f.km = distanceKm(*track);
    f.positions = track->points();
    for (const auto &seg : track->segments)
      for (const auto &p : seg) f.top_kmh = std::max(f.top_kmh, p.speed_mps * 3.6);
  }
  if (gs) {
    if (!f.start_local_s) f.start_local_s = std::max<int64_t>(0, headerSeconds(gs->start_local));
    if (!gs->samples.empty()) f.duration_ms = std::max(f.duration_ms, gs->samples.back().time_ms);
    f.trigger_ms = triggerMs(gs);
    for (const auto &s : gs->samples) {
      double len = sqrt(double(s.x) * s.x + double(s.y) * s.y + double(s.z) * s.z);
      if (len > f.jolt_value) f.jolt_value = len, f.jolt_ms = s.time_ms;
    }
  }
  // A damaged offset far ahead: the duration is bounded like a time (the year 9999), so that
  // the end and the seconds the pages round it to stay within 64 bits.
  f.duration_ms = std::min(f.duration_ms, kLastSecond * 1000);
  if (f.duration_ms > 0) f.average_kmh = f.km / (f.duration_ms / 3600000.0);
  return f;
}

}  // namespace kv_export
