// SPDX-License-Identifier: MIT
#include "svg_view.hpp"

#include <math.h>
#include <stdlib.h>

#include <algorithm>
#include <string_view>
#include <vector>

#include "text_out.hpp"

namespace kv_export {
namespace {

// Page geometry (px).
constexpr double kWidth = 960, kLeft = 70, kRight = 20;
constexpr double kPlotWidth = kWidth - kLeft - kRight;
constexpr double kRouteTop = 64, kRouteHeight = 400;
constexpr double kSpeedTop = 500, kSpeedHeight = 150;
constexpr double kGTop = 700, kGHeight = 180;
constexpr double kHeight = kGTop + kGHeight + 50;

constexpr double kMetresPerDegreeLat = 110540.0;
constexpr double kMetresPerDegreeLonAtEquator = 111320.0;
constexpr double kPi = 3.14159265358979323846;

struct Axis {  // a value range mapped onto a pixel range
  double v0, v1, p0, p1;
  double at(double v) const { return p0 + (v - v0) * (p1 - p0) / (v1 - v0); }
};

// 1, 2 or 5 times a power of ten, near range / wanted.
double niceStep(double range, double wanted) {
  double raw = range / wanted;
  double mag = pow(10.0, floor(log10(raw)));
  for (double m : {1.0, 2.0, 5.0})
    if (m * mag >= raw) return m * mag;
  return 10 * mag;
}

// A polyline that leaves out points closer than half a pixel to the last one drawn: an
// hour at 5 Hz is 18,000 points on 870 pixels. A stretch of a single fix is a line of one
// point, which SVG does not draw: it becomes a dot in the line's colour.
class Polyline {
 public:
  void add(double x, double y) {
    if (points_ > 0 && fabs(x - lx_) < 0.5 && fabs(y - ly_) < 0.5) return;
    appendFixed(pts_, x, 1);
    pts_ += ',';
    appendFixed(pts_, y, 1);
    pts_ += ' ';
    lx_ = x, ly_ = y;
    ++points_;
  }
  void draw(std::string &svg, const char *style) const {
    if (points_ == 1)
      appendf(svg, "<circle cx=\"%.1f\" cy=\"%.1f\" r=\"2\" %s/>\n", lx_, ly_, style);
    else if (points_ > 1)
      svg += std::string("<polyline ") + style + " points=\"" + pts_ + "\"/>\n";
  }

