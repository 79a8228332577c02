// SPDX-License-Identifier: MIT
// The station-mode client: drives wpa_supplicant through wpa_cli (answers read from a
// pipe, the last line counts), dhcpcd, and the unit's web and FTP servers. Values from the
// command line reach every command as single shell words.
#include "kv_stationd.h"

#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <string_view>

#include "KVLog.h"
#include "board_root.h"
#include "dm368_zt5_util.h"
#include "kv_common_util.h"
#include "kv_owners.hpp"
#include "wifi_servers.hpp"

namespace {

constexpr const char kWpaControl[] = "/var/run/wpa_supplicant";
constexpr const char kFrontConf[] = "/opt/vcam/wifi/wpa_supplicant.conf";
constexpr const char kRearConf[] = "/mnt/nand/wpa_supplicant.conf";
constexpr const char kDhcpcd[] = "/opt/vcam/dhcpcd/dhcpcd";
constexpr const char kDhcpPidFile[] = "/var/volatile/run/dhcpcd-wlan0.pid";
constexpr const char kIfconfig[] = "/sbin/ifconfig";

constexpr int kFrontScans = 3;
constexpr int kRearScans = 20;
constexpr int kAddressChecks = 150;
constexpr int kAddressCheckMs = 600;
constexpr int kStepMs = 50;
constexpr int kScanSettleMs = 100;
constexpr int kScanRetryMs = 1000;
constexpr int kServerSettleMs = 10;
// wpa_cli's answers are read line by line into this much.
constexpr size_t kLineSize = 1024;
// Marks an address wait that the abort flag ended.
constexpr int kAddressWaitAborted = 1;

// Set by SIGINT and SIGUSR2, which reach the whole process.
volatile sig_atomic_t g_bAbortSignal = 0;

std::string word(std::string_view text) { return kv::shell_word(text); }
std::string rootedWord(const char *board_path) { return word(kv::rooted(board_path)); }

// ---- wpa_cli ---------------------------------------------------------------------------

std::string wpaCli(const std::string &args) {
  return "wpa_cli " + word("-p" + kv::rooted(kWpaControl)) + " " + args;
}

using Line = char[kLineSize];

// Runs a wpa_cli command through a pipe; `last` gets the last line it printed ("" for
// none). False when no pipe could be opened.
bool wpaPipe(const std::string &args, Line &last) {
  last[0] = '\0';
  kv::UniquePipe pipe(kv_popen(wpaCli(args).c_str(), "r"));
  if (!pipe) return false;
  Line line;
  while (fgets(line, sizeof line, pipe.get())) memcpy(last, line, sizeof line);
  return true;
}

// A wpa_cli answer counts as success when its last line is exactly "OK\n".
bool wpaOk(const std::string &args) {
  Line last;
  return wpaPipe(args, last) && strcmp(last, "OK\n") == 0;
}

int wpaSystem(const std::string &args) { return kv_system(wpaCli(args).c_str()); }

std::string withNetwork(int network_id, const char *setting) {
  return "set_network " + std::to_string(network_id) + " " + setting;
}

// wpa_supplicant's quoted-string form of a value, as one shell word: the tool receives the
// value between double quotes, byte for byte.
// Built in steps: GCC 12 at -O3 warns of a false overlap (-Wrestrict, GCC PR 105329) in
// "x" + std::string.
std::string quotedValue(const char *value) {
  std::string quoted(1, '"');
  quoted.append(value).push_back('"');
  return word(quoted);
}

// A WPA key of 64 hex digits is the pre-shared key itself, which wpa_supplicant takes
// without quotes; in quotes it is a pass phrase, which may have 63 characters at most.
bool isRawPsk(const char *value) {
  size_t len = strlen(value);
  return len == 64 && strspn(value, "0123456789abcdefABCDEF") == len;
}

std::string keyValue(const char *setting, const char *pwd) {
  return strcmp(setting, "psk") == 0 && isRawPsk(pwd) ? std::string(pwd) : quotedValue(pwd);
}

// The network number of add_network's answer; false for anything but a number (the
// supplicant answers "FAIL" when it cannot add one).
bool networkNumber(const char *answer, int &id) {
  char *end = nullptr;
  long n = strtol(answer, &end, 10);
  if (end == answer || (*end != '\0' && *end != '\n') || n < 0 || n > 0x7FFFFFFF) return false;
  id = static_cast<int>(n);
  return true;
}

// ---- scan results ----------------------------------------------------------------------

// How wpa_cli 2.x prints a name: printable ASCII as it is, '"' and '\' escaped, other
// bytes as "\x%02x". Older builds print every byte of a non-ASCII name as "\x%x"
// (GetSSIDWithUTF8); a name with ASCII letters and UTF-8 looks different in the two.
std::string printfEncoded(std::string_view ssid) {
  std::string out;
  for (unsigned char c : ssid) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      char hex[5];
      snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    }
  }
  return out;
}

