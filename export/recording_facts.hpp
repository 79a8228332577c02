// SPDX-License-Identifier: MIT
// What a person wants to know of a recording at a glance, worked out once from its files
// and its name: when it started (the unit's local time and the zone it was in), how long
// it ran, how far and how fast the car went, and the moments worth seeing (the trigger
// of an event recording, the strongest jolt).
#pragma once

#include <stdint.h>

#include <string>
#include <string_view>
#include <vector>

#include "recording_data.hpp"

namespace kv_export {

// The parts of a recording's name ("20240507-123519_EVT_D_F").
struct RecordingName {
  bool valid = false;
  int64_t start_s = 0;  // the name's local time as seconds of a clock that reads local time
  char family = 0;      // 'N' continuous, 'E' event, 'M' motion
  bool parked = false;
  char unit = 0;  // 'F' front, 'R' rear, 0 for a single camera
};
RecordingName parseRecordingName(std::string_view stem);

// The unit's local time zone, worked out from a track: the header's local start against
// the UTC of a fix and its offset. Receivers and zones agree to the quarter hour.
struct Zone {
  bool known = false;
  int minutes = 0;  // local time - UTC
};
Zone zoneOf(const Track &track);
// "+02:00", "-03:30"; "" when the zone is not known.
std::string zoneText(const Zone &zone);
// "2024-05-07 14:35:19" for seconds of a local clock.
std::string localText(int64_t local_s);
// "2024-05-07T14:35:19.200+02:00" for a UTC time in the given zone; UTC ("Z") when unknown.
std::string isoLocalText(int64_t utc_ms, const Zone &zone);

// Sentence types the recorder does not turn into positions, as "$GNRMC" with their count.
struct ForeignSentences {
  size_t total = 0;
  std::vector<std::pair<std::string, size_t>> kinds;  // in order of first appearance
  std::string text() const;                           // "$GNRMC 60, $GNGGA 60"
};
ForeignSentences foreignSentences(std::string_view track_bytes);

double distanceKm(const Track &track);

struct RecordingFacts {
  RecordingName name;
  bool has_track = false, has_gsensor = false;
  int64_t start_local_s = 0;  // from the name, else from a header; 0 when neither says
  Zone zone;
  int64_t duration_ms = 0;
  double km = 0, top_kmh = 0, average_kmh = 0;
  size_t positions = 0;
  int64_t trigger_ms = -1;  // the first record after the pre-event part
  int64_t jolt_ms = -1;     // the strongest jolt: the record of the largest length
  double jolt_value = 0;    // its length in sensor units, sqrt(x² + y² + z²)
};
RecordingFacts factsOf(std::string_view stem, const Track *track, const GSensorData *gsensor);

}  // namespace kv_export
