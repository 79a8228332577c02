// SPDX-License-Identifier: MIT
// Settings conversions between the user interface and the servers, the device language on
// flash, firmware version and build number, platform and device version, the Wi-Fi MAC
// address, and the station configuration for joining the other camera unit.
#include <ctype.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <iterator>
#include <string>

#include "board_root.h"
#include "kv_common_util.h"
#include "kv_owners.hpp"

namespace {

using File = kv::UniqueFile;

// ---- conversions -------------------------------------------------------------------

struct Pair {
  int from, to;
};

template <size_t N>
int lookup(const Pair (&table)[N], int value, int fallback) {
  for (const auto &p : table)
    if (p.from == value) return p.to;
  return fallback;
}

// User-interface level n (the index) to the stored value.
constexpr int kParkDurations[] = {PARK_DURATION_0, PARK_DURATION_1,  PARK_DURATION_2,
                                  PARK_DURATION_3, PARK_DURATION_4,  PARK_DURATION_5,
                                  PARK_DURATION_6, PARK_DURATION_7,  PARK_DURATION_8,
                                  PARK_DURATION_9, PARK_DURATION_10, PARK_DURATION_11};
constexpr int kAudioVolumes[] = {AUDIO_VOLUME_0, AUDIO_VOLUME_1, AUDIO_VOLUME_2, AUDIO_VOLUME_3,
                                 AUDIO_VOLUME_4, AUDIO_VOLUME_5, AUDIO_VOLUME_6, AUDIO_VOLUME_7,
                                 AUDIO_VOLUME_8, AUDIO_VOLUME_9, AUDIO_VOLUME_10};
constexpr int kParkCounters[] = {PARK_COUNTER_5MIN,  PARK_COUNTER_10MIN, PARK_COUNTER_15MIN,
                                 PARK_COUNTER_20MIN, PARK_COUNTER_25MIN, PARK_COUNTER_30MIN};

template <size_t N>
int level(const int (&table)[N], int first, int n, int fallback) {
  return n >= first && n < static_cast<int>(N) ? table[n] : fallback;
}

constexpr Pair kWifiTimerToVcam[] = {
    {0, WIFI_OFF_TIMER_0}, {1, WIFI_OFF_TIMER_1}, {2, WIFI_OFF_TIMER_2}, {99, WIFI_OFF_TIMER_OFF}};
constexpr Pair kWifiTimerToUi[] = {
    {WIFI_OFF_TIMER_OFF, 99}, {WIFI_OFF_TIMER_0, 0}, {WIFI_OFF_TIMER_2, 2}};
constexpr Pair kParkCounterToUi[] = {{PARK_COUNTER_15MIN, 2},
                                     {PARK_COUNTER_20MIN, 3},
                                     {PARK_COUNTER_25MIN, 4},
                                     {PARK_COUNTER_30MIN, 5}};

int recordingInterval(int v) { return v >= 2 && v <= 5 ? v : RECORDING_INTERVAL_1; }

int toVcam(int id, int v) {
  switch (id) {
    case UI_CMD_MIRROR:
      return v == 0 ? 3 : 0;
    case UI_CMD_WIFI_OFF_TIMER:
      return lookup(kWifiTimerToVcam, v, WIFI_OFF_TIMER_1);
    case UI_CMD_PARK_DURATION:
      return level(kParkDurations, 1, v, PARK_DURATION_0);
    case UI_CMD_BRIGHTNESS:
      return v >= 0 && v <= 10 ? v * 10 : DISPLAY_BRIGHTNESS_5;
    case UI_CMD_AUDIO_VOLUME:
      return level(kAudioVolumes, 0, v, AUDIO_VOLUME_7);
    case UI_CMD_PARK_COUNTER:
      return level(kParkCounters, 0, v, PARK_COUNTER_10MIN);
    case UI_CMD_RECORDING_INTERVAL:
      return recordingInterval(v);
  }
  return v;
}

// The stored volume maps back to the nearest lower level.
int volumeLevel(int v) {
  int n = 0;
  for (int i = 0; i < static_cast<int>(std::size(kAudioVolumes)); ++i)
    if (kAudioVolumes[i] <= v) n = i;
  return n;
}

int parkDurationLevel(int v) {
  for (int n = 1; n < static_cast<int>(std::size(kParkDurations)); ++n)
    if (kParkDurations[n] == v) return n;
  return 0;
}

int toUi(int id, int v) {
  switch (id) {
    case UI_CMD_MIRROR:
      return v == 3 ? 0 : 1;
    case UI_CMD_WIFI_OFF_TIMER:
      return lookup(kWifiTimerToUi, v, 1);
    case UI_CMD_PARK_DURATION:
      return parkDurationLevel(v);
    case UI_CMD_BRIGHTNESS:
      return v >= 0 && v <= 100 ? v / 10 : 5;
    case UI_CMD_AUDIO_VOLUME:
      return volumeLevel(v);
    case UI_CMD_PARK_COUNTER:
      return v <= PARK_COUNTER_5MIN ? 0 : lookup(kParkCounterToUi, v, 1);
    case UI_CMD_RECORDING_INTERVAL:
      return recordingInterval(v);
  }
  return v;
}

// ---- flash files -------------------------------------------------------------------

constexpr const char *kLanguages[] = {"KO", "EN", "JA", "RU", "CN"};
constexpr const char *kDefaultLanguage = "KO";

int writeLanguage(const char *board_path, const char *lang) {
  if (!lang) return -1;
  kv::UniqueFd f(kv_open(board_path, O_WRONLY | O_CREAT | O_TRUNC, 0644));
  if (!f) return -1;
  ssize_t n = write(f.get(), lang, strnlen(lang, 2));
  return n < 0 ? -1 : 0;
}

// Reads the first whitespace-delimited word of a file, as fscanf("%s") with a width of
// size - 1 would.
bool readWord(FILE *f, char *word, size_t size) {
  size_t n = 0;
  int c;
  while ((c = fgetc(f)) != EOF && isspace(c)) {
  }
  for (; c != EOF && !isspace(c) && n + 1 < size; c = fgetc(f)) word[n++] = static_cast<char>(c);
  word[n] = '\0';
  return n > 0;
}

// The version word "1.23:456[:more]"; false when the file is missing.
constexpr size_t kVersionWordSize = 64;
bool readVersionWord(char (&word)[kVersionWordSize]) {
  File f(kv_fopen(KV_VERSION_FILE, "r"));
  if (!f) return false;
  readWord(f.get(), word, sizeof word);
  return true;
}

int digit(char c) { return c >= '0' && c <= '9' ? c - '0' : 0; }

// Reads up to `size` bytes of a board node; the count read, -1 when it cannot be opened.
ssize_t readNode(const char *board_path, char *buf, size_t size) {
  kv::UniqueFd f(kv_open(board_path, O_RDONLY));
  if (!f) return -1;
  size_t got = 0;
  while (got < size) {
    ssize_t n = read(f.get(), buf + got, size - got);
    if (n < 0 && got == 0) return -2;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(got);
}

// Text that goes between double quotes of the station configuration: a quote or a line
// break would end the value early or add a line of the sender's choosing.
bool fitsQuotedValue(const char *text) {
  for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text); *p; ++p)
    if (*p < 0x20 || *p == 0x7F || *p == '"') return false;
  return true;
}

