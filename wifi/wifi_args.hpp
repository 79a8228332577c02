// SPDX-License-Identifier: MIT
// Command lines of the Wi-Fi programs. Every value ends up in a shell command or a
// configuration file, so all of them are checked before the program changes anything: a
// value with a control character (a line break would add a line to hostapd.conf or the
// supplicant's settings) or one longer than its buffer is refused with a line naming it on
// standard output, never cut. Other values (quotes, '$', blanks, UTF-8 in a network name)
// are the user's own and are passed on quoted. Numbers are read as strtol reads them (text
// that is no number gives 0, digits before other text count), as the recorder's callers
// rely on; only a number beyond 32 bits is refused, where the board's strtol would clamp it
// and this workstation's would not.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace wifi_programs {

enum class Mode { on, off, refused };

// kv_wifi_switch on|ON <ssid> <key> <channel> [<rear_mac>] | off|OFF
struct SwitchArgs {
  char ssid[32] = {};
  char key[24] = {};
  char rear_mac[40] = {};
  int channel = 0;  // low 8 bits of the number given
};
Mode parseSwitchArgs(int argc, const char *const *argv, SwitchArgs &out);

// kv_stationd on|ON <ssid> <password> <security> <device_name> <rear>; any other first
// argument switches station mode off; none is refused.
// The SSID may be empty: its search key then matches any scan, and a rear unit goes on with
// the network of its stored settings. The password holds a WPA pass phrase of up to 63
// characters or a key of 64 hex digits.
struct StationArgs {
  char ssid[128] = {};
  char pwd[65] = {};
  uint8_t security = 0;  // low 8 bits of the number given
  char device_name[20] = {};
  int rear = 0;  // 1 when the number given is not 0
};
Mode parseStationArgs(int argc, const char *const *argv, StationArgs &out);

// Copies `value` into `buf` (`size` bytes with the terminator); false after a line
// "<program>: <what> ..." when it holds a control character or does not fit.
bool copyValue(const char *program, const char *what, const char *value, char *buf, size_t size);
// A decimal number as strtol base 10 reads it; false after such a line when it holds a
// control character or lies beyond 32 bits.
bool parseNumber(const char *program, const char *what, const char *text, long &out);

}  // namespace wifi_programs
