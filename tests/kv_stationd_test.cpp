// SPDX-License-Identifier: MIT
// kv_stationd: the search key and wlan0's address in-process (the address also from the
// kernel, in a network namespace of the test's own), then the program on a simulated board:
// the command lines of each security type and unit, the scans, the address wait, signals,
// the second attempt, the teardown, the command-line checks and hostile values.
// test-links: kv_stationd_unit kv_wifi_args
// board-test: host only (the address wait and the scans take the system's own minutes)
// ctest-cost: 60 (the 150 address checks take a minute and a half)
#include "kv_stationd.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "wifi_board.h"

namespace {

using namespace wifitest;
using kvsim::Sandbox;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

// ---- in-process helpers --------------------------------------------------------------------

std::string searchKey(const char *ssid) {
  std::string key(4 * strlen(ssid) + 1, '#');
  GetSSIDWithUTF8(ssid, key.data());
  return key.c_str();
}

TEST(StationSearchKey, plain_names_stay_and_utf8_names_are_escaped_byte_by_byte) {
  EXPECT_EQ(searchKey("HomeNet-5G"), "HomeNet-5G");
  EXPECT_EQ(searchKey("Cam \"A\""), "Cam \"A\"");
  EXPECT_EQ(searchKey("\xEC\xB9\xB4"), "\\xec\\xb9\\xb4");  // a Hangul syllable
  EXPECT_EQ(searchKey("Caf\xC3\xA9"), "\\x43\\x61\\x66\\xc3\\xa9");
  EXPECT_EQ(searchKey(""), "");
  char untouched[4] = "abc";
  GetSSIDWithUTF8(nullptr, untouched);
  EXPECT_STREQ(untouched, "abc");
}

TEST(StationAddress, the_sandbox_address_is_what_dhcp_gave) {
  Sandbox board;
  kvsim::writeWifiDefaults(board);
  char ip[16];
  EXPECT_EQ(IsIpAllocated("wlan0"), 0u);
  EXPECT_EQ(net_get_ifaddr("wlan0"), -1);
  EXPECT_EQ(GetIP_Addr(ip), -1);
  EXPECT_STREQ(ip, "255.255.255.255");
  board.write(kvsim::kWlanAddress, "192.168.6.217\n");
  EXPECT_EQ(IsIpAllocated("wlan0"), inet_addr("192.168.6.217"));
  EXPECT_EQ(GetIP_Addr(ip), 0);
  EXPECT_STREQ(ip, "192.168.6.217");
  CaptureStdout();
  GetIpByIfConfig();
  EXPECT_TRUE(kvsim::contains(GetCapturedStdout(), "inet addr:192.168.6.217 "));
}

// How to make a virtual interface named wlan0 without loading a kernel module: on a kernel
// without loadable modules, or one that has the kind already. Empty when there is no way.
struct Wlan0Maker {
  std::string ip, make;
};
Wlan0Maker wlan0Maker() {
  Wlan0Maker m;
  for (const char *p : {"/usr/sbin/ip", "/sbin/ip", "/usr/bin/ip", "/bin/ip"})
    if (m.ip.empty() && access(p, X_OK) == 0) m.ip = p;
  if (m.ip.empty()) return m;
  bool modular = access("/proc/modules", F_OK) == 0;
  std::string kinds;
  if (!modular || access("/sys/module/dummy", F_OK) == 0)
    kinds = m.ip + " link add wlan0 type dummy 2>/dev/null";
  if (!modular || access("/sys/module/tun", F_OK) == 0)
    kinds += (kinds.empty() ? "" : " || ") + m.ip + " tuntap add dev wlan0 mode tun 2>/dev/null";
  if (!kinds.empty()) m.make = "(" + kinds + ") && " + m.ip + " link set wlan0 up";
  return m;
}

// The child's checks, in a network namespace of its own; what failed, as text.
std::string kernelAddressChecks(const Wlan0Maker &m) {
  std::string bad;
  char text[16];
  if (IsIpAllocated("wlan0") != 0 || net_get_ifaddr("wlan0") != -1 || GetIP_Addr(text) != -1)
    bad += "an address before one was given; ";
  if (system((m.ip + " addr add 10.42.0.7/24 dev wlan0").c_str()) != 0) return "ip addr add failed";
  if (IsIpAllocated("wlan0") != inet_addr("10.42.0.7")) bad += "IsIpAllocated; ";
  if (net_get_ifaddr("wlan0") != static_cast<int32_t>(inet_addr("10.42.0.7")))
    bad += "net_get_ifaddr; ";
  if (GetIP_Addr(text) != 0 || std::string(text) != "10.42.0.7")
    bad += std::string("GetIP_Addr gave ") + text + "; ";
  if (IsIpAllocated("nosuch0") != 0) bad += "an address for a missing interface; ";
  return bad;
}

TEST(StationAddress, the_kernel_gives_wlan0s_address_in_a_network_namespace) {
  if (geteuid() != 0) GTEST_SKIP() << "not root: no network namespace for the kernel's path";
  Wlan0Maker maker = wlan0Maker();
  if (maker.make.empty())
    GTEST_SKIP() << "no iproute2, or no dummy/tun interface without loading a kernel module";
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(fds[0]);
    unsetenv("KV_SYSROOT");  // the board's own path: the kernel is asked
    std::string said;
    int code = 0;
    if (unshare(CLONE_NEWNET) != 0) {
      said = "cannot make a network namespace";
      code = 77;
    } else if (system(maker.make.c_str()) != 0) {
      said = "cannot make wlan0 in the namespace";
      code = 77;
    } else {
      said = kernelAddressChecks(maker);
      code = said.empty() ? 0 : 1;
    }
    (void)!write(fds[1], said.data(), said.size());
    _exit(code);
  }
  close(fds[1]);
  std::string said;
  char buf[256];
  ssize_t n;
  while ((n = read(fds[0], buf, sizeof buf)) > 0) said.append(buf, static_cast<size_t>(n));
  close(fds[0]);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 77) GTEST_SKIP() << said;
  EXPECT_EQ(WEXITSTATUS(status), 0) << said;
}

