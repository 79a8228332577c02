// SPDX-License-Identifier: MIT
// The Wi-Fi side of the board-access layer: the MAC record on flash, nvram.txt, the
// "8189es" module and the access point. Paths and commands go through the board root;
// values from callers reach the shell as single words and hostapd.conf only when they
// cannot add a line of their own.
#include <errno.h>
#include <fcntl.h>
#include <sched.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <string>

#include "board_root.h"
#include "dm368_zt5_util.h"
#include "kv_common_util.h"
#include "kv_owners.hpp"

namespace {

// The driver reads at most this much of nvram.txt; so does the patch.
constexpr size_t kNvramSize = 1024;
constexpr const char kMacKey[] = "macaddr=";
constexpr size_t kMacKeyLen = sizeof kMacKey - 1;
constexpr int kMacBytes = 6;
// Addresses the unit generates for itself begin with this vendor prefix.
constexpr unsigned char kMacPrefix[3] = {0x00, 0x1E, 0x55};
// No module of the board comes near this; a larger "module" is not loaded into memory.
constexpr off_t kMaxModuleSize = 32 * 1024 * 1024;

constexpr int kAttempts = 10;
constexpr int kRetryMs = 500;
constexpr int kUnloadPolls = 20;
constexpr int kHostapdSettleMs = 100;

const char *const kDhcpLease = "72h";

// ---- files -----------------------------------------------------------------------------

ssize_t readAll(int fd, void *buf, size_t len) {
  size_t got = 0;
  while (got < len) {
    ssize_t n = read(fd, static_cast<char *>(buf) + got, len - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(got);
}

bool writeAll(int fd, const void *buf, size_t len) {
  size_t done = 0;
  while (done < len) {
    ssize_t n = write(fd, static_cast<const char *>(buf) + done, len - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// nvram.txt's text (up to kNvramSize - 1 bytes, terminated); its length, or -1 after the
// driver layer's message.
ssize_t readNvram(char (&text)[kNvramSize]) {
  memset(text, 0, sizeof text);
  kv::UniqueFd fd(kv_open(KV_WIFI_NVRAM_FILE, O_RDONLY));
  if (!fd) {
    puts("Error: can't open nvram.txt!");
    return -1;
  }
  ssize_t n = readAll(fd.get(), text, sizeof text - 1);
  if (n < 0) {
    puts("Error: can't read nvram.txt!!!");
    return -1;
  }
  return n;
}

// ---- MAC address -----------------------------------------------------------------------

void macText(const unsigned char *mac, char (&text)[KV_WIFI_MAC_TEXT_LEN + 1]) {
  snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", mac[0], mac[1], mac[2], mac[3],
           mac[4], mac[5]);
}

bool isHex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

// "XX:XX:XX:XX:XX:XX" in hex digits of either case (the unit writes upper case; a file
// edited by hand may hold lower case, which the driver reads as well). Nothing else may
// stand there: the text becomes a module argument, where a blank would start an argument
// of the sender's choosing.
bool wellFormedMac(const char *text) {
  for (int i = 0; i < KV_WIFI_MAC_TEXT_LEN; ++i) {
    bool colon = i % 3 == 2;
    if (colon ? text[i] != ':' : !isHex(text[i])) return false;
  }
  return true;
}

bool validRecord(const unsigned char (&rec)[KV_WIFI_MAC_RECORD_SIZE]) {
  unsigned char crc = crc8(rec + 1, kMacBytes);
  return rec[0] == crc && rec[7] == crc && memcmp(rec + 1, kMacPrefix, sizeof kMacPrefix) == 0;
}

// The generator's seed. The time alone gives two units that make their address in the
// same second (a front and a rear unit powered up together) the same address, and the
// rear's radio joins the front's access point with it. The time since boot in nanoseconds
// and the process id tell the units apart, and the kernel's random bytes where it has
// them (getrandom came with Linux 3.17; the call is made directly so that an older C
// library still loads the program).
unsigned macSeed() {
  unsigned seed = static_cast<unsigned>(time(nullptr));
  struct timespec since_boot = {};
  clock_gettime(CLOCK_MONOTONIC, &since_boot);
  unsigned boot_seconds = static_cast<unsigned>(since_boot.tv_sec);
  seed ^= (boot_seconds << 20) ^ static_cast<unsigned>(since_boot.tv_nsec);
  seed ^= static_cast<unsigned>(getpid()) << 8;
  unsigned kernel = 0;
  if (syscall(SYS_getrandom, &kernel, sizeof kernel, 0) == static_cast<long>(sizeof kernel))
    seed ^= kernel;
  return seed;
}

// A new address: the vendor prefix and three bytes drawn from the libc generator.
void newRecord(unsigned char (&rec)[KV_WIFI_MAC_RECORD_SIZE]) {
  srand(macSeed());
  int pool[20];
  for (int &v : pool) v = rand() % 256;
  unsigned char mac[kMacBytes] = {kMacPrefix[0], kMacPrefix[1], kMacPrefix[2]};
  for (int i = 3; i < kMacBytes; ++i) mac[i] = static_cast<unsigned char>(pool[rand() % 20]);
  rec[0] = crc8(mac, kMacBytes);
  memcpy(rec + 1, mac, kMacBytes);
  rec[7] = rec[0];
}

// ---- modules ---------------------------------------------------------------------------

std::string moduleNameOf(const char *filename) {
  std::string name = filename;
  size_t slash = name.rfind('/');
  if (slash != std::string::npos) name.erase(0, slash + 1);
  if (name.size() > 3 && name.compare(name.size() - 3, 3, ".ko") == 0) name.resize(name.size() - 3);
  return name;
}

int loadModule(const char *filename, const char *args) {
  unsigned int size = 0;
  void *image = load_file(filename, &size);
  if (!image) return -1;
  int result = kv_init_module(image, size, args, moduleNameOf(filename).c_str());
  free(image);
  return result;
}

// Up to 10 removals, 500 ms apart while the kernel says busy; the last result.
int removeModule(const char *name) {
  int result = -1;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    result = kv_delete_module(name, O_NONBLOCK | O_EXCL);
    if (result >= 0) break;
    kv::sleep_ms(kRetryMs);  // the tenth refusal too: the module gets 5 s in all
  }
  if (result != 0) fprintf(stderr, "Unable to unload driver module (%s)\n", name);
  return result;
}

// ---- access point ----------------------------------------------------------------------

// hostapd.conf from its template; false when a value could add a line or the text does not
// fit. The build of hostapd on the board takes the extra key rear_macaddr.
bool hostapdConf(char (&text)[KV_HOSTAPD_CONF_SIZE], const char *ssid, int channel, const char *key,
                 const char *rear_mac) {
  memset(text, 0, sizeof text);
  if (!kv_wifi_text_ok(ssid) || !kv_wifi_text_ok(key) || !kv_wifi_text_ok(rear_mac)) return false;
  int n = snprintf(text, sizeof text,
                   "interface=wlan0\n"
                   "driver=rtl871xdrv\n"
                   "ctrl_interface=/var/volatile/run/hostapd\n"
                   "ssid=%s\n"
                   "channel=%d\n"
                   "hw_mode=g\n"
                   "ieee80211n=1\n"
                   "wme_enabled=1\n"
                   "wpa=2\n"
                   "wpa_passphrase=%s\n"
                   "wpa_key_mgmt=WPA-PSK\n"
                   "wpa_pairwise=CCMP\n"
                   "wpa_group_rekey=0\n"
                   "wpa_gmk_rekey=0\n"
                   "wpa_ptk_rekey=0\n"
                   "rear_macaddr=%s\n",
                   ssid, channel, key, rear_mac);
  return n > 0 && static_cast<size_t>(n) < sizeof text;
}

int writeHostapdConf(const char *text) {
  kv::UniqueFd fd(kv_open(KV_WIFI_HOSTAPD_CONF, O_WRONLY | O_CREAT | O_TRUNC, 0660));
  if (!fd) {
    puts("Error: can't open hostapd.conf!!");
    return -1;
  }
  if (!writeAll(fd.get(), text, strlen(text))) {
    puts("Error: can't write hostapd.conf!!!");
    return -1;
  }
  return 0;
}

std::string word(std::string_view text) { return kv::shell_word(text); }
std::string rootedWord(const char *board_path) { return word(kv::rooted(board_path)); }

}  // namespace

extern "C" {

int kv_wifi_text_ok(const char *text) {
  if (!text) return 0;
  for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text); *p; ++p)
    if (*p < 0x20 || *p == 0x7F) return 0;
  return 1;
}

int patch_nvram_txt(const unsigned char *buf, int count) {
  if (!buf || count != kMacBytes) {
    printf("Error: a MAC address is 6 bytes, not %d!!!\n", count);
    return -1;
  }
  char text[kNvramSize];
  ssize_t n = readNvram(text);
  if (n < 0) return -1;
  char *key = strstr(text, kMacKey);
  if (!key) return 0;  // nothing to patch: the file stays as it is
  size_t at = static_cast<size_t>(key - text) + kMacKeyLen;
  // The driver takes the 17 characters whole: a key too close to the end of what it reads
  // could only hold a cut address.
  if (at + KV_WIFI_MAC_TEXT_LEN > sizeof text - 1) {
    puts("Error: can't write nvram.txt!!!");
    return -1;
  }
  char mac[KV_WIFI_MAC_TEXT_LEN + 1];
  macText(buf, mac);
  memcpy(text + at, mac, KV_WIFI_MAC_TEXT_LEN);
  size_t len = static_cast<size_t>(n);
  if (at + KV_WIFI_MAC_TEXT_LEN > len) len = at + KV_WIFI_MAC_TEXT_LEN;

  kv::UniqueFd fd(kv_open(KV_WIFI_NVRAM_FILE, O_WRONLY | O_CREAT, 0660));
  if (!fd) {
    puts("Error: can't open nvram.txt!!");
    return -1;
  }
  if (!writeAll(fd.get(), text, len)) {
    puts("Error: can't write nvram.txt!!!");
    return -1;
  }
  return 0;
}

int modify_mac_address(int force_update) {
  unsigned char fresh[KV_WIFI_MAC_RECORD_SIZE];
  newRecord(fresh);
  kv::UniqueFd fd(kv_open(KV_WIFI_MAC_PARTITION, O_RDWR));
  if (!fd) {
    patch_nvram_txt(fresh + 1, kMacBytes);
    return -1;  // the radio runs with an address that is not kept
  }
  if (!force_update) {
    unsigned char stored[KV_WIFI_MAC_RECORD_SIZE] = {0};
    if (readAll(fd.get(), stored, sizeof stored) != static_cast<ssize_t>(sizeof stored))
      puts("Error: can't read mac address!!!");
    if (validRecord(stored)) return patch_nvram_txt(stored + 1, kMacBytes);
  }
  int stored_ok = 0;
  if (lseek(fd.get(), 0, SEEK_SET) != 0 || !writeAll(fd.get(), fresh, sizeof fresh) ||
      fsync(fd.get()) != 0) {
    puts("Error: can't write mac address!!!");
    stored_ok = -1;
  }
  fd.reset();
  int patched = patch_nvram_txt(fresh + 1, kMacBytes);
  return stored_ok == 0 && patched == 0 ? 0 : -1;
}

int check_driver_loaded(void) {
  kv::UniqueFile list(kv_fopen(KV_MODULE_LIST, "r"));
  if (!list) {
    fprintf(stderr, "Could not open (%s)\n", KV_MODULE_LIST);
    return 0;
  }
  // Read in short pieces; only a piece that starts a line is a module's name, never the
  // rest of a long line (a dependency list may name the driver).
  char piece[32];
  bool line_start = true;
  while (fgets(piece, sizeof piece, list.get())) {
    if (line_start && strncmp(piece, KV_WIFI_MODULE_NAME, strlen(KV_WIFI_MODULE_NAME)) == 0)
      return 1;
    line_start = strchr(piece, '\n') != nullptr;
  }
  return 0;
}

void *load_file(const char *fn, unsigned int *_sz) {
  if (!fn) return nullptr;
  kv::UniqueFd fd(open(kv::resolved(fn).c_str(), O_RDONLY));
  if (!fd) return nullptr;
  off_t size = lseek(fd.get(), 0, SEEK_END);
  if (size < 0 || size > kMaxModuleSize || lseek(fd.get(), 0, SEEK_SET) != 0) return nullptr;
  auto len = static_cast<size_t>(size);
  char *buf = static_cast<char *>(malloc(len + 1));
  if (!buf) return nullptr;
  if (readAll(fd.get(), buf, len) != static_cast<ssize_t>(len)) {
    free(buf);
    return nullptr;
  }
  buf[len] = '\0';
  if (_sz) *_sz = static_cast<unsigned int>(len);
  return buf;
}

int insmod(const char *filename, const char *args) { return loadModule(filename, args); }

int rmmod(const char *modname) { return removeModule(modname); }

int wifi_load_driver(void) {
  if (check_driver_loaded() == 1) return -1;
  char text[kNvramSize];
  if (readNvram(text) < 0) return -1;
  const char *key = strstr(text, kMacKey);
  if (!key || strlen(key + kMacKeyLen) < KV_WIFI_MAC_TEXT_LEN || !wellFormedMac(key + kMacKeyLen)) {
    puts("Error: can't read macaddr!!!");
    return -1;
  }
  char arg[32];
  snprintf(arg, sizeof arg, "rtw_initmac=%.*s", KV_WIFI_MAC_TEXT_LEN, key + kMacKeyLen);
  if (loadModule(KV_WIFI_MODULE_FILE, arg) != 0) {
    fprintf(stderr, "wifi_load_driver - Failed to load module\n");
    return -1;
  }
  sched_yield();
  for (int round = 0; round < kAttempts; ++round) {
    kv::sleep_ms(kRetryMs);
    if (check_driver_loaded() == 1) return 0;
  }
  fprintf(stderr, "wifi_load_driver - timeout!\n");
  wifi_unload_driver();
  return -1;
}

int wifi_unload_driver(void) {
  if (removeModule(KV_WIFI_MODULE_NAME) != 0) return -1;
  for (int round = 0; round < kUnloadPolls; ++round) {
    kv::sleep_ms(kRetryMs);
    if (check_driver_loaded() == 0) return 0;
  }
  return -1;
}

int wifi_start_softap(const char *ipaddr, const char *ssid, const char *key, int channel,
                      const char *start_dhcp_range, const char *end_dhcp_range,
                      const char *rear_mac) {
  char conf[KV_HOSTAPD_CONF_SIZE];
  if (!kv_wifi_text_ok(ipaddr) || !kv_wifi_text_ok(start_dhcp_range) ||
      !kv_wifi_text_ok(end_dhcp_range) || !hostapdConf(conf, ssid, channel, key, rear_mac)) {
    puts("Error: hostapd.conf value refused!!");
    return -1;
  }
  if (writeHostapdConf(conf) != 0) return -1;
  if (kv::shellf("ifconfig %s %s up", KV_WIFI_INTERFACE, word(ipaddr).c_str()) != 0) {
    fprintf(stderr, "wifi_start_softap - failed to configure %s\n", KV_WIFI_INTERFACE);
    return -1;
  }
  if (kv::shellf("%s %s &", rootedWord(KV_WIFI_HOSTAPD).c_str(),
                 rootedWord(KV_WIFI_HOSTAPD_CONF).c_str()) != 0) {
    fprintf(stderr, "wifi_start_softap - failed to execute hostapd\n");
    return -1;
  }
  kv::sleep_ms(kHostapdSettleMs);
  std::string range =
      std::string("--dhcp-range=") + start_dhcp_range + "," + end_dhcp_range + "," + kDhcpLease;
  if (kv::shellf("%s --no-daemon --leasefile-ro --no-resolv --no-poll %s &",
                 rootedWord(KV_WIFI_DNSMASQ).c_str(), word(range).c_str()) != 0) {
    fprintf(stderr, "wifi_start_softap - failed to execute dnsmasq\n");
    return -1;
  }
  return 0;
}

int wifi_stop_softap(void) {
  kv_system("killall -9 dnsmasq");
  kv_system("killall -9 hostapd");
  return 0;
}

}  // extern "C"
