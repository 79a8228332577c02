// SPDX-License-Identifier: MIT
// The sentence intake of the GPS reader: which NMEA lines are accepted, and what a
// "$GPRMC" sentence changes in the shared settings record (the OSD speed, the clock-sync
// fields, the signal notice).
//
// NmeaIntake is a function of the line, the reader's GPS state, SysInfo and the tick. It
// starts no thread and opens no file: what must happen outside (an event on the bus, the
// clock, a write to the port, the track) comes back in IntakeEffects for the caller to
// carry out, in the order of the fields. That keeps it testable with synthetic ticks
// (the 5 s, 800 ms and 3 h rules), fuzzable and measurable on its own.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <atomic>

#include "kv_nmea.h"
#include "sys_env_type.h"

// The daemon's own types and functions; the system's names below stay global.
namespace navlink {

// Whether a GPS source is plugged in: asked only on a front or single unit that does not
// know of a GPS cable yet. The daemon wires the sysfs readers of dm368_zt5_util.
struct GpsProbes {
  int (*interch_inserted)();
  int (*av_cable_inserted)();
};

// The reader's GPS state. Everything but bFirstTimeSynced belongs to the GPS reader
// thread alone; the track writer clears bFirstTimeSynced from the message thread when a
// track starts or closes, so that the next valid fix sets the clock again.
struct GpsState {
  int64_t llLastGPRMC = 0;  // tick of the last "$GPRMC", fix or not; 0: none yet
  int32_t nInvalidCheckCount = 0;
  int32_t nPrevSpeed = -1;  // last value published in gps_speed; -1: none
  int32_t nPrevSpeedDisplayType = 0;
  int64_t llLastOSDUpdate = 0;
  std::atomic<int> bFirstTimeSynced{0};
  int bSourceAnnounced = 0;  // a GPS source was announced for the previous accepted line
  // The firmware's build date, days since 1970-01-01 (UTC). A receiver that missed a GPS
  // week rollover reports dates 1024 weeks early; a date more than 512 weeks before this
  // one is taken for such a date.
  int64_t llEarliestDay = 0;
  GpsProbes probes = {nullptr, nullptr};
};

// The build date compiled into the intake, in days since 1970-01-01.
int64_t GpsBuildDay();
// A fresh state as the reader starts with it: the build date, the board's probes.
void GpsStateInit(GpsState &state, const GpsProbes &probes);

// What the caller does after the intake, in this order.
struct IntakeEffects {
  bool accepted = false;         // the line passed: hand it to the track writer
  bool echo_to_port = false;     // rear unit: write the line and "\r\n" back out of the port
  bool announce_source = false;  // KVMSG_CommandFromRear(SEND_TO_FRONT_GPS_START)
  bool set_clock = false;        // set the clock to clock_value (gps_sync_time_time is set)
  int64_t clock_value = 0;
  bool update_osd = false;  // KVMSG_UpdateOSD()
  bool signal_on = false;   // KVMSG_GPSSignalOnOff(1)
};

// Longest line the intake takes (the readers' 1024-byte line buffers).
inline constexpr size_t kNmeaMaxLine = KV_NMEA_MAX_LINE;

// Runs the intake on one line (without CR LF, NUL-terminated). `info` may be null: the
// line is then only checked and accepted or dropped.
void NmeaIntake(GpsState &state, SysInfo *info, const char *line, int64_t now,
                IntakeEffects &effects);

// The checksum rule: the line holds a '*'; the text after its last '*' is 1 to 19
// hexadecimal digits (either case) whose value is the XOR of the line's bytes from the
// first, skipping every '$', up to the first '*'.
bool GpsChecksumPasses(const char *line, size_t len);

}  // namespace navlink

// System names, for callers that use them.
extern "C" {
// XOR of the first `len` bytes, skipping '$', stopping before the first '*'.
int GPS_CheckSum(const char *str, int len);
// 1 when the line passes the checksum rule, else 0.
int IsValidGpsStringByCheckSum(char *str);
}
