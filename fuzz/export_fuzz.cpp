// SPDX-License-Identifier: MIT
// kv_export's readers of the files on a card (".gps" track files, ".gsf" G-sensor files),
// and its writers fed with whatever they make of them: every output must be well-formed
// (XML for GPX, SVG and the pages, JSON for GeoJSON and the pages' data, CSV with a cell
// per column), whatever the file held and whatever the recording is called. The first
// byte chooses the reader (bit 0) and how many of the following bytes name the recording
// (bits 1 to 4); the rest is the file.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#include <string>
#include <string_view>

#include "data_writers.hpp"
#include "gsensor_reader.hpp"
#include "recording_facts.hpp"
#include "recordings.hpp"
#include "subtitles.hpp"
#include "svg_view.hpp"
#include "text_out.hpp"
#include "track_reader.hpp"
#include "trips.hpp"
#include "viewer.hpp"
#include "well_formed.h"

namespace {

void require(bool ok) {
  if (!ok) abort();
}

// The JSON inside the page's <script id="..."> element.
std::string_view scriptData(std::string_view page, std::string_view id) {
  std::string open = "<script id=\"" + std::string(id) + "\" type=\"application/json\">";
  size_t from = page.find(open);
  if (from == std::string_view::npos) return {};
  from += open.size();
  return page.substr(from, page.find("</script>", from) - from);
}

void checkPages(const std::string &name, const kv_export::Track *track,
                const kv_export::GSensorData *gs) {
  kv_export::RecordingFacts facts = kv_export::factsOf(name, track, gs);
  kv_export::ViewerOptions opt{"https://tile.example/{z}/{x}/{y}.png", 1000, true};
  kv_export::RecordingPageInput in;
  in.stem = in.partner_stem = name;
  in.description = kv_export::describeRecordingName(name);
  in.facts = &facts;
  in.track = track;
  in.gsensor = gs;
  in.video = in.partner_video = kv_export::href(name + ".mp4");
  in.files = {{name, kv_export::href(name + ".gpx")}};
  in.notes = {name + ": a note"};
  std::string page = kv_export::recordingPage(in, opt);
  require(wellformed::xml(page));
  require(wellformed::json(scriptData(page, "kv-data")));

  kv_export::OverviewRecording o{
      name, kv_export::href(name + ".html"), in.description, facts, {}, in.notes};
  if (track) o.route = kv_export::thinnedRoute(*track, 24);
  std::vector<kv_export::OverviewRecording> all{o};
  std::string index =
      kv_export::overviewPage(all, kv_export::tripsOf({&all[0].facts}), {name}, opt);
  require(wellformed::xml(index));
  require(wellformed::json(scriptData(index, "kv-routes")));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) return 0;
  size_t name_length = std::min<size_t>((data[0] >> 1) & 15, size - 1);
  std::string name(reinterpret_cast<const char *>(data) + 1, name_length);
  std::string_view bytes(reinterpret_cast<const char *>(data) + 1 + name_length,
                         size - 1 - name_length);
  std::string error;
  kv_export::RecordingView view{name, kv_export::describeRecordingName(name), nullptr, nullptr};
  kv_export::Track track;
  kv_export::GSensorData gs;
  if (data[0] & 1) {
    if (!kv_export::readGSensor(bytes, gs, error)) return 0;
    view.gsensor = &gs;
    require(wellformed::csv(kv_export::gsensorCsv(gs)));
  } else {
    if (!kv_export::readTrack(bytes, track, error)) return 0;
    view.track = &track;
    kv_export::Zone zone = kv_export::zoneOf(track);
    std::string offset = kv_export::zoneText(zone);
    require(wellformed::xml(kv_export::trackGpx(track, name, offset)));
    require(wellformed::xml(kv_export::trackGpx10(track, name, offset)));
    require(wellformed::csv(kv_export::trackCsv(track, zone)));
    require(wellformed::json(kv_export::trackGeoJson(track, name, offset)));
    kv_export::RecordingFacts facts = kv_export::factsOf(name, &track, nullptr);
    kv_export::subtitles(track, facts, kv_export::SubtitleFormat::kSrt);
  }
  require(wellformed::xml(kv_export::recordingSvg(view)));
  checkPages(name, view.track, view.gsensor);
  return 0;
}
