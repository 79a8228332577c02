// SPDX-License-Identifier: MIT
// kv_wifi_switch on a simulated board: hostapd.conf, the command lines of "on" and "off",
// the retries of a driver or access point that will not come up, the command-line checks,
// and hostile values in every argument.
// board-test: host only (the retries wait the system's own seconds, many times over)
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tool_argv.h"
#include "wifi_board.h"

namespace {

using namespace wifitest;
using kvsim::Sandbox;

constexpr const char *kConf = "/opt/vcam/wifi/hostapd.conf";

std::string conf(const std::string &ssid, int channel, const std::string &key,
                 const std::string &rear) {
  return "interface=wlan0\ndriver=rtl871xdrv\nctrl_interface=/var/volatile/run/hostapd\n"
         "ssid=" +
         ssid + "\nchannel=" + std::to_string(channel) +
         "\nhw_mode=g\nieee80211n=1\nwme_enabled=1\nwpa=2\nwpa_passphrase=" + key +
         "\nwpa_key_mgmt=WPA-PSK\nwpa_pairwise=CCMP\nwpa_group_rekey=0\nwpa_gmk_rekey=0\n"
         "wpa_ptk_rekey=0\nrear_macaddr=" +
         rear + "\n";
}

class Switch : public testing::Test, public WifiBoard {
 protected:
  // What "on" runs, in order: the interface, hostapd and dnsmasq (in the background, so
  // they may note their calls in either order), then boa (background) and bftpd.
  void expectAccessPointStarted(const std::vector<Args> &calls) const {
    ASSERT_EQ(calls.size(), 5u);
    EXPECT_EQ(calls[0], Args({"ifconfig", "wlan0", "192.168.6.216", "up"}));
    std::vector<Args> rest(calls.begin() + 1, calls.end());
    std::sort(rest.begin(), rest.end());
    std::vector<Args> want = {
        {"bftpd", "-d"},
        {"boa", "-c", board.path("/etc")},
        {"dnsmasq", "--no-daemon", "--leasefile-ro", "--no-resolv", "--no-poll",
         "--dhcp-range=192.168.6.217,192.168.6.218,72h"},
        {"hostapd", board.path(kConf)},
    };
    EXPECT_EQ(rest, want);
  }
  void expectNothingRun() const {
    EXPECT_TRUE(calls().empty());
    EXPECT_TRUE(kvsim::moduleCalls(board).empty());
    EXPECT_FALSE(board.exists(kConf));
  }
};

TEST_F(Switch, on_writes_hostapd_conf_and_starts_the_access_point_and_the_servers) {
  Result r = run({"kv_wifi_switch", "on", "CamNet-0001", "secret1234", "6"});
  EXPECT_EQ(r.exit, 0) << r.out;
  EXPECT_EQ(r.out, "wifi_start_softap 192.168.6.216, CamNet-0001, secret1234\n");
  EXPECT_EQ(board.read(kConf), conf("CamNet-0001", 6, "secret1234", "none"));
  expectAccessPointStarted(callsOnceThere(5));
  EXPECT_EQ(kvsim::moduleCalls(board), Args{"init 8189es rtw_initmac=00:1E:55:12:34:56"});
  EXPECT_TRUE(driverListed());
  EXPECT_EQ(logLines(), Args{"wifi on/off=1\n"});
}

TEST_F(Switch, channel_keeps_its_low_eight_bits_and_values_fill_their_buffers_whole) {
  std::string ssid(31, 's'), key(23, 'k'), rear(39, 'r');
  Result r = run({"kv_wifi_switch", "ON", ssid, key, "262", rear});
  EXPECT_EQ(r.exit, 0) << r.out;
  EXPECT_EQ(board.read(kConf), conf(ssid, 6, key, rear));
}

TEST_F(Switch, channel_is_read_as_strtol_reads_it) {
  const struct {
    const char *given;
    int channel;
  } cases[] = {{"11x", 11}, {"six", 0}, {"-250", 6}};
  for (const auto &c : cases) {
    Result r = run({"kv_wifi_switch", "off"});
    ASSERT_EQ(r.exit, 0);
    r = run({"kv_wifi_switch", "on", "CamNet-0001", "secret1234", c.given});
    EXPECT_EQ(r.exit, 0) << c.given << " " << r.out;
    EXPECT_EQ(board.read(kConf), conf("CamNet-0001", c.channel, "secret1234", "none")) << c.given;
  }
}

TEST_F(Switch, first_argument_must_be_on_or_off_exactly) {
  for (const Args &argv : std::vector<Args>{{"kv_wifi_switch"},
                                            {"kv_wifi_switch", ""},
                                            {"kv_wifi_switch", "On"},
                                            {"kv_wifi_switch", "Off"},
                                            {"kv_wifi_switch", "of"},
                                            {"kv_wifi_switch", "on "}}) {
    Result r = run(argv);
    std::string shown = argv.size() > 1 ? "'" + argv[1] + "'" : "(none)";
    EXPECT_EQ(r.exit, 255) << shown;
    EXPECT_EQ(r.out, "wrong input argument") << shown;
  }
  expectNothingRun();
  EXPECT_EQ(board.flashLogs(), "");
  // The log was set up first, whatever the arguments: its folder is made.
  EXPECT_EQ(board.shellTexts(), Args(6, "mkdir -p " + board.path("/mnt/nand/log/") + "\\n"));
}

TEST_F(Switch, missing_or_oversized_values_are_refused_before_anything_changes) {
  const struct {
    Args argv;
    std::string out;
  } cases[] = {
      {{"on"}, "usage: kv_wifi_switch on|ON <ssid> <key> <channel> [<rear_mac>] | off|OFF\n"},
      {{"on", "CamNet"},
       "usage: kv_wifi_switch on|ON <ssid> <key> <channel> [<rear_mac>] | off|OFF\n"},
      {{"on", "CamNet", "secret1234"},
       "usage: kv_wifi_switch on|ON <ssid> <key> <channel> [<rear_mac>] | off|OFF\n"},
      {{"on", std::string(32, 's'), "secret1234", "6"},
       "kv_wifi_switch: ssid is longer than 31 bytes\n"},
      {{"on", "CamNet", std::string(24, 'k'), "6"},
       "kv_wifi_switch: key is longer than 23 bytes\n"},
      {{"on", "CamNet", "secret1234", "6", std::string(40, 'r')},
       "kv_wifi_switch: rear_mac is longer than 39 bytes\n"},
      {{"on", "", "secret1234", "6"}, "kv_wifi_switch: ssid is empty\n"},
      {{"on", "CamNet", "secret1234", "6\t"},
       "kv_wifi_switch: channel holds a control character\n"},
      {{"on", "CamNet", "secret1234", "-2147483649"}, "kv_wifi_switch: channel is out of range\n"},
  };
  for (const auto &c : cases) {
    Args argv = c.argv;
    argv.insert(argv.begin(), "kv_wifi_switch");
    Result r = run(argv);
    EXPECT_EQ(r.exit, 255) << c.out;
    EXPECT_EQ(r.out, c.out);
  }
  expectNothingRun();
}

TEST_F(Switch, on_with_the_driver_loaded_gives_up_after_three_immediate_attempts) {
  loadDriver();
  Result r = run({"kv_wifi_switch", "on", "CamNet-0001", "secret1234", "6"});
  EXPECT_EQ(r.exit, 255);
  EXPECT_EQ(r.out, "wifi_load_driver failed");
  EXPECT_LT(r.ms, 4000);  // no module wait (5 s each): the three attempts end at once
  expectNothingRun();
}

TEST_F(Switch, a_driver_that_will_not_load_is_tried_three_times) {
  kvsim::scriptModule(board, "8189es", "load=fail");
  Result r = run({"kv_wifi_switch", "on", "CamNet-0001", "secret1234", "6"});
  EXPECT_EQ(r.exit, 255);
  EXPECT_EQ(r.out, "wifi_load_driver failed");
  EXPECT_EQ(kvsim::moduleCalls(board), Args(3, "init 8189es rtw_initmac=00:1E:55:12:34:56"));
  EXPECT_TRUE(calls().empty());
}

TEST_F(Switch, an_access_point_that_will_not_start_is_tried_three_times_then_undone) {
  board.scriptTool("ifconfig", {.status = 1});
  Result r = run({"kv_wifi_switch", "on", "CamNet-0001", "secret1234", "6"});
  EXPECT_EQ(r.exit, 255);
  EXPECT_EQ(r.out,
            "wifi_start_softap 192.168.6.216, CamNet-0001, secret1234\n"
            "wifi_start_softap failed");
  Args ifconfig = {"ifconfig", "wlan0", "192.168.6.216", "up"};
  EXPECT_EQ(calls(), std::vector<Args>({ifconfig,
                                        ifconfig,
                                        ifconfig,
                                        {"killall", "-9", "dnsmasq"},
                                        {"killall", "-9", "hostapd"}}));
  EXPECT_EQ(kvsim::moduleCalls(board),
            Args({"init 8189es rtw_initmac=00:1E:55:12:34:56", "delete 8189es"}));
  EXPECT_FALSE(driverListed());
  // Module poll 500 + settle 500 + three failed starts each followed by 200 ms + 200 ms
  // after the stop + the unload poll 500.
  EXPECT_GE(r.ms, 500 + 500 + 3 * 200 + 200 + 500);
}

TEST_F(Switch, off_stops_the_servers_and_the_access_point_and_unloads_the_driver) {
  loadDriver();
  Result r = run({"kv_wifi_switch", "off"});
  EXPECT_EQ(r.exit, 0);
  EXPECT_EQ(calls(), std::vector<Args>({{"killall", "-9", "bftpd"},
                                        {"killall", "-9", "boa"},
                                        {"killall", "-9", "dnsmasq"},
                                        {"killall", "-9", "hostapd"}}));
  EXPECT_EQ(kvsim::moduleCalls(board), Args{"delete 8189es"});
  EXPECT_FALSE(driverListed());
  EXPECT_EQ(logLines(), Args{"wifi on/off=0\n"});
}

TEST_F(Switch, off_without_the_driver_touches_no_module) {
  Result r = run({"kv_wifi_switch", "OFF"});
  EXPECT_EQ(r.exit, 0);
  EXPECT_EQ(calls().size(), 4u);
  EXPECT_TRUE(kvsim::moduleCalls(board).empty());
}

TEST_F(Switch, off_ends_the_daemons_that_on_left_running) {
  auto daemons = [&] {
    pid_t ps_pid = board.start({board.path("/bin/ps")});
    board.wait(ps_pid);
    std::string ps = board.stdoutOf(ps_pid);
    Args running;
    for (const char *name : {"hostapd", "dnsmasq", "boa", "bftpd"})
      if (kvsim::contains(ps, std::string("/opt/vcam/") + name + " ")) running.push_back(name);
    return running;
  };
  ASSERT_EQ(run({"kv_wifi_switch", "on", "CamNet-0001", "secret1234", "6"}).exit, 0);
  callsOnceThere(5);
  EXPECT_EQ(daemons(), Args({"hostapd", "dnsmasq", "boa", "bftpd"}));
  ASSERT_EQ(run({"kv_wifi_switch", "off"}).exit, 0);
  EXPECT_TRUE(Sandbox::waitUntil([&] { return daemons().empty(); }, 2s));
  EXPECT_FALSE(driverListed());
}

// ---- hostile values in every argument ----------------------------------------------------

class SwitchInjection : public testing::TestWithParam<Hostile> {};

struct Slot {
  const char *name;
  size_t index;
  size_t limit;  // longest value the buffer holds; 0: a number, which text reads as 0
  const char *conf_key;
};
const Slot kSlots[] = {
    {"ssid", 2, 31, "ssid="},
    {"key", 3, 23, "wpa_passphrase="},
    {"channel", 4, 0, "channel="},
    {"rear_mac", 5, 39, "rear_macaddr="},
};

TEST_P(SwitchInjection, never_runs_a_command_nor_adds_a_line) {
  const Hostile &h = GetParam();
  const Args good = {"kv_wifi_switch", "on", "CamNet-0001", "secret1234", "6", "AA:BB:CC:DD:EE:FF"};
  {
    SCOPED_TRACE("as the first argument");
    WifiBoard w;
    Result r = w.run({"kv_wifi_switch", h.value, "CamNet-0001", "secret1234", "6"});
    EXPECT_EQ(r.exit, 255);
    EXPECT_EQ(r.out, "wrong input argument");
    EXPECT_TRUE(w.calls().empty());
    EXPECT_FALSE(w.board.exists(kPwned));
  }
  for (const Slot &slot : kSlots) {
    SCOPED_TRACE(std::string("as ") + slot.name);
    WifiBoard w;
    Args argv = good;
    argv[slot.index] = h.value;
    bool number = slot.limit == 0;
    bool refused = h.control || (!number && h.value.size() > slot.limit);
    Result r = w.run(argv);
    if (refused) {
      EXPECT_EQ(r.exit, 255);
      EXPECT_EQ(r.out.rfind(std::string("kv_wifi_switch: ") + slot.name + " ", 0), 0u) << r.out;
      EXPECT_TRUE(w.calls().empty());
      EXPECT_TRUE(kvsim::moduleCalls(w.board).empty());
      EXPECT_FALSE(w.board.exists(kConf));
    } else {
      EXPECT_EQ(r.exit, 0) << r.out;
      std::string text = w.board.read(kConf);
      auto lines = kvsim::splitLines(text);
      EXPECT_EQ(lines.size(), 16u) << text;
      std::string line = slot.conf_key + (number ? std::string("0") : h.value);
      EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end()) << text;
      std::vector<Args> calls = w.callsOnceThere(5);
      EXPECT_EQ(calls.size(), 5u);
      for (const Args &call : calls)
        for (const std::string &arg : call) EXPECT_FALSE(kvsim::contains(arg, "pwned")) << arg;
    }
    EXPECT_FALSE(w.board.exists(kPwned));
  }
}

INSTANTIATE_TEST_SUITE_P(Values, SwitchInjection, testing::ValuesIn(hostileValues()), hostileName);

}  // namespace
