// SPDX-License-Identifier: MIT
// The Wi-Fi tools of the sandbox.
//
// wpa_cli answers per sub-command (the first argument that is not an option). A test
// scripts one in sim/tools/wpa_cli.<sub> (every call) or sim/tools/wpa_cli.<sub>.<n> (the
// n-th call of that sub-command), as for any tool: "status=N", "delay_ms=N", "output=text".
// Unscripted: add_network prints "Selected interface 'wlan0'" and the network number 0,
// scan_result(s) prints the header, the lines of sim/wifi/scan_results as they are
// ("bssid\tfrequency\tsignal\tflags\tssid", a name as some build of wpa_cli printed it),
// then one line for each network named in sim/wifi/networks (a name a line), the name
// printed as wpa_cli 2.x prints it; every other sub-command prints "OK".
//
// dhcpcd <iface> ...: gives the interface the address in sim/ctl/dhcpcd/address
// (192.168.6.217 when not set; "never": none) after sim/ctl/dhcpcd/delay_ms, by writing it
// to sim/net/<iface>, where the board root reads interface addresses; then stays as the
// daemon. dhcpcd <iface> -k takes the address away.
//
// ifconfig <iface> <address> up sets the address; ifconfig <iface> prints the interface.
//
// The daemons stay until killed (killall), or until their sandbox is gone, with their
// standard streams on /dev/null so that no caller waits for them to close.
#include "standin_tool_wifi.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "kv_owners.hpp"
#include "standin.h"

namespace kvsim {
namespace {

using namespace std::chrono_literals;

// A daemon outlives its caller, never its sandbox: 15 minutes at most.
constexpr int kLifeChecks = 15 * 60 * 5;

void detachStreams() {
  int null = open("/dev/null", O_RDWR);
  if (null < 0) return;
  dup2(null, 0);
  dup2(null, 1);
  dup2(null, 2);
  if (null > 2) close(null);  // a number 0 to 2 is one of the streams now: kept
}

bool sandboxExists() {
  const char *root = getenv("KV_SYSROOT");
  return root && root[0] && access(root, F_OK) == 0;
}

void stayUntilKilled() {
  detachStreams();
  for (int i = 0; i < kLifeChecks && sandboxExists(); ++i) std::this_thread::sleep_for(200ms);
}

bool hasArg(int argc, char **argv, const char *want) {
  for (int i = 1; i < argc; ++i)
    if (strcmp(argv[i], want) == 0) return true;
  return false;
}

void writeFile(const std::string &board_path, const std::string &text) {
  std::string file = simPath(board_path), tmp = file + ".new";
  {
    kv::UniqueFile f(fopen(tmp.c_str(), "w"));
    if (!f) return;
    fputs(text.c_str(), f.get());
  }
  rename(tmp.c_str(), file.c_str());
}

// ---- wpa_cli ---------------------------------------------------------------------------

struct Answer {
  int status = 0;
  int delay_ms = 0;
  std::string output;
};

// The test's script for this call of the sub-command; false when there is none.
bool scripted(const std::string &sub, Answer &a) {
  std::string key = "wpa_cli." + sub, text;
  int call = nextToolCall(key);
  if (!readFile(simPath("/sim/tools/" + key + "." + std::to_string(call)), text) &&
      !readFile(simPath("/sim/tools/" + key), text))
    return false;
  for (const auto &[name, value] : parseSettings(text)) {
    if (name == "status") a.status = atoi(value.c_str());
    if (name == "delay_ms") a.delay_ms = atoi(value.c_str());
    if (name == "output") a.output += value + "\n";
  }
  return true;
}

// wpa_cli 2.x's printf_encode: printable ASCII as it is, the quote and the backslash
// escaped, the usual control characters by letter, any other byte as "\x" and two
// lower-case hex digits.
std::string printedName(const std::string &name) {
  std::string out;
  for (unsigned char c : name) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\033':
        out += "\\e";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c >= 0x20 && c < 0x7F) {
          out += static_cast<char>(c);
        } else {
          char hex[5];
          snprintf(hex, sizeof hex, "\\x%02x", c);
          out += hex;
        }
    }
  }
  return out;
}

std::string scanResults() {
  std::string printed, names;
  readFile(simPath("/sim/wifi/scan_results"), printed);
  readFile(simPath("/sim/wifi/networks"), names);
  size_t start = 0;
  for (size_t end; (end = names.find('\n', start)) != std::string::npos; start = end + 1)
    printed += "00:1e:55:aa:bb:cc\t2437\t-48\t[WPA2-PSK-CCMP][ESS]\t" +
               printedName(names.substr(start, end - start)) + "\n";
  return "bssid / frequency / signal level / flags / ssid\n" + printed;
}

std::string defaultAnswer(const std::string &sub) {
  if (sub == "add_network") return "Selected interface 'wlan0'\n0\n";
  if (sub == "scan_result" || sub == "scan_results") return scanResults();
  return "OK\n";
}

}  // namespace

int standinWpaCli(int argc, char **argv) {
  int i = 1;
  while (i < argc && argv[i][0] == '-') ++i;
  std::string sub = i < argc ? argv[i] : "";
  Answer a;
  if (!scripted(sub, a)) {
    fputs(defaultAnswer(sub).c_str(), stdout);
    return 0;
  }
  if (a.delay_ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(a.delay_ms));
  fputs(a.output.c_str(), stdout);
  return a.status;
}

int standinDhcpcd(int argc, char **argv) {
  std::string iface;
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "-h") == 0) {
      ++i;  // the host name
    } else if (argv[i][0] != '-' && iface.empty()) {
      iface = argv[i];
    }
  }
  if (iface.empty() || iface.find('/') != std::string::npos) return 1;
  std::string address_file = "/sim/net/" + iface;
  if (hasArg(argc, argv, "-k")) {
    unlink(simPath(address_file).c_str());
    return 0;
  }
  Control control("dhcpcd");
  std::string address = control.text("address");
  address = address.substr(0, address.find_first_of(" \r\n"));
  if (address.empty()) address = "192.168.6.217";
  detachStreams();
  std::this_thread::sleep_for(std::chrono::milliseconds(control.number("delay_ms", 0)));
  if (address != "never" && sandboxExists()) writeFile(address_file, address + "\n");
  stayUntilKilled();
  return 0;
}

int standinIfconfig(int argc, char **argv) {
  if (argc < 2 || strchr(argv[1], '/')) return argc < 2 ? 0 : 1;
  std::string iface = argv[1], address_file = "/sim/net/" + iface;
  struct in_addr in;
  for (int i = 2; i < argc; ++i)
    if (inet_pton(AF_INET, argv[i], &in) == 1) writeFile(address_file, std::string(argv[i]) + "\n");
  if (argc > 2) return 0;
  std::string address;
  readFile(simPath(address_file), address);
  address = address.substr(0, address.find_first_of(" \r\n"));
  printf("%-10sLink encap:Ethernet  HWaddr 00:1E:55:12:34:56\n", iface.c_str());
  if (!address.empty()) printf("          inet addr:%s  Mask:255.255.255.0\n", address.c_str());
  printf("          UP BROADCAST RUNNING MULTICAST  MTU:1500  Metric:1\n");
  return 0;
}

int standinDaemon(int argc, char **argv) {
  if (!hasArg(argc, argv, "-B") && !hasArg(argc, argv, "-d")) {
    stayUntilKilled();
    return 0;
  }
  pid_t child = fork();
  if (child < 0) return 1;
  if (child == 0) {
    stayUntilKilled();
    _exit(0);
  }
  return 0;
}

}  // namespace kvsim
