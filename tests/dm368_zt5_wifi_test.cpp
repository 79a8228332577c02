// SPDX-License-Identifier: MIT
// The Wi-Fi driver layer on a simulated board: the MAC record on flash and nvram.txt, the
// module list, loading and unloading "8189es" (with the module seam made late, absent or
// stubborn), hostapd.conf and the access point's command lines.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "dm368_zt5_util.h"
#include "kv_common_util.h"
#include "sandbox.h"
#include "sandbox_wifi.h"

namespace {

using namespace std::chrono_literals;
using kvsim::Sandbox;
using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;
using Args = std::vector<std::string>;

constexpr const char *kNvram = "/opt/vcam/wifi/nvram.txt";
constexpr const char *kPartition = "/dev/mtdblock7";
constexpr const char *kModules = "/proc/modules";
constexpr const char *kConf = "/opt/vcam/wifi/hostapd.conf";
constexpr const char *kListed = "8189es 655360 0 - Live 0xbf000000\n";

std::string bytes(std::initializer_list<int> list) {
  std::string s;
  for (int b : list) s += static_cast<char>(b);
  return s;
}

// A MAC record as the flash keeps it; the CRC values are those of the 1-Wire CRC-8.
std::string record(const std::string &mac, int crc_front, int crc_back) {
  return static_cast<char>(crc_front) + mac + static_cast<char>(crc_back);
}

std::string macText(const std::string &record8) {
  char text[18];
  const auto *b = reinterpret_cast<const unsigned char *>(record8.data()) + 1;
  snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", b[0], b[1], b[2], b[3], b[4], b[5]);
  return text;
}

long long msSince(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               t0)
      .count();
}

class WifiDriver : public testing::Test {
 protected:
  WifiDriver() { kvsim::writeWifiDefaults(board); }
  std::string nvramWith(const std::string &mac) const {
    return "sd_gpio=0\nmacaddr=" + mac + "\nboardtype=0x0598\n";
  }
  // The record now on the partition is valid, and nvram.txt carries its address.
  void expectValidRecordInNvram() const {
    std::string rec = board.read(kPartition).substr(0, 8);
    auto crc = crc8(reinterpret_cast<const unsigned char *>(rec.data()) + 1, 6);
    EXPECT_EQ(rec.substr(1, 3), bytes({0x00, 0x1E, 0x55}));
    EXPECT_EQ(static_cast<unsigned char>(rec[0]), crc);
    EXPECT_EQ(static_cast<unsigned char>(rec[7]), crc);
    EXPECT_EQ(board.read(kNvram), nvramWith(macText(rec)));
  }

  Sandbox board;
};

// ---- nvram.txt and the MAC record ----------------------------------------------------

TEST_F(WifiDriver, patch_writes_the_mac_text_after_its_key_and_keeps_the_rest) {
  const unsigned char mac[6] = {0x00, 0x1E, 0x55, 0x0A, 0x0B, 0x0C};
  EXPECT_EQ(patch_nvram_txt(mac, 6), 0);
  EXPECT_EQ(board.read(kNvram), nvramWith("00:1E:55:0A:0B:0C"));
}

TEST_F(WifiDriver, patch_leaves_a_file_without_the_key_as_it_is) {
  const unsigned char mac[6] = {0x00, 0x1E, 0x55, 0x0A, 0x0B, 0x0C};
  board.write(kNvram, "sd_gpio=0\nboardtype=0x0598\n");
  EXPECT_EQ(patch_nvram_txt(mac, 6), 0);
  EXPECT_EQ(board.read(kNvram), "sd_gpio=0\nboardtype=0x0598\n");
}

TEST_F(WifiDriver, patch_of_a_key_at_the_end_of_the_file_writes_the_whole_address) {
  const unsigned char mac[6] = {0x00, 0x1E, 0x55, 0xA0, 0xB1, 0xC2};
  board.write(kNvram, "sd_gpio=0\nmacaddr=00:1E");
  EXPECT_EQ(patch_nvram_txt(mac, 6), 0);
  EXPECT_EQ(board.read(kNvram), "sd_gpio=0\nmacaddr=00:1E:55:A0:B1:C2");
}

