// SPDX-License-Identifier: MIT
#include "data_writers.hpp"

#include <algorithm>

#include "recording_facts.hpp"
#include "text_out.hpp"

namespace kv_export {
namespace {

constexpr double kMpsToKmh = 3.6;

// Element `tag` holding `value` with `decimals` digits.
void element(std::string &out, const char *tag, double value, int decimals) {
  out.append("<").append(tag).append(">");
  appendFixed(out, value, decimals);
  out.append("</").append(tag).append(">");
}

// What sets the two GPX versions apart. 1.0 has speed and course elements of its own,
// which converters such as gpsbabel read, in an element order of its own; 1.1 carries them
// in Garmin's TrackPointExtension and puts the name, description and bounds in metadata.
struct GpxVersion {
  const char *header;
  const char *metadata_open;   // before the name
  const char *metadata_line;   // after the name and after the description
  const char *metadata_close;  // after the bounds
  bool own_speed;              // <course> and <speed> in the point itself
  size_t point_bytes;          // about, for reserving
};

constexpr GpxVersion kGpx11 = {
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<gpx version=\"1.1\" creator=\"kv_export\" xmlns=\"http://www.topografix.com/GPX/1/1\""
    " xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\""
    " xmlns:gpxtpx=\"http://www.garmin.com/xmlschemas/TrackPointExtension/v2\""
    " xsi:schemaLocation=\"http://www.topografix.com/GPX/1/1"
    " http://www.topografix.com/GPX/1/1/gpx.xsd"
    " http://www.garmin.com/xmlschemas/TrackPointExtension/v2"
    " https://www8.garmin.com/xmlschemas/TrackPointExtensionv2.xsd\">\n",
    "<metadata>",
    "",
    "</metadata>\n",
    false,
    340};

constexpr GpxVersion kGpx10 = {
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<gpx version=\"1.0\" creator=\"kv_export\" xmlns=\"http://www.topografix.com/GPX/1/0\""
    " xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\""
    " xsi:schemaLocation=\"http://www.topografix.com/GPX/1/0"
    " http://www.topografix.com/GPX/1/0/gpx.xsd\">\n",
    "",
    "\n",
    "\n",
    true,
    240};

void gpxPoint(std::string &out, const TrackPoint &p, const GpxVersion &v) {
  out += "<trkpt lat=\"";
  appendFixed(out, p.lat, 8);
  out += "\" lon=\"";
  appendFixed(out, p.lon, 8);
  out += "\">";
  if (p.has_ele) element(out, "ele", p.ele_m, 3);
  if (p.has_utc) out.append("<time>").append(utcText(p.utc_ms)).append("</time>");
  if (v.own_speed) {
    if (p.has_course) element(out, "course", p.course_deg, 2);
    element(out, "speed", p.speed_mps, 3);
  }
  if (p.has_geoid) element(out, "geoidheight", p.geoid_m, 3);
  std::string_view fix = p.has_gga ? gpxFix(p.quality, p.sats) : std::string_view();
  if (!fix.empty()) out.append("<fix>").append(fix).append("</fix>");
  if (p.sats >= 0) out.append("<sat>").append(std::to_string(p.sats)).append("</sat>");
  if (p.hdop >= 0) element(out, "hdop", p.hdop, 2);
  if (!v.own_speed) {
    out += "<extensions><gpxtpx:TrackPointExtension>";
    element(out, "gpxtpx:speed", p.speed_mps, 3);
    if (p.has_course) element(out, "gpxtpx:course", p.course_deg, 2);
    out += "</gpxtpx:TrackPointExtension></extensions>";
  }
  out += "</trkpt>\n";
}

std::string startDesc(const Track &t, const std::string &utc_offset) {
  if (t.start_local.empty()) return {};
  return "recording started " + headerTimeText(t.start_local) + " local time" +
         (utc_offset.empty() ? " (zone unknown)" : " (UTC" + utc_offset + ")");
}

void gpxBounds(std::string &out, const Track &t) {
  if (t.points() == 0) return;
  double lat0 = 90, lat1 = -90, lon0 = 180, lon1 = -180;
  for (const auto &seg : t.segments)
    for (const auto &p : seg) {
      lat0 = std::min(lat0, p.lat), lat1 = std::max(lat1, p.lat);
      lon0 = std::min(lon0, p.lon), lon1 = std::max(lon1, p.lon);
    }
  appendf(out, "<bounds minlat=\"%.8f\" minlon=\"%.8f\" maxlat=\"%.8f\" maxlon=\"%.8f\"/>", lat0,
          lon0, lat1, lon1);
}

std::string gpxOf(const Track &t, std::string_view name, const std::string &utc_offset,
                  const GpxVersion &v) {
  std::string out;
  out.reserve(512 + t.points() * v.point_bytes);
  out += v.header;
  std::string title = xmlText(name), desc = startDesc(t, utc_offset);
  out.append(v.metadata_open).append("<name>").append(title).append("</name>");
  out += v.metadata_line;
  if (!desc.empty()) {
    out.append("<desc>").append(xmlText(desc)).append("</desc>");
    out += v.metadata_line;
  }
  gpxBounds(out, t);
  out += v.metadata_close;
  out += "<trk><name>" + title + "</name>\n";
  for (const auto &seg : t.segments) {
    out += "<trkseg>\n";
    for (const auto &p : seg) gpxPoint(out, p, v);
    out += "</trkseg>\n";
  }
  out += "</trk>\n</gpx>\n";
  return out;
}

}  // namespace

std::string secondsText(int64_t ms) {
  std::string out;
  uint64_t a = ms < 0 ? 0 - static_cast<uint64_t>(ms) : static_cast<uint64_t>(ms);
  if (ms < 0) out += '-';
  appendDigits(out, a / 1000);
  out += '.';
  appendDigits(out, a % 1000, 3);
  return out;
}

std::string_view gpxFix(int quality, int sats) {
  switch (quality) {
    case 0:
      return "none";
    case 2:
      return "dgps";
    case 3:
      return "pps";
    case 1:
    case 4:
    case 5:
      // GGA does not say 2D or 3D; a position from four satellites or more has height.
      if (sats >= 4) return "3d";
      if (sats == 3) return "2d";
      return {};
    default:
      return {};  // estimated, manual, simulated: no fix of GPX's kinds
  }
}

std::string trackGpx(const Track &t, std::string_view name, const std::string &utc_offset) {
  return gpxOf(t, name, utc_offset, kGpx11);
}

std::string trackGpx10(const Track &t, std::string_view name, const std::string &utc_offset) {
  return gpxOf(t, name, utc_offset, kGpx10);
}

std::string trackCsv(const Track &t, const Zone &zone) {
  std::string out =
      "time_s,utc,local,segment,latitude,longitude,speed_kmh,course_deg,elevation_m,fix_quality,"
      "satellites,hdop\n";
  out.reserve(out.size() + t.points() * 140);
  for (size_t s = 0; s < t.segments.size(); ++s)
    for (const auto &p : t.segments[s]) {
      out += secondsText(p.offset_ms);
      out += ',';
      if (p.has_utc) out += utcText(p.utc_ms);
      out += ',';
      if (p.has_utc) out += isoLocalText(p.utc_ms, zone);
      out += ',';
      appendDigits(out, s + 1);
      out += ',';
      appendFixed(out, p.lat, 8);
      out += ',';
      appendFixed(out, p.lon, 8);
      out += ',';
      appendFixed(out, p.speed_mps * kMpsToKmh, 2);
      out += ',';
      if (p.has_course) appendFixed(out, p.course_deg, 2);
      out += ',';
      if (p.has_ele) appendFixed(out, p.ele_m, 3);
      out += ',';
      if (p.quality >= 0) appendInt(out, p.quality);
      out += ',';
      if (p.sats >= 0) appendInt(out, p.sats);
      out += ',';
      if (p.hdop >= 0) appendFixed(out, p.hdop, 2);
      out += '\n';
    }
  return out;
}

namespace {

void position(std::string &out, const TrackPoint &p, bool with_ele) {
  out += '[';
  appendFixed(out, p.lon, 8);
  out += ',';
  appendFixed(out, p.lat, 8);
  if (with_ele) {
    out += ',';
    appendFixed(out, p.ele_m, 3);
  }
  out += ']';
}

// One stretch with fix as a Feature: a LineString, or a Point for a stretch of one fix,
// since a line needs two positions (RFC 7946, 3.1.4) and GIS readers refuse one of one.
void stretchFeature(std::string &out, const std::vector<TrackPoint> &seg, size_t index,
                    bool with_ele, const std::string &common) {
  std::string coords, times;
  for (size_t i = 0; i < seg.size(); ++i) {
    const TrackPoint &p = seg[i];
    if (i) coords += ',', times += ',';
    position(coords, p, with_ele);
    if (p.has_utc)
      times.append(1, '"').append(utcText(p.utc_ms)).append(1, '"');
    else
      times += "null";
  }
  bool point = seg.size() == 1;
  appendf(out, "%s{\"type\":\"Feature\",\"properties\":{%s,\"stretch\":%zu,", index ? ",\n" : "",
          common.c_str(), index + 1);
  if (point)
    out += "\"time\":" + times + "},\"geometry\":{\"type\":\"Point\",\"coordinates\":" + coords;
  else
    out += "\"coordTimes\":[" + times +
           "]},\"geometry\":{\"type\":\"LineString\",\"coordinates\":[" + coords + "]";
  out += "}}";
}

}  // namespace

std::string trackGeoJson(const Track &t, std::string_view name, const std::string &utc_offset) {
  bool all_ele = t.points() > 0;
  for (const auto &seg : t.segments)
    for (const auto &p : seg) all_ele = all_ele && p.has_ele;
  std::string common = "\"name\":\"" + jsonText(name) + "\"";
  if (!t.start_local.empty())
    common += ",\"start_local\":\"" + jsonText(headerTimeText(t.start_local)) + "\"";
  if (!utc_offset.empty()) common += ",\"utc_offset\":\"" + jsonText(utc_offset) + "\"";
  std::string out = "{\"type\":\"FeatureCollection\",\"features\":[\n";
  out.reserve(out.size() + t.points() * 60);
  for (size_t i = 0; i < t.segments.size(); ++i)
    stretchFeature(out, t.segments[i], i, all_ele, common);
  out += "]}\n";
  return out;
}

std::string gsensorCsv(const GSensorData &d) {
  std::string out = "time_s,x,y,z,pre_event\n";
  out.reserve(out.size() + d.samples.size() * 32);
  for (size_t i = 0; i < d.samples.size(); ++i) {
    const GSample &s = d.samples[i];
    out += secondsText(s.time_ms);
    for (int32_t v : {s.x, s.y, s.z}) {
      out += ',';
      appendInt(out, v);
    }
    out += i < d.pre_event ? ",1\n" : ",0\n";
  }
  return out;
}

}  // namespace kv_export
