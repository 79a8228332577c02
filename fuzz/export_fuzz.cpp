// kv_export's readers of the files on a card (".gps" track files, ".gsf" G-sensor files),
// and its writers fed with whatever they make of them. The first byte chooses the reader.
#include <stddef.h>
#include <stdint.h>

#include <string>
#include <string_view>

#include "data_writers.hpp"
#include "gsensor_reader.hpp"
#include "svg_view.hpp"
#include "track_reader.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) return 0;
  std::string_view bytes(reinterpret_cast<const char *>(data) + 1, size - 1);
  std::string error;
  kvx::RecordingView view{"fuzz", "", nullptr, nullptr};
  kvx::Track track;
  kvx::GSensorData gs;
  if (data[0] & 1) {
    if (!kvx::readGSensor(bytes, gs, error)) return 0;
    view.gsensor = &gs;
    kvx::gsensorCsv(gs);
  } else {
    if (!kvx::readTrack(bytes, track, error)) return 0;
    view.track = &track;
    kvx::trackGpx(track, "fuzz");
    kvx::trackCsv(track);
    kvx::trackGeoJson(track, "fuzz");
  }
  kvx::recordingSvg(view);
  return 0;
}
