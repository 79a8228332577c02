// SPDX-License-Identifier: MIT
#include "cli.hpp"

#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <cmath>
#include <string_view>

namespace kv_export {

const char kUsage[] = R"(Usage: kv_export [-o FOLDER] [OPTION]... INPUT...

Turns the recorder's recordings (GPS track .gps, G-sensor data .gsf, video .mp4) into
files and pages a person can look at. An INPUT is a .gps, .gsf or .mp4 file, a recordings
folder (read flat: the files of one name stem are one recording) or a card's root (its
Recordings folder is read).

Outputs go into the output folder (-o; ./exported when not given), named after each
recording's stem STEM:
  index.html        the overview: trips of consecutive recordings (front and rear
                    together) with their times, distance and speeds, events marked,
                    totals, a map of all trips; open this one
  STEM.html         the recording's page: its video (front and rear side by side), the
                    route on a map, speed and G-forces, all following the video
  STEM.gpx          the track as GPX 1.1, one segment per stretch with fix; speed (m/s)
                    and course in the Garmin TrackPointExtension (--gpx10: GPX 1.0 with
                    its own <speed> and <course>, which gpsbabel and others read)
  STEM.track.csv    the track, one row per position, UTC and local time
  STEM.geojson      the track as GeoJSON (RFC 7946): a LineString per stretch with fix,
                    a Point for a stretch of one fix
  STEM.srt          subtitles for any player: time, speed and position each second (the
                    page holds the same as WebVTT for its video)
  STEM.gsensor.csv  the G-sensor records: time since the recording's start, x, y, z,
                    pre_event (1 for what was recorded before the recording was triggered)
  STEM.svg          on request (--only ...,svg): the route to scale, the speed and the
                    G-forces on one time axis, as one picture
  leaflet/          the map library the pages use, copied from the workstation's
                    libjs-leaflet (/usr/share/javascript/leaflet)
Existing files of those names are replaced; nothing else in the folder is touched. A
recording without a position with fix gets no GPX, CSV, GeoJSON or subtitles, and says so.

Times: GPX, CSV and GeoJSON hold UTC; the pages, the CSV, the subtitles and the
GeoJSON's properties also show the unit's local time with its zone (worked out from the
track: the file's local start against the receiver's UTC).

Options:
  -o, --output FOLDER  where the outputs go (created if missing); default ./exported
  --only LIST          write only these, comma-separated:
                       gpx,csv,geojson,gsensor,svg,html,subtitles (all but svg
                       when not given)
  --gpx10              write GPX 1.0 instead of 1.1
  --tiles URL          the map's tile source, with {z}, {x} and {y} (and {s}); "none"
                       for no tiles (the route is drawn alone). Default: OpenStreetMap,
                       https://tile.openstreetmap.org/{z}/{x}/{y}.png
  --counts-per-g N     the G-sensor's scale: N sensor units make 1 g (1000 for a sensor
                       reporting milli-g). Without it the G-forces are shown in sensor
                       units, as the data file holds no scale.
  -h, --help           this text
  --version            the program's version (only as the first argument)

Every output is written under a temporary name and renamed when complete. A file cut
short by a kill (the recorder writes in 512-byte blocks) is read up to its last whole
line or record; what was skipped is reported on standard error. The files written are
listed on standard output.

Exit status: 0 everything was read and written; 1 an input could not be used or was
damaged (whatever could be read is still exported), or an output could not be written;
2 a wrong command line.
)";

namespace {

struct FormatInfo {
  const char *name;
  unsigned bit;
};
constexpr FormatInfo kFormats[] = {
    {"gpx", kGpx}, {"csv", kCsv},   {"geojson", kGeoJson},    {"gsensor", kGsensor},
    {"svg", kSvg}, {"html", kHtml}, {"subtitles", kSubtitles}};

bool parseFormats(const std::string &list, unsigned &formats) {
  formats = 0;
  size_t at = 0;
  while (at <= list.size()) {
    size_t comma = std::min(list.find(',', at), list.size());
    std::string name = list.substr(at, comma - at);
    unsigned bit = 0;
    for (const auto &f : kFormats)
      if (name == f.name) bit = f.bit;
    if (!bit) {
      fprintf(stderr,
              "kv_export: unknown output '%s' in --only "
              "(gpx,csv,geojson,gsensor,svg,html,subtitles)\n",
              name.c_str());
      return false;
    }
    formats |= bit;
    at = comma + 1;
  }
  return true;
}

bool parseScale(const char *text, double &scale) {
  char *end = nullptr;
  scale = strtod(text, &end);
  if (end == text || *end || !std::isfinite(scale) || scale <= 0) {
    fprintf(stderr, "kv_export: --counts-per-g wants a positive number, not '%s'\n", text);
    return false;
  }
  return true;
}

bool parseTiles(const std::string &url, std::string &tiles) {
  if (url == "none") {
    tiles.clear();
    return true;
  }
  if (url.find("{z}") == std::string::npos || url.find("{x}") == std::string::npos ||
      url.find("{y}") == std::string::npos) {
    fprintf(stderr, "kv_export: --tiles wants a URL with {z}, {x} and {y}, or none\n");
    return false;
  }
  tiles = url;
  return true;
}

bool takesValue(std::string_view a) {
  return a == "-o" || a == "--output" || a == "--only" || a == "--tiles" || a == "--counts-per-g";
}

bool optionWithValue(const std::string &a, const char *value, Options &opt) {
  if (a == "-o" || a == "--output") {
    opt.out_dir = value;
    return true;
  }
  if (a == "--only") return parseFormats(value, opt.formats);
  if (a == "--tiles") return parseTiles(value, opt.tiles);
  return parseScale(value, opt.counts_per_g);
}

}  // namespace

bool parseArgs(int argc, char **argv, Options &opt) {
  bool options_done = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (options_done || a.empty() || a[0] != '-' || a == "-") {
      opt.inputs.push_back(a);
    } else if (a == "--") {
      options_done = true;
    } else if (a == "-h" || a == "--help") {
      opt.help = true;
    } else if (a == "--gpx10") {
      opt.gpx10 = true;
    } else if (takesValue(a) && i + 1 < argc) {
      if (!optionWithValue(a, argv[++i], opt)) return false;
    } else {
      fprintf(stderr, "kv_export: %s '%s' (see kv_export --help)\n",
              takesValue(a) ? "missing value after" : "unknown option", a.c_str());
      return false;
    }
  }
  if (!opt.help && opt.inputs.empty()) {
    fprintf(stderr, "kv_export: no input given (see kv_export --help)\n");
    return false;
  }
  if (opt.out_dir.empty()) {
    fprintf(stderr, "kv_export: empty output folder\n");
    return false;
  }
  return true;
}

}  // namespace kv_export
