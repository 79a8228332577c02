// SPDX-License-Identifier: MIT
#include "sandbox.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/ipc.h>
#include <sys/msg.h>
#include <sys/shm.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "board_root.h"
#include "kv_owners.hpp"
#include "sandbox_emulator.h"

namespace fs = std::filesystem;

namespace kvsim {
namespace {

// Tools the board runs by command line; all stand-ins in a sandbox, so no test ever
// runs the workstation's own mount, killall or hwclock.
const char *const kStandInTools[] = {"mount",
                                     "umount",
                                     "fsck_msdos",
                                     "mkdosfs",
                                     "flash_eraseall",
                                     "hwclock",
                                     "aplay",
                                     "killall",
                                     "hostapd",
                                     "dnsmasq",
                                     "wpa_cli",
                                     "wpa_supplicant",
                                     "dhcpcd",
                                     "boa",
                                     "bftpd",
                                     "ifconfig",
                                     "ps",
                                     "insmod",
                                     "rmmod",
                                     "reboot",
                                     "poweroff",
                                     "udhcpc",
                                     "route",
                                     "iwconfig",
                                     "mkfs.vfat",
                                     "sd_repartition.sh",
                                     "hdparm",
                                     "fdisk",
                                     "repartitioning_mmc.sh"};

const char *const kBoardFolders[] = {"/sys/devices/platform",
                                     "/dev",
                                     "/proc",
                                     "/mnt/nand/log",
                                     "/mnt/mmc",
                                     "/opt/vcam",
                                     "/var/run",
                                     "/var/log",
                                     "/tmp",
                                     "/etc",
                                     "/bin",
                                     "/sim/tools",
                                     "/sim/out",
                                     "/sim/ctl",
                                     "/sim/log",
                                     "/sim/run"};

void must(bool ok, const std::string &what) {
  if (!ok) throw std::runtime_error("sandbox: " + what + ": " + strerror(errno));
}

std::string slurp(const std::string &file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::vector<std::string> splitPath(const std::string &path) {
  std::vector<std::string> dirs;
  size_t start = 0;
  while (start <= path.size()) {
    size_t colon = path.find(':', start);
    if (colon == std::string::npos) colon = path.size();
    if (colon > start) dirs.push_back(path.substr(start, colon - start));
    start = colon + 1;
  }
  return dirs;
}

// This process's environment with the "NAME=value" entries of `overrides` put in.
std::vector<std::string> environmentWith(const std::vector<std::string> &overrides) {
  auto nameOf = [](const std::string &entry) { return entry.substr(0, entry.find('=')); };
  std::vector<std::string> out;
  for (char **e = environ; e && *e; ++e) {
    std::string entry = *e;
    bool replaced = false;
    for (const auto &o : overrides) replaced = replaced || nameOf(o) == nameOf(entry);
    if (!replaced) out.push_back(entry);
  }
  // Of overrides with the same name, the last one counts.
  for (size_t i = 0; i < overrides.size(); ++i) {
    bool later = false;
    for (size_t j = i + 1; j < overrides.size(); ++j)
      later = later || nameOf(overrides[j]) == nameOf(overrides[i]);
    if (!later) out.push_back(overrides[i]);
  }
  return out;
}

std::string scriptText(const ToolScript &s) {
  std::string text = "status=" + std::to_string(s.status) + "\n";
  text += "delay_ms=" + std::to_string(s.delay_ms) + "\n";
  for (const auto &line : splitLines(s.output)) text += "output=" + line + "\n";
  return text;
}

}  // namespace

ScopedEnv::ScopedEnv(const char *name) : name_(name) {
  const char *value = getenv(name);
  had_ = value != nullptr;
  if (value) saved_ = value;
}

ScopedEnv::~ScopedEnv() {
  if (had_)
    set(saved_);
  else
    unset();
}

void ScopedEnv::set(const std::string &value) const { setenv(name_.c_str(), value.c_str(), 1); }
void ScopedEnv::unset() const { unsetenv(name_.c_str()); }

// Stand-in tools first, then the system's programs and the stand-in servers.
std::string Sandbox::searchPath(const std::string &root) {
  return root + "/bin:" + programDir() + ":" + simDir() + ":/usr/bin:/bin";
}

std::string Sandbox::programDir() { return KV_PROGRAM_BIN_DIR; }
std::string Sandbox::simDir() { return KV_SIM_BIN_DIR; }

Sandbox::Sandbox(std::string_view name) {
  std::string base = fs::temp_directory_path().string() + "/" + std::string(name) + ".XXXXXX";
  std::vector<char> tmpl(base.begin(), base.end());
  tmpl.push_back('\0');
  must(mkdtemp(tmpl.data()) != nullptr, "mkdtemp");
  root_ = tmpl.data();

  buildTree();
  sysroot_.set(root_);
  path_.set(searchPath(root_));
  for (int key : {kSettingsKey, kSystemServerKey, kEventBusKey, kAvServerKey, kGpsChannelKey})
    trackIpcKey(key);
  // What earlier test processes that aborted left in the same place, once per process.
  static std::once_flag swept;
  std::call_once(swept, [] { removeLeftoverSandboxes(fs::temp_directory_path().string()); });
}

Sandbox::~Sandbox() {
  stopAll();
  fds_.clear();
  for (int key : ipc_keys_) removeIpc(key);
  if (getenv("KV_KEEP_SANDBOX")) {
    remove(kSandboxOwnerFile);  // kept for a look: no later sandbox sweeps it away
    fprintf(stderr, "sandbox kept: %s\n", root_.c_str());
    return;
  }
  std::error_code ec;
  fs::remove_all(root_, ec);
}

void Sandbox::buildTree() const {
  for (const char *dir : kBoardFolders) fs::create_directories(root_ + dir);
  write("/proc/mounts", "rootfs / rootfs rw 0 0\nproc /proc proc rw 0 0\n");
  write("/proc/modules", "");
  write("/proc/meminfo",
        "MemTotal:          119644 kB\nMemFree:            31636 kB\n"
        "Buffers:             1084 kB\nCached:              20484 kB\n");
  write("/proc/version", "Linux version 2.6.32.17-davinci1 (gcc version 4.2.4) #1 PREEMPT\n");
  write("/dev/cmem", "");  // the CMEM driver's node: the AV client opens and closes it
  for (const char *tool : kStandInTools) installTool(tool);
  // The image's repartitioning script is run by its full path.
  linkStandIn(simDir() + "/kv_standin_tool", root_ + "/opt/vcam/repartitioning_mmc.sh");
  writeBoardDefaults(*this);
}

std::string Sandbox::path(std::string_view board_path) const {
  return root_ + std::string(board_path);
}

void Sandbox::write(std::string_view board_path, std::string_view content) const {
  std::string file = path(board_path);
  fs::create_directories(fs::path(file).parent_path());
  // Written to a new file and renamed, so a program reading the node never sees half.
  std::string tmp = file + ".new";
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
  }
  fs::rename(tmp, file);
}

void Sandbox::append(std::string_view board_path, std::string_view content) const {
  std::string file = path(board_path);
  fs::create_directories(fs::path(file).parent_path());
  std::ofstream out(file, std::ios::binary | std::ios::app);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

std::string Sandbox::read(std::string_view board_path) const { return slurp(path(board_path)); }

bool Sandbox::exists(std::string_view board_path) const {
  std::error_code ec;
  return fs::exists(fs::symlink_status(path(board_path), ec));
}

void Sandbox::remove(std::string_view board_path) const {
  std::error_code ec;
  fs::remove_all(path(board_path), ec);
}

void Sandbox::mkdir(std::string_view board_path) const { fs::create_directories(path(board_path)); }

// ---- processes ---------------------------------------------------------------------

std::string Sandbox::outFile(pid_t pid, const char *stream) const {
  return root_ + "/sim/out/" + std::to_string(pid) + "." + stream;
}

// The program's full path: a bare name is looked up among the stand-ins, the system's
// programs and then on PATH, as the shell would; unchanged when it is nowhere.
std::string Sandbox::findProgram(const std::string &name) const {
  if (name.find('/') != std::string::npos) return name;
  std::vector<std::string> dirs = {simDir(), programDir()};
  const char *path = getenv("PATH");
  for (const auto &dir : splitPath(path ? path : "")) dirs.push_back(dir);
  for (const auto &dir : dirs) {
    std::string candidate = dir + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return name;
}

// Everything the child needs is made before fork(): the test process has threads, and in
// the child only async-signal-safe calls may run until exec (no allocation, no putenv, no
// stdio), or it may wait for good on a lock another thread held at the fork.
pid_t Sandbox::start(const std::vector<std::string> &argv, const std::vector<std::string> &env) {
  if (argv.empty()) throw std::invalid_argument("sandbox: empty command");
  const std::string exe = findProgram(argv[0]);
  // An ARM program runs in the emulator, itself found on PATH like any program.
  Launch launch = launchOf(exe, argv);
  launch.file = findProgram(launch.file);
  std::vector<char *> args;
  for (const auto &a : launch.argv) args.push_back(const_cast<char *>(a.c_str()));
  args.push_back(nullptr);
  // Its own board, whichever sandbox of the test was made last (two units in one test);
  // the caller's `env` comes after, so it may still name another.
  std::vector<std::string> overrides = {"KV_SYSROOT=" + root_, "PATH=" + searchPath(root_)};
  overrides.insert(overrides.end(), env.begin(), env.end());
  const std::vector<std::string> environment = environmentWith(overrides);
  std::vector<char *> envp;
  for (const auto &e : environment) envp.push_back(const_cast<char *>(e.c_str()));
  envp.push_back(nullptr);
  const std::string failure = "sandbox: cannot run " + exe + "\n";

  // Named for the child once its number is known.
  const std::string pending = root_ + "/sim/out/starting." + std::to_string(++starts_);
  kv::UniqueFd out(
      open((pending + ".out").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  kv::UniqueFd err(
      open((pending + ".err").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  kv::UniqueFd in(open("/dev/null", O_RDONLY | O_CLOEXEC));
  must(out.ok() && err.ok() && in.ok(), "open the program's output files");

  fflush(nullptr);
  pid_t pid = fork();
  must(pid >= 0, "fork");
  if (pid == 0) {
    setpgid(0, 0);
    dup2(out.get(), 1);
    dup2(err.get(), 2);
    dup2(in.get(), 0);
    execve(launch.file.c_str(), args.data(), envp.data());
    ssize_t n = ::write(2, failure.data(), failure.size());
    (void)n;
    _exit(127);
  }
  setpgid(pid, pid);
  rename((pending + ".out").c_str(), outFile(pid, "out").c_str());
  rename((pending + ".err").c_str(), outFile(pid, "err").c_str());
  children_[pid] = Child{argv[0]};
  return pid;
}

pid_t Sandbox::startServer(const std::string &name, const std::vector<std::string> &args) {
  std::string ready = "/sim/run/" + name + ".ready";
  remove(ready);
  std::vector<std::string> argv{name};
  argv.insert(argv.end(), args.begin(), args.end());
  pid_t pid = start(argv);
  bool up = waitUntil([&] { return exists(ready) || !running(pid); }, 10000ms);
  if (!up || !running(pid))
    throw std::runtime_error("sandbox: stand-in " + name + " did not start: " + stderrOf(pid));
  return pid;
}

// The wait status that waitpid() would have given for an end seen by waitid().
int waitStatusOf(const siginfo_t &info) {
  switch (info.si_code) {
    case CLD_EXITED:
      return (info.si_status & 0xFF) << 8;
    case CLD_KILLED:
      return info.si_status & 0x7F;
    case CLD_DUMPED:
      return (info.si_status & 0x7F) | 0x80;
    default:
      return 0;
  }
}

// An ended child is seen but not collected: as a zombie it keeps its number, which is also
// its process group's, so that signalling the group later (kill, stopAll) can never reach
// a process outside the sandbox that was given the number meanwhile.
int Sandbox::wait(pid_t pid, Ms timeout) {
  auto it = children_.find(pid);
  if (it == children_.end()) return -1;
  if (it->second.reaped) return it->second.status;
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    siginfo_t info{};
    if (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
        info.si_pid == pid) {
      it->second.reaped = true;
      it->second.status = waitStatusOf(info);
      return it->second.status;
    }
    if (std::chrono::steady_clock::now() >= deadline) return -1;
    std::this_thread::sleep_for(10ms);
  }
}

int Sandbox::exitCode(int wait_status) {
  if (WIFEXITED(wait_status)) return WEXITSTATUS(wait_status);
  if (WIFSIGNALED(wait_status)) return 128 + WTERMSIG(wait_status);
  return -1;
}

void Sandbox::signal(pid_t pid, int sig) const {
  auto it = children_.find(pid);
  if (it != children_.end() && !it->second.collected) ::kill(pid, sig);
}

bool Sandbox::running(pid_t pid) { return children_.count(pid) && wait(pid, 0ms) == -1; }

void Sandbox::kill(pid_t pid) {
  auto it = children_.find(pid);
  if (it == children_.end() || it->second.collected) return;
  ::kill(-pid, SIGKILL);  // the whole group: shells and tools it started too
  ::kill(pid, SIGKILL);
  wait(pid, 5000ms);
  collect(pid);
}

void Sandbox::collect(pid_t pid) {
  Child &child = children_[pid];
  if (child.reaped && !child.collected) child.collected = waitpid(pid, nullptr, WNOHANG) == pid;
}

void Sandbox::stopAll() {
  for (auto &[pid, child] : children_) {
    if (child.collected) continue;
    ::kill(-pid, SIGKILL);
    ::kill(pid, SIGKILL);
  }
  for (auto &[pid, child] : children_) {
    if (child.collected) continue;
    wait(pid, 5000ms);
    collect(pid);
  }
}

std::string Sandbox::stdoutOf(pid_t pid) const { return slurp(outFile(pid, "out")); }
std::string Sandbox::stderrOf(pid_t pid) const { return slurp(outFile(pid, "err")); }

// ---- stand-in tools ----------------------------------------------------------------

void Sandbox::installTool(const std::string &name) const {
  linkStandIn(simDir() + "/kv_standin_tool", root_ + "/bin/" + name);
}

void Sandbox::scriptTool(const std::string &name, const ToolScript &script, int call) const {
  // Built in steps: GCC 12 at -O3 sees a false overlap (-Wrestrict) in the one-liner.
  std::string file = "/sim/tools/" + name;
  if (call > 0) file += '.' + std::to_string(call);
  write(file, scriptText(script));
}

std::vector<std::string> Sandbox::commands() const { return splitLines(read("/sim/commands.log")); }

std::vector<std::string> Sandbox::shellTexts() const {
  return splitLines(read("/sim/log/shell.log"));
}

std::vector<std::string> Sandbox::commandsOf(const std::string &name) const {
  std::vector<std::string> mine;
  for (auto &line : commands())
    if (line == name || line.rfind(name + " ", 0) == 0) mine.push_back(line);
  return mine;
}

// ---- stand-in servers --------------------------------------------------------------

void Sandbox::setControl(const std::string &server, const std::string &key,
                         std::string_view value) const {
  write("/sim/ctl/" + server + "/" + key, value);
}

void Sandbox::clearControl(const std::string &server, const std::string &key) const {
  remove("/sim/ctl/" + server + "/" + key);
}

bool Sandbox::sendRequests(const std::string &server, const std::string &key,
                           const std::string &lines, Ms timeout) const {
  const std::string file = "/sim/ctl/" + server + "/" + key;
  setControl(server, key, lines);
  return waitUntil([&] { return !exists(file) && !exists(file + ".taken"); }, timeout);
}

std::vector<std::string> Sandbox::serverLog(const std::string &server) const {
  return splitLines(read("/sim/log/" + server + ".log"));
}

std::string Sandbox::flashLogs() const {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto &entry : fs::directory_iterator(path("/mnt/nand/log"), ec))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  std::string all;
  for (const auto &name : names) all += read("/mnt/nand/log/" + name);
  return all;
}

// ---- serial ports ------------------------------------------------------------------

int Sandbox::openPty(std::string_view board_path) {
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  must(master >= 0, "posix_openpt");
  must(grantpt(master) == 0 && unlockpt(master) == 0, "unlockpt");
  const char *port = ptsname(master);
  must(port != nullptr, "ptsname");
  // Keep the port side open too: without any holder the terminal hangs up between the
  // program's opens, and bytes written in between would be lost.
  int held = open(port, O_RDWR | O_NOCTTY);
  must(held >= 0, "open pty port");
  struct termios raw;
  tcgetattr(held, &raw);
  cfmakeraw(&raw);
  tcsetattr(held, TCSANOW, &raw);
  fds_.emplace_back(held);
  fds_.emplace_back(master);
  std::string link = path(board_path);
  fs::create_directories(fs::path(link).parent_path());
  std::error_code ec;
  fs::remove(link, ec);
  fs::create_symlink(port, link);
  return master;
}

// Bytes written to the other end reach the port's input queue through the kernel's
// buffer work a moment later, and FIONREAD counts only the queue: right after a write it
// can still say 0. The queue must therefore stay empty over several looks.
bool Sandbox::waitPortRead(std::string_view board_path, Ms timeout, Ms after) const {
  constexpr int kEmptyLooks = 5;  // 20 ms apart
  kv::UniqueFd port(open(path(board_path).c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK));
  if (!port) return false;
  int empty_looks = 0;
  bool read = waitUntil(
      [&] {
        int waiting = 0;
        if (ioctl(port.get(), FIONREAD, &waiting) != 0) return false;
        empty_looks = waiting == 0 ? empty_looks + 1 : 0;
        return empty_looks >= kEmptyLooks;
      },
      timeout);
  std::this_thread::sleep_for(after);
  return read;
}

// ---- IPC ---------------------------------------------------------------------------

void Sandbox::trackIpcKey(int key) {
  ipc_keys_.push_back(key);
  writeOwner();
}

// The creating process's number, then the keys whose queues and segments it may leave,
// one a line.
void Sandbox::writeOwner() const {
  std::string text = std::to_string(getpid()) + "\n";
  for (int key : ipc_keys_) text += std::to_string(key) + "\n";
  write(kSandboxOwnerFile, text);
}

void Sandbox::removeIpc(int key) {
  key_t k = kv_ipc_key(key);
  int q = msgget(k, 0);
  if (q >= 0) msgctl(q, IPC_RMID, nullptr);
  int s = shmget(k, 0, 0);
  if (s >= 0) shmctl(s, IPC_RMID, nullptr);
}

bool Sandbox::waitUntil(const std::function<bool()> &done, Ms timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (done()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(20ms);
  }
}

}  // namespace kvsim
