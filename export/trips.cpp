// SPDX-License-Identifier: MIT
#include "trips.hpp"

#include <stdlib.h>

#include <algorithm>
#include <numeric>

namespace kv_export {
namespace {

int64_t endOf(const RecordingFacts &f) { return f.start_local_s + (f.duration_ms + 999) / 1000; }

// Moments in start order: each rear recording joined to the front one of its moment.
std::vector<Moment> momentsOf(const std::vector<const RecordingFacts *> &recs) {
  std::vector<int> order(recs.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(),
                   [&](int a, int b) { return recs[a]->start_local_s < recs[b]->start_local_s; });
  std::vector<Moment> moments;
  for (int i : order) {
    const RecordingFacts &f = *recs[i];
    if (f.name.unit != 'R') {
      moments.push_back({i, -1});
      continue;
    }
    auto partner = std::find_if(moments.begin(), moments.end(), [&](const Moment &m) {
      if (m.front < 0 || m.rear >= 0) return false;
      const RecordingFacts &p = *recs[m.front];
      return p.name.valid && f.name.valid && p.name.family == f.name.family &&
             llabs(p.start_local_s - f.start_local_s) <= kPairingS;
    });
    if (partner != moments.end())
      partner->rear = i;
    else
      moments.push_back({-1, i});
  }
  // A rear recording may be named a second before its front partner: pair it afterwards.
  for (size_t m = 0; m + 1 < moments.size(); ++m) {
    Moment &a = moments[m], &b = moments[m + 1];
    if (a.front < 0 && b.rear < 0 && b.front >= 0 &&
        recs[a.rear]->name.family == recs[b.front]->name.family &&
        llabs(recs[a.rear]->start_local_s - recs[b.front]->start_local_s) <= kPairingS) {
      b.rear = a.rear;
      moments.erase(moments.begin() + static_cast<long>(m));
    }
  }
  return moments;
}

void add(Trip &t, const Moment &m, const std::vector<const RecordingFacts *> &recs) {
  bool fresh = t.moments.empty();
  for (int i : {m.front, m.rear}) {
    if (i < 0) continue;
    const RecordingFacts &f = *recs[i];
    if (fresh || f.start_local_s < t.start_s) t.start_s = f.start_local_s;
    fresh = false;
    t.end_s = std::max(t.end_s, endOf(f));
    t.top_kmh = std::max(t.top_kmh, f.top_kmh);
    t.has_track = t.has_track || f.positions > 0;
    if (f.name.family == 'E' || f.name.family == 'M') t.events.push_back(i);
  }
  // The distance once per moment: from the front's track, or the rear's when it alone has one.
  int with_track = m.front >= 0 && recs[m.front]->positions > 0 ? m.front : m.rear;
  if (with_track >= 0) t.km += recs[with_track]->km;
  t.moments.push_back(m);
}

}  // namespace

std::vector<Trip> tripsOf(const std::vector<const RecordingFacts *> &recs) {
  std::vector<Trip> trips;
  for (const Moment &m : momentsOf(recs)) {
    const RecordingFacts &f = *recs[m.main()];
    bool joins = !trips.empty() && f.start_local_s > 0 && trips.back().start_s > 0 &&
                 f.start_local_s - trips.back().end_s <= kTripGapS;
    if (!joins) trips.emplace_back();
    add(trips.back(), m, recs);
  }
  return trips;
}

}  // namespace kv_export