// ---- the program on a simulated board ------------------------------------------------------

TEST(WpaCliStandIn, scan_results_print_network_names_as_wpa_cli_2_does) {
  const struct {
    std::string name, printed;
  } cases[] = {
      {"HomeNet", "HomeNet"},
      {"Caf\xC3\xA9", "Caf\\xc3\\xa9"},
      {"\xEC\xB9\xB4", "\\xec\\xb9\\xb4"},
      {"Cam \"A\"", "Cam \\\"A\\\""},
      {"a\\b", "a\\\\b"},
      {"$(x) 'y'", "$(x) 'y'"},
      {"\x7F\x01", "\\x7f\\x01"},
  };
  WifiBoard w;
  std::string names, want = "bssid / frequency / signal level / flags / ssid\n";
  for (const auto &c : cases) {
    names += c.name + "\n";
    want += kvsim::scanLine(c.printed);
  }
  w.board.write(kvsim::kScanNetworks, names);
  Result r = w.run({"wpa_cli", "-p/var/run/wpa_supplicant", "scan_result"});
  EXPECT_EQ(r.out, want);
}

class Station : public testing::Test, public WifiBoard {
 protected:
  Args wpa(const Args &args) const {
    Args call = {"wpa_cli", "-p" + board.path("/var/run/wpa_supplicant")};
    call.insert(call.end(), args.begin(), args.end());
    return call;
  }
  // Networks by name: the wpa_cli stand-in prints them as wpa_cli 2.x does.
  void named(const Args &names) const {
    std::string text;
    for (const auto &name : names) text += name + "\n";
    board.write(kvsim::kScanNetworks, text);
  }
  void visible(const Args &printed) const {
    std::string text;
    for (const auto &name : printed) text += kvsim::scanLine(name);
    board.write(kvsim::kScanResults, text);
  }
  Args on(const std::string &ssid, const std::string &pwd, int security, int rear = 0) const {
    return {"kv_stationd",       "on", ssid, pwd, std::to_string(security), "FrontCam",
            std::to_string(rear)};
  }
  // The wpa_cli sub-commands with their arguments, in order.
  std::vector<Args> wpaCalls() const {
    std::vector<Args> out;
    for (const Args &call : calls())
      if (call[0] == "wpa_cli") out.emplace_back(call.begin() + 2, call.end());
    return out;
  }
  size_t count(const Args &want) const {
    auto all = calls();
    return static_cast<size_t>(std::count(all.begin(), all.end(), want));
  }
  // The calls that show a network was joined: DHCP with the device name, then the servers.
  void expectJoined(const std::vector<Args> &all, size_t from, const std::string &name) const {
    ASSERT_EQ(all.size(), from + 3);
    EXPECT_EQ(all[from], Args({"dhcpcd", "wlan0", "-H", "-h", name}));
    std::vector<Args> servers(all.begin() + static_cast<long>(from) + 1, all.end());
    std::sort(servers.begin(), servers.end());
    EXPECT_EQ(servers, std::vector<Args>({{"bftpd", "-d"}, {"boa", "-c", board.path("/etc")}}));
  }
  // Sends the signal every 200 ms until the program ends: a shell command the program
  // is waiting for holds SIGINT off (system() ignores it meanwhile).
  Result interrupt(pid_t pid, std::chrono::steady_clock::time_point t0) {
    for (int i = 0; i < 300 && board.running(pid); ++i) {
      board.signal(pid, SIGINT);
      std::this_thread::sleep_for(200ms);
    }
    return finish(pid, t0, 10s);
  }
  bool waitForLog(const std::string &line, std::chrono::milliseconds timeout) const {
    return Sandbox::waitUntil([&] { return logged(line); }, timeout);
  }
};