#define KV_STATION_CONF                                                                       \
  "update_config=1\nctrl_interface=/var/run/wpa_supplicant\neapol_version=1\nfast_reauth=1\n" \
  "network={\n\tssid=\"%s\"\n\tkey_mgmt=WPA-PSK\n\tpsk=\"%s\"\n}\n"

}  // namespace

extern "C" {

int UI_TO_VCAM(int id, int value) { return toVcam(id, value); }
int VCAM_TO_UI(int id, int value) { return toUi(id, value); }

int KVSetLanguage(char *inLang) { return writeLanguage(KV_LANG_FILE, inLang); }
int KVSetLanguageTemp(char *inLang) { return writeLanguage(KV_LANG_TEMP_FILE, inLang); }

int KVGetLanguage(char *outLang) {
  File f(kv_fopen(KV_LANG_FILE, "r"));
  if (!f || !outLang) return -1;
  readWord(f.get(), outLang, 10);
  return 0;
}

int KVIsValidLanguage(char *inLang) {
  if (!inLang) return 0;
  for (const char *lang : kLanguages)
    if (strncmp(inLang, lang, 2) == 0) return 1;
  return 0;
}

int KVCheckLanguage(char *pPath, char *outLang) {
  if (!pPath || !outLang) return -1;
  File f(fopen(kv::resolved(pPath).c_str(), "r"));
  if (!f) return -1;
  char word[16];
  readWord(f.get(), word, sizeof word);
  const char *found = kDefaultLanguage;
  for (const char *lang : kLanguages)
    if (strncmp(word, lang, 2) == 0) found = lang;
  memcpy(outLang, found, 3);
  return 1;
}

int GetFirmwareVersion(char *outVersion) {
  char word[kVersionWordSize];
  if (!readVersionWord(word)) return -1;
  const char *colon = strchr(word, ':');
  if (colon && outVersion) {
    size_t n = static_cast<size_t>(colon - word);
    memcpy(outVersion, word, n);
    outVersion[n] = '\0';
  }
  return 0;
}

int GetBuildNumber(char *outNumber) {
  char word[kVersionWordSize];
  if (!readVersionWord(word)) return -1;
  const char *colon = strchr(word, ':');
  if (colon && outNumber) {
    strcpy(outNumber, colon + 1);
    if (char *next = strchr(outNumber, ':')) *next = '_';
  }
  return 0;
}

void CopyVersionFile(void) {
  kv::shellf("cp -f %s %s\n", kv::board_word(KV_IMAGE_VERSION_FILE).c_str(),
             kv::board_word(KV_NAND_MOUNT_POINT).c_str());
}

int GetFWVersionStringAsNumber(char *version) {
  if (!version) return 0;
  const char *dot = strchr(version, '.');
  if (!dot) return 0;
  int major = dot > version ? digit(dot[-1]) : 0;
  int minor = digit(dot[1]);
  int patch = dot[1] ? digit(dot[2]) : 0;  // never past the terminator
  return 100 * major + 10 * minor + patch;
}

int KVCheck_device_version(void) {
  kv::UniqueFd f(kv_open(KV_DEVICE_VERSION_NODE, O_RDONLY));
  if (!f) {
    puts("Check_device_version : open device error !! ");
    return -1;
  }
  char first = 0;
  if (read(f.get(), &first, 1) != 1) {
    puts("Check_device_version : read device error !!");
    return -1;
  }
  if (first == '1') {
    puts("Check_device_version : DEVICE VER = 1 !!");
    return 1;
  }
  puts("Check_device_version : DEVICE VER = 0 !!");
  return 0;
}

int KVPlatform_check(void) {
  char banner[101] = {0};
  if (readNode(KV_KERNEL_VERSION_NODE, banner, 100) != 100) return -1;
  if (const char *tag = strstr(banner, "ZT5")) {
    fprintf(stderr, "%s \n", tag);
    return 1;
  }
  if (const char *tag = strstr(banner, "DM368")) fprintf(stderr, "%s \n", tag);
  return 0;
}

int GetMACAddress(char *outString) {
  char text[1024] = {0};
  ssize_t n = readNode(KV_NVRAM_FILE, text, sizeof text - 1);
  if (n == -1) {
    puts("Error: can't open nvram.txt!");
    return -1;
  }
  if (n < 0) {
    puts("Error: can't read nvram.txt!!!");
    return -1;
  }
  char *save = nullptr;
  for (char *line = strtok_r(text, "\r\n", &save); line; line = strtok_r(nullptr, "\r\n", &save)) {
    char *word = line + strspn(line, " \t");
    size_t word_len = strcspn(word, " \t");
    if (word_len > 8 && strncmp(word, "macaddr=", 8) == 0) {
      if (outString) snprintf(outString, 64, "%s", word + 8);
      return 0;
    }
  }
  return 0;
}

int WriteRearWpaSupplicantConf(char *path, char *ssid, char *pwd) {
  if (!path || !ssid || !pwd || !fitsQuotedValue(ssid) || !fitsQuotedValue(pwd)) return -1;
  char text[512];
  int n = snprintf(text, sizeof text, KV_STATION_CONF, ssid, pwd);
  // A cut file would lose the closing brace of the network block: write nothing instead.
  if (n < 0 || static_cast<size_t>(n) >= sizeof text) return -1;
  File f(fopen(kv::resolved(path).c_str(), "w"));
  if (!f) return -1;
  return fwrite(text, 1, static_cast<size_t>(n), f.get()) == static_cast<size_t>(n) ? 0 : -1;
}

}  // extern "C"
