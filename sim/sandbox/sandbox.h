// SPDX-License-Identifier: MIT
// A disposable simulated board in a temporary folder: the board root of the programs
// under test (KV_SYSROOT), stand-in tools first on PATH, processes started inside it,
// pseudo-terminals for the serial ports. Everything it made (files, processes, queues,
// segments) is gone when it is destroyed, whether the test passed or not.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "kv_owners.hpp"
#include "standin.h"

namespace kvsim {

using namespace std::chrono_literals;
using Ms = std::chrono::milliseconds;

// One environment variable changed for a scope: its earlier value, or its absence, comes
// back when the scope ends.
class ScopedEnv {
 public:
  explicit ScopedEnv(const char *name);
  ScopedEnv(const char *name, const std::string &value) : ScopedEnv(name) { set(value); }
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv &) = delete;
  ScopedEnv &operator=(const ScopedEnv &) = delete;

  void set(const std::string &value) const;
  void unset() const;

 private:
  std::string name_, saved_;
  bool had_ = false;
};

// What a stand-in tool does on one call: its exit status, what it prints, how long it
// takes first (-1: never returns).
struct ToolScript {
  int status = 0;
  std::string output;
  int delay_ms = 0;
};

// IPC keys of the system's channels; the sandbox removes their derived queues and
// segments at the end.
inline constexpr int kSettingsKey = 12930021;
inline constexpr int kSystemServerKey = 14073;
inline constexpr int kEventBusKey = 49601;
inline constexpr int kAvServerKey = 74565;
inline constexpr int kGpsChannelKey = 49609;

// Where a sandbox records its creating process and the keys it may leave behind.
inline constexpr char kSandboxOwnerFile[] = "/sim/sandbox.owner";

class Sandbox {
 public:
  // The folder is made in the temporary folder as "<name>.XXXXXX". A name with blanks or
  // shell characters proves that every command quotes the board paths it is given.
  explicit Sandbox(std::string_view name = "kvsim");
  ~Sandbox();
  Sandbox(const Sandbox &) = delete;
  Sandbox &operator=(const Sandbox &) = delete;

  const std::string &root() const { return root_; }
  // The sandbox file that stands for the board path `board_path` ("/sys/...").
  std::string path(std::string_view board_path) const;

  void write(std::string_view board_path, std::string_view content) const;
  void append(std::string_view board_path, std::string_view content) const;
  std::string read(std::string_view board_path) const;  // "" when missing
  bool exists(std::string_view board_path) const;
  void remove(std::string_view board_path) const;
  void mkdir(std::string_view board_path) const;

  // ---- processes -------------------------------------------------------------------
  // Starts `argv` in its own process group with this sandbox's environment plus `env`
  // ("NAME=value"). A bare program name is looked up among the stand-in servers, then
  // the system's programs of this build. Standard output and error are kept in files.
  pid_t start(const std::vector<std::string> &argv, const std::vector<std::string> &env = {});
  // Starts a stand-in server and waits until it says it is ready.
  pid_t startServer(const std::string &name, const std::vector<std::string> &args = {});
  // Waits for the process to end; its wait status, or -1 on time-out (still running).
  int wait(pid_t pid, Ms timeout = 10000ms);
  // Exit code of a wait status, or 128 + signal.
  static int exitCode(int wait_status);
  void signal(pid_t pid, int sig) const;
  void kill(pid_t pid);  // SIGKILL to its group, and reaps it
  bool running(pid_t pid);
  std::string stdoutOf(pid_t pid) const;
  std::string stderrOf(pid_t pid) const;

  // ---- stand-in tools --------------------------------------------------------------
  // Tools on the sandbox's PATH that log their command line and answer as scripted.
  void installTool(const std::string &name) const;
  // Script for every call (call 0) or for the n-th call only (1-based).
  void scriptTool(const std::string &name, const ToolScript &script, int call = 0) const;
  // Every command line the stand-in tools were called with, in order ("name arg ...").
  std::vector<std::string> commands() const;
  std::vector<std::string> commandsOf(const std::string &name) const;
  // Every command text the programs handed the shell (system, popen), whole and in order,
  // a line break in it written as a backslash and 'n'.
  std::vector<std::string> shellTexts() const;

  // ---- stand-in servers ------------------------------------------------------------
  // Control files a stand-in server reads on every request (sim/ctl/<server>/<key>).
  void setControl(const std::string &server, const std::string &key, std::string_view value) const;
  void clearControl(const std::string &server, const std::string &key) const;
  // Writes request lines into a control file the stand-in serves whole (it renames the
  // file to <key>.taken while it serves it) and waits until it has served them all.
  bool sendRequests(const std::string &server, const std::string &key, const std::string &lines,
                    Ms timeout) const;
  // What a stand-in server logged about the requests it received.
  std::vector<std::string> serverLog(const std::string &server) const;
  // Every hourly log file on the flash (/mnt/nand/log), in name order, which is age order.
  std::string flashLogs() const;

  // ---- serial ports ----------------------------------------------------------------
  // Creates a pseudo-terminal, links `board_path` ("/dev/ttyS1") to its port side and
  // returns the other end (owned by the sandbox) for the test to read and write.
  int openPty(std::string_view board_path);
  // Waits until the program reading the port has taken every byte written to the other
  // end, then `after` more for what it does with the last of them. false on timeout.
  bool waitPortRead(std::string_view board_path, Ms timeout, Ms after) const;

  // ---- IPC -------------------------------------------------------------------------
  void trackIpcKey(int key);
  // Removes the queue and segment of a system key now (as seen from this sandbox).
  static void removeIpc(int key);

  // Polls `done` every 20 ms until it holds or `timeout` passes.
  static bool waitUntil(const std::function<bool()> &done, Ms timeout);

  // Where this build put its programs and stand-ins.
  static std::string programDir();
  static std::string simDir();
  // The PATH of the programs of the board whose root is `root`.
  static std::string searchPath(const std::string &root);

 private:
  struct Child {
    std::string name;
    // An ended child is seen (reaped, status) but stays a zombie, holding its number,
    // until its process group has been stopped (collected).
    bool reaped = false;
    bool collected = false;
    int status = 0;
  };
  std::string findProgram(const std::string &name) const;
  void writeOwner() const;
  void collect(pid_t pid);
  void buildTree() const;
  void stopAll();
  std::string outFile(pid_t pid, const char *stream) const;

  std::string root_;
  // Put back after everything else went: the IPC keys are derived from the board root.
  ScopedEnv sysroot_{"KV_SYSROOT"}, path_{"PATH"};
  std::map<pid_t, Child> children_;
  std::vector<int> ipc_keys_;
  std::vector<kv::UniqueFd> fds_;
  unsigned starts_ = 0;
};

// Removes the sandboxes in `folder` whose creating process is gone (a test that aborted
// left them): their System V queues and segments, by the keys each recorded, then the
// folder. Only folders of this user that carry a sandbox's owner record are touched; one
// kept with KV_KEEP_SANDBOX carries none. The number removed (sandbox_leftovers.cpp).
int removeLeftoverSandboxes(const std::string &folder);

// Driver nodes, flash mount and installed files of a new board (sandbox_board.cpp).
void writeBoardDefaults(const Sandbox &board);

}  // namespace kvsim