TEST_F(Station, front_unit_joins_a_wpa_network_in_order) {
  visible({"Neighbour", "HomeNet"});
  board.setControl("dhcpcd", "delay_ms", "1000");
  Result r = run(on("HomeNet", "secret123", 2));
  EXPECT_EQ(r.exit, 0) << r.out;
  std::vector<Args> all = callsOnceThere(15);
  std::vector<Args> want = {
      {"ifconfig", "wlan0", "up"},
      {"wpa_supplicant", "-Dwext", "-iwlan0",
       "-c" + board.path("/opt/vcam/wifi/wpa_supplicant.conf"), "-B"},
      wpa({"scan"}),
      wpa({"scan_result"}),
      wpa({"add_network"}),
      wpa({"ap_scan", "2"}),
      wpa({"set_network", "0", "ssid", "\"HomeNet\""}),
      wpa({"set_network", "0", "key_mgmt", "WPA-PSK"}),
      wpa({"set_network", "0", "psk", "\"secret123\""}),
      wpa({"enable_network", "0"}),
  };
  ASSERT_GE(all.size(), want.size());
  EXPECT_EQ(std::vector<Args>(all.begin(), all.begin() + 10), want);
  expectJoined(all, 10, "FrontCam");
  EXPECT_EQ(kvsim::moduleCalls(board), Args{"init 8189es rtw_initmac=00:1E:55:12:34:56"});
  EXPECT_EQ(logLines(),
            Args({"wifi station on\n", "dhcpcd req\n", "GetIP=[192.168.6.217]\n", "stn OK\n"}));
  EXPECT_GE(r.ms, 500 + 1000);  // the module poll, then the address after the DHCP delay
}

struct SecurityCase {
  int security;
  std::vector<Args> settings;  // after add_network, before enable_network
};

class StationSecurity : public Station, public testing::WithParamInterface<SecurityCase> {};

TEST_P(StationSecurity, key_settings_follow_the_security_type) {
  loadDriver();
  visible({"HomeNet"});
  ASSERT_EQ(run(on("HomeNet", "pw0123456", GetParam().security)).exit, 0);
  std::vector<Args> got = wpaCalls();
  ASSERT_GE(got.size(), 4u);
  EXPECT_EQ(got[2], Args{"add_network"});
  EXPECT_EQ(got.back(), Args({"enable_network", "0"}));
  EXPECT_EQ(std::vector<Args>(got.begin() + 3, got.end() - 1), GetParam().settings);
}

