// SPDX-License-Identifier: MIT
#include "nmea_intake.h"

#include <math.h>
#include <stdlib.h>
#include <string.h>

#include <limits>
#include <string_view>

#include "kv_common_util.h"
#include "kv_nmea.h"
#include "kv_sysinfo_util.h"

#ifndef KV_BUILD_EPOCH
#error "KV_BUILD_EPOCH (seconds since 1970 of the build) comes from navlink/CMakeLists.txt"
#endif

namespace navlink {
namespace {

using std::string_view;

constexpr int64_t kSpeedTimeoutMs = 5000;  // no "$GPRMC" for longer: no speed to show
constexpr int64_t kOsdSpacingMs = 800;
constexpr int64_t kClockEveryMs = 10800000;  // 3 hours
constexpr int64_t kRolloverDays = 7168;      // 1024 GPS weeks
constexpr int64_t kRolloverHalf = 3584;      // 512 weeks: farther back is a missed rollover
constexpr int kMphType = 1;

// ---- dates ---------------------------------------------------------------------------

struct Civil {
  int64_t year;
  int month, day;
};

Civil civilFromDays(int64_t days) {
  Civil c;
  kv_nmea_civil_from_days(days, &c.year, &c.month, &c.day);
  return c;
}

// ---- fields of "$GPRMC" --------------------------------------------------------------

// What a "$GPRMC" sentence says. Time and date are usable only when their fields had the
// exact width (hhmmss.sss, ddmmyy) and name a real moment; otherwise the clock is left
// alone (receivers sending "hhmmss" alone would otherwise set it to midnight).
struct RmcFix {
  bool valid = false;  // status "A"
  bool time_ok = false, date_ok = false;
  int hour = 0, minute = 0, second = 0;
  int day = 0, month = 1, year = 1900;
  string_view speed;  // knots, as written; empty: 0.0
};

// The system reads the time only from a field of exactly "hhmmss.sss", and only its
// first six characters.
void readTime(kv_nmea_field f, RmcFix &fix) {
  kv_nmea_time t;
  if (f.len != 10 || !kv_nmea_read_time({f.text, 6}, &t)) return;
  fix.hour = t.hour;
  fix.minute = t.minute;
  fix.second = t.second;
  fix.time_ok = true;
}

void readDate(kv_nmea_field f, RmcFix &fix) {
  kv_nmea_date d;
  if (!kv_nmea_read_date(f, &d)) return;
  fix.day = d.day;
  fix.month = d.month;
  fix.year = d.year;  // the century is always 2000
  fix.date_ok = true;
}

// $GPRMC,hhmmss.sss,A,llll.ll,a,yyyyy.yy,a,x.x,x.x,ddmmyy,x.x,a*hh
//   1 time (UTC)   2 status, "A" = valid fix   7 speed over ground, knots   9 date (UTC)
// A field counts only when a separator ends it: the checksum after '*' is never read.
RmcFix parseRmc(const char *line, size_t len) {
  RmcFix fix;
  kv_nmea_field f[10];
  size_t n = kv_nmea_split(line, len, f, 10);
  if (n > 1) readTime(f[1], fix);
  if (n < 3 || !kv_nmea_field_is(f[2], "A")) return fix;  // no fix: nothing after it is read
  fix.valid = true;
  if (n > 7) fix.speed = string_view(f[7].text, f[7].len);
  if (n > 9) readDate(f[9], fix);
  return fix;
}

// A decimal number as strtod reads it. Plain "ddd.ddd" of at most 15 digits (every
// receiver's speed) is read here without a copy: the integer of its digits divided by a
// power of ten is the correctly rounded value, as strtod's is. Anything else goes to
// strtod on a bounded copy. Text that is no finite number counts as 0.
double readDecimal(string_view text) {
  static constexpr double kPow10[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                      1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
  if (text.empty()) return 0.0;  // no speed field, or an empty one
  int64_t mantissa = 0;
  int digits = 0, fraction = -1;
  bool plain = true;
  for (char c : text) {
    if (c == '.' && fraction < 0) {
      fraction = 0;
    } else if (c >= '0' && c <= '9' && digits < 15) {
      mantissa = mantissa * 10 + (c - '0');
      ++digits;
      if (fraction >= 0) ++fraction;
    } else {
      plain = false;
      break;
    }
  }
  if (plain) return static_cast<double>(mantissa) / kPow10[fraction < 0 ? 0 : fraction];
  char copy[kNmeaMaxLine + 1];
  size_t n = text.size() < kNmeaMaxLine ? text.size() : kNmeaMaxLine;
  memcpy(copy, text.data(), n);
  copy[n] = '\0';
  double value = strtod(copy, nullptr);
  return isfinite(value) ? value : 0.0;
}

// (int) of a double, truncating toward zero, without the undefined behaviour of values
// that do not fit.
int32_t truncToInt(double v) {
  if (!(v == v)) return 0;
  if (v >= static_cast<double>(std::numeric_limits<int32_t>::max()))
    return std::numeric_limits<int32_t>::max();
  if (v <= static_cast<double>(std::numeric_limits<int32_t>::min()))
    return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(v);
}

// ---- the three pieces of status ------------------------------------------------------

// UpdateGPSOSDSpeed: no speed to show. The OSD is redrawn once, when something changes.
void clearSpeed(GpsState &st, KV_Config_Data &cfg, IntakeEffects &fx) {
  cfg.gps_speed = -1;
  if (st.nPrevSpeed != -1 || cfg.osd_speed_display_type != st.nPrevSpeedDisplayType) {
    if (cfg.restart_state != 1) fx.update_osd = true;
  }
  st.nPrevSpeed = -1;
  st.nPrevSpeedDisplayType = cfg.osd_speed_display_type;
}

// The UTC moment of the fix, moved forward by whole 1024-week periods while it lies more
// than half a period (512 weeks) before the build date: a receiver that missed a rollover
// reports dates about 19.6 years back, and would otherwise name new recordings years in the
// past, so that the card's housekeeping, which deletes the oldest recordings first, deletes
// the newest. A date only a little before the build is real (a replay, a unit that lay in
// a drawer) and stays as it is.
Civil mendRollover(const GpsState &st, const RmcFix &fix) {
  int64_t day = kv_nmea_days_from_civil(fix.year, fix.month, fix.day);
  int64_t behind = st.llEarliestDay - day;
  if (behind > kRolloverHalf)
    day += (behind - kRolloverHalf + kRolloverDays - 1) / kRolloverDays * kRolloverDays;
  return civilFromDays(day);
}

bool clockDue(const GpsState &st, const KV_Config_Data &cfg, int64_t now) {
  return st.bFirstTimeSynced.load() == 0 || cfg.gps_sync_time_counter == 0 ||
         now - cfg.gps_sync_time_counter > kClockEveryMs;
}

// The clock runs on local time: GPS UTC through the local-time conversion, plus the zone.
void setClock(GpsState &st, KV_Config_Data &cfg, const RmcFix &fix, int64_t now,
              IntakeEffects &fx) {
  if (!fix.time_ok || !fix.date_ok || !clockDue(st, cfg, now)) return;
  cfg.gps_sync_time_counter = now;
  st.bFirstTimeSynced = 1;
  cfg.gps_sync_time_activate = 1;
  Civil date = mendRollover(st, fix);
  long t = MakeSystemDateTime(static_cast<int>(date.year), date.month, date.day, fix.hour,
                              fix.minute, fix.second);
  // Division and remainder truncate toward zero: -330 is -3 h and -30 min.
  int64_t zone = int64_t{cfg.gps_timezone / 100} * 3600 + int64_t{cfg.gps_timezone % 100} * 60;
  int64_t value = static_cast<int64_t>(t) + zone;
  cfg.gps_sync_time_time = static_cast<int32_t>(value);
  fx.set_clock = true;
  fx.clock_value = value;
}

// At low speed a small rise is held back and a fall shows at once, so a standing vehicle
// does not show jitter.
void publishSpeed(GpsState &st, KV_Config_Data &cfg, const RmcFix &fix, int64_t now,
                  IntakeEffects &fx) {
  int32_t type = cfg.osd_speed_display_type;
  if (type != st.nPrevSpeedDisplayType) st.nPrevSpeed = -1;
  bool mph = type == kMphType;
  double metres_per_hour = readDecimal(fix.speed) * 1852.0;
  int32_t v =
      mph ? truncToInt(metres_per_hour * 0.621371 / 1000.0) : truncToInt(metres_per_hour / 1000.0);
  int32_t limit = mph ? 10 : 15;
  cfg.gps_speed = v;
  if (v <= limit && st.nPrevSpeed != -1 && cfg.drive_stop_count <= 0) {
    bool parked = cfg.system_drive_park_state == MAIN_STATE_PARK;
    int64_t tolerance = parked ? (mph ? 5 : 7) : (mph ? 3 : 5);
    if (llabs(int64_t{st.nPrevSpeed} - v) <= tolerance)
      cfg.gps_speed = v < st.nPrevSpeed ? v : st.nPrevSpeed;
  }
  st.nPrevSpeed = cfg.gps_speed;
  st.nPrevSpeedDisplayType = type;
  if (now - st.llLastOSDUpdate > kOsdSpacingMs) {
    st.llLastOSDUpdate = now;
    if (cfg.restart_state != 1) fx.update_osd = true;
  }
}

void signalNotice(KV_Config_Data &cfg, IntakeEffects &fx) {
  if (!cfg.gps_need_alert) return;
  cfg.gps_need_alert = 0;
  fx.signal_on = true;
}

// ParseGpsData.
void interpret(GpsState &st, SysInfo &info, const char *line, size_t len, int64_t now,
               IntakeEffects &fx) {
  KV_Config_Data &cfg = info.kv_config;
  if (strncmp(line, "$GPRMC", 6) != 0) {
    if (st.llLastGPRMC != 0 && now - st.llLastGPRMC > kSpeedTimeoutMs) clearSpeed(st, cfg, fx);
    return;
  }
  st.llLastGPRMC = now;
  RmcFix fix = parseRmc(line, len);
  if (!fix.valid) {
    // Every sentence without a fix clears the speed; the counter never gets past 1.
    if (++st.nInvalidCheckCount > 0) {
      st.nInvalidCheckCount = 0;
      clearSpeed(st, cfg, fx);
    }
    return;
  }
  st.nInvalidCheckCount = 0;
  if (cfg.gps_sync_time) setClock(st, cfg, fix, now, fx);
  if (cfg.gps_speed_display) publishSpeed(st, cfg, fix, now, fx);
  signalNotice(cfg, fx);
}

// A front or single unit: every accepted line is a sign of life, and the first line while
// no GPS cable is known asks the front's kv_server to start GPS if the rear interconnect
// is in and no AV cable is.
void frontUnitLine(GpsState &st, SysInfo &info, int64_t now, IntakeEffects &fx) {
  KV_Config_Data &cfg = info.kv_config;
  __atomic_store_n(&cfg.last_rear_alive_received, now, __ATOMIC_RELAXED);
  if (cfg.gps_cable_connected != 0 || st.bSourceAnnounced) {
    st.bSourceAnnounced = 0;
    return;
  }
  bool interch = st.probes.interch_inserted && st.probes.interch_inserted() == 1;
  bool av = st.probes.av_cable_inserted && st.probes.av_cable_inserted() != 0;
  st.bSourceAnnounced = interch && !av;
  fx.announce_source = st.bSourceAnnounced;
}

}  // namespace

int64_t GpsBuildDay() {
  int64_t seconds = KV_BUILD_EPOCH;
  return seconds >= 0 ? seconds / 86400 : (seconds - 86399) / 86400;
}

void GpsStateInit(GpsState &state, const GpsProbes &probes) {
  state.llLastGPRMC = 0;
  state.nInvalidCheckCount = 0;
  state.nPrevSpeed = -1;
  state.nPrevSpeedDisplayType = 0;
  state.llLastOSDUpdate = 0;
  state.bFirstTimeSynced = 0;
  state.bSourceAnnounced = 0;
  state.llEarliestDay = GpsBuildDay();
  state.probes = probes;
}

bool GpsChecksumPasses(const char *line, size_t len) { return kv_nmea_check(line, len); }

void NmeaIntake(GpsState &state, SysInfo *info, const char *line, int64_t now,
                IntakeEffects &effects) {
  effects = IntakeEffects{};
  if (!line) return;
  size_t len = strnlen(line, kNmeaMaxLine + 1);
  if (!kv_nmea_accepted(line, len)) return;
  if (info && Is2ChRear(info)) {
    // On the rear unit the GPS port also carries the position on to the front unit.
    effects.echo_to_port = strncmp(line, "$GPRMC", 6) == 0;
  } else if (info) {
    frontUnitLine(state, *info, now, effects);
  }
  if (info && (info->kv_config.gps_speed_display || info->kv_config.gps_sync_time))
    interpret(state, *info, line, len, now, effects);
  effects.accepted = true;
}

}  // namespace navlink

extern "C" {

int GPS_CheckSum(const char *str, int len) {
  return static_cast<int>(kv_nmea_xor(str, len > 0 ? static_cast<size_t>(len) : 0));
}

int IsValidGpsStringByCheckSum(char *str) {
  return str && kv_nmea_check(str, strnlen(str, KV_NMEA_MAX_LINE + 1)) ? 1 : 0;
}

}  // extern "C"
