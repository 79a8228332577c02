// SPDX-License-Identifier: MIT
#include "rear_command.h"

#include <math.h>
#include <stdio.h>
#include <string.h>

#include "kv_common_util.h"

namespace navlink {
namespace {

enum class Kind {
  Fixed,   // "\r\n#CMxxx\r\n"
  Text,    // "#CMxxx=<text>"
  Number,  // "#CMxxx=<number>"
};

struct Command {
  int code;
  const char *name;
  Kind kind;
  RearEvent event;  // on the front unit
};

// Every command but the saved-recording notices, whose names come from the recording
// files' own table (ChangeSaveCommandToString / ChangeSaveStringToCommand).
constexpr Command kCommands[] = {
    {SEND_TO_FRONT_SYSTEM_START, "#CMSTA", Kind::Text, RearEvent::Record},
    {SEND_TO_FRONT_INIT_WIFI, "#CMINW", Kind::Text, RearEvent::RecordBlocking},
    {SEND_TO_FRONT_INIT_VERSION, "#CMVER", Kind::Text, RearEvent::RecordBlocking},
    {SEND_TO_FRONT_SYSTEM_END, "#CMSTP", Kind::Fixed, RearEvent::Code},
    {SEND_TO_FRONT_PAUSE_RECORDING, "#CMRPA", Kind::Fixed, RearEvent::Code},
    {SEND_TO_FRONT_RESUME_RECORDING, "#CMRRE", Kind::Fixed, RearEvent::Code},
    {SEND_TO_FRONT_GPS_START, "#CMGPS", Kind::Fixed, RearEvent::Code},
    {SEND_TO_FRONT_GPS_END, "#CMGPX", Kind::Fixed, RearEvent::Code},
    {SEND_TO_FRONT_WIFI_START, "#CMWIS", Kind::Fixed, RearEvent::Code},
    {SEND_TO_FRONT_WIFI_END, "#CMWIX", Kind::Fixed, RearEvent::Code},
    {SEND_TO_FRONT_DDNS_START, "#CMDDS", Kind::Fixed, RearEvent::Code},
    {SEND_TO_FRONT_DDNS_END, "#CMDDX", Kind::Fixed, RearEvent::Code},
    {SEND_TO_FRONT_VOICE_ON, "#CMVON", Kind::Fixed, RearEvent::Code},
    {SEND_TO_FRONT_VOICE_OFF, "#CMVOF", Kind::Fixed, RearEvent::Code},
    {SEND_TO_FRONT_AVI_STOP, "#CMAVX", Kind::Fixed, RearEvent::Code},
    {SEND_TO_FRONT_ALIVE, "#CMLIV", Kind::Fixed, RearEvent::None},
    {SEND_TO_FRONT_ALIVE_CONFIRM, "#CMLIC", Kind::Fixed, RearEvent::Code},
    {SEND_TO_FRONT_DATE_TIME, "#CMDTM", Kind::Number, RearEvent::Record},
    {SEND_TO_FRONT_DRIVE_TO_PARK, "#CMD2P", Kind::Fixed, RearEvent::Code},
    {SEND_TO_FRONT_PARK_TO_DRIVE, "#CMP2D", Kind::Fixed, RearEvent::Code},
    {SEND_TO_FRONT_INIT_VALUE_DONE, "#CMIND", Kind::Fixed, RearEvent::Code},
};

constexpr size_t kNameLength = 6;
// The data of a line starts after the name and one more character ('=', not tested).
constexpr size_t kDataStart = kNameLength + 1;
// The receiver's work area: a line from the splitter has at most 1023 characters.
constexpr size_t kWorkArea = 1024;

const Command *byCode(int code) {
  for (const Command &c : kCommands)
    if (c.code == code) return &c;
  return nullptr;
}

const Command *byName(const char *line) {
  for (const Command &c : kCommands)
    if (strncmp(line, c.name, kNameLength) == 0) return &c;
  return nullptr;
}

// Tenths of a volt, truncated. A setting that is not a number or lies beyond an int
// (a settings record never written) gives 0 rather than an undefined conversion.
int tenths(double volts) {
  double v = volts * 10.0;
  if (!isfinite(v) || v >= 2147483647.0 || v <= -2147483648.0) return 0;
  return static_cast<int>(v);
}

// A text field of the settings record, which need not be terminated.
int fieldLength(const char *field, size_t size) { return static_cast<int>(strnlen(field, size)); }

// atoi as the board's 32-bit C library reads it: blanks, a sign, digits up to the first
// other character; a value beyond 32 bits is held at the nearest end, never overflowed.
int32_t decimalValue(const char *s) {
  while (*s == ' ' || (*s >= '\t' && *s <= '\r')) ++s;
  bool negative = *s == '-';
  if (*s == '-' || *s == '+') ++s;
  constexpr int64_t kCeiling = int64_t{INT32_MAX} + 1;
  int64_t v = 0;
  for (; *s >= '0' && *s <= '9'; ++s) {
    v = v * 10 + (*s - '0');
    if (v > kCeiling) v = kCeiling;
  }
  if (negative) return static_cast<int32_t>(-v);
  return v > INT32_MAX ? INT32_MAX : static_cast<int32_t>(v);
}

struct Link {
  RearLinkHooks hooks = {nullptr, nullptr, nullptr};
} g;

}  // namespace

bool ComposeCommandLine(int code, const char *data, long now, CommandLine &out) {
  out = CommandLine{};
  const Command *command = byCode(code);
  const char *name = command ? command->name : ChangeSaveCommandToString(code);
  if (!name) return true;  // a code without a line
  Kind kind = command ? command->kind : Kind::Text;
  int n = 0;
  if (kind == Kind::Fixed) {
    out.shape = LineShape::Fixed;
    n = snprintf(out.text, sizeof out.text, "\r\n%s\r\n", name);
  } else if (kind == Kind::Number) {
    out.shape = LineShape::Framed;
    n = snprintf(out.text, sizeof out.text, "%s=%ld", name, now);
  } else {
    if (!data) data = "";
    if (strpbrk(data, "\r\n")) {
      out = CommandLine{};
      return false;
    }
    out.shape = LineShape::Framed;
    n = snprintf(out.text, sizeof out.text, "%s=%s", name, data);
  }
  if (n < 0 || static_cast<size_t>(n) >= sizeof out.text) {
    out = CommandLine{};
    return false;
  }
  out.len = static_cast<size_t>(n);
  return true;
}

void FormatStartTexts(const KV_Config_Data &c, const char *firmware, const char *build, long now,
                      StartTexts &out) {
  snprintf(out.version, sizeof out.version, "%s;%s;%d;%d", firmware ? firmware : "",
           build ? build : "", tenths(c.park_shutdown_voltage_2ch), tenths(c.park_voltage_2ch));
  snprintf(out.wifi, sizeof out.wifi, "%.*s;%.*s",
           fieldLength(c.wifi_ap_ssid, sizeof c.wifi_ap_ssid), c.wifi_ap_ssid,
           fieldLength(c.wifi_ap_pwd, sizeof c.wifi_ap_pwd), c.wifi_ap_pwd);
  snprintf(out.start, sizeof out.start, "%.*s;%ld;%d;%d;%d;%d;%d;%d",
           fieldLength(c.mac_address, sizeof c.mac_address), c.mac_address, now,
           c.use_rec_parking_always_2ch, c.recording_interval_drive_2ch, c.button_control_2ch,
           c.gps_sync_time, c.gps_timezone, c.is_sdxc);
}

void DecodeRearLine(const char *line, int64_t tick, RearCommand &out) {
  out = RearCommand{};
  if (!line) return;
  size_t len = strnlen(line, kWorkArea - 1);
  if (len <= 3 || strncmp(line, "#CM", 3) != 0) return;
  out.alive = true;
  const Command *command = byName(line);
  int notice = command ? 0 : ChangeSaveStringToCommand(const_cast<char *>(line));
  if (!command && notice <= 0) return;  // an unknown command: alive, nothing more
  out.code = command ? command->code : notice;
  out.event = command ? command->event : RearEvent::Record;
  if (out.event == RearEvent::None) return;
  RearCmdRecord &r = out.record;
  r.nCommand = out.code;
  r.llTick = tick;
  if (out.event == RearEvent::Code) return;
  const char *data = line + (len > kDataStart ? kDataStart : len);
  size_t data_len = len - static_cast<size_t>(data - line);
  if (command && command->kind == Kind::Text) {
    // A longer text than the record holds is cut, and the record still terminated.
    size_t n = data_len < sizeof r.szText - 1 ? data_len : sizeof r.szText - 1;
    memcpy(r.szText, data, n);
  } else {
    r.nValue = decimalValue(data);
  }
}

void RearLinkSetUp(const RearLinkHooks &hooks) { g.hooks = hooks; }

}  // namespace navlink

void ParseRearCommand(const char *line) {
  const auto &hooks = navlink::g.hooks;
  int64_t now = hooks.now ? hooks.now() : 0;
  navlink::RearCommand command;
  navlink::DecodeRearLine(line, now, command);
  if (!command.alive) return;
  // Any "#CM" line, known or not, tells that the rear unit is there. The GPS reader writes
  // the same field; one 64-bit store, never two halves, even on the 32-bit board.
  SysInfo *info = hooks.info ? hooks.info() : nullptr;
  if (info) __atomic_store_n(&info->kv_config.last_rear_alive_received, now, __ATOMIC_RELAXED);
  if (command.event != navlink::RearEvent::None && hooks.deliver) hooks.deliver(command);
}