INSTANTIATE_TEST_SUITE_P(
    Types, StationSecurity,
    testing::Values(SecurityCase{0,
                                 {{"set_network", "0", "scan_ssid", "1"},
                                  {"set_network", "0", "ssid", "\"HomeNet\""},
                                  {"set_network", "0", "key_mgmt", "NONE"}}},
                    SecurityCase{1,
                                 {{"set_network", "0", "scan_ssid", "1"},
                                  {"set_network", "0", "ssid", "\"HomeNet\""},
                                  {"set_network", "0", "key_mgmt", "NONE"},
                                  {"set_network", "0", "wep_key0", "\"pw0123456\""}}},
                    SecurityCase{7, {{"set_network", "0", "ssid", "\"HomeNet\""}}}),
    [](const testing::TestParamInfo<SecurityCase> &p) {
      return "security_" + std::to_string(p.param.security);
    });

TEST_F(Station, rear_unit_joins_with_the_flash_settings_and_sets_no_network) {
  loadDriver();
  visible({"FrontCam-AP"});
  ASSERT_EQ(run(on("FrontCam-AP", "secret123", 2, 1)).exit, 0);
  EXPECT_EQ(count({"wpa_supplicant", "-Dwext", "-iwlan0",
                   "-c" + board.path("/mnt/nand/wpa_supplicant.conf"), "-B"}),
            1u);
  EXPECT_EQ(wpaCalls(), std::vector<Args>(
                            {{"scan"}, {"scan_result"}, {"add_network"}, {"enable_network", "0"}}));
}

struct NameCase {
  const char *what;
  std::string ssid, printed;
};

class StationNames : public Station, public testing::WithParamInterface<NameCase> {};

