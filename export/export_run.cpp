// SPDX-License-Identifier: MIT
#include "export_run.hpp"

#include <stdio.h>
#include <sys/stat.h>

#include <filesystem>
#include <memory>

#include "data_writers.hpp"
#include "file_io.hpp"
#include "gsensor_reader.hpp"
#include "recording_facts.hpp"
#include "subtitles.hpp"
#include "svg_view.hpp"
#include "text_out.hpp"
#include "track_reader.hpp"
#include "trips.hpp"
#include "viewer.hpp"

namespace kv_export {
namespace {

namespace fs = std::filesystem;

// Debian's libjs-leaflet; KV_LEAFLET_DIR names another copy (or a missing one, to see the
// pages without it).
constexpr const char *kLeafletDir = "/usr/share/javascript/leaflet";
constexpr size_t kOverviewRoutePoints = 24;

std::string baseName(const std::string &path) { return path.substr(path.rfind('/') + 1); }

// ---- reading ------------------------------------------------------------------------

// How a kind of file is read and how its parts are called in messages.
template <class Data>
struct FileKind {
  bool (*read)(std::string_view, Data &, std::string &);
  const char *part, *parts, *where;  // "line", "lines", "line" / "part", "parts", "record"
  bool lines;
};
const FileKind<Track> kTrackFile{readTrack, "line", "lines", "line", true};
const FileKind<GSensorData> kGSensorFile{readGSensor, "part", "parts", "record", false};

// Tells on standard error, and in the page's notes, what reading a file turned up.
template <class Data>
void tell(Run &run, const std::string &path, const ReadReport &r, const FileKind<Data> &kind,
          std::vector<std::string> &notes) {
  std::vector<std::string> said;
  if (r.cut) {
    std::string s;
    if (kind.lines)
      appendf(s, "last line cut short (%zu bytes; the recorder was stopped), skipped", r.cut_bytes);
    else
      appendf(s, "last record cut short (%zu of 32 bytes; the recorder was stopped), skipped",
              r.cut_bytes);
    said.push_back(s);
  }
  for (const auto &n : r.notices) said.push_back(n);
  if (r.damaged) {
    std::string s;
    appendf(s, "%zu damaged %s skipped, the first at %s %zu: %s", r.damaged,
            r.damaged == 1 ? kind.part : kind.parts, kind.where, r.first_damaged,
            r.first_reason.c_str());
    said.push_back(s);
    run.status = 1;
  }
  for (const auto &s : said) {
    fprintf(stderr, "kv_export: %s: %s\n", path.c_str(), s.c_str());
    notes.push_back(baseName(path) + ": " + s);
  }
}

// Reads one file; its bytes are kept in `bytes` for a second look.
template <class Data>
bool load(Run &run, const std::string &path, Data &d, const FileKind<Data> &kind,
          std::string &bytes, std::vector<std::string> &notes) {
  std::string error;
  if (!readWholeFile(path, bytes, error) || !kind.read(bytes, d, error)) {
    fail(run, path + ": " + error);
    notes.push_back(baseName(path) + ": not read: " + error);
    return false;
  }
  tell(run, path, d.report, kind, notes);
  return true;
}

void note(const std::string &path, const std::string &what, std::vector<std::string> &notes) {
  fprintf(stderr, "kv_export: %s: %s\n", path.c_str(), what.c_str());
  notes.push_back(baseName(path) + ": " + what);
}

// A track of sentences the recorder does not record ($GN... of a multi-system receiver)
// reads as no position at all: say which they were.
void tellForeign(const std::string &path, std::string_view bytes, std::vector<std::string> &notes) {
  ForeignSentences f = foreignSentences(bytes);
  if (f.total == 0) return;
  std::string s;
  appendf(s,
          "%zu sentence%s of kinds the recorder does not record (it records $GP sentences), "
          "not read: %s",
          f.total, f.total == 1 ? "" : "s", f.text().c_str());
  note(path, s, notes);
}

// ---- facts --------------------------------------------------------------------------

std::string trackFacts(const Track &t, const RecordingFacts &f) {
  std::string s;
  appendf(s,
          "track: %zu positions in %zu stretch%s with fix, %.2f km, top speed %.0f km/h, %s s long",
          t.points(), t.segments.size(), t.segments.size() == 1 ? "" : "es", f.km, f.top_kmh,
          secondsText(t.end_ms).c_str());
  if (f.zone.known) s += ", local time UTC" + zoneText(f.zone);
  return s;
}

std::string gsensorFacts(const GSensorData &d) {
  std::string s;
  appendf(s, "G-sensor: %zu records", d.samples.size());
  if (!d.samples.empty())
    appendf(s, " from %s s to %s s", secondsText(d.samples.front().time_ms).c_str(),
            secondsText(d.samples.back().time_ms).c_str());
  if (d.pre_event)
    appendf(s, ", the first %zu before the trigger at %s s", d.pre_event,
            secondsText(triggerMs(&d)).c_str());
  return s;
}

// ---- writing ------------------------------------------------------------------------

std::string uniqueName(Run &run, const std::string &base) {
  std::string name = base;
  for (int n = 2; !run.used_names.insert(name).second; ++n) name = base + "-" + std::to_string(n);
  return name;
}

bool writeOut(Run &run, const std::string &file, const std::string &content) {
  std::string path = run.opt.out_dir + "/" + file, error;
  if (!writeFileAtomically(path, content, error)) {
    fail(run, "cannot write " + path + ": " + error);
    return false;
  }
  printf("  %s\n", path.c_str());
  return true;
}

// The link from a page in the output folder to a file elsewhere (a video on the card).
std::string linkFrom(const std::string &out_dir, const std::string &path) {
  std::error_code ec;
  fs::path rel =
      fs::relative(fs::weakly_canonical(path, ec), fs::weakly_canonical(out_dir, ec), ec);
  return href(ec || rel.empty() ? fs::absolute(path).string() : rel.generic_string());
}

// One recording as the run knows it: where its files are and what its outputs are called.
struct Item {
  const RecordingFiles *files;
  std::string base;  // the stem, made unique among the outputs
  RecordingName name;
  int partner = -1;  // the other unit's recording of the same moment
};

class RecordingExport {
 public:
  RecordingExport(Run &run, const ViewerOptions &viewer, const std::vector<Item> &items, size_t i)
      : run_(run), viewer_(viewer), items_(items), item_(items[i]) {}

