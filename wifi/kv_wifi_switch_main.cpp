// SPDX-License-Identifier: MIT
// kv_wifi_switch: turns the unit's Wi-Fi access point on or off.
//
//   kv_wifi_switch on|ON <ssid> <key> <channel> [<rear_mac>]
//   kv_wifi_switch off|OFF
//
// "on" loads the radio driver, starts hostapd and dnsmasq on the fixed address plan
// (192.168.6.216, clients 192.168.6.217 and .218) and then the web and FTP servers, through
// which a phone or the rear camera unit reaches the recorder. <channel> is used modulo 256;
// <rear_mac> ("none" when not given) becomes hostapd's rear_macaddr. "off" stops all of
// that and unloads the driver. Exit status 0, or -1 (255) for a bad command line (before
// anything but the log folder is touched), a driver that does not load or an access point
// that does not start.
#include <stdio.h>

#include "KVLog.h"
#include "board_root.h"
#include "dm368_zt5_util.h"
#include "kv_cmdline.h"
#include "kv_common_util.h"
#include "wifi_args.hpp"
#include "wifi_servers.hpp"

namespace {

constexpr const char kApAddress[] = "192.168.6.216";
constexpr const char kFirstClient[] = "192.168.6.217";
constexpr const char kLastClient[] = "192.168.6.218";
constexpr int kAttempts = 3;
constexpr int kDriverSettleMs = 500;
constexpr int kRetryMs = 200;

// wifi_load_driver gives -1 also when the driver is loaded already: then all three
// attempts end at once.
bool loadDriver() {
  for (int attempt = 0; attempt < kAttempts; ++attempt)
    if (wifi_load_driver() != -1) return true;
  return false;
}

bool startAccessPoint(const wifi_programs::SwitchArgs &a) {
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    if (wifi_start_softap(kApAddress, a.ssid, a.key, a.channel, kFirstClient, kLastClient,
                          a.rear_mac) != -1)
      return true;
    kv::sleep_ms(kRetryMs);
  }
  return false;
}

int switchOn(const wifi_programs::SwitchArgs &a) {
  KVLog("wifi on/off=%d\n", 1);
  if (!loadDriver()) {
    printf("wifi_load_driver failed");
    return -1;
  }
  kv::sleep_ms(kDriverSettleMs);
  printf("wifi_start_softap %s, %s, %s\n", kApAddress, a.ssid, a.key);
  fflush(stdout);
  if (!startAccessPoint(a)) {
    printf("wifi_start_softap failed");
    fflush(stdout);
    wifi_stop_softap();
    kv::sleep_ms(kRetryMs);
    wifi_unload_driver();
    return -1;
  }
  wifi_programs::startServers(0);
  return 0;
}

int switchOff() {
  KVLog("wifi on/off=%d\n", 0);
  wifi_programs::stopServers();
  wifi_stop_softap();
  kv::sleep_ms(kRetryMs);
  if (check_driver_loaded() == 1) wifi_unload_driver();
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  kv_answer_help_or_version("kv_wifi_switch", argc, argv);
  KVLogInitialize("wifi_switch", 1, "");
  wifi_programs::SwitchArgs args;
  wifi_programs::Mode mode = wifi_programs::parseSwitchArgs(argc, argv, args);
  if (mode == wifi_programs::Mode::refused) return -1;
  int status = mode == wifi_programs::Mode::on ? switchOn(args) : switchOff();
  fflush(stdout);
  return status;
}
