// SPDX-License-Identifier: MIT
// kv_standin_tool: stands in for a program the board runs by command line (mount,
// killall, aplay, hostapd ...). Installed in a sandbox's bin/ under the tool's name.
//
// Each call appends "name arg1 arg2 ..." to sim/commands.log and then answers as the
// test scripted it in sim/tools/<name>.<call> (that call only) or sim/tools/<name>
// (every call): lines "status=N", "delay_ms=N" (-1: never return), "output=text".
// Unscripted calls succeed silently. Tools with a behaviour of their own (the mount table,
// signals to sandbox processes ...) find it in the table at the end.
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "kv_common_util.h"
#include "standin.h"
#include "standin_tool_board.h"
#include "standin_tool_wifi.h"
#include "tool_argv.h"

namespace {

struct Script {
  int status = 0;
  int delay_ms = 0;
  std::string output;
};

std::string baseName(const char *argv0) {
  const char *slash = strrchr(argv0, '/');
  return slash ? slash + 1 : argv0;
}

Script loadScript(const std::string &name, int call) {
  Script s;
  std::string text;
  if (!kvsim::readFile(kvsim::simPath("/sim/tools/" + name + "." + std::to_string(call)), text))
    kvsim::readFile(kvsim::simPath("/sim/tools/" + name), text);
  for (const auto &[key, value] : kvsim::parseSettings(text)) {
    if (key == "status") s.status = atoi(value.c_str());
    if (key == "delay_ms") s.delay_ms = atoi(value.c_str());
    if (key == "output") s.output += value + "\n";
  }
  return s;
}

using Behaviour = int (*)(int argc, char **argv);

struct Special {
  const char *tool;
  Behaviour run;
};

// Tools whose effect on the board the sandbox keeps true. Runs after a successful
// scripted answer; its result becomes the exit status.
const Special kSpecials[] = {
    {"", nullptr},
    {"mount", kvsim::standinMount},
    {"umount", kvsim::standinUmount},
    {"fsck_msdos", kvsim::standinFsckMsdos},
    {"mkdosfs", kvsim::standinMkdosfs},
    {"ps", kvsim::standinPs},
    {"killall", kvsim::standinKillall},
    {"wpa_cli", kvsim::standinWpaCli},
    {"wpa_supplicant", kvsim::standinDaemon},
    {"dhcpcd", kvsim::standinDhcpcd},
    {"ifconfig", kvsim::standinIfconfig},
    {"hostapd", kvsim::standinDaemon},
    {"dnsmasq", kvsim::standinDaemon},
    {"boa", kvsim::standinDaemon},
    {"bftpd", kvsim::standinDaemon},
};

}  // namespace

int main(int argc, char **argv) {
  std::string name = baseName(argv[0]);
  std::string line = name;
  for (int i = 1; i < argc; ++i) line += std::string(" ") + argv[i];
  kvsim::appendLine("/sim/commands.log", line);
  std::vector<std::string> args{name};
  args.insert(args.end(), argv + 1, argv + argc);
  kvsim::appendLine(kvsim::kArgvLog, kvsim::encodeArgs(args));

  Script s = loadScript(name, kvsim::nextToolCall(name));
  if (s.delay_ms < 0)
    for (;;) pause();
  if (s.delay_ms > 0) kv::sleep_ms(s.delay_ms);
  fputs(s.output.c_str(), stdout);
  if (s.status != 0) return s.status;
  for (const auto &special : kSpecials)
    if (special.run && name == special.tool) return special.run(argc, argv);
  return 0;
}
