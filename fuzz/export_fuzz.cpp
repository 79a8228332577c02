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

void checkPages(const std::string &name, const kvx::Track *track, const kvx::GSensorData *gs) {
  kvx::RecordingFacts facts = kvx::factsOf(name, track, gs);
  kvx::ViewerOptions opt{"https://tile.example/{z}/{x}/{y}.png", 1000, true};
  kvx::RecordingPageInput in;
  in.stem = in.partner_stem = name;
  in.description = kvx::describeRecordingName(name);
  in.facts = &facts;
  in.track = track;
  in.gsensor = gs;
  in.video = in.partner_video = kvx::href(name + ".mp4");
  in.files = {{name, kvx::href(name + ".gpx")}};
  in.notes = {name + ": a note"};
  std::string page = kvx::recordingPage(in, opt);
  require(wellformed::xml(page));
  require(wellformed::json(scriptData(page, "kv-data")));

  kvx::OverviewRecording o{name, kvx::href(name + ".html"), in.description, facts, {}, in.notes};
  if (track) o.route = kvx::thinnedRoute(*track, 24);
  std::vector<kvx::OverviewRecording> all{o};
  std::string index = kvx::overviewPage(all, kvx::tripsOf({&all[0].facts}), {name}, opt);
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
  kvx::RecordingView view{name, kvx::describeRecordingName(name), nullptr, nullptr};
  kvx::Track track;
  kvx::GSensorData gs;
  if (data[0] & 1) {
    if (!kvx::readGSensor(bytes, gs, error)) return 0;
    view.gsensor = &gs;
    require(wellformed::csv(kvx::gsensorCsv(gs)));
  } else {
    if (!kvx::readTrack(bytes, track, error)) return 0;
    view.track = &track;
    kvx::Zone zone = kvx::zoneOf(track);
    std::string offset = kvx::zoneText(zone);
    require(wellformed::xml(kvx::trackGpx(track, name, offset)));
    require(wellformed::xml(kvx::trackGpx10(track, name, offset)));
    require(wellformed::csv(kvx::trackCsv(track, zone)));
    require(wellformed::json(kvx::trackGeoJson(track, name, offset)));
    kvx::RecordingFacts facts = kvx::factsOf(name, &track, nullptr);
    kvx::subtitles(track, facts, kvx::SubtitleFormat::kSrt);
  }
  require(wellformed::xml(kvx::recordingSvg(view)));
  checkPages(name, view.track, view.gsensor);
  return 0;
}
