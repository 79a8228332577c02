// SPDX-License-Identifier: MIT
// kv_export's command line: what the person asked for, read and checked before anything
// is read or written.
#pragma once

#include <string>
#include <vector>

namespace kv_export {

enum Format : unsigned {
  kGpx = 1,
  kCsv = 2,
  kGeoJson = 4,
  kGsensor = 8,
  kSvg = 16,
  kHtml = 32,
  kSubtitles = 64,
};

struct Options {
  std::string out_dir = "exported";
  // The SVG picture only on request: the recording's page shows all it does, in step with
  // the video, and a full card's export is a third quicker without it.
  unsigned formats = kGpx | kCsv | kGeoJson | kGsensor | kHtml | kSubtitles;
  bool gpx10 = false;  // GPX 1.0 instead of 1.1
  // The map's tile source ("{z}/{x}/{y}" in it); empty: no tiles, the route alone.
  std::string tiles = "https://tile.openstreetmap.org/{z}/{x}/{y}.png";
  double counts_per_g = 0;  // the G-sensor's scale; 0: unknown, values stay sensor units
  std::vector<std::string> inputs;
  bool help = false;
};

// False after telling on standard error what is wrong.
bool parseArgs(int argc, char **argv, Options &opt);

extern const char kUsage[];

}  // namespace kv_export
