// SPDX-License-Identifier: MIT
#include "track_reader.hpp"

#include <array>
#include <cmath>

#include "gps_reader.hpp"
#include "kv_nmea.h"
#include "text_out.hpp"

namespace kv_export {
namespace {

constexpr double kKnotMps = 1852.0 / 3600.0;

using Fields = std::array<kv_nmea_field, KV_NMEA_MAX_FIELDS>;

// The fields of a sentence as the daemon cuts them; those it does not have are empty.
void splitFields(std::string_view sentence, Fields &fields) {
  size_t n = kv_nmea_split(sentence.data(), sentence.size(), fields.data(), fields.size());
  for (size_t i = n; i < fields.size(); ++i) fields[i] = {"", 0};
}

bool toDouble(kv_nmea_field f, double &v) { return kv_nmea_read_decimal(f, &v); }
bool toInt(kv_nmea_field f, int &v) { return kv_nmea_read_int(f, &v); }
bool isText(kv_nmea_field f, const char *text) { return kv_nmea_field_is(f, text); }

// "hhmmss" with an optional fraction of any length; milliseconds of the day.
bool toTimeOfDay(kv_nmea_field f, int64_t &ms_of_day) {
  kv_nmea_time t;
  if (!kv_nmea_read_time(f, &t)) return false;
  ms_of_day = ((t.hour * 60 + t.minute) * 60 + t.second) * 1000LL + t.ms;
  return true;
}

// "ddmmyy"; the recorder's receivers date from this century, as kv_navlink reads them.
bool toDate(kv_nmea_field f, int64_t &day_ms) {
  kv_nmea_date d;
  if (!kv_nmea_read_date(f, &d)) return false;
  day_ms = utcMs(d.year, d.month, d.day, 0, 0, 0, 0);
  return true;
}

// A "$GPGGA" waiting for the RMC of the same epoch, or already joined to one.
struct GgaData {
  int64_t time_of_day = -1;  // ms; receivers print the fraction with 2 or 3 digits
  int quality = -1, sats = -1;
  double hdop = -1;
  bool has_ele = false, has_geoid = false;
  double ele = 0, geoid = 0;
};

void join(TrackPoint &p, const GgaData &g) {
  p.has_gga = true;
  p.quality = g.quality;
  p.sats = g.sats;
  p.hdop = g.hdop;
  p.has_ele = g.has_ele;
  p.ele_m = g.ele;
  p.has_geoid = g.has_geoid;
  p.geoid_m = g.geoid;
}

class TrackParser {
 public:
  explicit TrackParser(Track &track) : t_(track) {}

  void header(std::string_view digits) {
    closeSegment();
    if (t_.sessions++ == 0) {
      t_.start_local = std::string(digits);
    } else {
      // Appended to an existing file: its offsets count from the new start tick.
      shift_ms_ = headerSecondsBetween(t_.start_local, digits) * 1000;
    }
  }

  void name(std::string_view text) {
    if (t_.sessions == 1) t_.own_name = std::string(text);
  }

  // A sentence line whose checksum passed; false when it is damaged.
  bool sentence(int64_t ms, std::string_view sentence, const char *&why) {
    ++t_.lines;
    offset_ms_ = ms + shift_ms_;
    if (offset_ms_ > t_.end_ms) t_.end_ms = offset_ms_;
    if (sentence.starts_with("$GPRMC,")) return rmc(sentence, why);
    if (sentence.starts_with("$GPGGA,")) gga(sentence);
    return true;
  }

  void finish() {
    closeSegment();
    closeGap(t_.end_ms);
  }