TEST_P(StationNames, a_network_is_found_by_its_whole_name_as_wpa_cli_prints_it) {
  loadDriver();
  // A busy car park: 40 networks (over 2 KiB of results) listed before the one wanted.
  Args networks;
  for (int i = 0; i < 40; ++i) networks.push_back("Neighbour-" + std::to_string(i));
  networks.push_back(GetParam().printed);
  visible(networks);
  Result r = run(on(GetParam().ssid, "secret123", 2));
  EXPECT_EQ(r.exit, 0) << GetParam().what;
  EXPECT_EQ(count(wpa({"set_network", "0", "ssid", "\"" + GetParam().ssid + "\""})), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Names, StationNames,
    testing::Values(NameCase{"plain", "HomeNet", "HomeNet"},
                    NameCase{"hangul", "\xEC\xB9\xB4\xEB\xA9\x94\xEB\x9D\xBC",
                             "\\xec\\xb9\\xb4\\xeb\\xa9\\x94\\xeb\\x9d\\xbc"},
                    NameCase{"mixed_escaped_whole", "Caf\xC3\xA9", "\\x43\\x61\\x66\\xc3\\xa9"},
                    NameCase{"mixed_as_wpa_cli_2", "Caf\xC3\xA9", "Caf\\xc3\\xa9"},
                    NameCase{"quotes_as_wpa_cli_2", "Cam \"A\"", "Cam \\\"A\\\""}),
    [](const testing::TestParamInfo<NameCase> &p) { return p.param.what; });

TEST_F(Station, a_network_never_seen_fails_after_three_scans_each_attempt) {
  loadDriver();
  visible({"MyHomeNet", "HomeNet2"});
  Result r = run(on("HomeNet", "secret123", 2));
  EXPECT_EQ(r.exit, 254);
  EXPECT_EQ(count(wpa({"scan"})), 6u);
  EXPECT_EQ(count(wpa({"add_network"})), 0u);
  EXPECT_EQ(logLines(), Args({"wifi station on\n", "stn err ap not exist\n",
                              "wifi station on failed (-2). try again\n", "stn err ap not exist\n",
                              "wifi station on failed (-2). stop\n"}));
  // Each try waits 100 ms before the results and 1 s after them.
  EXPECT_GE(r.ms, 2 * 3 * 1100);
  EXPECT_EQ(count(wpa({"disable_network", "0"})), 2u);  // a full stop after each attempt
}

TEST_F(Station, rear_unit_scans_twenty_times) {
  loadDriver();
  visible({"Neighbour"});
  auto t0 = std::chrono::steady_clock::now();
  pid_t pid = board.start(on("FrontCam-AP", "secret123", 2, 1));
  // Stop it during the wait after the twentieth scan: the first result stands, and no
  // second attempt follows.
  ASSERT_TRUE(Sandbox::waitUntil([&] { return count(wpa({"scan_result"})) == 20; }, 60s));
  Result r = interrupt(pid, t0);
  EXPECT_EQ(r.exit, 254);
  EXPECT_EQ(count(wpa({"scan"})), 20u);
  EXPECT_GE(r.ms, 19 * 1100 + 100);
  EXPECT_TRUE(logged("stn err ap not exist\n"));
  EXPECT_FALSE(logged("wifi station on failed (-2). stop\n"));
}

TEST_F(Station, no_address_after_150_checks) {
  loadDriver();
  visible({"HomeNet"});
  board.setControl("dhcpcd", "address", "never");
  pid_t pid = board.start(on("HomeNet", "secret123", 2));
  auto t0 = std::chrono::steady_clock::now();
  ASSERT_TRUE(waitForLog("dhcpcd req\n", 20s));
  auto asked = std::chrono::steady_clock::now();
  ASSERT_TRUE(waitForLog("stn err IP alloc\n", 150s));
  auto gave_up = std::chrono::steady_clock::now();
  Result r = interrupt(pid, t0);  // spares the second attempt's 90 s
  long long waited = std::chrono::duration_cast<std::chrono::milliseconds>(gave_up - asked).count();
  size_t reads = kvsim::addressReads(board, "wlan0");
  EXPECT_GE(waited, 150 * 600 - 40);  // 40: the two 20 ms polls of the log
  EXPECT_LT(waited, 150 * 600 + 10000);
  EXPECT_EQ(reads, 150u);
  EXPECT_EQ(r.exit, 253);
  EXPECT_EQ(count(wpa({"remove_network", "0"})), 0u);
}

TEST_F(Station, sigint_during_the_scans_ends_with_minus_20_and_no_second_attempt) {
  loadDriver();
  visible({"Neighbour"});
  auto t0 = std::chrono::steady_clock::now();
  pid_t pid = board.start(on("HomeNet", "secret123", 2));
  ASSERT_TRUE(Sandbox::waitUntil([&] { return count(wpa({"scan_result"})) == 1; }, 10s));
  Result r = interrupt(pid, t0);
  EXPECT_EQ(r.exit, 236);
  EXPECT_TRUE(logged("stn err abort\n"));
  EXPECT_TRUE(logged("wifi station on failed (-20). try again\n"));
  EXPECT_LE(count(wpa({"scan"})), 2u);
  EXPECT_EQ(count(wpa({"disable_network", "0"})), 1u);
  EXPECT_EQ(count({"ifconfig", "wlan0", "up"}), 1u);
}

TEST_F(Station, sigint_during_the_address_wait_removes_the_network) {
  loadDriver();
  visible({"HomeNet"});
  board.setControl("dhcpcd", "address", "never");
  auto t0 = std::chrono::steady_clock::now();
  pid_t pid = board.start(on("HomeNet", "secret123", 2));
  ASSERT_TRUE(waitForLog("dhcpcd req\n", 20s));
  Result r = interrupt(pid, t0);
  EXPECT_EQ(r.exit, 236);
  EXPECT_EQ(count(wpa({"remove_network", "0"})), 1u);
  EXPECT_EQ(count(wpa({"add_network"})), 1u);
  EXPECT_FALSE(logged("stn err IP alloc\n"));
  EXPECT_LT(r.ms, 20000);
}

TEST_F(Station, a_failed_first_attempt_is_undone_and_tried_again) {
  visible({"HomeNet"});
  board.scriptTool("ifconfig", {.status = 1}, 1);
  Result r = run(on("HomeNet", "secret123", 2));
  EXPECT_EQ(r.exit, 0);
  EXPECT_EQ(logLines(), Args({"wifi station on\n", "stn err ifconfig\n",
                              "wifi station on failed (-6). try again\n", "dhcpcd req\n",
                              "GetIP=[192.168.6.217]\n", "stn OK\n"}));
  // The stop between the attempts unloaded the driver; the second attempt loaded it again.
  EXPECT_EQ(kvsim::moduleCalls(board),
            Args({"init 8189es rtw_initmac=00:1E:55:12:34:56", "delete 8189es",
                  "init 8189es rtw_initmac=00:1E:55:12:34:56"}));
}

struct FailureCase {
  const char *what;
  const char *tool;
  kvsim::ToolScript script;
  int call;  // 0: every call
  const char *line;
  long times;  // how often the line is logged over both attempts
  int exit;
};

class StationFailures : public Station, public testing::WithParamInterface<FailureCase> {};

TEST_P(StationFailures, each_failure_is_logged_once_per_attempt_with_its_result) {
  const FailureCase &c = GetParam();
  loadDriver();
  visible({"HomeNet"});
  board.scriptTool(c.tool, c.script, c.call);
  Result r = run(on("HomeNet", "secret123", 2));
  EXPECT_EQ(r.exit, c.exit) << c.what;
  Args lines = logLines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), std::string(c.line)), c.times) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Steps, StationFailures,
    testing::Values(
        FailureCase{
            "supplicant", "wpa_supplicant", {.status = 1}, 0, "stn err wpa_supplicant\n", 2, 250},
        FailureCase{"scan_refused",
                    "wpa_cli.scan",
                    {.output = "FAIL"},
                    0,
                    "stn err ap not exist\n",
                    2,
                    254},
        FailureCase{
            "scan_results_empty", "wpa_cli.scan_result", {}, 0, "stn err scan read\n", 6, 254},
        FailureCase{"add_network_refused",
                    "wpa_cli.add_network",
                    {.output = "FAIL"},
                    0,
                    "stn err add_network\n",
                    2,
                    255},
        FailureCase{
            "ssid_refused", "wpa_cli.set_network", {.output = "FAIL"}, 0, "stn err SSID\n", 2, 252},
        FailureCase{"key_mgmt_failed_once",
                    "wpa_cli.set_network",
                    {.status = 1},
                    2,
                    "stn err PWD PSK 0\n",
                    1,
                    0},
        FailureCase{"psk_refused_once",
                    "wpa_cli.set_network",
                    {.output = "FAIL"},
                    3,
                    "stn err PWD PSK 1\n",
                    1,
                    0},
        FailureCase{"enable_refused",
                    "wpa_cli.enable_network",
                    {.output = "FAIL"},
                    0,
                    "stn err enable\n",
                    2,
                    250}),
    [](const testing::TestParamInfo<FailureCase> &p) { return p.param.what; });

