// Command lines of the Wi-Fi programs. Every value ends up in a shell command or a
// configuration file, so all of them are checked before the program changes anything: a
// value with a control character (a line break would add a line to hostapd.conf or the
// supplicant's settings) or one longer than its buffer is refused with a line naming it on
// standard output, never cut. Other values (quotes, '$', blanks, UTF-8 in a network name)
// are the user's own and are passed on quoted.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace kvwifi {

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
struct StationArgs {
  char ssid[128] = {};
  char pwd[20] = {};
  uint8_t security = 0;  // low 8 bits of the number given
  char device_name[20] = {};
  int rear = 0;  // 1 when the number given is not 0
};
Mode parseStationArgs(int argc, const char *const *argv, StationArgs &out);

// Copies `value` into `buf` (`size` bytes with the terminator); false after a line
// "<program>: <what> ..." when it holds a control character or does not fit.
bool copyValue(const char *program, const char *what, const char *value, char *buf, size_t size);
// A whole decimal number (strtol base 10); false after such a line when it is not one.
bool parseNumber(const char *program, const char *what, const char *text, long &out);

}  // namespace kvwifi
