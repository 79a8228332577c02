#include "standin_server.h"

#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace kvsim {
namespace {

void endNow(int) { _exit(0); }

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

ReplyPlan loadPlan(const Control &control, int id) {
  ReplyPlan plan;
  plan.keys = control.settings("reply");
  for (auto &[k, v] : control.settings("reply." + std::to_string(id))) plan.keys[k] = v;
  return plan;
}

void endOnSignals(const Control &control) {
  struct sigaction sa = {};
  sa.sa_handler = endNow;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
  // The main thread may sit in msgrcv for good; a watcher ends the process from outside.
  std::thread([control] {
    while (!control.has("exit")) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    control.log("exit");
    _exit(control.number("exit", 0));
  }).detach();
}

bool holdBeforeAnswer(const Control &control, const ReplyPlan &plan) {
  if (control.has("die") || plan.has("die")) {
    int status =
        plan.has("die") ? static_cast<int>(plan.number("die", 1)) : control.number("die", 1);
    control.log("die " + std::to_string(status));
    _exit(status);
  }
  long long delay = plan.number("delay_ms", 0);
  if (delay < 0)
    for (;;) pause();
  if (delay > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delay));
  while (control.has("hang")) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  return plan.number("answer", 1) != 0;
}

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
