// SPDX-License-Identifier: MIT
#include "sandbox_wifi.h"

#include <algorithm>
#include <filesystem>

#include "sandbox_emulator.h"
#include "tool_argv.h"

namespace fs = std::filesystem;

namespace kvsim {
namespace {

// Tools the image runs by their full paths.
const char *const kImageTools[] = {"/opt/vcam/hostapd",       "/opt/vcam/dnsmasq",
                                   "/opt/vcam/boa",           "/opt/vcam/bftpd",
                                   "/opt/vcam/dhcpcd/dhcpcd", "/sbin/ifconfig"};

// The front unit's supplicant settings: no network of its own, kv_stationd adds it.
constexpr const char kFrontSupplicantConf[] =
    "ctrl_interface=/var/run/wpa_supplicant\nupdate_config=1\n";

}  // namespace

void installToolAt(const Sandbox &board, const std::string &board_path) {
  std::string link = board.path(board_path);
  fs::create_directories(fs::path(link).parent_path());
  std::error_code ec;
  fs::remove(link, ec);
  linkStandIn(Sandbox::simDir() + "/kv_standin_tool", link);
}

void writeWifiDefaults(const Sandbox &board) {
  board.write("/opt/vcam/wifi/nvram.txt",
              std::string("sd_gpio=0\nmacaddr=") + kBoardMac + "\nboardtype=0x0598\n");
  board.write("/opt/vcam/modules/8189es.ko", std::string("\x7f"
                                                         "ELF\x01\x01\x01",
                                                         7) +
                                                 std::string(249, '\0'));
  board.write("/dev/mtdblock7", std::string(256, '\xFF'));  // erased flash: no record yet
  board.write("/opt/vcam/wifi/wpa_supplicant.conf", kFrontSupplicantConf);
  for (const char *dir : {"/var/volatile/run", "/var/run/wpa_supplicant", "/sim/net", "/sim/wifi"})
    board.mkdir(dir);
  for (const char *tool : kImageTools) installToolAt(board, tool);
}

std::vector<std::vector<std::string>> toolCalls(const Sandbox &board, const std::string &tool) {
  std::vector<std::vector<std::string>> calls;
  for (const auto &line : splitLines(board.read(kArgvLog))) {
    auto args = decodeArgs(line);
    if (args[0] == tool) calls.push_back(std::move(args));
  }
  return calls;
}

std::vector<std::string> moduleCalls(const Sandbox &board) {
  return splitLines(board.read("/sim/log/modules.log"));
}

void scriptModule(const Sandbox &board, const std::string &name, const std::string &behaviour) {
  board.setControl("modules", name, behaviour + "\n");
}

size_t addressReads(const Sandbox &board, const std::string &iface) {
  auto lines = splitLines(board.read("/sim/log/net.log"));
  return static_cast<size_t>(std::count(lines.begin(), lines.end(), iface));
}

std::string scanLine(const std::string &printed) {
  return "00:1e:55:aa:bb:cc\t2437\t-48\t[WPA2-PSK-CCMP][ESS]\t" + printed + "\n";
}

}  // namespace kvsim
