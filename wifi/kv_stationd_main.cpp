// SPDX-License-Identifier: MIT
// kv_stationd: joins a Wi-Fi network in station mode, or leaves it.
//
//   kv_stationd on|ON <ssid> <password> <security> <device_name> <rear>
//   kv_stationd <anything else>          (off)
//
// security: 0 open, 1 WEP, 2 WPA/WPA2 personal. rear: 0 front unit (joins <ssid>), else
// rear unit (joins the front unit with the settings on the flash). Both are read as strtol
// reads them (text that is no number is 0). An empty <ssid> is found in any scan. A failed start is
// undone and tried once more, unless SIGINT or SIGUSR2 asked to give up. The exit status
// is the last result (0, or a negative STN_* code as an 8-bit status); -1 for a bad
// command line, before anything but the log folder is touched.
#include <stdio.h>

#include "KVLog.h"
#include "kv_cmdline.h"
#include "kv_stationd.h"
#include "wifi_args.hpp"

namespace {

int stationOn(const wifi_programs::StationArgs &a) {
  KVLog("wifi station on\n");
  int first = wifi_StationMode_start(a.ssid, a.pwd, a.security, a.device_name, a.rear);
  if (first >= 0) return 0;
  KVLog("wifi station on failed (%d). try again\n", first);
  wifi_StationMode_stop();
  if (StationAborted()) return first;
  int second = wifi_StationMode_start(a.ssid, a.pwd, a.security, a.device_name, a.rear);
  if (second >= 0) return 0;
  KVLog("wifi station on failed (%d). stop\n", second);
  wifi_StationMode_stop();
  return second;
}

int stationOff() {
  KVLog("wifi station off\n");
  return wifi_StationMode_stop();
}

}  // namespace

int main(int argc, char **argv) {
  kv_answer_help_or_version("kv_stationd", argc, argv);
  KVLogInitialize("stn_s", 1, "");
  wifi_programs::StationArgs args;
  wifi_programs::Mode mode = wifi_programs::parseStationArgs(argc, argv, args);
  if (mode == wifi_programs::Mode::refused) return -1;
  StationInstallSignals();
  int status = mode == wifi_programs::Mode::on ? stationOn(args) : stationOff();
  fflush(stdout);
  return status;
}
