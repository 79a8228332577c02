// SPDX-License-Identifier: MIT
#include "wifi_args.hpp"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "dm368_zt5_util.h"

namespace wifi_programs {
namespace {

constexpr const char kSwitch[] = "kv_wifi_switch";
constexpr const char kStation[] = "kv_stationd";

bool isOn(const char *arg) { return strcmp(arg, "on") == 0 || strcmp(arg, "ON") == 0; }
bool isOff(const char *arg) { return strcmp(arg, "off") == 0 || strcmp(arg, "OFF") == 0; }

// A network name and the access point's pass phrase cannot be empty.
bool notEmpty(const char *program, const char *what, const char *value) {
  if (value[0]) return true;
  printf("%s: %s is empty\n", program, what);
  return false;
}

}  // namespace

bool copyValue(const char *program, const char *what, const char *value, char *buf, size_t size) {
  if (!kv_wifi_text_ok(value)) {
    printf("%s: %s holds a control character\n", program, what);
    return false;
  }
  size_t len = strlen(value);
  if (len >= size) {
    printf("%s: %s is longer than %zu bytes\n", program, what, size - 1);
    return false;
  }
  memcpy(buf, value, len + 1);
  return true;
}

bool parseNumber(const char *program, const char *what, const char *text, long &out) {
  if (!kv_wifi_text_ok(text)) {
    printf("%s: %s holds a control character\n", program, what);
    return false;
  }
  errno = 0;
  out = strtol(text, nullptr, 10);
  if (errno == ERANGE || out < INT32_MIN || out > INT32_MAX) {
    printf("%s: %s is out of range\n", program, what);
    return false;
  }
  return true;
}

Mode parseSwitchArgs(int argc, const char *const *argv, SwitchArgs &out) {
  if (argc < 2 || !argv[1] || !(isOn(argv[1]) || isOff(argv[1]))) {
    printf("wrong input argument");
    return Mode::refused;
  }
  if (isOff(argv[1])) return Mode::off;
  if (argc < 5) {
    printf("usage: %s on|ON <ssid> <key> <channel> [<rear_mac>] | off|OFF\n", kSwitch);
    return Mode::refused;
  }
  long channel = 0;
  const char *rear_mac = argc > 5 ? argv[5] : "none";
  bool ok = copyValue(kSwitch, "ssid", argv[2], out.ssid, sizeof out.ssid) &&
            notEmpty(kSwitch, "ssid", out.ssid) &&
            copyValue(kSwitch, "key", argv[3], out.key, sizeof out.key) &&
            notEmpty(kSwitch, "key", out.key) &&
            parseNumber(kSwitch, "channel", argv[4], channel) &&
            copyValue(kSwitch, "rear_mac", rear_mac, out.rear_mac, sizeof out.rear_mac);
  if (!ok) return Mode::refused;
  out.channel = static_cast<int>(static_cast<unsigned long>(channel) & 0xFF);
  return Mode::on;
}

Mode parseStationArgs(int argc, const char *const *argv, StationArgs &out) {
  if (argc < 2 || !argv[1]) return Mode::refused;
  if (!isOn(argv[1])) return Mode::off;
  if (argc < 7) {
    printf("usage: %s on|ON <ssid> <password> <security> <device_name> <rear> | off\n", kStation);
    return Mode::refused;
  }
  long security = 0, rear = 0;
  bool ok = copyValue(kStation, "ssid", argv[2], out.ssid, sizeof out.ssid) &&
            copyValue(kStation, "password", argv[3], out.pwd, sizeof out.pwd) &&
            parseNumber(kStation, "security", argv[4], security) &&
            copyValue(kStation, "device_name", argv[5], out.device_name, sizeof out.device_name) &&
            parseNumber(kStation, "rear", argv[6], rear);
  if (!ok) return Mode::refused;
  out.security = static_cast<uint8_t>(static_cast<unsigned long>(security) & 0xFF);
  out.rear = rear != 0 ? 1 : 0;
  return Mode::on;
}

}  // namespace wifi_programs
