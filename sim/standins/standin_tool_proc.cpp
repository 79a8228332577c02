// SPDX-License-Identifier: MIT
// Process tools of the sandbox: killall signals only the processes started inside this
// sandbox (known by the KV_SYSROOT in their environment), never one of the workstation's.
#include <dirent.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <string_view>

#include "kv_owners.hpp"
#include "standin.h"
#include "standin_tool_board.h"

namespace kvsim {
namespace {

std::string readProc(const std::string &file) {
  std::string text;
  readFile(file, text);
  return text;
}

bool hasEntry(const std::string &nul_separated, std::string_view want) {
  for (size_t start = 0; start < nul_separated.size();) {
    size_t end = nul_separated.find('\0', start);
    if (end == std::string::npos) end = nul_separated.size();
    if (std::string_view(nul_separated).substr(start, end - start) == want) return true;
    start = end + 1;
  }
  return false;
}

std::string programName(const std::string &cmdline) {
  std::string first = cmdline.substr(0, cmdline.find('\0'));
  size_t slash = first.rfind('/');
  return slash == std::string::npos ? first : first.substr(slash + 1);
}

// "-9", "-2", "-KILL", "-INT", "-TERM"; SIGTERM when none is given, as killall does.
int parseSignal(const char *arg) {
  static const struct {
    const char *name;
    int sig;
  } kNames[] = {{"KILL", SIGKILL}, {"INT", SIGINT},   {"TERM", SIGTERM}, {"HUP", SIGHUP},
                {"USR1", SIGUSR1}, {"USR2", SIGUSR2}, {"QUIT", SIGQUIT}};
  const char *name = arg + 1;
  if (strncmp(name, "SIG", 3) == 0) name += 3;
  for (const auto &n : kNames)
    if (strcmp(name, n.name) == 0) return n.sig;
  char *end = nullptr;
  long sig = strtol(name, &end, 10);
  return (end && *end == '\0' && sig > 0 && sig < 65) ? static_cast<int>(sig) : -1;
}

}  // namespace

void forEachSandboxProcess(const std::function<void(pid_t, const std::string &)> &visit) {
  const char *root = getenv("KV_SYSROOT");
  if (!root || !root[0]) return;
  std::string want = std::string("KV_SYSROOT=") + root;
  kv::UniqueDir proc(opendir("/proc"));
  if (!proc) return;
  while (struct dirent *e = readdir(proc.get())) {
    const char *name = e->d_name;
    if (!name[0] || strspn(name, "0123456789") != strlen(name)) continue;
    std::string dir = std::string("/proc/") + name;
    if (!hasEntry(readProc(dir + "/environ"), want)) continue;
    std::string cmdline = readProc(dir + "/cmdline");
    if (!cmdline.empty()) visit(static_cast<pid_t>(atoi(name)), cmdline);
  }
}

int standinKillall(int argc, char **argv) {
  int sig = SIGTERM;
  int first = 1;
  if (argc > 1 && argv[1][0] == '-') {
    sig = parseSignal(argv[1]);
    first = 2;
    if (sig < 0) {
      fprintf(stderr, "killall: bad signal name '%s'\n", argv[1]);
      return 1;
    }
  }
  int signalled = 0;
  forEachSandboxProcess([&](pid_t pid, const std::string &cmdline) {
    if (pid == getpid()) return;
    std::string program = programName(cmdline);
    for (int i = first; i < argc; ++i)
      if (program == argv[i] && kill(pid, sig) == 0) ++signalled;
  });
  if (signalled == 0) {
    for (int i = first; i < argc; ++i) fprintf(stderr, "killall: %s: no process killed\n", argv[i]);
    return 1;
  }
  return 0;
}

}  // namespace kvsim
