// SPDX-License-Identifier: MIT
// Behaviours of the Wi-Fi tools of the sandbox (wpa_cli, wpa_supplicant, dhcpcd, ifconfig,
// hostapd, dnsmasq, boa, bftpd); each takes the tool's command line and returns its exit
// status. What they answer and do is described in standin_tool_wifi.cpp.
#pragma once

namespace kvsim {
int standinWpaCli(int argc, char **argv);
int standinDhcpcd(int argc, char **argv);
int standinIfconfig(int argc, char **argv);
// hostapd, dnsmasq, boa: run until killed. wpa_supplicant -B, bftpd -d: a daemon is left
// running and the command returns at once.
int standinDaemon(int argc, char **argv);
}  // namespace kvsim