struct SearchKeys {
  std::string escaped, encoded;
  explicit SearchKeys(const char *ssid) : encoded(printfEncoded(ssid)) {
    std::string key(4 * strlen(ssid) + 1, '\0');
    GetSSIDWithUTF8(ssid, key.data());
    escaped = key.c_str();
  }
  // An empty key is found in any scan output.
  bool any() const { return escaped.empty(); }
  bool matches(std::string_view field) const { return field == escaped || field == encoded; }
};

// The SSID field of a scan result line: "bssid\tfrequency\tsignal\tflags\tssid". The
// whole field is compared, so "Home" is not taken for "MyHome2".
bool ssidField(const char *line, std::string_view &field) {
  const char *p = line;
  for (int tab = 0; tab < 4; ++tab) {
    p = strchr(p, '\t');
    if (!p) return false;
    ++p;
  }
  field = std::string_view(p, strcspn(p, "\r\n"));
  return true;
}

enum class Scan { no_pipe, empty, seen, not_seen };

// Reads all of scan_result's output, whatever its length (a parking lot may show dozens of
// networks), line by line.
Scan scanResults(const SearchKeys &keys) {
  kv::UniquePipe pipe(kv_popen(wpaCli("scan_result").c_str(), "r"));
  if (!pipe) return Scan::no_pipe;
  Line line;
  bool any = false, seen = false, line_start = true;
  while (fgets(line, sizeof line, pipe.get())) {
    any = true;
    std::string_view field;
    if (line_start && ssidField(line, field) && keys.matches(field)) seen = true;
    line_start = strchr(line, '\n') != nullptr;
  }
  if (!any) return Scan::empty;
  return seen || keys.any() ? Scan::seen : Scan::not_seen;
}

// ---- connecting ------------------------------------------------------------------------

// Key settings by security type, in order: a setting without the password is run and
// checked by its status, one with the password through a pipe and checked by its answer.
struct KeyStep {
  int security;
  const char *setting;
  bool with_password;
  const char *failure;
};
constexpr KeyStep kKeySteps[] = {
    {STN_SEC_OPEN, "key_mgmt NONE", false, "stn err PWD NONE 0\n"},
    {STN_SEC_WEP, "key_mgmt NONE", false, "stn err PWD WEP 0\n"},
    {STN_SEC_WEP, "wep_key0", true, "stn err PWD WEP 1\n"},
    {STN_SEC_WPA, "key_mgmt WPA-PSK", false, "stn err PWD PSK 0\n"},
    {STN_SEC_WPA, "psk", true, "stn err PWD PSK 1\n"},
};

void onSignal(int) { g_bAbortSignal = 1; }

}  // namespace

void GetSSIDWithUTF8(const char *src, char *dst) {
  if (!src || !dst) return;
  bool ascii = true;
  for (const char *p = src; *p; ++p) ascii = ascii && static_cast<unsigned char>(*p) < 0x80;
  if (ascii) {
    strcpy(dst, src);
    return;
  }
  for (const char *p = src; *p; ++p) dst += sprintf(dst, "\\x%x", static_cast<unsigned char>(*p));
  *dst = '\0';
}

int GetIP_Addr(char *buf) {
  if (!buf) return -1;
  uint32_t addr = 0;
  int result = kv_if_ipv4(KV_WIFI_INTERFACE, &addr) == 0 ? 0 : -1;
  if (result != 0) addr = 0xFFFFFFFFu;
  const auto *b = reinterpret_cast<const unsigned char *>(&addr);  // network order
  snprintf(buf, 16, "%d.%d.%d.%d", b[0], b[1], b[2], b[3]);
  return result;
}