TEST_F(Station, a_driver_that_will_not_load_gives_minus_6) {
  kvsim::scriptModule(board, "8189es", "load=fail");
  visible({"HomeNet"});
  Result r = run(on("HomeNet", "secret123", 2));
  EXPECT_EQ(r.exit, 250);
  EXPECT_EQ(kvsim::moduleCalls(board).size(), 2u);
  EXPECT_EQ(count({"ifconfig", "wlan0", "up"}), 0u);
}

TEST(StationOff, any_first_argument_but_on_tears_everything_down_in_order) {
  for (const char *first : {"off", "OFF", "On", ""}) {
    WifiBoard w;
    w.loadDriver();
    Result r = w.run({"kv_stationd", first});
    EXPECT_EQ(r.exit, 0) << first;
    EXPECT_EQ(
        w.calls(),
        std::vector<Args>({
            {"wpa_cli", "-p" + w.board.path("/var/run/wpa_supplicant"), "disable_network", "0"},
            {"killall", "-9", "bftpd"},
            {"killall", "-9", "boa"},
            {"dhcpcd", "wlan0", "-k"},
            {"killall", "-9", "dhcpcd"},
            {"killall", "-9", "wpa_supplicant"},
        }))
        << first;
    EXPECT_EQ(kvsim::moduleCalls(w.board), Args{"delete 8189es"}) << first;
    EXPECT_EQ(w.logLines(), Args{"wifi station off\n"}) << first;
  }
}