TEST_F(WifiDriver, patch_reports_a_missing_nvram_or_a_wrong_byte_count) {
  const unsigned char mac[6] = {0x00, 0x1E, 0x55, 0x0A, 0x0B, 0x0C};
  EXPECT_EQ(patch_nvram_txt(mac, 5), -1);
  EXPECT_EQ(board.read(kNvram), nvramWith(kvsim::kBoardMac));
  board.remove(kNvram);
  CaptureStdout();
  EXPECT_EQ(patch_nvram_txt(mac, 6), -1);
  EXPECT_EQ(GetCapturedStdout(), "Error: can't open nvram.txt!\n");
  EXPECT_FALSE(board.exists(kNvram));
  board.mkdir(kNvram);  // opens, but cannot be read
  CaptureStdout();
  EXPECT_EQ(patch_nvram_txt(mac, 6), -1);
  EXPECT_EQ(GetCapturedStdout(), "Error: can't read nvram.txt!!!\n");
}

TEST_F(WifiDriver, a_valid_record_is_kept_for_life_and_copied_into_nvram) {
  // 00:1E:55:01:02:03 with its CRC 0x5F at both ends, then the rest of the partition.
  std::string partition =
      record(bytes({0x00, 0x1E, 0x55, 0x01, 0x02, 0x03}), 0x5F, 0x5F) + std::string(248, '\xFF');
  ASSERT_EQ(crc8(reinterpret_cast<const unsigned char *>(partition.data()) + 1, 6), 0x5F);
  board.write(kPartition, partition);
  EXPECT_EQ(modify_mac_address(0), 0);
  EXPECT_EQ(board.read(kPartition), partition);
  EXPECT_EQ(board.read(kNvram), nvramWith("00:1E:55:01:02:03"));
}

TEST_F(WifiDriver, a_damaged_record_is_replaced_by_a_new_address) {
  const std::string mac = bytes({0x00, 0x1E, 0x55, 0x01, 0x02, 0x03});
  const struct {
    const char *what;
    std::string partition;
  } cases[] = {
      {"second CRC differs", record(mac, 0x5F, 0x60)},
      {"first CRC differs", record(mac, 0x00, 0x5F)},
      {"foreign vendor prefix", record(bytes({0x00, 0x11, 0x22, 0x01, 0x02, 0x03}), 0x00, 0x00)},
      {"erased flash", std::string(8, '\xFF')},
      {"partition shorter than a record", mac.substr(0, 3)},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    board.write(kPartition, c.partition + std::string(8, '\x5A'));
    if (c.partition.size() < 8) board.write(kPartition, c.partition);
    CaptureStdout();
    EXPECT_EQ(modify_mac_address(0), 0);
    GetCapturedStdout();
    expectValidRecordInNvram();
  }
}

TEST_F(WifiDriver, a_forced_update_writes_a_new_record_over_a_valid_one) {
  std::string old = record(bytes({0x00, 0x1E, 0x55, 0x01, 0x02, 0x03}), 0x5F, 0x5F);
  board.write(kPartition, old + std::string(248, '\xFF'));
  EXPECT_EQ(modify_mac_address(1), 0);
  expectValidRecordInNvram();
  // Three random bytes equal to the old ones: one chance in 2^24.
  EXPECT_NE(board.read(kPartition).substr(0, 8), old);
  EXPECT_EQ(board.read(kPartition).substr(8), std::string(248, '\xFF'));
}

// Front and rear units powered up together make their addresses in the same second.
TEST_F(WifiDriver, two_addresses_made_in_the_same_second_differ) {
  std::string made[2];
  for (auto &partition : made) {
    board.write(kPartition, std::string(8, '\xFF'));
    CaptureStdout();
    EXPECT_EQ(modify_mac_address(0), 0);
    GetCapturedStdout();
    partition = board.read(kPartition).substr(0, 8);
  }
  // Equal by chance: one in 2^24.
  EXPECT_NE(made[0], made[1]);
}

