// SPDX-License-Identifier: MIT
#include "viewer.hpp"

#include <math.h>

#include <algorithm>

#include "data_writers.hpp"
#include "svg_view.hpp"
#include "text_out.hpp"

namespace kv_export {
namespace {

// JSON text for inside a <script> element: "</script>" must not appear in it. The pages
// are written as polyglot markup (HTML5 that is also well-formed XML), so that any XML
// tool can check them.
std::string scriptJson(std::string_view text) {
  std::string out;
  for (char c : jsonText(text)) {
    if (c == '<')
      out += "\\u003c";  // no "</script>"
    else if (c == '&')
      out += "\\u0026";  // and no entity, for the page to read as XML too
    else
      out += c;
  }
  return out;
}

template <class Get>
void numbers(std::string &out, const char *key, size_t n, int decimals, Get get) {
  out += ",\"";
  out += key;
  out += "\":[";
  for (size_t i = 0; i < n; ++i) {
    if (i) out += ',';
    appendFixed(out, get(i), decimals);
  }
  out += ']';
}

std::string clockText(int64_t seconds) {
  std::string out;
  if (seconds >= 3600)
    appendf(out, "%lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
            static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
  else
    appendf(out, "%lld:%02lld", static_cast<long long>(seconds / 60),
            static_cast<long long>(seconds % 60));
  return out;
}

std::string zoneSuffix(const Zone &z) { return z.known ? " UTC" + zoneText(z) : " (zone unknown)"; }

// A speed the unit switch can turn into mph: the km/h value rides along.
std::string speedHtml(double kmh) {
  std::string out;
  appendf(out, "<span class=\"spd\" data-kmh=\"%.1f\">%.0f</span> <span class=\"su\">km/h</span>",
          kmh, kmh);
  return out;
}

std::string kmHtml(double km) {
  std::string out;
  appendf(out, "<span class=\"dst\" data-km=\"%.3f\">%.1f</span> <span class=\"du\">km</span>", km,
          km);
  return out;
}

const char *kindWord(char family) {
  switch (family) {
    case 'E':
      return "event";
    case 'M':
      return "motion";
    default:
      return "continuous";
  }
}

void head(std::string &html, std::string_view title, bool leaflet) {
  html += "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\"/>\n";
  html += "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\"/>\n";
  html += "<title>" + xmlText(title) + "</title>\n";
  if (leaflet) html += "<link rel=\"stylesheet\" href=\"leaflet/leaflet.css\"/>\n";
  html += "<link rel=\"stylesheet\" href=\"viewer/viewer.css\"/>\n</head>\n<body>\n";
}

void unitSwitch(std::string &html) {
  html +=
      "<span>Speed in <label><input type=\"radio\" name=\"unit\" value=\"kmh\" "
      "checked=\"checked\"/> "
      "km/h</label> <label><input type=\"radio\" name=\"unit\" value=\"mph\"/> "
      "mph</label></span>\n";
}

void scripts(std::string &html, bool leaflet, const char *own) {
  if (leaflet) html += "<script src=\"leaflet/leaflet.js\"></script>\n";
  html += std::string("<script src=\"viewer/") + own + "\"></script>\n</body>\n</html>\n";
}

// ---- one recording ------------------------------------------------------------------

std::string recordingData(const RecordingPageInput &in, const ViewerOptions &opt) {
  const RecordingFacts &f = *in.facts;
  std::vector<const TrackPoint *> fixes;
  std::string seg = "[";
  if (in.track)
    for (const auto &s : in.track->segments) {
      if (s.empty()) continue;
      appendf(seg, "%s%zu", seg.size() > 1 ? "," : "", fixes.size());
      for (const auto &p : s) fixes.push_back(&p);
    }
  seg += ']';
  double duration = std::max(1.0, f.duration_ms / 1000.0);
  std::string out;
  out.reserve(256 + fixes.size() * 48 + (in.gsensor ? in.gsensor->samples.size() * 32 : 0));
  out += "{\"stem\":\"" + scriptJson(in.stem) + "\"";
  appendf(out, ",\"duration\":%.3f", duration);
  const TrackPoint *timed = nullptr;
  for (const TrackPoint *p : fixes)
    if (!timed && p->has_utc) timed = p;
  if (timed)
    appendf(out, ",\"startUtcMs\":%lld", static_cast<long long>(timed->utc_ms - timed->offset_ms));
  else
    out += ",\"startUtcMs\":null";
  out += ",\"zone\":\"" + zoneText(f.zone) + "\"";
  appendf(out, ",\"zoneMinutes\":%d", f.zone.known ? f.zone.minutes : 0);
  out += ",\"tiles\":\"" + scriptJson(opt.tiles) + "\"";
  numbers(out, "t", fixes.size(), 3, [&](size_t i) { return fixes[i]->offset_ms / 1000.0; });
  numbers(out, "lat", fixes.size(), 7, [&](size_t i) { return fixes[i]->lat; });
  numbers(out, "lon", fixes.size(), 7, [&](size_t i) { return fixes[i]->lon; });
  numbers(out, "kmh", fixes.size(), 1, [&](size_t i) { return fixes[i]->speed_mps * 3.6; });
  out += ",\"seg\":" + seg + ",\"noFix\":[";
  if (in.track)
    for (size_t i = 0; i < in.track->no_fix.size(); ++i)
      appendf(out, "%s[%.3f,%.3f]", i ? "," : "", in.track->no_fix[i].from_ms / 1000.0,
              in.track->no_fix[i].to_ms / 1000.0);
  out += ']';
  const auto *g = in.gsensor ? &in.gsensor->samples : nullptr;
  size_t gn = g ? g->size() : 0;
  numbers(out, "gt", gn, 3, [&](size_t i) { return (*g)[i].time_ms / 1000.0; });
  numbers(out, "gx", gn, 0, [&](size_t i) { return (*g)[i].x; });
  numbers(out, "gy", gn, 0, [&](size_t i) { return (*g)[i].y; });
  numbers(out, "gz", gn, 0, [&](size_t i) { return (*g)[i].z; });
  out += opt.counts_per_g > 0 ? ",\"gUnit\":\"g\"" : ",\"gUnit\":\"sensor units\"";
  appendf(out, ",\"gScale\":%g", opt.counts_per_g);
  appendf(out, ",\"preEventEnd\":%.3f", f.trigger_ms >= 0 ? f.trigger_ms / 1000.0 : -1.0);
  out += ",\"events\":[";
  bool first = true;
  auto event = [&](int64_t ms, const std::string &label) {
    if (ms < 0) return;
    appendf(out, "%s{\"t\":%.3f,\"label\":\"%s\"}", first ? "" : ",", ms / 1000.0,
            scriptJson(label).c_str());
    first = false;
  };
  event(f.trigger_ms, "recording triggered");
  event(f.jolt_ms, "strongest jolt");
  out += "]}";
  return out;
}

std::string joltText(const RecordingFacts &f, const ViewerOptions &opt) {
  std::string out;
  if (opt.counts_per_g > 0)
    appendf(out, "%.2f g", f.jolt_value / opt.counts_per_g);
  else
    appendf(out, "%.0f sensor units", f.jolt_value);
  return out;
}

void factsBlock(std::string &html, const RecordingFacts &f) {
  html += "<div class=\"totals\">";
  int64_t end_s = f.start_local_s + (f.duration_ms + 999) / 1000;
  if (f.start_local_s > 0) {
    html += "<span>Start<b>" + localText(f.start_local_s) + "</b>" + zoneSuffix(f.zone) + "</span>";
    html += "<span>End<b>" + localText(end_s).substr(11) + "</b></span>";
  }
  html += "<span>Duration<b>" + clockText((f.duration_ms + 500) / 1000) + "</b></span>";
  if (f.has_track) {
    html += "<span>Distance<b>" + kmHtml(f.km) + "</b></span>";
    html += "<span>Top speed<b>" + speedHtml(f.top_kmh) + "</b></span>";
    html += "<span>Average<b>" + speedHtml(f.average_kmh) + "</b></span>";
  }
  html += "</div>\n";
}

void videoFigure(std::string &html, const char *id, const std::string &src,
                 const std::string &caption) {
  html += std::string("<figure><video id=\"") + id + "\" controls=\"controls\" preload=\"auto\"" +
          (std::string_view(id) == "rear" ? " muted=\"muted\"" : "") + " src=\"" + xmlText(src) +
          "\">";
  html += "</video><figcaption>" + xmlText(caption) + "</figcaption></figure>\n";
}

void videos(std::string &html, const RecordingPageInput &in, double duration) {
  html += "<div class=\"videos\">\n";
  if (!in.video.empty())
    videoFigure(html, "front", in.video, "this recording: " + in.stem + ".mp4");
  else
    html += "<div class=\"novideo\">No video " + xmlText(in.stem) +
            ".mp4 beside this recording</div>\n";
  if (!in.video.empty() && !in.partner_video.empty())
    videoFigure(html, "rear", in.partner_video,
                "the other unit at the same moment: " + in.partner_stem + ".mp4");
  html += "</div>\n";
  if (in.video.empty())
    appendf(html,
            "<label>Time <input type=\"range\" id=\"clock\" min=\"0\" max=\"%.3f\" step=\"0.1\" "
            "value=\"0\"/></label>\n",
            duration);
}

void eventButtons(std::string &html, const RecordingFacts &f, const ViewerOptions &opt) {
  if (f.trigger_ms < 0 && f.jolt_ms < 0) return;
  html += "<p class=\"events\">Events: ";
  if (f.trigger_ms >= 0)
    appendf(html, "<button data-seek=\"%.3f\">recording triggered at %s s</button>",
            f.trigger_ms / 1000.0, secondsText(f.trigger_ms).c_str());
  if (f.jolt_ms >= 0)
    appendf(html, "<button data-seek=\"%.3f\">strongest jolt, %s, at %s s</button>",
            f.jolt_ms / 1000.0, joltText(f, opt).c_str(), secondsText(f.jolt_ms).c_str());
  html += "</p>\n";
}

}  // namespace

std::string recordingPage(const RecordingPageInput &in, const ViewerOptions &opt) {
  const RecordingFacts &f = *in.facts;
  const bool leaflet = opt.leaflet;
  std::string html;
  head(html, in.stem, leaflet);
  html += "<p><a href=\"index.html\">\u2190 all recordings</a></p>\n<h1>" + xmlText(in.stem) +
          "</h1>\n";
  if (!in.description.empty()) html += "<p class=\"sub\">" + xmlText(in.description) + "</p>\n";
  factsBlock(html, f);
  html += "<div class=\"bar\">";
  unitSwitch(html);
  if (!in.partner_page.empty())
    html += "<a href=\"" + xmlText(in.partner_page) + "\">the other unit's page (" +
            xmlText(in.partner_stem) + ")</a>";
  html += "</div>\n";
  videos(html, in, std::max(1.0, f.duration_ms / 1000.0));
  html += "<p class=\"readout\" id=\"readout\"></p>\n";
  eventButtons(html, f, opt);
  html += "<div class=\"panes\">";
  if (f.positions > 0)
    html += "<div id=\"map\"></div>";
  else
    html += "<div class=\"novideo\">no position with fix: no route to show</div>";
  html += "<div>";
  if (f.positions > 0) html += "<canvas id=\"speed-chart\" class=\"chart\"></canvas>";
  if (in.gsensor && !in.gsensor->samples.empty())
    html += "<canvas id=\"g-chart\" class=\"chart\"></canvas>";
  html += "<p class=\"sub\">Click the map or a chart to see that moment. G-forces ";
  html += opt.counts_per_g > 0 ? "in g" : "in the sensor's own units (its scale is not known)";
  html += ", each the change against the four samples before, as the recorder stores them.</p>";
  html += "</div></div>\n<h2>Files</h2>\n<ul class=\"files\">\n";
  for (const auto &[label, file] : in.files)
    html += "<li><a href=\"" + xmlText(file) + "\">" + xmlText(label) + "</a></li>\n";
  html += "</ul>\n";
  for (const auto &n : in.notes) html += "<p class=\"note\">" + xmlText(n) + "</p>\n";
  html +=
      "<script id=\"kv-data\" type=\"application/json\">" + recordingData(in, opt) + "</script>\n";
  // The cues hold times, numbers and units only: nothing that markup would read.
  if (!in.subtitles.empty() && in.subtitles.find_first_of("<&") == std::string::npos)
    html += "<script id=\"kv-subtitles\" type=\"text/vtt\">\n" + in.subtitles + "</script>\n";
  scripts(html, leaflet, "recording.js");
  return html;
}

// ---- the overview ---------------------------------------------------------------------

std::vector<std::pair<double, double>> thinnedRoute(const Track &t, size_t most) {
  std::vector<std::pair<double, double>> all;
  for (const auto &s : t.segments)
    for (const auto &p : s) all.push_back({p.lat, p.lon});
  if (all.size() <= most || most < 2) return all;
  std::vector<std::pair<double, double>> out;
  for (size_t k = 0; k < most; ++k) out.push_back(all[k * (all.size() - 1) / (most - 1)]);
  return out;
}

namespace {

struct Totals {
  size_t recordings = 0, events = 0;
  double km = 0, top_kmh = 0;
  int64_t seconds = 0;
};

std::string recordingLink(const OverviewRecording &r) {
  const char *unit = r.facts.name.unit == 'R' ? "rear" : r.facts.name.unit == 'F' ? "front" : "";
  std::string out;
  if (*unit) out += std::string(unit) + " ";
  return out + "<a href=\"" + xmlText(r.page) + "\">" + xmlText(r.stem) + "</a>";
}

void momentRow(std::string &html, const Moment &m, const std::vector<OverviewRecording> &recs) {
  const OverviewRecording &r = recs[m.main()];
  const RecordingFacts &f = r.facts;
  char fam = f.name.valid ? f.name.family : 'N';
  html += std::string("<tr class=\"rec-") + fam + "\"><td>" +
          (f.start_local_s > 0 ? localText(f.start_local_s).substr(11) : std::string("?")) +
          " <span class=\"kind kind-" + fam + "\">" + kindWord(fam) + "</span>" +
          (f.name.valid ? (f.name.parked ? " parked" : " driving") : "") + "</td><td></td>";
  html += "<td class=\"num\">" + clockText((f.duration_ms + 500) / 1000) + "</td>";
  if (f.positions > 0)
    html += "<td class=\"num\">" + kmHtml(f.km) + "</td><td class=\"num\">" + speedHtml(f.top_kmh) +
            "</td><td class=\"num\">" + speedHtml(f.average_kmh) + "</td>";
  else
    html += "<td class=\"num\" colspan=\"3\">no GPS fix</td>";
  html += "<td>" + recordingLink(r);
  if (m.rear >= 0 && m.front >= 0) html += " + " + recordingLink(recs[m.rear]);
  for (int i : {m.front, m.rear})
    if (i >= 0 && !recs[i].notes.empty())
      appendf(html, " <span class=\"note\" title=\"%s\">(%zu note%s)</span>",
              xmlText(recs[i].notes.front()).c_str(), recs[i].notes.size(),
              recs[i].notes.size() == 1 ? "" : "s");
  html += "</td></tr>\n";
}

void tripBody(std::string &html, size_t n, const Trip &t,
              const std::vector<OverviewRecording> &recs, Totals &totals) {
  std::string kinds;
  size_t recordings = 0;
  for (const Moment &m : t.moments)
    for (int i : {m.front, m.rear})
      if (i >= 0) {
        char fam = recs[i].facts.name.valid ? recs[i].facts.name.family : 'N';
        if (kinds.find(fam) == std::string::npos) kinds += fam;
        ++recordings;
      }
  totals.recordings += recordings;
  totals.events += t.events.size();
  totals.km += t.km;
  totals.top_kmh = std::max(totals.top_kmh, t.top_kmh);
  totals.seconds += t.end_s - t.start_s;
  const Zone &zone = recs[t.moments.front().main()].facts.zone;
  appendf(html,
          "<tbody class=\"trip\" id=\"trip-%zu\" data-start=\"%lld\" data-duration=\"%lld\" "
          "data-km=\"%.3f\" data-top=\"%.1f\" data-avg=\"%.1f\" data-kinds=\"%s\">\n",
          n, static_cast<long long>(t.start_s), static_cast<long long>(t.end_s - t.start_s), t.km,
          t.top_kmh, t.averageKmh(), kinds.c_str());
  html += "<tr class=\"head\"><td>" +
          (t.start_s > 0 ? localText(t.start_s) + " " + zoneText(zone) : std::string("unknown")) +
          "</td><td>" + (t.start_s > 0 ? localText(t.end_s).substr(11) : std::string()) + "</td>";
  html += "<td class=\"num\">" + clockText(t.end_s - t.start_s) + "</td>";
  if (t.has_track)
    html += "<td class=\"num\">" + kmHtml(t.km) + "</td><td class=\"num\">" + speedHtml(t.top_kmh) +
            "</td><td class=\"num\">" + speedHtml(t.averageKmh()) + "</td>";
  else
    html += "<td class=\"num\" colspan=\"3\">no GPS fix</td>";
  appendf(html, "<td>trip %zu: %zu recording%s", n, recordings, recordings == 1 ? "" : "s");
  if (!t.events.empty())
    appendf(html, ", <span class=\"kind kind-E\">%zu event%s</span>", t.events.size(),
            t.events.size() == 1 ? "" : "s");
  html += "</td></tr>\n";
  for (const Moment &m : t.moments) momentRow(html, m, recs);
  html += "</tbody>\n";
}

void routesJson(std::string &html, const std::vector<OverviewRecording> &recs,
                const std::vector<Trip> &trips) {
  html += "<script id=\"kv-routes\" type=\"application/json\">[";
  bool first = true;
  for (size_t n = 0; n < trips.size(); ++n)
    for (const Moment &m : trips[n].moments) {
      const OverviewRecording &r =
          recs[m.front >= 0 && !recs[m.front].route.empty() ? m.front : m.main()];
      if (r.route.empty()) continue;
      appendf(html, "%s{\"id\":\"trip-%zu\",\"event\":%s,\"label\":\"%s\"", first ? "" : ",\n",
              n + 1, r.facts.name.family == 'E' ? "true" : "false", scriptJson(r.stem).c_str());
      numbers(html, "lat", r.route.size(), 5, [&](size_t i) { return r.route[i].first; });
      numbers(html, "lon", r.route.size(), 5, [&](size_t i) { return r.route[i].second; });
      html += '}';
      first = false;
    }
  html += "]</script>\n";
}

}  // namespace

std::string overviewPage(const std::vector<OverviewRecording> &recs, const std::vector<Trip> &trips,
                         const std::vector<std::string> &folders, const ViewerOptions &opt) {
  std::string rows;
  rows.reserve(recs.size() * 700);
  Totals totals;
  for (size_t n = 0; n < trips.size(); ++n) tripBody(rows, n + 1, trips[n], recs, totals);

  std::string html;
  html.reserve(rows.size() + recs.size() * 400 + 4096);
  head(html, "Recordings", opt.leaflet);
  html += "<h1>Recordings</h1>\n<p class=\"sub\">From ";
  for (size_t i = 0; i < folders.size(); ++i) html += (i ? ", " : "") + xmlText(folders[i]);
  html += ". Times are the units' local time, with the zone (UTC offset) each track shows.</p>\n";
  html += "<div class=\"totals\">";
  appendf(html, "<span>Trips<b>%zu</b></span><span>Recordings<b>%zu</b></span>", trips.size(),
          totals.recordings);
  appendf(html, "<span>Events<b>%zu</b></span>", totals.events);
  html += "<span>Distance<b>" + kmHtml(totals.km) + "</b></span>";
  html += "<span>Time<b>" + clockText(totals.seconds) + "</b></span>";
  html += "<span>Top speed<b>" + speedHtml(totals.top_kmh) + "</b></span></div>\n";
  html +=
      "<div class=\"bar\"><span>Show <label><input type=\"checkbox\" name=\"kind\" value=\"N\" "
      "checked=\"checked\"/> continuous</label> <label><input type=\"checkbox\" name=\"kind\" "
      "value=\"E\" "
      "checked=\"checked\"/> events (impact, manual)</label> <label><input type=\"checkbox\" "
      "name=\"kind\" "
      "value=\"M\" checked=\"checked\"/> motion while parked</label></span>";
  unitSwitch(html);
  html += "</div>\n<div id=\"overview-map\" data-tiles=\"" + xmlText(opt.tiles) + "\"></div>\n";
  html +=
      "<table id=\"trips\"><thead><tr><th data-key=\"start\">Start</th><th>End</th>"
      "<th data-key=\"duration\">Duration</th><th data-key=\"km\">Distance</th>"
      "<th data-key=\"top\">Top speed</th><th data-key=\"avg\">Average</th>"
      "<th>Recordings</th></tr></thead>\n";
  html += rows;
  html += "</table>\n";
  routesJson(html, recs, trips);
  scripts(html, opt.leaflet, "overview.js");
  return html;
}

}  // namespace kv_export
