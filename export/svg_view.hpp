// SPDX-License-Identifier: MIT
// One picture per recording, as a self-contained SVG: the route drawn to scale (with a
// scale bar; stretches without fix dashed), the speed over time, and the three G-forces
// over time on the same time axis. Marked on the time axis: the pre-event part and the
// moment the recording was triggered, the stretches without fix, the strongest jolt.
#pragma once

#include <string>

#include "recording_data.hpp"

namespace kv_export {

struct RecordingView {
  std::string name;                      // the recording's stem
  std::string subtitle;                  // start time, kind, unit
  const Track *track = nullptr;          // null: no track file
  const GSensorData *gsensor = nullptr;  // null: no G-sensor file
};

std::string recordingSvg(const RecordingView &view);

// The time the recording was triggered (the first record after the pre-event part),
// in ms since the start tick; -1 when the data show no pre-event part.
int64_t triggerMs(const GSensorData *gsensor);

}  // namespace kv_export