  OverviewRecording run() {
    const RecordingFiles &rec = *item_.files;
    std::string bytes;
    has_track_ = !rec.gps.empty() && load(run_, rec.gps, track_, kTrackFile, bytes, notes_);
    if (has_track_) tellForeign(rec.gps, bytes, notes_);
    has_gs_ = !rec.gsf.empty() && load(run_, rec.gsf, gs_, kGSensorFile, bytes, notes_);
    facts_ = factsOf(rec.stem, has_track_ ? &track_ : nullptr, has_gs_ ? &gs_ : nullptr);
    printf("%s: %s%s%s\n", rec.stem.c_str(),
           has_track_ ? trackFacts(track_, facts_).c_str() : "no track", has_gs_ ? "; " : "",
           has_gs_ ? gsensorFacts(gs_).c_str() : "");
    writeTrackFiles();
    writeGSensorFiles();
    writePicture();
    std::string page = item_.base + ".html";
    if (run_.opt.formats & kHtml) writeOut(run_, page, recordingPage(pageInput(), viewer_));
    OverviewRecording o{rec.stem, page, describeRecordingName(rec.stem), facts_, {}, notes_};
    if (has_track_) o.route = thinnedRoute(track_, kOverviewRoutePoints);
    return o;
  }

 private:
  // Writes one output when it was asked for; `make` builds its content only then.
  template <class Make>
  void file(unsigned bit, const char *suffix, const char *label, Make make) {
    if (!(run_.opt.formats & bit)) return;
    std::string name = item_.base + suffix;
    if (writeOut(run_, name, make())) files_.push_back({label, href(name)});
  }

  void writeTrackFiles() {
    if (!has_track_) return;
    if (track_.points() == 0) {
      note(item_.files->gps,
           track_.lines ? "no position with fix in it: no GPX, CSV, GeoJSON or subtitles written"
                        : "no sentence in it: no GPX, CSV, GeoJSON or subtitles written",
           notes_);
      return;
    }
    const std::string &stem = item_.files->stem, offset = zoneText(facts_.zone);
    file(kGpx, ".gpx", run_.opt.gpx10 ? "GPX 1.0" : "GPX", [&] {
      return run_.opt.gpx10 ? trackGpx10(track_, stem, offset) : trackGpx(track_, stem, offset);
    });
    file(kCsv, ".track.csv", "track CSV", [&] { return trackCsv(track_, facts_.zone); });
    file(kGeoJson, ".geojson", "GeoJSON", [&] { return trackGeoJson(track_, stem, offset); });
    file(kSubtitles, ".srt", "subtitles (SubRip)",
         [&] { return subtitles(track_, facts_, SubtitleFormat::kSrt); });
    if ((run_.opt.formats & kSubtitles) && (run_.opt.formats & kHtml))
      vtt_ = subtitles(track_, facts_, SubtitleFormat::kVtt);
  }

  void writeGSensorFiles() {
    if (!has_gs_) return;
    if (gs_.samples.empty()) {
      note(item_.files->gsf, "no G-sensor record in it: no G-sensor CSV written", notes_);
      return;
    }
    file(kGsensor, ".gsensor.csv", "G-sensor CSV", [&] { return gsensorCsv(gs_); });
  }

  void writePicture() {
    bool something = (has_track_ && track_.points() > 0) || (has_gs_ && !gs_.samples.empty());
    if (!something) return;
    RecordingView view{item_.files->stem, describeRecordingName(item_.files->stem),
                       has_track_ ? &track_ : nullptr, has_gs_ ? &gs_ : nullptr};
    file(kSvg, ".svg", "picture (SVG)", [&] { return recordingSvg(view); });
  }

