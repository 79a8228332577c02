// SPDX-License-Identifier: MIT
// kv_stationd: joins the unit to a Wi-Fi network as a client (station mode), gets an
// address by DHCP and starts the unit's web and FTP servers; or undoes all of that.
// A front unit joins the network named on its command line; a rear unit joins the front
// unit's access point with the ready-made supplicant settings on the flash.
#pragma once

#include <signal.h>
#include <stddef.h>
#include <stdint.h>

// Results of wifi_StationMode_start and wifi_StationMode_connect.
enum {
  STN_OK = 0,
  STN_ERR_SETUP = -1,  // a pipe to wpa_cli failed, or a network set-up command failed
  STN_ERR_NO_AP = -2,  // the network was not seen in the scans
  STN_ERR_IP = -3,     // no address within 150 checks
  STN_ERR_SSID = -4,   // the supplicant refused the network name
  STN_ERR_PWD = -5,    // a key setting failed
  STN_ERR_RADIO = -6,  // driver, interface, supplicant, enable or DHCP start failed
  STN_ERR_ABORT = -20  // SIGINT or SIGUSR2
};

// Security types.
enum { STN_SEC_OPEN = 0, STN_SEC_WEP = 1, STN_SEC_WPA = 2 };

// The search key of an SSID of at most this many bytes fits STN_SSID_KEY_SIZE.
#define STN_SSID_MAX 127
#define STN_SSID_KEY_SIZE (4 * STN_SSID_MAX + 1)

// The text searched for in the scan results: an SSID of bytes below 0x80 as it is, any
// other as "\x%x" of every byte (as wpa_cli shows a UTF-8 name). `dst` holds
// 4 * strlen(src) + 1 bytes; nothing is written when either is null.
void GetSSIDWithUTF8(const char *src, char *dst);
// wlan0's IPv4 address as "%d.%d.%d.%d" into `buf` (16 bytes); "255.255.255.255" and -1
// when it cannot be read, else 0.
int GetIP_Addr(char *buf);
// The interface's IPv4 address as a 32-bit value in network byte order: 0 (IsIpAllocated)
// or -1 (net_get_ifaddr) when it cannot be read; "socket error" on standard output when no
// socket can be opened.
uint32_t IsIpAllocated(const char *ifname);
int32_t net_get_ifaddr(const char *ifname);
// Prints what "/sbin/ifconfig wlan0" prints.
void GetIpByIfConfig(void);

// Radio up, supplicant started, scans (3 on a front unit, 20 on a rear unit) until the
// network is seen, then wifi_StationMode_connect. STN_* result, logged.
int wifi_StationMode_start(const char *ssid, const char *pwd, int security, const char *device_name,
                           int rear);
// The network configured in the supplicant (front unit), enabled, an address waited for
// (up to 150 checks 600 ms apart), the servers started. STN_* result, logged.
int wifi_StationMode_connect(const char *ssid, const char *pwd, int security,
                             const char *device_name, int rear);
// Everything torn down (network disabled, servers, DHCP client and supplicant stopped,
// driver unloaded). 0.
int wifi_StationMode_stop(void);

// SIGINT and SIGUSR2 ask the program to give up: the scans and the address wait end with
// STN_ERR_ABORT.
void StationInstallSignals(void);
bool StationAborted(void);

namespace wifi_programs {

// One station-mode session: the network number the supplicant gave it, and the abort flag
// it watches (set by a signal handler, so it lives outside). The functions above are its
// one-line wrappers over the program's own session.
class Station {
 public:
  explicit Station(const volatile sig_atomic_t &abort) : abort_(abort) {}
  int start(const char *ssid, const char *pwd, int security, const char *device_name, int rear);
  int connect(const char *ssid, const char *pwd, int security, const char *device_name, int rear);
  int stop();

 private:
  int radioUp(int rear);
  int configureNetwork(const char *ssid, const char *pwd, int security);
  int keySettings(const char *pwd, int security);
  int waitForAddress();
  bool aborted() const { return abort_ != 0; }

  int network_id_ = 0;  // the number wpa_cli's add_network gave
  const volatile sig_atomic_t &abort_;
};

}  // namespace wifi_programs
