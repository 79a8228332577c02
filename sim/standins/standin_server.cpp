// SPDX-License-Identifier: MIT
#include "standin_server.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "kv_common_util.h"

namespace kvsim {
namespace {

std::string controlFolder(const Control &control) {
  return simPath("/sim/ctl/" + control.server());
}

// An inotify descriptor on the server's control folder; none when it cannot be had (the
// callers then look at the files every time).
kv::UniqueFd watchFolder(const Control &control) {
  kv::UniqueFd fd(inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
  const uint32_t kChanges =
      IN_CREATE | IN_DELETE | IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM;
  if (fd && inotify_add_watch(fd.get(), controlFolder(control).c_str(), kChanges) < 0) fd.reset();
  return fd;
}

// True when something changed since the last call (or nothing can tell).
bool drainChanges(int fd) {
  if (fd < 0) return true;
  bool any = false;
  alignas(inotify_event) char buf[4096];
  while (read(fd, buf, sizeof buf) > 0) any = true;
  return any;
}

// Sleeps until something changes in the folder (or 20 ms without a watch).
void awaitChange(int fd) {
  if (fd < 0) {
    kv::sleep_ms(20);
    return;
  }
  struct pollfd p = {fd, POLLIN, 0};
  poll(&p, 1, -1);
}

[[noreturn]] void endWithStatus(const Control &control, const std::string &what, int status) {
  control.log(what + " " + std::to_string(status));
  _exit(status);
}

void endNow(int) { _exit(0); }

// Ends the process as soon as the `exit` control appears, while the serve loop may sit in
// the queue for good. Runs with every signal blocked, so that SIGTERM and SIGINT reach
// the other threads.
void exitWatcher(Control control, void (*onChange)()) {
  kv::UniqueFd watch = watchFolder(control);
  for (;;) {
    if (control.has("exit")) _exit(control.number("exit", 0));
    if (onChange) onChange();
    awaitChange(watch.get());
    drainChanges(watch.get());
  }
}

}  // namespace

long long ReplyPlan::number(const std::string &key, long long fallback) const {
  auto it = keys.find(key);
  if (it == keys.end() || it->second.empty()) return fallback;
  return strtoll(it->second.c_str(), nullptr, 0);
}

const std::string &ReplyPlan::text(const std::string &key) const {
  static const std::string kNone;
  auto it = keys.find(key);
  return it == keys.end() ? kNone : it->second;
}

// ---- controls ------------------------------------------------------------------------

Controls::Controls(const Control &control) : control_(control), watch_(watchFolder(control)) {
  load();
}

void Controls::refresh() {
  if (drainChanges(watch_.get())) load();
}

void Controls::load() {
  hang_ = control_.has("hang");
  quiet_ = control_.has("quiet");
  die_ = control_.has("die");
  die_status_ = control_.number("die", 1);
  defaults_ = control_.settings("reply");
  by_id_.clear();
  std::error_code ec;
  for (const auto &entry : std::filesystem::directory_iterator(controlFolder(control_), ec)) {
    std::string name = entry.path().filename().string();
    // Sandbox::write renames a ".new" file into place: that one is not a control yet.
    if (name.rfind("reply.", 0) != 0 || name.find(".new") != std::string::npos) continue;
    by_id_[atoi(name.c_str() + 6)] = control_.settings(name);
  }
}

void Controls::waitForChange() {
  awaitChange(watch_.get());
  refresh();
}

ReplyPlan Controls::planFor(int id) const {
  ReplyPlan plan{defaults_};
  auto own = by_id_.find(id);
  if (own != by_id_.end())
    for (const auto &[k, v] : own->second) plan.keys[k] = v;
  return plan;
}

bool Controls::holdBeforeAnswer(const ReplyPlan &plan) {
  if (plan.has("die")) endWithStatus(control_, "die", static_cast<int>(plan.number("die", 1)));
  if (die_) endWithStatus(control_, "die", die_status_);
  while (hang_) waitForChange();
  long long delay = plan.number("delay_ms", 0);
  if (delay < 0)
    for (;;) pause();
  if (delay > 0) kv::sleep_ms(static_cast<int>(delay));
  return plan.number("answer", 1) != 0;
}

// ---- the request log -------------------------------------------------------------------

RequestLog::RequestLog(const Control &control)
    : path_(simPath("/sim/log/" + control.server() + ".log")) {}

void RequestLog::write(std::string &line) {
  struct stat st;
  if (fd_ && (fstat(fd_.get(), &st) != 0 || st.st_nlink == 0)) fd_.reset();
  if (!fd_) fd_.reset(open(path_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
  line += '\n';
  if (fd_ && ::write(fd_.get(), line.data(), line.size()) < 0) perror("stand-in: log");
}

// ---- start-up ----------------------------------------------------------------------------

void beginStandIn(const Control &control, void (*onChange)()) {
  std::error_code ec;
  std::filesystem::create_directories(controlFolder(control), ec);
  struct sigaction sa = {};
  sa.sa_handler = endNow;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
  sigset_t all, old;
  sigfillset(&all);
  pthread_sigmask(SIG_BLOCK, &all, &old);
  std::thread(exitWatcher, control, onChange).detach();
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
}

// ---- hex ----------------------------------------------------------------------------------

std::string hex(const void *data, size_t len) {
  static const char kDigits[] = "0123456789abcdef";
  const auto *p = static_cast<const unsigned char *>(data);
  std::string out;
  out.reserve(2 * len);
  for (size_t i = 0; i < len; ++i) {
    out += kDigits[p[i] >> 4];
    out += kDigits[p[i] & 15];
  }
  return out;
}

bool unhex(const std::string &text, std::vector<unsigned char> &out) {
  auto nibble = [](char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  out.clear();
  if (text.size() % 2) return false;
  for (size_t i = 0; i < text.size(); i += 2) {
    int hi = nibble(text[i]), lo = nibble(text[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out.push_back(static_cast<unsigned char>(hi * 16 + lo));
  }
  return true;
}

}  // namespace kvsim
