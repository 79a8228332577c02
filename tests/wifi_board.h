// SPDX-License-Identifier: MIT
// Shared by the scenario tests of the Wi-Fi programs: a simulated board to run them on,
// what they left (tool calls, log lines), and the hostile values of the injection suites.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <ostream>
#include <string>
#include <vector>

#include "sandbox.h"
#include "sandbox_wifi.h"
#include "tool_argv.h"

namespace wifitest {

using namespace std::chrono_literals;
using Args = std::vector<std::string>;

// A payload names this file relative to the working directory, which is the board's root
// while a program runs: a payload that ran leaves it there.
inline constexpr char kPwned[] = "/pwned";

struct Result {
  int exit = -1;  // exit code, 128 + signal, -1 still running
  std::string out;
  long long ms = 0;
};

class WifiBoard {
 public:
  WifiBoard() {
    kvsim::writeWifiDefaults(board);
    char cwd[4096];
    if (getcwd(cwd, sizeof cwd)) saved_cwd_ = cwd;
    EXPECT_EQ(chdir(board.root().c_str()), 0);
  }
  ~WifiBoard() {
    if (!saved_cwd_.empty()) (void)!chdir(saved_cwd_.c_str());
  }
  WifiBoard(const WifiBoard &) = delete;
  WifiBoard &operator=(const WifiBoard &) = delete;

  Result run(const Args &argv, std::chrono::milliseconds timeout = 60s) {
    auto t0 = std::chrono::steady_clock::now();
    pid_t pid = board.start(argv);
    return finish(pid, t0, timeout);
  }
  Result finish(pid_t pid, std::chrono::steady_clock::time_point t0,
                std::chrono::milliseconds timeout = 60s) {
    Result r;
    int status = board.wait(pid, timeout);
    r.ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0)
            .count();
    r.exit = status == -1 ? -1 : kvsim::Sandbox::exitCode(status);
    r.out = board.stdoutOf(pid);
    return r;
  }

  // Every stand-in tool call so far, arguments exact, program name first.
  std::vector<Args> calls() const {
    std::vector<Args> all;
    for (const auto &line : kvsim::splitLines(board.read("/sim/argv.log")))
      all.push_back(kvsim::decodeArgs(line));
    return all;
  }
  // Waits until `n` tool calls are noted (background tools note theirs when they start).
  std::vector<Args> callsOnceThere(size_t n) const {
    kvsim::Sandbox::waitUntil([&] { return calls().size() >= n; }, 5s);
    return calls();
  }
  // The program's log lines without their date and tag: "text\n".
  Args logLines() const {
    Args lines;
    for (const auto &line : kvsim::splitLines(board.flashLogs())) {
      auto at = line.find("]: ");
      if (at != std::string::npos) lines.push_back(line.substr(at + 3) + "\n");
    }
    return lines;
  }
  bool logged(const std::string &text) const {
    for (const auto &line : logLines())
      if (line == text) return true;
    return false;
  }
  void loadDriver() const { board.write("/proc/modules", "8189es 655360 0 - Live 0xbf000000\n"); }
  bool driverListed() const { return kvsim::contains(board.read("/proc/modules"), "8189es "); }

  kvsim::Sandbox board;

 private:
  std::string saved_cwd_;
};

// ---- hostile values -----------------------------------------------------------------------

struct Hostile {
  const char *name;  // for the test's name
  std::string value;
  bool control;  // holds a control character: refused wherever it is given
};

inline std::vector<Hostile> hostileValues() {
  return {
      {"command_substitution", "$(touch pwned)", false},
      {"backquotes", "`touch pwned`", false},
      {"semicolon", "x;touch pwned", false},
      {"and_list", "x&&touch pwned", false},
      {"background", "x&touch pwned", false},
      {"pipe", "x|touch pwned", false},
      {"single_quote_break", "x';touch pwned;'", false},
      {"double_quote_break", "x\";touch pwned;\"", false},
      {"nested_quotes", "'\"$(touch pwned)\"'", false},
      {"redirect", "x>pwned", false},
      {"append", "x>>pwned", false},
      {"variables", "$PATH${IFS}x", false},
      {"arithmetic", "$((6*7))", false},
      {"ansi_c_quote", "$'\\x41'", false},
      {"glob", "*", false},
      {"tilde", "~root", false},
      {"backslashes", "a\\b\\", false},
      {"leading_dash", "-c touch pwned", false},
      {"braces", "{a,b}", false},
      {"history", "!!", false},
      {"comment", "#x;touch pwned", false},
      {"format_directives", "%s%n%x%d", false},
      {"utf8_and_quotes", "Caf\xC3\xA9 \"Net\" \xE2\x98\xBA", false},
      {"blanks", "  a  b  ", false},
      {"newline_command", "x\ntouch pwned", true},
      {"newline_setting", "x\nwpa=0", true},
      {"carriage_return", "x\rwpa=0", true},
      {"tab", "x\twpa=0", true},
      {"terminal_escape", "\x1B]0;x\x07", true},
      {"delete", "x\x7F", true},
  };
}

// Test names and failure messages show the value's name, not its bytes.
inline void PrintTo(const Hostile &h, std::ostream *os) { *os << h.name; }

inline std::string hostileName(const testing::TestParamInfo<Hostile> &info) {
  return info.param.name;
}

}  // namespace wifitest