uint32_t IsIpAllocated(const char *ifname) {
  uint32_t addr = 0;
  int result = kv_if_ipv4(ifname, &addr);
  if (result == -2) printf("socket error");
  return result == 0 ? addr : 0;
}

int32_t net_get_ifaddr(const char *ifname) {
  uint32_t addr = 0;
  int result = kv_if_ipv4(ifname, &addr);
  if (result == -2) printf("socket error");
  return result == 0 ? static_cast<int32_t>(addr) : -1;
}

void GetIpByIfConfig(void) {
  std::string command = rootedWord(kIfconfig) + " " + KV_WIFI_INTERFACE;
  kv::UniquePipe pipe(kv_popen(command.c_str(), "r"));
  if (!pipe) return;
  Line line;
  while (fgets(line, sizeof line, pipe.get())) fputs(line, stdout);
}

namespace wifi_programs {

int Station::keySettings(const char *pwd, int security) {
  for (const KeyStep &step : kKeySteps) {
    if (step.security != security) continue;
    bool ok =
        step.with_password
            ? wpaOk(withNetwork(network_id_, step.setting) + " " + keyValue(step.setting, pwd))
            : wpaSystem(withNetwork(network_id_, step.setting)) == 0;
    if (!ok) {
      KVLog("%s", step.failure);
      return STN_ERR_PWD;
    }
  }
  return STN_OK;
}

// A front unit names the network, its scan mode and its keys; a rear unit's network is in
// its settings file already.
int Station::configureNetwork(const char *ssid, const char *pwd, int security) {
  if (security == STN_SEC_OPEN || security == STN_SEC_WEP) {
    if (wpaSystem(withNetwork(network_id_, "scan_ssid 1")) != 0) return STN_ERR_SETUP;
  } else if (security == STN_SEC_WPA) {
    if (wpaSystem("ap_scan 2") != 0) return STN_ERR_SETUP;
  }
  kv::sleep_ms(kStepMs);
  if (!wpaOk(withNetwork(network_id_, "ssid") + " " + quotedValue(ssid))) {
    KVLog("stn err SSID\n");
    return STN_ERR_SSID;
  }
  kv::sleep_ms(kStepMs);
  if (int r = keySettings(pwd, security); r != STN_OK) return r;
  kv::sleep_ms(kStepMs);
  return STN_OK;
}

// STN_OK once wlan0 has an address (servers started), STN_ERR_IP after 150 checks, or
// kAddressWaitAborted.
int Station::waitForAddress() {
  for (int check = 1; !aborted(); ++check) {
    kv::sleep_ms(kAddressCheckMs);
    if (IsIpAllocated(KV_WIFI_INTERFACE) != 0) {
      char ip[16];
      GetIP_Addr(ip);
      KVLog("GetIP=[%s]\n", ip);
      startServers(kServerSettleMs);
      KVLog("stn OK\n");
      return STN_OK;
    }
    if (check == kAddressChecks) {
      KVLog("stn err IP alloc\n");
      return STN_ERR_IP;
    }
  }
  return kAddressWaitAborted;
}

// Radio up, supplicant started: the steps before the scans. STN_OK or the failure's result.
int Station::radioUp(int rear) {
  kv::shellf("rm %s", rootedWord(kDhcpPidFile).c_str());
  if (check_driver_loaded() == 0 && wifi_load_driver() != 0) return STN_ERR_RADIO;
  kv::sleep_ms(kStepMs);
  if (kv::shellf("ifconfig %s up", KV_WIFI_INTERFACE) != 0) {
    KVLog("stn err ifconfig\n");
    return STN_ERR_RADIO;
  }
  kv::sleep_ms(kStepMs);
  if (kv::shellf("wpa_supplicant -Dwext -i%s %s -B", KV_WIFI_INTERFACE,
                 word("-c" + kv::rooted(rear ? kRearConf : kFrontConf)).c_str()) != 0) {
    KVLog("stn err wpa_supplicant\n");
    return STN_ERR_RADIO;
  }
  kv::sleep_ms(kStepMs);
  return STN_OK;
}

int Station::start(const char *ssid, const char *pwd, int security, const char *device_name,
                   int rear) {
  if (!ssid || !pwd || !device_name) return STN_ERR_SETUP;
  SearchKeys keys(ssid);
  if (int r = radioUp(rear); r != STN_OK) return r;
  for (int tries = rear ? kRearScans : kFrontScans; tries > 0; --tries) {
    if (aborted()) {
      KVLog("stn err abort\n");
      return STN_ERR_ABORT;
    }
    Line answer;
    if (!wpaPipe("scan", answer)) {
      KVLog("stn err fp fail\n");
      return STN_ERR_SETUP;
    }
    if (strcmp(answer, "OK\n") != 0) {
      kv::sleep_ms(kScanSettleMs);
      continue;
    }
    kv::sleep_ms(kScanSettleMs);
    switch (scanResults(keys)) {
      case Scan::no_pipe:
        KVLog("stn err fp fail\n");
        return STN_ERR_SETUP;
      case Scan::empty:
        KVLog("stn err scan read\n");
        continue;
      case Scan::seen:
        return connect(ssid, pwd, security, device_name, rear);
      case Scan::not_seen:
        kv::sleep_ms(kScanRetryMs);
        continue;
    }
  }
  KVLog("stn err ap not exist\n");
  return STN_ERR_NO_AP;
}

int Station::connect(const char *ssid, const char *pwd, int security, const char *device_name,
                     int rear) {
  if (!ssid || !pwd || !device_name) return STN_ERR_SETUP;
  Line answer;
  if (!wpaPipe("add_network", answer)) {
    KVLog("stn err fp fail\n");
    return STN_ERR_SETUP;
  }
  if (!networkNumber(answer, network_id_)) {
    KVLog("stn err add_network\n");
    return STN_ERR_SETUP;
  }
  kv::sleep_ms(kStepMs);
  if (!rear) {
    if (int r = configureNetwork(ssid, pwd, security); r != STN_OK) return r;
  }
  if (!wpaOk("enable_network " + std::to_string(network_id_))) {
    KVLog("stn err enable\n");
    return STN_ERR_RADIO;
  }
  kv::sleep_ms(kStepMs);
  if (!aborted()) {
    KVLog("dhcpcd req\n");
    if (kv::shellf("%s %s -H -h %s &", rootedWord(kDhcpcd).c_str(), KV_WIFI_INTERFACE,
                   word(device_name).c_str()) != 0) {
      KVLog("stn err dhcpcd\n");
      return STN_ERR_RADIO;
    }
    if (int r = waitForAddress(); r != kAddressWaitAborted) return r;
  }
  return wpaOk("remove_network " + std::to_string(network_id_)) ? STN_ERR_ABORT : STN_ERR_SETUP;
}

int Station::stop() {
  wpaSystem("disable_network 0");
  stopServers();
  kv::shellf("%s %s -k", rootedWord(kDhcpcd).c_str(), KV_WIFI_INTERFACE);
  kv_system("killall -9 dhcpcd");
  kv_system("killall -9 wpa_supplicant");
  kv::shellf("rm %s", rootedWord(kDhcpPidFile).c_str());
  if (check_driver_loaded() == 1) wifi_unload_driver();
  return 0;
}

}  // namespace wifi_programs

namespace {

// The program's one session, as the system's functions reach it.
wifi_programs::Station &station() {
  static wifi_programs::Station s(g_bAbortSignal);
  return s;
}

}  // namespace

int wifi_StationMode_start(const char *ssid, const char *pwd, int security, const char *device_name,
                           int rear) {
  return station().start(ssid, pwd, security, device_name, rear);
}

int wifi_StationMode_connect(const char *ssid, const char *pwd, int security,
                             const char *device_name, int rear) {
  return station().connect(ssid, pwd, security, device_name, rear);
}

int wifi_StationMode_stop(void) { return station().stop(); }

void StationInstallSignals(void) {
  struct sigaction sa = {};
  sa.sa_handler = onSignal;
  sa.sa_flags = SA_RESTART;  // the flag is looked at between steps; reads and waits go on
  sigemptyset(&sa.sa_mask);
  sigaddset(&sa.sa_mask, SIGINT);
  sigaddset(&sa.sa_mask, SIGTERM);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGUSR2, &sa, nullptr);
}

bool StationAborted(void) { return g_bAbortSignal != 0; }
