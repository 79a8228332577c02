// kv_export: turns the recorder's GPS track files (".gps") and G-sensor data files
// (".gsf") into files a person can look at: GPX, CSV and GeoJSON tracks, G-sensor CSV, a
// picture per recording and a page per recordings folder. A workstation tool: it reads a
// card's folder (or copies of its files) and never writes beside the recordings unless
// told to.
#include <math.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "data_writers.hpp"
#include "file_io.hpp"
#include "gsensor_reader.hpp"
#include "html_page.hpp"
#include "kv_cmdline.h"
#include "recordings.hpp"
#include "svg_view.hpp"
#include "text_out.hpp"
#include "track_reader.hpp"

namespace {

using namespace kvx;

constexpr char kUsage[] = R"(Usage: kv_export [-o FOLDER] [--only LIST] INPUT...

Turns the recorder's GPS track files (.gps) and G-sensor data files (.gsf) into files a
person can look at. An INPUT is a .gps or .gsf file, or a recordings folder (read flat:
a .gps and a .gsf of one name stem are one recording).

Outputs go into the output folder (-o; ./exported when not given), named after each
recording's stem STEM:
  STEM.gpx          the track as GPX 1.1, one segment per stretch with fix; speed (m/s)
                    and course in the Garmin TrackPointExtension
  STEM.track.csv    the track, one row per position
  STEM.geojson      the track as GeoJSON (a MultiLineString, a line per stretch)
  STEM.gsensor.csv  the G-sensor records: time since the recording's start, x, y, z,
                    pre_event (1 for what was recorded before the recording was triggered)
  STEM.svg          the route to scale, the speed and the G-forces on one time axis
and for every folder the recordings came from, FOLDER.html, a page showing them all.
Existing files of those names are replaced; nothing else in the folder is touched.

Options:
  -o, --output FOLDER  where the outputs go (created if missing); default ./exported
  --only LIST          write only these, comma-separated: gpx,csv,geojson,gsensor,svg,html
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

enum Format : unsigned { kGpx = 1, kCsv = 2, kGeoJson = 4, kGsensor = 8, kSvg = 16, kHtml = 32 };

struct FormatInfo {
  const char *name;
  unsigned bit;
};
constexpr FormatInfo kFormats[] = {{"gpx", kGpx},         {"csv", kCsv}, {"geojson", kGeoJson},
                                   {"gsensor", kGsensor}, {"svg", kSvg}, {"html", kHtml}};

struct Options {
  std::string out_dir = "exported";
  unsigned formats = kGpx | kCsv | kGeoJson | kGsensor | kSvg | kHtml;
  std::vector<std::string> inputs;
  bool help = false;
};

// The run's state: the options, the names already given out and the exit status.
struct Run {
  Options opt;
  std::set<std::string> used_names;
  int status = 0;
};

// ---- command line -------------------------------------------------------------------

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
              "kv_export: unknown output '%s' in --only (gpx,csv,geojson,gsensor,svg,html)\n",
              name.c_str());
      return false;
    }
    formats |= bit;
    at = comma + 1;
  }
  return true;
}

