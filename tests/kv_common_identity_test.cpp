// SPDX-License-Identifier: MIT
// Settings conversions, language, version and identity files, Wi-Fi name and password
// rules, string helpers, writing buffers into files, and process checks through ps.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "board_root.h"
#include "kv_common_util.h"
#include "sandbox.h"

namespace {

using kvsim::Sandbox;
using namespace std::chrono_literals;

// ---- conversions -------------------------------------------------------------------

struct Conversion {
  int id, value, expected;
};

TEST(Conversions, user_interface_to_stored_values) {
  const Conversion cases[] = {
      {UI_CMD_MIRROR, 0, 3},
      {UI_CMD_MIRROR, 1, 0},
      {UI_CMD_WIFI_OFF_TIMER, 0, 180000},
      {UI_CMD_WIFI_OFF_TIMER, 1, 300000},
      {UI_CMD_WIFI_OFF_TIMER, 2, 600000},
      {UI_CMD_WIFI_OFF_TIMER, 99, 0},
      {UI_CMD_WIFI_OFF_TIMER, 5, 300000},
      {UI_CMD_PARK_DURATION, 1, 180},
      {UI_CMD_PARK_DURATION, 8, 4320},
      {UI_CMD_PARK_DURATION, 9, 1},
      {UI_CMD_PARK_DURATION, 11, 10},
      {UI_CMD_PARK_DURATION, 0, 0},
      {UI_CMD_PARK_DURATION, 12, 0},
      {UI_CMD_BRIGHTNESS, 0, 0},
      {UI_CMD_BRIGHTNESS, 7, 70},
      {UI_CMD_BRIGHTNESS, 10, 100},
      {UI_CMD_BRIGHTNESS, 11, 50},
      {UI_CMD_BRIGHTNESS, -1, 50},
      {UI_CMD_AUDIO_VOLUME, 0, 0},
      {UI_CMD_AUDIO_VOLUME, 1, 56},
      {UI_CMD_AUDIO_VOLUME, 7, 92},
      {UI_CMD_AUDIO_VOLUME, 10, 100},
      {UI_CMD_AUDIO_VOLUME, 42, 92},
      {UI_CMD_AUDIO_VOLUME, -1, 92},
      {UI_CMD_PARK_COUNTER, 0, 300000},
      {UI_CMD_PARK_COUNTER, 3, 1200000},
      {UI_CMD_PARK_COUNTER, 5, 1800000},
      {UI_CMD_PARK_COUNTER, 6, 600000},
      {UI_CMD_RECORDING_INTERVAL, 2, 2},
      {UI_CMD_RECORDING_INTERVAL, 5, 5},
      {UI_CMD_RECORDING_INTERVAL, 6, 1},
      {UI_CMD_RECORDING_INTERVAL, 0, 1},
      {19, 1234, 1234},  // no conversion: passed through
  };
  for (const auto &c : cases)
    EXPECT_EQ(UI_TO_VCAM(c.id, c.value), c.expected) << "id " << c.id << " value " << c.value;
}

TEST(Conversions, stored_values_to_user_interface) {
  const Conversion cases[] = {
      {UI_CMD_MIRROR, 3, 0},
      {UI_CMD_MIRROR, 0, 1},
      {UI_CMD_WIFI_OFF_TIMER, 0, 99},
      {UI_CMD_WIFI_OFF_TIMER, 180000, 0},
      {UI_CMD_WIFI_OFF_TIMER, 300000, 1},
      {UI_CMD_WIFI_OFF_TIMER, 600000, 2},
      {UI_CMD_WIFI_OFF_TIMER, 123, 1},
      {UI_CMD_PARK_DURATION, 180, 1},
      {UI_CMD_PARK_DURATION, 4320, 8},
      {UI_CMD_PARK_DURATION, 1, 9},
      {UI_CMD_PARK_DURATION, 10, 11},
      {UI_CMD_PARK_DURATION, 0, 0},
      {UI_CMD_PARK_DURATION, 181, 0},
      {UI_CMD_BRIGHTNESS, 0, 0},
      {UI_CMD_BRIGHTNESS, 79, 7},
      {UI_CMD_BRIGHTNESS, 100, 10},
      {UI_CMD_BRIGHTNESS, 101, 5},
      {UI_CMD_BRIGHTNESS, -1, 5},
      {UI_CMD_AUDIO_VOLUME, -3, 0},
      {UI_CMD_AUDIO_VOLUME, 55, 0},
      {UI_CMD_AUDIO_VOLUME, 56, 1},
      {UI_CMD_AUDIO_VOLUME, 67, 1},
      {UI_CMD_AUDIO_VOLUME, 68, 2},
      {UI_CMD_AUDIO_VOLUME, 82, 3},
      {UI_CMD_AUDIO_VOLUME, 85, 4},
      {UI_CMD_AUDIO_VOLUME, 88, 5},
      {UI_CMD_AUDIO_VOLUME, 91, 6},
      {UI_CMD_AUDIO_VOLUME, 92, 7},
      {UI_CMD_AUDIO_VOLUME, 97, 8},
      {UI_CMD_AUDIO_VOLUME, 99, 9},
      {UI_CMD_AUDIO_VOLUME, 100, 10},
      {UI_CMD_AUDIO_VOLUME, 250, 10},
      {UI_CMD_PARK_COUNTER, -5, 0},
      {UI_CMD_PARK_COUNTER, 300000, 0},
      {UI_CMD_PARK_COUNTER, 600000, 1},
      {UI_CMD_PARK_COUNTER, 900000, 2},
      {UI_CMD_PARK_COUNTER, 1800000, 5},
      {UI_CMD_PARK_COUNTER, 700000, 1},
      {UI_CMD_RECORDING_INTERVAL, 3, 3},
      {UI_CMD_RECORDING_INTERVAL, 9, 1},
  };
  for (const auto &c : cases)
    EXPECT_EQ(VCAM_TO_UI(c.id, c.value), c.expected) << "id " << c.id << " value " << c.value;
}

// ---- language and version ----------------------------------------------------------

TEST(Language, is_two_letters_on_flash_with_korean_as_the_fallback) {
  Sandbox board;
  char out[10] = "untouched";
  EXPECT_EQ(KVGetLanguage(out), -1);
  char path[] = "/mnt/nand/lang";
  EXPECT_EQ(KVCheckLanguage(path, out), -1);
  EXPECT_STREQ(out, "untouched");

  char english[] = "ENGLISH";
  EXPECT_EQ(KVSetLanguage(english), 0);
  EXPECT_EQ(board.read("/mnt/nand/lang"), "EN");
  EXPECT_EQ(KVGetLanguage(out), 0);
  EXPECT_STREQ(out, "EN");
  char pending[] = "RU";
  EXPECT_EQ(KVSetLanguageTemp(pending), 0);
  EXPECT_EQ(board.read("/mnt/nand/lang_tmp"), "RU");

  const std::pair<const char *, const char *> checks[] = {
      {"JA", "JA"}, {"DE", "KO"}, {"CN\n", "CN"}, {"", "KO"}, {"KOREAN", "KO"}};
  for (const auto &[content, expected] : checks) {
    board.write("/mnt/nand/lang", content);
    char code[3] = "xx";
    EXPECT_EQ(KVCheckLanguage(path, code), 1) << content;
    EXPECT_STREQ(code, expected) << content;
    std::string rooted = board.path("/mnt/nand/lang");
    EXPECT_EQ(KVCheckLanguage(rooted.data(), code), 1) << "a rooted path works as well";
  }
  EXPECT_EQ(KVCheckLanguage(nullptr, out), -1);

  for (const char *lang : {"KO", "EN", "JA", "RU", "CN", "JAPAN"})
    EXPECT_EQ(KVIsValidLanguage(const_cast<char *>(lang)), 1) << lang;
  for (const char *lang : {"DE", "K", "", "ko"})
    EXPECT_EQ(KVIsValidLanguage(const_cast<char *>(lang)), 0) << lang;
  EXPECT_EQ(KVIsValidLanguage(nullptr), 0);
}

TEST(Version, firmware_version_and_build_number_from_one_word) {
  Sandbox board;
  char version[64] = "untouched", build[64] = "untouched";
  EXPECT_EQ(GetFirmwareVersion(version), -1);
  EXPECT_EQ(GetBuildNumber(build), -1);

  board.write("/mnt/nand/version", "1.23:456:7\n");
  EXPECT_EQ(GetFirmwareVersion(version), 0);
  EXPECT_STREQ(version, "1.23");
  EXPECT_EQ(GetBuildNumber(build), 0);
  EXPECT_STREQ(build, "456_7");
  EXPECT_EQ(GetFWVersionStringAsNumber(version), 123);

  board.write("/mnt/nand/version", "2.05:99");
  EXPECT_EQ(GetBuildNumber(build), 0);
  EXPECT_STREQ(build, "99");

  board.write("/mnt/nand/version", "nocolon");
  strcpy(version, "untouched");
  EXPECT_EQ(GetFirmwareVersion(version), 0);
  EXPECT_STREQ(version, "untouched");
}

TEST(Version, number_from_the_digits_around_the_first_dot) {
  const std::pair<const char *, int> cases[] = {
      {"1.23", 123}, {"2.05", 205}, {"3.4", 340}, {"1.", 100}, {".12", 12}, {"123", 0}, {"", 0}};
  for (const auto &[text, number] : cases) {
    // Exactly as long as the text: a read past the terminator is caught.
    std::vector<char> exact(text, text + strlen(text) + 1);
    EXPECT_EQ(GetFWVersionStringAsNumber(exact.data()), number) << text;
  }
  EXPECT_EQ(GetFWVersionStringAsNumber(nullptr), 0);
}

TEST(Version, the_images_file_is_copied_to_flash) {
  Sandbox board;
  board.write("/opt/vcam/version", "9.99:1\n");
  CopyVersionFile();
  EXPECT_EQ(board.read("/mnt/nand/version"), "9.99:1\n");
}

// ---- identity ----------------------------------------------------------------------

TEST(Identity, device_version_from_the_first_byte) {
  Sandbox board;
  testing::internal::CaptureStdout();
  EXPECT_EQ(KVCheck_device_version(), -1);
  board.write("/proc/device_version", "");
  EXPECT_EQ(KVCheck_device_version(), -1);
  board.write("/proc/device_version", "1\n");
  EXPECT_EQ(KVCheck_device_version(), 1);
  board.write("/proc/device_version", "0\n");
  EXPECT_EQ(KVCheck_device_version(), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Check_device_version : open device error !! \n"
            "Check_device_version : read device error !!\n"
            "Check_device_version : DEVICE VER = 1 !!\n"
            "Check_device_version : DEVICE VER = 0 !!\n");
}

TEST(Identity, platform_from_the_kernel_banner) {
  Sandbox board;
  std::string pad(100, ' ');
  board.write("/proc/version", "Linux version 2.6.32 (ZT5 build) #1" + pad);
  testing::internal::CaptureStderr();
  EXPECT_EQ(KVPlatform_check(), 1);
  EXPECT_TRUE(kvsim::contains(testing::internal::GetCapturedStderr(), "ZT5 build) #1"));
  board.write("/proc/version", "Linux version 2.6.32 (DM368 board) #1" + pad);
  testing::internal::CaptureStderr();
  EXPECT_EQ(KVPlatform_check(), 0);
  EXPECT_TRUE(kvsim::contains(testing::internal::GetCapturedStderr(), "DM368 board"));
  board.write("/proc/version", "Linux version 2.6.32" + pad);
  EXPECT_EQ(KVPlatform_check(), 0);
  board.write("/proc/version", "Linux ZT5");  // fewer than 100 bytes
  EXPECT_EQ(KVPlatform_check(), -1);
  board.remove("/proc/version");
  EXPECT_EQ(KVPlatform_check(), -1);
}

TEST(Identity, mac_address_from_the_wifi_drivers_configuration) {
  Sandbox board;
  char mac[64] = "untouched";
  testing::internal::CaptureStdout();
  EXPECT_EQ(GetMACAddress(mac), -1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error: can't open nvram.txt!\n");

  board.write("/opt/vcam/wifi/nvram.txt",
              "boardtype=0x0598\r\nmacaddr=\r\nmacaddr=00:1E:55:0A:0B:0C\r\nmacaddr=11:22\n");
  EXPECT_EQ(GetMACAddress(mac), 0);
  EXPECT_STREQ(mac, "00:1E:55:0A:0B:0C");

  board.write("/opt/vcam/wifi/nvram.txt", "boardtype=0x0598\nsromrev=3\n");
  strcpy(mac, "untouched");
  EXPECT_EQ(GetMACAddress(mac), 0);
  EXPECT_STREQ(mac, "untouched");
}

TEST(StationConf, writes_the_network_block) {
  Sandbox board;
  char ssid[] = "TRAVELOG_REAR01", pwd[] = "secret123", path[] = "/mnt/nand/wpa_supplicant.conf";
  EXPECT_EQ(WriteRearWpaSupplicantConf(path, ssid, pwd), 0);
  EXPECT_EQ(board.read(path),
            "update_config=1\nctrl_interface=/var/run/wpa_supplicant\neapol_version=1\n"
            "fast_reauth=1\nnetwork={\n\tssid=\"TRAVELOG_REAR01\"\n\tkey_mgmt=WPA-PSK\n"
            "\tpsk=\"secret123\"\n}\n");
}

TEST(StationConf, a_name_or_pass_phrase_that_would_add_a_line_is_refused) {
  Sandbox board;
  char path[] = "/mnt/nand/wpa_supplicant.conf";
  const std::pair<const char *, const char *> bad[] = {
      {"net\"\n\tkey_mgmt=NONE", "secret123"}, {"net", "pw\nnetwork={"}, {"a\rb", "secret123"}};
  for (const auto &[ssid, pwd] : bad) {
    EXPECT_EQ(WriteRearWpaSupplicantConf(path, const_cast<char *>(ssid), const_cast<char *>(pwd)),
              -1)
        << ssid;
    EXPECT_FALSE(board.exists(path)) << ssid;
  }
  std::string long_ssid(600, 'a');
  char pwd[] = "secret123";
  EXPECT_EQ(WriteRearWpaSupplicantConf(path, long_ssid.data(), pwd), -1) << "would be cut";
  EXPECT_FALSE(board.exists(path));
  EXPECT_EQ(WriteRearWpaSupplicantConf(nullptr, pwd, pwd), -1);
}

// ---- validation and strings --------------------------------------------------------

TEST(WifiRules, names_and_passwords) {
  const std::pair<const char *, int> ssids[] = {
      {"ABCDEFGH", 0},
      {"ABCDEFGHI", 1},
      {"abc-DEF_123-xyz_7890-ABC", 1},   // 24 characters
      {"abc-DEF_123-xyz_7890-ABCD", 0},  // 25
      {"my network", 0},
      {"netw\xc3\xb6rk12", 0},
      {"", 0},
  };
  for (const auto &[text, ok] : ssids)
    EXPECT_EQ(IsWifiSsidValid(const_cast<char *>(text)), ok) << text;
  EXPECT_EQ(IsWifiSsidValid(nullptr), 0);

  const std::pair<const char *, int> pwds[] = {
      {"abcdefg", 0},   {"abcdefg1", 1},  {"0123456789abcdef", 1}, {"0123456789abcdefg", 0},
      {"abc-defgh", 0}, {"abc_defgh", 0}, {"abcd efgh", 0},
  };
  for (const auto &[text, ok] : pwds)
    EXPECT_EQ(IsWifiPwdValid(const_cast<char *>(text)), ok) << text;
  EXPECT_EQ(IsWifiPwdValid(nullptr), 0);
}

TEST(Strings, character_classes) {
  struct Case {
    const char *text;
    int numeric, hex, ascii;
  } cases[] = {
      {"0123", 1, 1, 1}, {"12aF", 0, 1, 1},     {"12g", 0, 0, 1},
      {"", 0, 0, 0},     {"\xc3\xa9", 0, 0, 0}, {" 1", 0, 0, 1},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(is_numeric(c.text), c.numeric) << c.text;
    EXPECT_EQ(is_hexa_numeric(c.text), c.hex) << c.text;
    EXPECT_EQ(is_ascii(c.text), c.ascii) << c.text;
  }
  EXPECT_EQ(is_numeric(nullptr) + is_hexa_numeric(nullptr) + is_ascii(nullptr), 0);
}

std::vector<unsigned char> bytes(const char *text) {
  return std::vector<unsigned char>(text, text + strlen(text) + 1);
}

TEST(Strings, url_encoding) {
  struct Case {
    const char *plain, *encoded;
  } cases[] = {
      {"a b", "a%20b"},
      {"AZaz09-._", "AZaz09-._"},
      {"/~+&", "%2F%7E%2B%26"},
      {"\xc3\xa9", "%C3%A9"},
      {"", ""},
  };
  for (const auto &c : cases) {
    auto src = bytes(c.plain);
    std::vector<unsigned char> dest(3 * strlen(c.plain) + 1, 0xAA);  // the documented room
    EXPECT_EQ(urlencode(src.data(), dest.data()), static_cast<int>(strlen(c.encoded))) << c.plain;
    EXPECT_STREQ(reinterpret_cast<char *>(dest.data()), c.encoded) << c.plain;
  }
}

TEST(Strings, url_decoding_never_reads_past_the_text) {
  struct Case {
    const char *encoded, *plain;
  } cases[] = {
      {"a%20b", "a b"}, {"%2f%2F", "//"}, {"a+b", "a+b"},
      {"%", "%"},       {"ab%", "ab%"},   {"ab%4", "ab%4"},
      {"%zz1", "%zz1"}, {"%4g", "%4g"},   {"%C3%A9", "\xc3\xa9"},
  };
  for (const auto &c : cases) {
    auto src = bytes(c.encoded);  // exactly as long as the text
    std::vector<unsigned char> dest(strlen(c.encoded), 0);
    int n = urldecode(src.data(), dest.data());
    EXPECT_EQ(std::string(dest.begin(), dest.begin() + n), c.plain) << c.encoded;
  }
}

TEST(Strings, shell_escaping_and_trimming) {
  char path[] = "a;b(c)d`e f";
  std::vector<char> out(2 * strlen(path) + 1);
  EXPECT_EQ(ReplaceSpecialChar(path, out.data()), 15);
  EXPECT_STREQ(out.data(), "a\\;b\\(c\\)d\\`e f");

  char text[] = " \t x y \n ";
  EXPECT_STREQ(LTrim(text), "x y \n ");
  EXPECT_STREQ(RTrim(text), " \t x y");
  EXPECT_STREQ(Trim(text), "x y");
  EXPECT_STREQ(text, " \t x y \n ") << "the input is not changed";
  char blanks[] = "   ";
  EXPECT_EQ(LTrim(blanks), blanks);
  EXPECT_STREQ(Trim(blanks), "");

  std::string longer(300, 'z');
  longer[0] = ' ';
  EXPECT_EQ(strlen(RTrim(longer.data())), 255u);
  EXPECT_EQ(strlen(Trim(longer.data())), 255u);
  EXPECT_STREQ(RTrim(nullptr), "");
}

TEST(WriteBufferToFile, overwrites_in_place_without_truncating) {
  Sandbox board;
  umask(022);
  board.write("/mnt/mmc/data", "0123456789");
  std::string path = board.path("/mnt/mmc/data");
  char abc[] = "abc";
  EXPECT_EQ(KVWriteBufferToFile(path.data(), abc, 3), 0);
  EXPECT_EQ(board.read("/mnt/mmc/data"), "abc3456789");

  char fresh[] = "/mnt/mmc/fresh";
  EXPECT_EQ(KVWriteBufferToFile(fresh, abc, 3), 0);
  EXPECT_EQ(board.read(fresh), "abc");
  EXPECT_EQ(std::filesystem::status(board.path(fresh)).permissions() & std::filesystem::perms::all,
            std::filesystem::perms(0644));

  EXPECT_EQ(KVWriteBufferToFile(nullptr, abc, 3), -1);
  EXPECT_EQ(KVWriteBufferToFile(fresh, nullptr, 3), -1);
  EXPECT_EQ(KVWriteBufferToFile(fresh, abc, 0), -1);
  EXPECT_EQ(KVWriteBufferToFile(fresh, abc, -2), -1);
  char folder[] = "/mnt/mmc";
  testing::internal::CaptureStderr();
  EXPECT_EQ(KVWriteBufferToFile(folder, abc, 3), -1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error: can't open device /mnt/mmc[-1]\n");
}

// ---- processes ---------------------------------------------------------------------

// A sleeper under a name of its own, started outside every sandbox.
pid_t startOutside(const std::string &exe) {
  pid_t pid = fork();
  if (pid == 0) {
    unsetenv("KV_SYSROOT");
    execl(exe.c_str(), exe.c_str(), "30", static_cast<char *>(nullptr));
    _exit(127);
  }
  return pid;
}

TEST(Processes, ps_sees_the_processes_of_this_sandbox_only) {
  Sandbox board;
  std::string exe = board.path("/bin/kvtest_sleeper");
  std::filesystem::create_symlink("/bin/sleep", exe);
  char name[] = "kvtest_sleeper";
  EXPECT_EQ(IsProcAlive(name), 0) << "the search itself does not count";

  pid_t outside = startOutside(exe);
  ASSERT_GT(outside, 0);
  usleep(200000);
  EXPECT_EQ(IsProcAlive(name), 0) << "a process outside the sandbox is not listed";

  pid_t inside = board.start({exe, "30"});
  ASSERT_TRUE(Sandbox::waitUntil([&] { return IsProcAlive(name) == 1; }, 5000ms));
  board.kill(inside);
  EXPECT_EQ(IsProcAlive(name), 0);
  kill(outside, SIGKILL);
  waitpid(outside, nullptr, 0);
  EXPECT_EQ(IsProcAlive(nullptr), 0);
}

TEST(Processes, waiting_for_a_process_to_close_is_bounded) {
  Sandbox board;
  std::string exe = board.path("/bin/kvtest_sleeper");
  std::filesystem::create_symlink("/bin/sleep", exe);
  pid_t inside = board.start({exe, "30"});
  char name[] = "kvtest_sleeper";
  ASSERT_TRUE(Sandbox::waitUntil([&] { return IsProcAlive(name) == 1; }, 5000ms));
  auto start = std::chrono::steady_clock::now();
  WaitUntilProcClose(name, 3);  // three checks, 30 ms apart: gives up while it still runs
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                  start)
                .count();
  EXPECT_GE(ms, 60);
  EXPECT_TRUE(board.running(inside));
  board.kill(inside);
  WaitUntilProcClose(name, 1000);  // returns at once: nothing to wait for
  EXPECT_EQ(IsProcAlive(name), 0);
}

TEST(Processes, a_commands_output_is_read_and_discarded) {
  Sandbox board;
  char command[] = "echo discarded; seq 1 5000; touch \"$KV_SYSROOT/ran\"";
  testing::internal::CaptureStdout();
  SystemPrint(command);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_TRUE(board.exists("/ran")) << "the whole output was read, so the command ran to its end";
}

}  // namespace
