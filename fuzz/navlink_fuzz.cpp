// SPDX-License-Identifier: MIT
// The GPS reader's parsers of what arrives on the receiver's port: the line splitter over
// reads of any size, then the sentence intake of every line it hands over, with settings
// and ticks taken from the input, and the ring of the track writer behind it; every line
// also goes through the shared NMEA field readers.
// fuzz-links: kvnavlink
#include <stdint.h>
#include <string.h>

#include <memory>

#include "gps_track.h"
#include "kv_nmea.h"
#include "nmea_intake.h"
#include "split_reads.h"

using namespace navlink;  // the daemon's own types under test

namespace {

void expect(bool ok) {
  if (!ok) __builtin_trap();
}

struct Run {
  GpsState gps;
  std::unique_ptr<SysInfo> info = std::make_unique<SysInfo>();
  int64_t now = 1000;
  int lines = 0;
};

int g_interch = 1;
int interch() { return g_interch; }
int noCable() { return 0; }
int64_t g_tick = 0;
int64_t tick() { return g_tick; }
bool readerRuns() { return true; }
void noFatal(const char *, const char *) { __builtin_trap(); }

// Every field lies inside the line, and what a reader takes is in its range.
void readFields(const char *line, size_t len) {
  kv_nmea_field f[KV_NMEA_MAX_FIELDS];
  size_t n = kv_nmea_split(line, len, f, KV_NMEA_MAX_FIELDS);
  for (size_t i = 0; i < n; ++i) {
    expect(f[i].text >= line && f[i].text + f[i].len <= line + len);
    kv_nmea_time t;
    if (kv_nmea_read_time(f[i], &t))
      expect(t.hour < 24 && t.minute < 60 && t.second <= 60 && t.ms >= 0 && t.ms < 1000);
    kv_nmea_date d;
    if (kv_nmea_read_date(f[i], &d))
      expect(d.year >= 2000 && d.day >= 1 && d.day <= kv_nmea_days_in_month(d.year, d.month));
    double v;
    if (i + 1 < n && kv_nmea_read_degrees(f[i], f[i + 1], 180, &v)) expect(v >= -180 && v <= 180);
    if (kv_nmea_read_decimal(f[i], &v)) expect(v == v);
    int k;
    kv_nmea_read_int(f[i], &k);
  }
}

void takeLine(void *context, const char *line, size_t len) {
  Run &run = *static_cast<Run *>(context);
  expect(len <= kSplitterMaxLine && strlen(line) == len);
  for (size_t i = 0; i + 1 < len; ++i) expect(!(line[i] == '\r' && line[i + 1] == '\n'));
  readFields(line, len);
  IntakeEffects fx;
  run.now += 37 + run.lines % 5000;  // gaps up to 5 s, and now and then the 3 h rule
  if (++run.lines % 97 == 0) run.now += 10'800'001;
  NmeaIntake(run.gps, run.info.get(), line, run.now, fx);
  if (fx.accepted) {
    expect(strncmp(line, "$GP", 3) == 0 && memchr(line, '*', len) != nullptr);
    g_tick = run.now;
    expect(ProcessGpsData(line) == 1);
  } else {
    expect(!fx.set_clock && !fx.update_osd && !fx.signal_on && !fx.echo_to_port);
  }
  if (fx.set_clock) expect(run.info->kv_config.gps_sync_time_activate == 1);
  run.info->kv_config.gps_sync_time_activate = 0;
}

}  // namespace

// Byte 0: the settings switches; byte 1: the read size; the rest: the port's bytes.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static bool set_up = [] {
    TrackSetUp(TrackHooks{tick, readerRuns, nullptr, noFatal}, nullptr);
    return true;
  }();
  (void)set_up;
  if (size < 2) return 0;
  Run run;
  memset(run.info.get(), 0, sizeof(SysInfo));
  GpsStateInit(run.gps, GpsProbes{interch, noCable});
  KV_Config_Data &c = run.info->kv_config;
  c.gps_speed_display = data[0] & 1;
  c.gps_sync_time = (data[0] >> 1) & 1;
  c.front_rear_type = static_cast<uint8_t>((data[0] >> 2) % 3);
  c.osd_speed_display_type = (data[0] >> 4) & 1;
  c.system_drive_park_state = (data[0] & 0x20) ? 200 : 100;
  c.gps_cable_connected = (data[0] >> 6) & 1;
  c.gps_need_alert = 1;
  c.gps_timezone = (data[0] & 0x80) ? -330 : 900;
  g_interch = data[0] & 1;
  splitInReads(data + 2, size - 2, data[1], takeLine, &run);
  return 0;
}
