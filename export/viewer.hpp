// SPDX-License-Identifier: MIT
// The pages a person opens: the overview of everything exported (index.html) and one page
// per recording (STEM.html). Both refer to files beside them by relative links (the
// viewer's script and style in viewer/, Leaflet in leaflet/, the videos where they lie),
// so the output folder works from a card or a disk without a server.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "recording_data.hpp"
#include "recording_facts.hpp"
#include "trips.hpp"

namespace kv_export {

struct ViewerOptions {
  std::string tiles;        // tile URL template; empty: no tiles
  double counts_per_g = 0;  // 0: the G-sensor's scale is not known
  bool leaflet = false;     // leaflet/ was copied beside the pages
};

using FileLinks = std::vector<std::pair<std::string, std::string>>;  // label, href

struct RecordingPageInput {
  std::string stem, description;
  const RecordingFacts *facts = nullptr;
  const Track *track = nullptr;          // null: no track
  const GSensorData *gsensor = nullptr;  // null: no G-sensor data
  std::string video;                     // href of STEM.mp4; empty when there is none
  // The other unit's recording of the same moment, shown beside this one.
  std::string partner_stem, partner_video, partner_page;
  // The subtitles as WebVTT, kept in the page (its video's <track> takes them from there:
  // one file fewer per recording); empty when none.
  std::string subtitles;
  FileLinks files;
  std::vector<std::string> notes;
};
std::string recordingPage(const RecordingPageInput &in, const ViewerOptions &opt);

struct OverviewRecording {
  std::string stem, page, description;
  RecordingFacts facts;
  std::vector<std::pair<double, double>> route;  // a few positions (lat, lon) for the map
  std::vector<std::string> notes;
};
// A route thinned to at most `most` positions, first and last kept, for the overview map.
std::vector<std::pair<double, double>> thinnedRoute(const Track &track, size_t most);

std::string overviewPage(const std::vector<OverviewRecording> &recordings,
                         const std::vector<Trip> &trips, const std::vector<std::string> &folders,
                         const ViewerOptions &opt);

// The viewer's own files, written once into the output folder: name (below it), content.
struct ViewerAsset {
  const char *name;
  const char *text;
};
extern const ViewerAsset kViewerAssets[];
extern const size_t kViewerAssetCount;

}  // namespace kv_export