// False after telling what is wrong.
bool parseArgs(int argc, char **argv, Options &opt) {
  bool options_done = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    bool has_value = i + 1 < argc;
    if (options_done || a.empty() || a[0] != '-' || a == "-") {
      opt.inputs.push_back(a);
    } else if (a == "--") {
      options_done = true;
    } else if (a == "-h" || a == "--help") {
      opt.help = true;
    } else if ((a == "-o" || a == "--output") && has_value) {
      opt.out_dir = argv[++i];
    } else if (a == "--only" && has_value) {
      if (!parseFormats(argv[++i], opt.formats)) return false;
    } else {
      fprintf(
          stderr, "kv_export: %s '%s' (see kv_export --help)\n",
          a == "-o" || a == "--output" || a == "--only" ? "missing value after" : "unknown option",
          a.c_str());
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

// ---- reading ------------------------------------------------------------------------

void fail(Run &run, const std::string &what) {
  fprintf(stderr, "kv_export: %s\n", what.c_str());
  run.status = 1;
}

// Tells on standard error, and in the page's notes, what reading a file turned up.
void tell(Run &run, const std::string &path, const ReadReport &r, bool lines,
          std::vector<std::string> &notes) {
  std::string name = path.substr(path.rfind('/') + 1);
  std::vector<std::string> said;
  if (r.cut) {
    std::string s;
    if (lines)
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
            lines ? (r.damaged == 1 ? "line" : "lines") : (r.damaged == 1 ? "part" : "parts"),
            lines ? "line" : "record", r.first_damaged, r.first_reason.c_str());
    said.push_back(s);
    run.status = 1;
  }
  for (const auto &s : said) {
    fprintf(stderr, "kv_export: %s: %s\n", path.c_str(), s.c_str());
    notes.push_back(name + ": " + s);
  }
}

bool loadTrack(Run &run, const std::string &path, Track &t, std::vector<std::string> &notes) {
  std::string bytes, error;
  if (!readWholeFile(path, bytes, error) || !readTrack(bytes, t, error)) {
    fail(run, path + ": " + error);
    notes.push_back(path.substr(path.rfind('/') + 1) + ": not read: " + error);
    return false;
  }
  tell(run, path, t.report, true, notes);
  return true;
}

bool loadGSensor(Run &run, const std::string &path, GSensorData &d,
                 std::vector<std::string> &notes) {
  std::string bytes, error;
  if (!readWholeFile(path, bytes, error) || !readGSensor(bytes, d, error)) {
    fail(run, path + ": " + error);
    notes.push_back(path.substr(path.rfind('/') + 1) + ": not read: " + error);
    return false;
  }
  tell(run, path, d.report, false, notes);
  return true;
}

// ---- facts for the page ---------------------------------------------------------------

double distanceKm(const Track &t) {
  constexpr double kEarthKm = 6371.0, kRad = 3.14159265358979323846 / 180;
  double km = 0;
  for (const auto &seg : t.segments)
    for (size_t i = 1; i < seg.size(); ++i) {
      double dlat = (seg[i].lat - seg[i - 1].lat) * kRad,
             dlon = (seg[i].lon - seg[i - 1].lon) * kRad;
      double a = sin(dlat / 2) * sin(dlat / 2) + cos(seg[i].lat * kRad) *
                                                     cos(seg[i - 1].lat * kRad) * sin(dlon / 2) *
                                                     sin(dlon / 2);
      km += 2 * kEarthKm * atan2(sqrt(a), sqrt(1 - a));
    }
  return km;
}

std::string trackFacts(const Track &t) {
  double top = 0;
  for (const auto &seg : t.segments)
    for (const auto &p : seg) top = std::max(top, p.speed_mps * 3.6);
  std::string s;
  appendf(s,
          "track: %zu positions in %zu stretch%s with fix, %.2f km, top speed %.0f km/h, %s s long",
          t.points(), t.segments.size(), t.segments.size() == 1 ? "" : "es", distanceKm(t), top,
          secondsText(t.end_ms).c_str());
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

// ---- writing --------------------------------------------------------------------------

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

void exportOne(Run &run, const std::string &base, unsigned bit, const char *suffix,
               const char *label, const std::string &content, PageEntry &entry) {
  if (!(run.opt.formats & bit)) return;
  std::string file = base + suffix;
  if (writeOut(run, file, content)) entry.files.push_back({label, file});
}

PageEntry exportRecording(Run &run, const RecordingFiles &rec) {
  PageEntry e;
  e.name = rec.stem;
  e.description = describeRecordingName(rec.stem);
  Track track;
  GSensorData gs;
  bool has_track = !rec.gps.empty() && loadTrack(run, rec.gps, track, e.notes);
  bool has_gs = !rec.gsf.empty() && loadGSensor(run, rec.gsf, gs, e.notes);
  if (has_track) e.facts.push_back(trackFacts(track));
  if (has_gs) e.facts.push_back(gsensorFacts(gs));
  printf("%s: %s%s%s\n", rec.stem.c_str(), has_track ? trackFacts(track).c_str() : "no track",
         has_gs ? "; " : "", has_gs ? gsensorFacts(gs).c_str() : "");
  std::string base = uniqueName(run, rec.stem);
  if (has_track) {
    exportOne(run, base, kGpx, ".gpx", "GPX", trackGpx(track, rec.stem), e);
    exportOne(run, base, kCsv, ".track.csv", "track CSV", trackCsv(track), e);
    exportOne(run, base, kGeoJson, ".geojson", "GeoJSON", trackGeoJson(track, rec.stem), e);
  }
  if (has_gs) exportOne(run, base, kGsensor, ".gsensor.csv", "G-sensor CSV", gsensorCsv(gs), e);
  if ((has_track || has_gs) && (run.opt.formats & kSvg)) {
    RecordingView view{rec.stem, e.description, has_track ? &track : nullptr,
                       has_gs ? &gs : nullptr};
    std::string file = base + ".svg";
    if (writeOut(run, file, recordingSvg(view))) {
      e.picture = file;
      e.files.push_back({"picture (SVG)", file});
    }
  }
  return e;
}

// "Recordings.html" for ".../Recordings"; the parent's name is put first when two folders
// of one name are exported together (a front and a rear unit's cards).
std::string pageName(Run &run, const std::string &real) {
  std::filesystem::path p(real);
  std::string name = p.filename().string(), parent = p.parent_path().filename().string();
  if (name.empty()) name = "recordings";
  if (run.used_names.count(name + ".html") && !parent.empty()) name = parent + "-" + name;
  return uniqueName(run, name + ".html");
}

void exportFolder(Run &run, const FolderRecordings &f) {
  if (f.recordings.empty()) {
    fprintf(stderr, "kv_export: %s: no .gps or .gsf file in it\n", f.folder.c_str());
    return;
  }
  std::vector<PageEntry> entries;
  for (const auto &rec : f.recordings) entries.push_back(exportRecording(run, rec));
  if (!(run.opt.formats & kHtml)) return;
  std::string page = pageName(run, f.real);
  printf("page of %s:\n", f.folder.c_str());
  writeOut(run, page, folderPage(f.folder, entries));
}

bool makeOutputFolder(const std::string &dir) {
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  struct stat st;
  if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    fprintf(stderr, "kv_export: cannot make the output folder %s: %s\n", dir.c_str(),
            ec ? ec.message().c_str() : "not a folder");
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char **argv) {
  kv_answer_help_or_version("kv_export", argc, argv);
  Run run;
  if (!parseArgs(argc, argv, run.opt)) return 2;
  if (run.opt.help) {
    fputs(kUsage, stdout);
    return 0;
  }
  removeTemporaryFileOnSignals();

  std::vector<std::string> errors;
  std::vector<FolderRecordings> folders = gatherRecordings(run.opt.inputs, errors);
  for (const auto &e : errors) fail(run, e);
  size_t recordings = 0;
  for (const auto &f : folders) recordings += f.recordings.size();
  if (recordings == 0) {
    fail(run, "no .gps or .gsf file to export");
    return 1;
  }
  if (!makeOutputFolder(run.opt.out_dir)) return 1;

  for (const auto &f : folders) exportFolder(run, f);
  return run.status;
}