TEST_F(Station, a_bad_command_line_is_refused_before_anything_changes) {
  const std::string usage =
      "usage: kv_stationd on|ON <ssid> <password> <security> <device_name> <rear> | off\n";
  const struct {
    Args argv;
    std::string out;
  } cases[] = {
      {{}, ""},
      {{"on"}, usage},
      {{"on", "HomeNet", "secret123", "2", "FrontCam"}, usage},
      {{"on", std::string(128, 's'), "secret123", "2", "FrontCam", "0"},
       "kv_stationd: ssid is longer than 127 bytes\n"},
      {{"on", "HomeNet", std::string(65, 'p'), "2", "FrontCam", "0"},
       "kv_stationd: password is longer than 64 bytes\n"},
      {{"on", "HomeNet", "secret123", "2", std::string(20, 'd'), "0"},
       "kv_stationd: device_name is longer than 19 bytes\n"},
      {{"on", "HomeNet", "secret123", "2\n", "FrontCam", "0"},
       "kv_stationd: security holds a control character\n"},
      {{"on", "HomeNet", "secret123", "2", "FrontCam", "4294967296"},
       "kv_stationd: rear is out of range\n"},
  };
  for (const auto &c : cases) {
    Args argv = c.argv;
    argv.insert(argv.begin(), "kv_stationd");
    Result r = run(argv);
    EXPECT_EQ(r.exit, 255) << c.out;
    EXPECT_EQ(r.out, c.out);
  }
  EXPECT_TRUE(calls().empty());
  EXPECT_TRUE(kvsim::moduleCalls(board).empty());
  EXPECT_EQ(board.flashLogs(), "");
  // The log was set up first, whatever the arguments: its folder is made.
  Args texts = board.shellTexts();
  EXPECT_EQ(texts.size(), std::size(cases));
  for (const auto &text : texts)
    EXPECT_EQ(text, "mkdir -p " + board.path("/mnt/nand/log/") + "\\n");
}

TEST_F(Station, security_and_rear_are_read_as_strtol_reads_them) {
  loadDriver();
  named({"HomeNet"});
  const Args psk = {"set_network", "0", "psk", "\"secret123\""};
  const Args open = {"set_network", "0", "key_mgmt", "NONE"};
  const struct {
    const char *security, *rear;
    Args last_setting;  // before enable_network; empty: a rear unit sets none
  } cases[] = {
      {"2x", "0", psk}, {"two", "0", open}, {"", "0", open}, {" 2", "-0", psk}, {"2", "1 ", {}},
  };
  for (const auto &c : cases) {
    board.remove("/sim/argv.log");
    Result r = run({"kv_stationd", "on", "HomeNet", "secret123", c.security, "FrontCam", c.rear});
    EXPECT_EQ(r.exit, 0) << c.security << "|" << c.rear << " " << r.out;
    std::vector<Args> got = wpaCalls();
    ASSERT_GE(got.size(), 4u);
    Args before_enable = got[got.size() - 2];
    EXPECT_EQ(c.last_setting.empty() ? Args{"add_network"} : c.last_setting, before_enable)
        << c.security << "|" << c.rear;
  }
}

TEST_F(Station, an_empty_ssid_is_found_in_any_scan_and_a_rear_unit_joins_its_stored_network) {
  loadDriver();
  named({"FrontCam-AP"});
  Result r = run(on("", "secret123", 2, 1));
  EXPECT_EQ(r.exit, 0) << r.out;
  EXPECT_EQ(wpaCalls(), std::vector<Args>(
                            {{"scan"}, {"scan_result"}, {"add_network"}, {"enable_network", "0"}}));
}

TEST_F(Station, wpa_pass_phrases_of_8_to_63_characters_go_quoted_and_64_hex_digits_as_they_are) {
  loadDriver();
  named({"HomeNet"});
  const std::string hex = "0123456789abcdefABCDEF" + std::string(42, '7');
  const struct {
    std::string pwd, sent;
  } cases[] = {
      {"12345678", "\"12345678\""},
      {std::string(63, 'p'), "\"" + std::string(63, 'p') + "\""},
      {hex, hex},
  };
  for (const auto &c : cases) {
    board.remove("/sim/argv.log");
    Result r = run(on("HomeNet", c.pwd, 2));
    EXPECT_EQ(r.exit, 0) << c.pwd << " " << r.out;
    EXPECT_EQ(count(wpa({"set_network", "0", "psk", c.sent})), 1u) << c.pwd;
  }
}

TEST_F(Station, two_attempts_failing_differently_end_with_the_second_result) {
  loadDriver();
  named({"HomeNet"});
  board.scriptTool("ifconfig", {.status = 1}, 1);               // the first attempt: -6
  board.scriptTool("wpa_cli.set_network", {.output = "FAIL"});  // the second: -4 (SSID)
  Result r = run(on("HomeNet", "secret123", 2));
  EXPECT_EQ(r.exit, 256 - 4);
  EXPECT_TRUE(logged("wifi station on failed (-6). try again\n"));
  EXPECT_TRUE(logged("wifi station on failed (-4). stop\n"));
}