TEST_F(WifiDriver, without_the_partition_the_radio_gets_an_address_that_is_not_kept) {
  board.remove(kPartition);
  EXPECT_EQ(modify_mac_address(0), -1);
  std::string text = board.read(kNvram);
  EXPECT_EQ(text.substr(0, 19), "sd_gpio=0\nmacaddr=0") << text;
  EXPECT_EQ(text.substr(18, 9), "00:1E:55:") << text;
  EXPECT_FALSE(board.exists(kPartition));
}

// ---- the module list and loading ---------------------------------------------------------

TEST_F(WifiDriver, the_driver_counts_as_loaded_when_a_line_begins_with_its_name) {
  // A dependency list long enough to put "8189es" at the start of a later 31-byte piece.
  std::string long_line = "cfg80211 184320 1 xxxxxxxxxxxx,8189es, Live 0xbf100000\n";
  ASSERT_EQ(long_line.substr(31, 6), "8189es");
  const struct {
    std::string list;
    int loaded;
  } cases[] = {
      {"", 0},
      {kListed, 1},
      {"8189es\n", 1},
      {"8189esx 1024 0 - Live 0xbf000000\n", 1},  // a prefix match, as the list is read
      {"mmc_block 1 0 - Live 0x0\n8189es 655360 0 - Live 0xbf000000\n", 1},
      {"x8189es 1024 0 - Live 0xbf000000\n", 0},
      {long_line, 0},
  };
  for (const auto &c : cases) {
    board.write(kModules, c.list);
    EXPECT_EQ(check_driver_loaded(), c.loaded) << c.list;
  }
  board.remove(kModules);
  CaptureStderr();
  EXPECT_EQ(check_driver_loaded(), 0);
  EXPECT_EQ(GetCapturedStderr(), "Could not open (/proc/modules)\n");
}

TEST_F(WifiDriver, load_file_returns_the_whole_file_with_a_zero_after_it) {
  board.write("/opt/vcam/modules/x.ko", std::string("ab\0cd", 5));
  unsigned int size = 0;
  char *buf = static_cast<char *>(load_file("/opt/vcam/modules/x.ko", &size));
  ASSERT_NE(buf, nullptr);
  EXPECT_EQ(std::string(buf, 6), std::string("ab\0cd\0", 6));
  EXPECT_EQ(size, 5u);
  free(buf);
  EXPECT_EQ(load_file("/opt/vcam/modules/none.ko", &size), nullptr);
}

TEST_F(WifiDriver, loading_passes_the_nvram_address_and_waits_until_the_module_is_listed) {
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(wifi_load_driver(), 0);
  EXPECT_GE(msSince(t0), 500);
  EXPECT_EQ(kvsim::moduleCalls(board), Args{"init 8189es rtw_initmac=00:1E:55:12:34:56"});
  EXPECT_EQ(check_driver_loaded(), 1);
}

TEST_F(WifiDriver, a_mac_text_in_lower_case_loads_the_module_with_that_text) {
  board.write(kNvram, nvramWith("00:1e:55:12:34:ab"));
  EXPECT_EQ(wifi_load_driver(), 0);
  EXPECT_EQ(kvsim::moduleCalls(board), Args{"init 8189es rtw_initmac=00:1e:55:12:34:ab"});
}

TEST_F(WifiDriver, loading_does_nothing_when_the_driver_is_listed_already) {
  board.write(kModules, kListed);
  board.remove(kNvram);
  auto t0 = std::chrono::steady_clock::now();
  CaptureStdout();
  EXPECT_EQ(wifi_load_driver(), -1);
  EXPECT_EQ(GetCapturedStdout(), "");  // nvram.txt was not even read
  EXPECT_LT(msSince(t0), 500);
  EXPECT_TRUE(kvsim::moduleCalls(board).empty());
}

