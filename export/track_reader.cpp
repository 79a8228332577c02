#include "track_reader.hpp"

#include <array>
#include <charconv>
#include <cmath>

#include "text_out.hpp"

namespace kv_export {
namespace {

constexpr double kKnotMps = 1852.0 / 3600.0;
constexpr size_t kMaxFields = 24;  // RMC has 13, GGA 15; the rest is never looked at

using Fields = std::array<std::string_view, kMaxFields>;

bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool allDigits(std::string_view s) {
  for (char c : s)
    if (!isDigit(c)) return false;
  return !s.empty();
}

int hexValue(char c) {
  if (isDigit(c)) return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Splits the part before the first '*' at ','; returns the number of fields.
size_t splitFields(std::string_view sentence, Fields &fields) {
  sentence = sentence.substr(0, sentence.find('*'));
  size_t n = 0;
  while (n < kMaxFields) {
    size_t comma = sentence.find(',');
    fields[n++] = sentence.substr(0, comma);
    if (comma == std::string_view::npos) break;
    sentence.remove_prefix(comma + 1);
  }
  for (size_t i = n; i < kMaxFields; ++i) fields[i] = {};
  return n;
}

// A decimal number as receivers print them; "inf" and "nan", which from_chars would take,
// are not.
bool toDouble(std::string_view s, double &v) {
  if (s.empty()) return false;
  auto r = std::from_chars(s.data(), s.data() + s.size(), v, std::chars_format::fixed);
  return r.ec == std::errc() && r.ptr == s.data() + s.size() && std::isfinite(v);
}

bool toInt(std::string_view s, int &v) {
  if (s.empty()) return false;
  auto r = std::from_chars(s.data(), s.data() + s.size(), v);
  return r.ec == std::errc() && r.ptr == s.data() + s.size();
}

// "ddmm.mmmm" / "dddmm.mmmm" and its hemisphere letter, in signed degrees.
bool toDegrees(std::string_view text, std::string_view hemisphere, int max_degrees, double &out) {
  size_t dot = text.find('.');
  size_t whole = dot == std::string_view::npos ? text.size() : dot;
  if (whole < 3 || whole > 5 || !allDigits(text.substr(0, whole))) return false;
  int degrees = 0;
  double minutes = 0;
  if (!toInt(text.substr(0, whole - 2), degrees) || !toDouble(text.substr(whole - 2), minutes))
    return false;
  if (minutes < 0 || minutes >= 60 || degrees > max_degrees) return false;
  out = degrees + minutes / 60.0;
  if (out > max_degrees) return false;
  if (hemisphere == "S" || hemisphere == "W") out = -out;
  return hemisphere == "N" || hemisphere == "S" || hemisphere == "E" || hemisphere == "W";
}

// "hhmmss" with an optional fraction of any length; milliseconds of the day.
bool toTimeOfDay(std::string_view text, int64_t &ms_of_day) {
  if (text.size() < 6 || !allDigits(text.substr(0, 6))) return false;
  int h = (text[0] - '0') * 10 + (text[1] - '0');
  int m = (text[2] - '0') * 10 + (text[3] - '0');
  int s = (text[4] - '0') * 10 + (text[5] - '0');
  if (h > 23 || m > 59 || s > 60) return false;
  int ms = 0;
  if (text.size() > 6) {
    std::string_view fraction = text.substr(7);
    if (text[6] != '.' || (!fraction.empty() && !allDigits(fraction))) return false;
    for (size_t i = 0; i < 3; ++i) ms = ms * 10 + (i < fraction.size() ? fraction[i] - '0' : 0);
  }
  ms_of_day = ((h * 60 + m) * 60 + s) * 1000LL + ms;
  return true;
}

// "ddmmyy"; the recorder's receivers date from this century, as kv_navlink reads them.
bool toDate(std::string_view text, int64_t &day_ms) {
  if (text.size() != 6 || !allDigits(text)) return false;
  int d = (text[0] - '0') * 10 + (text[1] - '0');
  int m = (text[2] - '0') * 10 + (text[3] - '0');
  int y = 2000 + (text[4] - '0') * 10 + (text[5] - '0');
  static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (m < 1 || m > 12 || d < 1 || d > kDays[m - 1]) return false;
  if (m == 2 && d == 29 && !(y % 4 == 0 && (y % 100 != 0 || y % 400 == 0))) return false;
  day_ms = utcMs(y, m, d, 0, 0, 0, 0);
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
    expect_name_ = true;
  }

  // A line after the header's first; false when it is damaged.
  bool line(std::string_view text, const char *&why) {
    if (expect_name_) {
      expect_name_ = false;
      if (t_.sessions == 1) t_.own_name = std::string(text);
      return true;
    }
    size_t colon = text.find(':');
    std::string_view offset = text.substr(0, colon);
    if (!offset.empty() && offset[0] == '-') offset.remove_prefix(1);
    int64_t ms = 0;
    if (colon == std::string_view::npos || offset.size() > 15 || !allDigits(offset) ||
        std::from_chars(text.data(), text.data() + colon, ms).ec != std::errc()) {
      why = "not \"<offset>:<sentence>\"";
      return false;
    }
    std::string_view sentence = text.substr(colon + 1);
    if (sentence.empty() || sentence[0] != '$' || !nmeaChecksumOk(sentence)) {
      why = "NMEA checksum does not match";
      return false;
    }
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
    if (f[2] != "A") {
      closeSegment();
      if (!in_gap_) gap_from_ = offset_ms_;
      in_gap_ = true;
      return true;
    }
    TrackPoint p;
    p.offset_ms = offset_ms_;
    if (!toDegrees(f[3], f[4], 90, p.lat) || !toDegrees(f[5], f[6], 180, p.lon)) {
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
  bool expect_name_ = false;
  bool open_ = false;
  bool in_gap_ = false;
  int64_t gap_from_ = 0;
  int64_t shift_ms_ = 0;
  int64_t offset_ms_ = 0;
  bool gga_pending_ = false;
  GgaData pending_;
  int64_t last_rmc_time_of_day_ = -1;
};

bool isHeaderLine(std::string_view line) { return line.size() == 14 && allDigits(line); }

}  // namespace

bool nmeaChecksumOk(std::string_view sentence) {
  size_t first_star = sentence.find('*');
  size_t last_star = sentence.rfind('*');
  if (first_star == std::string_view::npos) return false;
  std::string_view hex = sentence.substr(last_star + 1);
  if (hex.empty() || hex.size() > 19) return false;  // kv_navlink's field holds 19
  unsigned value = 0;
  for (char c : hex) {
    int d = hexValue(c);
    if (d < 0) return false;
    value = value * 16 + static_cast<unsigned>(d);
    if (value > 0xFF) return false;
  }
  unsigned sum = 0;
  for (size_t i = 0; i < first_star; ++i)
    if (sentence[i] != '$') sum ^= static_cast<unsigned char>(sentence[i]);
  return sum == value;
}

bool readTrack(std::string_view bytes, Track &track, std::string &error) {
  track = Track{};
  if (bytes.empty()) {
    track.report.notices.push_back(
        "empty: the recorder was stopped before the first block reached the card");
    return true;
  }
  size_t first_end = bytes.find('\n');
  std::string_view first = bytes.substr(0, first_end);
  // The writer's first block holds the whole header, so only a start time cut short
  // after a few digits can be the writer's.
  if (first_end == std::string_view::npos ? !allDigits(first) || first.size() > 14
                                          : !isHeaderLine(first)) {
    error = "not a GPS track file (the first line is not a 14-digit start time)";
    return false;
  }
  TrackParser parser(track);
  size_t at = 0, line_no = 0;
  while (at < bytes.size()) {
    size_t end = bytes.find('\n', at);
    ++line_no;
    if (end == std::string_view::npos) {
      // A kill leaves the file at a block boundary, mostly inside a line.
      track.report.cut = true;
      track.report.cut_bytes = bytes.size() - at;
      break;
    }
    std::string_view line = bytes.substr(at, end - at);
    at = end + 1;
    const char *why = nullptr;
    if (isHeaderLine(line))
      parser.header(line);
    else if (!parser.line(line, why))
      track.report.damage(line_no, why);
  }
  parser.finish();
  return true;
}

}  // namespace kv_export