TEST_F(Station, values_that_fill_their_buffers_are_passed_whole) {
  loadDriver();
  std::string ssid(127, 's'), pwd(63, 'p'), name(19, 'd');
  visible({ssid});
  Result r = run({"kv_stationd", "on", ssid, pwd, "2", name, "0"});
  EXPECT_EQ(r.exit, 0) << r.out;
  EXPECT_EQ(count(wpa({"set_network", "0", "ssid", "\"" + ssid + "\""})), 1u);
  EXPECT_EQ(count(wpa({"set_network", "0", "psk", "\"" + pwd + "\""})), 1u);
  EXPECT_EQ(count({"dhcpcd", "wlan0", "-H", "-h", name}), 1u);
}

// ---- hostile values in every argument ----------------------------------------------------

class StationInjection : public testing::TestWithParam<Hostile> {};

struct Slot {
  const char *name;
  size_t index;
  size_t limit;  // longest value the buffer holds; 0: a number, which text reads as 0
};
const Slot kSlots[] = {
    {"ssid", 2, 127},       {"password", 3, 64}, {"security", 4, 0},
    {"device_name", 5, 19}, {"rear", 6, 0},
};

TEST_P(StationInjection, never_runs_a_command_and_tools_get_the_value_unchanged) {
  const Hostile &h = GetParam();
  {
    SCOPED_TRACE("as the first argument: station mode off");
    WifiBoard w;
    Result r = w.run({"kv_stationd", h.value, "HomeNet", "secret123", "2", "FrontCam", "0"});
    EXPECT_EQ(r.exit, 0);
    std::vector<Args> calls = w.calls();
    EXPECT_EQ(calls.size(), 6u);
    for (const Args &call : calls)
      for (const std::string &arg : call) EXPECT_FALSE(kvsim::contains(arg, "pwned")) << arg;
    EXPECT_FALSE(w.board.exists(kPwned));
  }
  for (const Slot &slot : kSlots) {
    SCOPED_TRACE(std::string("as ") + slot.name);
    WifiBoard w;
    w.loadDriver();
    Args argv = {"kv_stationd", "on", "HomeNet", "secret123", "2", "FrontCam", "0"};
    argv[slot.index] = h.value;
    w.board.write(kvsim::kScanNetworks, argv[2] + "\n");
    bool number = slot.limit == 0;
    bool refused = h.control || (!number && h.value.size() > slot.limit);
    Result r = w.run(argv);
    std::vector<Args> calls = w.calls();
    if (refused) {
      EXPECT_EQ(r.exit, 255);
      EXPECT_EQ(r.out.rfind(std::string("kv_stationd: ") + slot.name + " ", 0), 0u) << r.out;
      EXPECT_TRUE(calls.empty());
    } else if (number) {
      EXPECT_EQ(r.exit, 0) << r.out;  // an open network, or a front unit: the number 0
      for (const Args &call : w.callsOnceThere(12))
        for (const std::string &arg : call) EXPECT_FALSE(kvsim::contains(arg, "pwned")) << arg;
    } else {
      EXPECT_EQ(r.exit, 0) << r.out;
      calls = w.callsOnceThere(13);
      auto has = [&](const Args &want) {
        return std::find(calls.begin(), calls.end(), want) != calls.end();
      };
      std::string control = "-p" + w.board.path("/var/run/wpa_supplicant");
      EXPECT_TRUE(has({"wpa_cli", control, "set_network", "0", "ssid", "\"" + argv[2] + "\""}));
      EXPECT_TRUE(has({"wpa_cli", control, "set_network", "0", "psk", "\"" + argv[3] + "\""}));
      EXPECT_TRUE(has({"dhcpcd", "wlan0", "-H", "-h", argv[5]}));
      EXPECT_EQ(calls.size(), 13u);
    }
    EXPECT_FALSE(w.board.exists(kPwned));
  }
}

INSTANTIATE_TEST_SUITE_P(Values, StationInjection, testing::ValuesIn(hostileValues()), hostileName);

}  // namespace