TEST_F(WifiDriver, without_a_well_formed_mac_in_nvram_no_module_is_loaded) {
  for (const char *nvram : {"macaddr=00:1E:55 rtw_x=1 y\n", "macaddr=00:1E:55:12:34:5\"\n",
                            "macaddr=00:1E:55:12:3\t:56\n", "macaddr=00:1E:55:12:34:5g\n",
                            "macaddr=00:1E:55:12\n", "sd_gpio=0\n"}) {
    board.write(kNvram, nvram);
    CaptureStdout();
    EXPECT_EQ(wifi_load_driver(), -1) << nvram;
    EXPECT_EQ(GetCapturedStdout(), "Error: can't read macaddr!!!\n") << nvram;
  }
  board.remove(kNvram);
  CaptureStdout();
  EXPECT_EQ(wifi_load_driver(), -1);
  EXPECT_EQ(GetCapturedStdout(), "Error: can't open nvram.txt!\n");
  EXPECT_TRUE(kvsim::moduleCalls(board).empty());
}

TEST_F(WifiDriver, a_module_that_cannot_be_loaded_is_reported) {
  kvsim::scriptModule(board, "8189es", "load=fail");
  CaptureStderr();
  EXPECT_EQ(wifi_load_driver(), -1);
  EXPECT_EQ(GetCapturedStderr(), "wifi_load_driver - Failed to load module\n");
  EXPECT_EQ(kvsim::moduleCalls(board).size(), 1u);

  board.remove("/opt/vcam/modules/8189es.ko");
  CaptureStderr();
  EXPECT_EQ(wifi_load_driver(), -1);
  EXPECT_EQ(GetCapturedStderr(), "wifi_load_driver - Failed to load module\n");
  EXPECT_EQ(kvsim::moduleCalls(board).size(), 1u);  // no second init: the file was missing
}

TEST_F(WifiDriver, a_driver_that_registers_late_is_waited_for) {
  kvsim::scriptModule(board, "8189es", "load=late 1200");
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(wifi_load_driver(), 0);
  EXPECT_GE(msSince(t0), 1200);
  EXPECT_LT(msSince(t0), 5000);
}

TEST_F(WifiDriver, a_driver_that_never_registers_times_out_and_is_unloaded) {
  kvsim::scriptModule(board, "8189es", "load=never");
  auto t0 = std::chrono::steady_clock::now();
  CaptureStderr();
  EXPECT_EQ(wifi_load_driver(), -1);
  EXPECT_EQ(GetCapturedStderr(),
            "wifi_load_driver - timeout!\nUnable to unload driver module (8189es)\n");
  // Ten polls 500 ms apart, then ten removals each followed by 500 ms (the module is not
  // listed).
  EXPECT_GE(msSince(t0), 5000 + 5000);
  Args calls = kvsim::moduleCalls(board);
  ASSERT_EQ(calls.size(), 11u);
  EXPECT_EQ(calls[1], "delete 8189es");
}

TEST_F(WifiDriver, unloading_waits_until_the_module_is_gone) {
  board.write(kModules, kListed);
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(wifi_unload_driver(), 0);
  EXPECT_GE(msSince(t0), 500);
  EXPECT_EQ(board.read(kModules), "");
  EXPECT_EQ(kvsim::moduleCalls(board), Args{"delete 8189es"});
}

TEST_F(WifiDriver, a_module_that_refuses_removal_is_tried_ten_times) {
  board.write(kModules, kListed);
  kvsim::scriptModule(board, "8189es", "remove=refuse");
  auto t0 = std::chrono::steady_clock::now();
  CaptureStderr();
  EXPECT_EQ(wifi_unload_driver(), -1);
  EXPECT_EQ(GetCapturedStderr(), "Unable to unload driver module (8189es)\n");
  EXPECT_GE(msSince(t0), 10 * 500) << "the tenth refusal is waited for too";
  EXPECT_EQ(kvsim::moduleCalls(board), Args(10, "delete 8189es"));
  EXPECT_EQ(check_driver_loaded(), 1);
}

