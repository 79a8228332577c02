// SPDX-License-Identifier: MIT
// Trips: the one-minute pieces a recorder cuts a drive into, put back together. A front
// and a rear recording of the same moment are one moment of the trip; moments follow each
// other into one trip while the next begins within kTripGapS of the last one's end.
#pragma once

#include <stdint.h>

#include <vector>

#include "recording_facts.hpp"

namespace kv_export {

inline constexpr int64_t kTripGapS = 90;
// A rear recording belongs to the front one whose name is at most this far off: the two
// units name their recordings by their own clocks.
inline constexpr int64_t kPairingS = 3;

struct Moment {
  int front = -1;  // index of the front (or single camera) recording, -1 when none
  int rear = -1;   // index of the rear unit's recording, -1 when none
  int main() const { return front >= 0 ? front : rear; }
};

struct Trip {
  std::vector<Moment> moments;
  int64_t start_s = 0, end_s = 0;  // local clock seconds
  double km = 0, top_kmh = 0;
  bool has_track = false;
  std::vector<int> events;  // indexes of event and motion recordings
  double averageKmh() const { return end_s > start_s ? km / ((end_s - start_s) / 3600.0) : 0; }
};

// Trips of the recordings whose facts are given, in start order.
std::vector<Trip> tripsOf(const std::vector<const RecordingFacts *> &recordings);

}  // namespace kv_export