  RecordingPageInput pageInput() const {
    RecordingPageInput in;
    in.stem = item_.files->stem;
    in.description = describeRecordingName(in.stem);
    in.facts = &facts_;
    in.track = has_track_ ? &track_ : nullptr;
    in.gsensor = has_gs_ ? &gs_ : nullptr;
    if (!item_.files->mp4.empty()) in.video = linkFrom(run_.opt.out_dir, item_.files->mp4);
    if (item_.partner >= 0) {
      const Item &p = items_[static_cast<size_t>(item_.partner)];
      in.partner_stem = p.files->stem;
      in.partner_page = href(p.base + ".html");
      if (!p.files->mp4.empty()) in.partner_video = linkFrom(run_.opt.out_dir, p.files->mp4);
    }
    in.subtitles = vtt_;
    in.files = files_;
    if (!item_.files->mp4.empty()) in.files.push_back({"video " + in.stem + ".mp4", in.video});
    in.notes = notes_;
    return in;
  }

  Run &run_;
  const ViewerOptions &viewer_;
  const std::vector<Item> &items_;
  const Item &item_;
  Track track_;
  GSensorData gs_;
  bool has_track_ = false, has_gs_ = false;
  RecordingFacts facts_;
  FileLinks files_;
  std::vector<std::string> notes_;
  std::string vtt_;  // the subtitles as WebVTT, for the page's video
};

// Every recording of every folder, with its output name and its partner of the other unit
// (paired by their names, before any file is read).
std::vector<Item> itemsOf(Run &run, const std::vector<FolderRecordings> &folders) {
  std::vector<Item> items;
  for (const auto &f : folders)
    for (const auto &rec : f.recordings)
      items.push_back({&rec, uniqueName(run, rec.stem), parseRecordingName(rec.stem)});
  std::vector<RecordingFacts> named(items.size());
  std::vector<const RecordingFacts *> all;
  for (size_t i = 0; i < items.size(); ++i) {
    named[i].name = items[i].name;
    named[i].start_local_s = items[i].name.valid ? items[i].name.start_s : 0;
    all.push_back(&named[i]);
  }
  for (const Trip &t : tripsOf(all))
    for (const Moment &m : t.moments)
      if (m.front >= 0 && m.rear >= 0) {
        items[static_cast<size_t>(m.front)].partner = m.rear;
        items[static_cast<size_t>(m.rear)].partner = m.front;
      }
  return items;
}

// Leaflet beside the pages, from the workstation's copy; false (the pages then draw the
// route plainly) when there is none.
bool copyLeaflet(Run &run) {
  const char *env = getenv("KV_LEAFLET_DIR");
  fs::path from = env ? env : kLeafletDir;
  std::error_code ec;
  if (!fs::exists(from / "leaflet.js", ec) || !fs::exists(from / "leaflet.css", ec)) {
    fprintf(stderr,
            "kv_export: no Leaflet in %s (Debian: apt-get install libjs-leaflet): the pages "
            "show the route without a map\n",
            from.c_str());
    return false;
  }
  fs::path to = fs::path(run.opt.out_dir) / "leaflet";
  fs::create_directories(to / "images", ec);
  for (const char *f : {"leaflet.js", "leaflet.css"}) {
    std::string bytes, error;
    if (!readWholeFile((from / f).string(), bytes, error) ||
        !writeFileAtomically((to / f).string(), bytes, error)) {
      fail(run, "cannot copy Leaflet's " + std::string(f) + ": " + error);
      return false;
    }
  }
  fs::copy(from / "images", to / "images",
           fs::copy_options::recursive | fs::copy_options::overwrite_existing, ec);
  printf("  %s/ (Leaflet, from %s)\n", to.c_str(), from.c_str());
  return true;
}

void writeViewerAssets(Run &run) {
  std::error_code ec;
  fs::create_directories(fs::path(run.opt.out_dir) / "viewer", ec);
  for (size_t i = 0; i < kViewerAssetCount; ++i)
    writeOut(run, std::string("viewer/") + kViewerAssets[i].name, kViewerAssets[i].text);
}

}  // namespace

void fail(Run &run, const std::string &what) {
  fprintf(stderr, "kv_export: %s\n", what.c_str());
  run.status = 1;
}

void exportAll(Run &run, const std::vector<FolderRecordings> &folders) {
  ViewerOptions viewer{run.opt.tiles, run.opt.counts_per_g, false};
  bool pages = run.opt.formats & kHtml;
  if (pages) {
    run.used_names.insert("index");
    writeViewerAssets(run);
    viewer.leaflet = copyLeaflet(run);
  }
  std::vector<Item> items = itemsOf(run, folders);
  std::vector<OverviewRecording> done;
  done.reserve(items.size());
  for (size_t i = 0; i < items.size(); ++i)
    done.push_back(RecordingExport(run, viewer, items, i).run());
  if (!pages) return;
  std::vector<const RecordingFacts *> facts;
  for (const auto &o : done) facts.push_back(&o.facts);
  std::vector<std::string> names;
  for (const auto &f : folders) names.push_back(f.folder);
  printf("overview:\n");
  writeOut(run, "index.html", overviewPage(done, tripsOf(facts), names, viewer));
}

}  // namespace kv_export