// ---- the access point ----------------------------------------------------------------------

TEST_F(WifiDriver, access_point_writes_the_template_and_starts_hostapd_then_dnsmasq) {
  EXPECT_EQ(wifi_start_softap("192.168.6.216", "Cam Net \"5\" ☺", "secret123", 6, "192.168.6.217",
                              "192.168.6.218", "none"),
            0);
  EXPECT_EQ(board.read(kConf),
            "interface=wlan0\n"
            "driver=rtl871xdrv\n"
            "ctrl_interface=/var/volatile/run/hostapd\n"
            "ssid=Cam Net \"5\" ☺\n"
            "channel=6\n"
            "hw_mode=g\n"
            "ieee80211n=1\n"
            "wme_enabled=1\n"
            "wpa=2\n"
            "wpa_passphrase=secret123\n"
            "wpa_key_mgmt=WPA-PSK\n"
            "wpa_pairwise=CCMP\n"
            "wpa_group_rekey=0\n"
            "wpa_gmk_rekey=0\n"
            "wpa_ptk_rekey=0\n"
            "rear_macaddr=none\n");
  struct stat st;
  ASSERT_EQ(stat(board.path(kConf).c_str(), &st), 0);
  mode_t mask = umask(0);
  umask(mask);
  EXPECT_EQ(st.st_mode & 0777, 0660 & ~mask);
  // hostapd and dnsmasq run in the background: each notes its call when it has started.
  ASSERT_TRUE(Sandbox::waitUntil([&] { return board.commands().size() == 3; }, 5s));
  Args calls = board.commands();
  EXPECT_EQ(calls[0], "ifconfig wlan0 192.168.6.216 up");
  std::sort(calls.begin() + 1, calls.end());
  EXPECT_EQ(Args(calls.begin() + 1, calls.end()),
            Args({"dnsmasq --no-daemon --leasefile-ro --no-resolv --no-poll "
                  "--dhcp-range=192.168.6.217,192.168.6.218,72h",
                  "hostapd " + board.path(kConf)}));

  wifi_stop_softap();
  calls = board.commands();
  EXPECT_EQ(Args(calls.begin() + 3, calls.end()),
            Args({"killall -9 dnsmasq", "killall -9 hostapd"}));
}

TEST_F(WifiDriver, a_value_that_could_add_a_line_is_refused_before_the_file_changes) {
  board.write(kConf, "old\n");
  const std::string too_long(1000, 'x');
  const struct {
    const char *ssid, *key, *rear;
  } cases[] = {
      {"Cam\nwpa=0", "secret123", "none"},     {"CamNet", "secret123\r", "none"},
      {"CamNet", "secret123", "none\tx"},      {"CamNet", "se\x1b[2Jcret", "none"},
      {too_long.c_str(), "secret123", "none"},
  };
  for (const auto &c : cases) {
    CaptureStdout();
    EXPECT_EQ(wifi_start_softap("192.168.6.216", c.ssid, c.key, 6, "192.168.6.217", "192.168.6.218",
                                c.rear),
              -1);
    EXPECT_EQ(GetCapturedStdout(), "Error: hostapd.conf value refused!!\n");
  }
  EXPECT_EQ(board.read(kConf), "old\n");
  EXPECT_TRUE(board.commands().empty());
}

TEST_F(WifiDriver, an_interface_that_cannot_be_configured_stops_the_start) {
  board.scriptTool("ifconfig", {.status = 1});
  CaptureStderr();
  EXPECT_EQ(wifi_start_softap("192.168.6.216", "CamNet", "secret123", 6, "192.168.6.217",
                              "192.168.6.218", "none"),
            -1);
  EXPECT_EQ(GetCapturedStderr(), "wifi_start_softap - failed to configure wlan0\n");
  EXPECT_EQ(board.commands(), Args{"ifconfig wlan0 192.168.6.216 up"});
}

}  // namespace