 private:
  // $GPRMC,hhmmss.sss,A,llll.llll,a,yyyyy.yyyy,a,knots,course,ddmmyy,magvar,E/W*hh
  bool rmc(std::string_view sentence, const char *&why) {
    Fields f;
    splitFields(sentence, f);
    if (!isText(f[2], "A")) {
      closeSegment();
      if (!in_gap_) gap_from_ = offset_ms_;
      in_gap_ = true;
      return true;
    }
    TrackPoint p;
    p.offset_ms = offset_ms_;
    if (!kv_nmea_read_degrees(f[3], f[4], 90, &p.lat) ||
        !kv_nmea_read_degrees(f[5], f[6], 180, &p.lon)) {
      why = "RMC fix without a readable position";
      return false;
    }
    int64_t tod = 0, day = 0;
    bool has_time_of_day = toTimeOfDay(f[1], tod);
    p.has_utc = has_time_of_day && toDate(f[9], day);
    p.utc_ms = day + tod;
    double knots = 0;
    if (toDouble(f[7], knots) && knots >= 0) p.speed_mps = knots * kKnotMps;
    p.has_course = toDouble(f[8], p.course_deg);
    closeGap(offset_ms_);
    int64_t time_of_day = has_time_of_day ? tod : -1;
    if (gga_pending_ && time_of_day >= 0 && pending_.time_of_day == time_of_day) join(p, pending_);
    gga_pending_ = false;
    if (!open_) t_.segments.emplace_back();
    open_ = true;
    t_.segments.back().push_back(p);
    last_rmc_time_of_day_ = time_of_day;
    return true;
  }

  // $GPGGA,hhmmss.sss,llll.llll,a,yyyyy.yyyy,a,q,nn,hdop,alt,M,geoid,M,age,station*hh
  void gga(std::string_view sentence) {
    Fields f;
    splitFields(sentence, f);
    GgaData g;
    if (!toTimeOfDay(f[1], g.time_of_day)) g.time_of_day = -1;
    toInt(f[6], g.quality);
    toInt(f[7], g.sats);
    if (!toDouble(f[8], g.hdop)) g.hdop = -1;
    g.has_ele = toDouble(f[9], g.ele);
    g.has_geoid = toDouble(f[11], g.geoid);
    // The receiver sends GGA before or after the RMC of the same second.
    TrackPoint *last = open_ ? &t_.segments.back().back() : nullptr;
    if (last && !last->has_gga && g.time_of_day >= 0 && g.time_of_day == last_rmc_time_of_day_) {
      join(*last, g);
      return;
    }
    pending_ = g;
    gga_pending_ = true;
  }

  void closeSegment() { open_ = false; }
  void closeGap(int64_t to) {
    if (in_gap_) t_.no_fix.push_back({gap_from_, to});
    in_gap_ = false;
  }

  Track &t_;
  bool open_ = false;
  bool in_gap_ = false;
  int64_t gap_from_ = 0;
  int64_t shift_ms_ = 0;
  int64_t offset_ms_ = 0;
  bool gga_pending_ = false;
  GgaData pending_;
  int64_t last_rmc_time_of_day_ = -1;
};

}  // namespace

bool nmeaChecksumOk(std::string_view sentence) {
  return kv_nmea_check(sentence.data(), sentence.size());
}

bool readTrack(std::string_view bytes, Track &track, std::string &error) {
  track = Track{};
  kvformat::GpsFile file;
  if (!kvformat::readGps(bytes, file, error)) return false;
  if (file.empty) {
    track.report.notices.push_back(
        "empty: the recorder was stopped before the first block reached the card");
    return true;
  }
  TrackParser parser(track);
  for (const kvformat::GpsLine &line : file.lines) {
    const char *why = nullptr;
    switch (line.kind) {
      case kvformat::GpsLine::kHeader:
        parser.header(line.text);
        break;
      case kvformat::GpsLine::kName:
        parser.name(line.text);
        break;
      case kvformat::GpsLine::kSentence:
        if (!line.checksum_ok)
          why = "NMEA checksum does not match";
        else
          parser.sentence(line.offset_ms, line.text, why);
        break;
      case kvformat::GpsLine::kDamaged:
        why = line.why;
        break;
    }
    if (why) track.report.damage(line.line_no, why);
  }
  // A kill leaves the file at a block boundary, mostly inside a line.
  track.report.cut = file.cut;
  track.report.cut_bytes = file.cut_bytes;
  parser.finish();
  return true;
}

}  // namespace kv_export
