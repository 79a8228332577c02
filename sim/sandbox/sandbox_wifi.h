// SPDX-License-Identifier: MIT
// The Wi-Fi side of the simulated board: the radio's files (nvram.txt, the module file,
// the MAC partition, the supplicant's settings), the image's tools at their own paths
// (/opt/vcam/hostapd ...), and what a test needs to script and read them.
#pragma once

#include <string>
#include <vector>

#include "sandbox.h"

namespace kvsim {

// Where the board root reads wlan0's address (the DHCP stand-in and ifconfig write it).
inline constexpr char kWlanAddress[] = "/sim/net/wlan0";
// The networks wpa_cli's scan_result lists, one line each as wpa_cli prints them.
inline constexpr char kScanResults[] = "/sim/wifi/scan_results";
// More networks it lists, by name, a name a line: the stand-in prints each name as wpa_cli
// 2.x does.
inline constexpr char kScanNetworks[] = "/sim/wifi/networks";
// The address nvram.txt holds on a new board.
inline constexpr char kBoardMac[] = "00:1E:55:12:34:56";

// Gives a new sandbox its radio: what a test of the Wi-Fi programs calls first. (A board
// without it has no nvram.txt, as some tests of other units need.)
void writeWifiDefaults(const Sandbox &board);

// A stand-in tool at a board path, for programs that run the image's own copy by its full
// path ("/opt/vcam/hostapd"). It logs and answers under the path's last name.
void installToolAt(const Sandbox &board, const std::string &board_path);

// The arguments of every call of `tool` so far, exactly as it received them (program name
// first), in order.
std::vector<std::vector<std::string>> toolCalls(const Sandbox &board, const std::string &tool);

// What the kernel-module seam was asked ("init 8189es rtw_initmac=...", "delete 8189es"),
// and how the module shall misbehave ("load=never", "load=late 1500", "load=fail",
// "remove=refuse"; board_root.h).
std::vector<std::string> moduleCalls(const Sandbox &board);
void scriptModule(const Sandbox &board, const std::string &name, const std::string &behaviour);

// How often a program has read the address of `iface` through the board root.
size_t addressReads(const Sandbox &board, const std::string &iface);

// One line of wpa_cli's scan results for a network whose name wpa_cli prints as `printed`.
std::string scanLine(const std::string &printed);

}  // namespace kvsim