 private:
  std::string pts_;
  double lx_ = 0, ly_ = 0;
  int points_ = 0;
};

void text(std::string &svg, double x, double y, const char *attrs, std::string_view s) {
  appendf(svg, "<text x=\"%.1f\" y=\"%.1f\" %s>", x, y, attrs);
  svg += xmlText(s) + "</text>\n";
}

void emptyPanel(std::string &svg, double top, double height, const char *message) {
  appendf(svg, "<rect x=\"%.0f\" y=\"%.0f\" width=\"%.0f\" height=\"%.0f\" fill=\"#f4f4f4\"/>\n",
          kLeft, top, kPlotWidth, height);
  text(svg, kLeft + kPlotWidth / 2, top + height / 2, "text-anchor=\"middle\" fill=\"#777\"",
       message);
}

// Steps a person reads on a clock: seconds, then minutes.
double timeStep(double range_s, double wanted) {
  static constexpr double kSteps[] = {0.1, 0.2, 0.5, 1,   2,    5,    10,   15,    30,   60,
                                      120, 300, 600, 900, 1800, 3600, 7200, 14400, 28800};
  for (double s : kSteps)
    if (s >= range_s / wanted) return s;
  return niceStep(range_s, wanted);
}

std::string timeLabel(double s, double step) {
  std::string out;
  if (step >= 60) {
    long long t = llround(s), a = t < 0 ? -t : t;
    appendf(out, "%s%lld:%02lld", t < 0 ? "-" : "", a / 60, a % 60);
  } else {
    appendf(out, "%g s", s);
  }
  return out;
}

void timeTicks(std::string &svg, const Axis &t, double top, double height) {
  double step = timeStep((t.v1 - t.v0) / 1000.0, 8);
  // Counted, not stepped by value: far from zero a step may be below the precision of s.
  double first = ceil(t.v0 / 1000.0 / step) * step;
  for (int i = 0; i < 100 && (first + i * step) * 1000 <= t.v1; ++i) {
    double s = first + i * step;
    double x = t.at(s * 1000);
    appendf(svg, "<line x1=\"%.1f\" y1=\"%.0f\" x2=\"%.1f\" y2=\"%.0f\" stroke=\"#ddd\"/>\n", x,
            top, x, top + height);
    text(svg, x, top + height + 14, "text-anchor=\"middle\" font-size=\"11\"", timeLabel(s, step));
  }
}

void valueTicks(std::string &svg, const Axis &v, double step, const char *unit) {
  double first = ceil(v.v0 / step) * step;
  for (int i = 0; i < 100 && first + i * step <= v.v1 + 1e-9; ++i) {
    double y = first + i * step;
    double py = v.at(y);
    appendf(svg, "<line x1=\"%.0f\" y1=\"%.1f\" x2=\"%.0f\" y2=\"%.1f\" stroke=\"#ddd\"/>\n", kLeft,
            py, kLeft + kPlotWidth, py);
    std::string label;
    appendf(label, "%g%s", fabs(y) < 1e-9 ? 0.0 : y, unit);
    text(svg, kLeft - 6, py + 4, "text-anchor=\"end\" font-size=\"11\"", label);
  }
}

// Shading of a time stretch across a panel, with its label at the top.
void stretch(std::string &svg, const Axis &t, int64_t from, int64_t to, double top, double height,
             const char *fill, const char *label) {
  double x0 = std::max(t.at(static_cast<double>(from)), kLeft);
  double x1 = std::min(t.at(static_cast<double>(to)), kLeft + kPlotWidth);
  if (x1 <= x0) return;
  appendf(svg, "<rect x=\"%.1f\" y=\"%.0f\" width=\"%.1f\" height=\"%.0f\" fill=\"%s\"/>\n", x0,
          top, x1 - x0, height, fill);
  if (label && x1 - x0 > 40)
    text(svg, (x0 + x1) / 2, top + 12, "text-anchor=\"middle\" font-size=\"10\" fill=\"#666\"",
         label);
}

void triggerLine(std::string &svg, const Axis &t, int64_t trigger, double top, double height) {
  if (trigger < 0) return;
  double x = t.at(static_cast<double>(trigger));
  appendf(svg,
          "<line x1=\"%.1f\" y1=\"%.0f\" x2=\"%.1f\" y2=\"%.0f\" stroke=\"#e6550d\" "
          "stroke-width=\"2\" stroke-dasharray=\"6,3\"/>\n",
          x, top, x, top + height);
  text(svg, x + 4, top + height - 6, "font-size=\"11\" fill=\"#e6550d\"", "trigger");
}

// ---- route ------------------------------------------------------------------------

struct Projection {
  double lat0 = 0, lon0 = 0, mx = 0, my = 0;  // metres per degree
  double scale = 1, ox = 0, oy = 0;           // px per metre, pixel origin
  double x(const TrackPoint &p) const { return ox + (p.lon - lon0) * mx * scale; }
  double y(const TrackPoint &p) const { return oy - (p.lat - lat0) * my * scale; }
};

Projection fitRoute(const Track &t, double left, double top, double w, double h) {
  double la0 = 90, la1 = -90, lo0 = 180, lo1 = -180;
  for (const auto &seg : t.segments)
    for (const auto &p : seg) {
      la0 = std::min(la0, p.lat), la1 = std::max(la1, p.lat);
      lo0 = std::min(lo0, p.lon), lo1 = std::max(lo1, p.lon);
    }
  Projection pr;
  pr.lat0 = la0, pr.lon0 = lo0;
  pr.my = kMetresPerDegreeLat;
  pr.mx = kMetresPerDegreeLonAtEquator * cos((la0 + la1) / 2 * kPi / 180);
  double wm = std::max((lo1 - lo0) * pr.mx, 1.0), hm = std::max((la1 - la0) * pr.my, 1.0);
  pr.scale = std::min(w / wm, h / hm);
  pr.ox = left + (w - wm * pr.scale) / 2;
  pr.oy = top + h - (h - hm * pr.scale) / 2;
  return pr;
}

void scaleBar(std::string &svg, double px_per_m, double x, double y) {
  double metres = niceStep(kPlotWidth / 5 / px_per_m, 1);
  double len = metres * px_per_m;
  appendf(svg,
          "<path d=\"M%.1f %.1f v6 h%.1f v-6\" fill=\"none\" stroke=\"#333\" "
          "stroke-width=\"1.5\"/>\n",
          x, y - 6, len);
  std::string label;
  if (metres >= 1000)
    appendf(label, "%g km", metres / 1000);
  else
    appendf(label, "%g m", metres);
  text(svg, x + len + 6, y + 1, "font-size=\"11\"", label);
}

void routePanel(std::string &svg, const Track *t) {
  if (!t || t->points() == 0) {
    emptyPanel(svg, kRouteTop, kRouteHeight, t ? "no position fix in the track" : "no GPS track");
    return;
  }
  appendf(svg, "<rect x=\"%.0f\" y=\"%.0f\" width=\"%.0f\" height=\"%.0f\" fill=\"#f7f9fb\"/>\n",
          kLeft, kRouteTop, kPlotWidth, kRouteHeight);
  Projection pr = fitRoute(*t, kLeft + 20, kRouteTop + 20, kPlotWidth - 40, kRouteHeight - 50);
  const TrackPoint *prev_end = nullptr;
  for (const auto &seg : t->segments) {
    if (prev_end)  // a stretch without fix: the car went from here to there unseen
      appendf(svg,
              "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#999\" "
              "stroke-width=\"2\" stroke-dasharray=\"5,4\"/>\n",
              pr.x(*prev_end), pr.y(*prev_end), pr.x(seg.front()), pr.y(seg.front()));
    Polyline line;
    for (const auto &p : seg) line.add(pr.x(p), pr.y(p));
    line.draw(svg,
              "fill=\"none\" stroke=\"#1f77b4\" stroke-width=\"2.5\" stroke-linejoin=\"round\"");
    prev_end = &seg.back();
  }
  const TrackPoint &a = t->segments.front().front(), &b = t->segments.back().back();
  appendf(svg, "<circle cx=\"%.1f\" cy=\"%.1f\" r=\"6\" fill=\"#2ca02c\"/>\n", pr.x(a), pr.y(a));
  appendf(svg, "<rect x=\"%.1f\" y=\"%.1f\" width=\"11\" height=\"11\" fill=\"#d62728\"/>\n",
          pr.x(b) - 5.5, pr.y(b) - 5.5);
  text(svg, pr.x(a) + 9, pr.y(a) - 7, "font-size=\"11\" fill=\"#2ca02c\"", "start");
  text(svg, pr.x(b) + 9, pr.y(b) - 7, "font-size=\"11\" fill=\"#d62728\"", "end");
  scaleBar(svg, pr.scale, kLeft + 12, kRouteTop + kRouteHeight - 12);
  text(svg, kLeft + kPlotWidth - 14, kRouteTop + 22, "text-anchor=\"middle\" font-size=\"13\"",
       "N");
  appendf(svg, "<path d=\"M%.1f %.1f l-5 12 h10 z\" fill=\"#333\"/>\n", kLeft + kPlotWidth - 14,
          kRouteTop + 26);
}

// ---- time panels ------------------------------------------------------------------

void speedPanel(std::string &svg, const Track *t, const Axis &time, int64_t trigger) {
  if (!t || t->lines == 0) {
    emptyPanel(svg, kSpeedTop, kSpeedHeight, t ? "no sentences in the track" : "no GPS track");
    return;
  }
  double top_kmh = 10;
  for (const auto &seg : t->segments)
    for (const auto &p : seg) top_kmh = std::max(top_kmh, p.speed_mps * 3.6);
  double step = niceStep(top_kmh, 4);
  Axis v{0, ceil(top_kmh / step) * step, kSpeedTop + kSpeedHeight, kSpeedTop};
  for (const Gap &g : t->no_fix)
    stretch(svg, time, g.from_ms, g.to_ms, kSpeedTop, kSpeedHeight, "#e4e4e4", "no fix");
  timeTicks(svg, time, kSpeedTop, kSpeedHeight);
  valueTicks(svg, v, step, "");
  for (const auto &seg : t->segments) {
    Polyline line;
    for (const auto &p : seg)
      line.add(time.at(static_cast<double>(p.offset_ms)), v.at(p.speed_mps * 3.6));
    line.draw(svg, "fill=\"none\" stroke=\"#1f77b4\" stroke-width=\"1.5\"");
  }
  triggerLine(svg, time, trigger, kSpeedTop, kSpeedHeight);
  text(svg, kLeft, kSpeedTop - 8, "font-size=\"13\" font-weight=\"bold\"", "Speed (km/h)");
}

struct Peak {
  size_t index = 0;
  int axis = 0;
  int32_t value = 0;
};

Peak strongestJolt(const std::vector<GSample> &s) {
  Peak pk;
  for (size_t i = 0; i < s.size(); ++i) {
    const int32_t v[3] = {s[i].x, s[i].y, s[i].z};
    for (int a = 0; a < 3; ++a)
      if (llabs(v[a]) > llabs(pk.value)) pk = {i, a, v[a]};
  }
  return pk;
}

void gPanel(std::string &svg, const GSensorData *d, const Axis &time, int64_t trigger) {
  if (!d || d->samples.empty()) {
    emptyPanel(svg, kGTop, kGHeight, d ? "no G-sensor records" : "no G-sensor data");
    return;
  }
  Peak pk = strongestJolt(d->samples);
  double top = std::max<double>(llabs(pk.value), 10);
  double step = niceStep(top, 3);
  top = ceil(top / step) * step;
  Axis v{-top, top, kGTop + kGHeight, kGTop};
  if (trigger >= 0)
    stretch(svg, time, static_cast<int64_t>(time.v0), trigger, kGTop, kGHeight, "#fff1d6",
            "pre-event");
  timeTicks(svg, time, kGTop, kGHeight);
  valueTicks(svg, v, step, "");
  static constexpr const char *kColours[3] = {"#d62728", "#2ca02c", "#1f77b4"};
  static constexpr const char *kNames[3] = {"x", "y", "z"};
  for (int a = 0; a < 3; ++a) {
    Polyline line;
    for (const GSample &s : d->samples) {
      const int32_t val[3] = {s.x, s.y, s.z};
      line.add(time.at(static_cast<double>(s.time_ms)), v.at(val[a]));
    }
    std::string style =
        std::string("fill=\"none\" stroke-width=\"1.2\" stroke=\"") + kColours[a] + "\"";
    line.draw(svg, style.c_str());
    std::string attrs = std::string("font-size=\"12\" fill=\"") + kColours[a] + "\"";
    text(svg, kLeft + kPlotWidth - 60 + 20 * a, kGTop - 8, attrs.c_str(), kNames[a]);
  }
  triggerLine(svg, time, trigger, kGTop, kGHeight);
  const GSample &s = d->samples[pk.index];
  double px = time.at(static_cast<double>(s.time_ms)), py = v.at(pk.value);
  appendf(svg, "<circle cx=\"%.1f\" cy=\"%.1f\" r=\"5\" fill=\"none\" stroke=\"#000\"/>\n", px, py);
  std::string label;
  appendf(label, "strongest: %s %d at %s", kNames[pk.axis], pk.value,
          timeLabel(static_cast<double>(s.time_ms) / 1000, 1).c_str());
  text(svg, std::min(px + 8, kLeft + kPlotWidth - 200), py < kGTop + 20 ? py + 16 : py - 8,
       "font-size=\"11\"", label);
  text(svg, kLeft, kGTop - 8, "font-size=\"13\" font-weight=\"bold\"",
       "G-forces (sensor units, baseline removed)");
}

Axis timeAxis(const RecordingView &view) {
  double t0 = 0, t1 = 1000;
  if (view.track) {
    t1 = std::max<double>(t1, static_cast<double>(view.track->end_ms));
    for (const auto &seg : view.track->segments)
      for (const auto &p : seg) t0 = std::min<double>(t0, static_cast<double>(p.offset_ms));
  }
  if (view.gsensor)
    for (const GSample &s : view.gsensor->samples) {
      t0 = std::min<double>(t0, static_cast<double>(s.time_ms));
      t1 = std::max<double>(t1, static_cast<double>(s.time_ms));
    }
  return {t0, t1, kLeft, kLeft + kPlotWidth};
}

}  // namespace

int64_t triggerMs(const GSensorData *d) {
  if (!d || d->pre_event == 0 || d->pre_event >= d->samples.size()) return -1;
  return d->samples[d->pre_event].time_ms;
}

std::string recordingSvg(const RecordingView &view) {
  std::string svg;
  appendf(svg,
          "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
          "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" height=\"%.0f\" "
          "viewBox=\"0 0 %.0f %.0f\" font-family=\"DejaVu Sans, Arial, sans-serif\">\n"
          "<rect width=\"100%%\" height=\"100%%\" fill=\"#fff\"/>\n",
          kWidth, kHeight, kWidth, kHeight);
  text(svg, kLeft, 28, "font-size=\"18\" font-weight=\"bold\"", view.name);
  text(svg, kLeft, 48, "font-size=\"12\" fill=\"#555\"", view.subtitle);
  Axis time = timeAxis(view);
  int64_t trigger = triggerMs(view.gsensor);
  routePanel(svg, view.track);
  speedPanel(svg, view.track, time, trigger);
  gPanel(svg, view.gsensor, time, trigger);
  text(svg, kLeft + kPlotWidth / 2, kGTop + kGHeight + 36,
       "text-anchor=\"middle\" font-size=\"12\"", "time since the recording's start");
  svg += "</svg>\n";
  return svg;
}

}  // namespace kv_export
