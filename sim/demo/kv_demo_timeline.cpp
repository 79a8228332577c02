// SPDX-License-Identifier: MIT
#include "kv_demo_timeline.h"

#include <stdio.h>

#include "sandbox.h"

namespace kvdemo {

void Timeline::say(const std::string &who, const std::string &what) const {
  printf("[%5.1f s] %-13s %s\n", seconds(), who.c_str(), what.c_str());
  fflush(stdout);
}

void Timeline::act(const std::string &title) const {
  printf("\n          --- %s ---\n", title.c_str());
  fflush(stdout);
}

std::vector<std::string> Tail::fresh(const std::string &text) {
  std::vector<std::string> lines;
  size_t end = text.rfind('\n');
  if (end == std::string::npos || end + 1 <= shown_) return lines;
  lines = kvsim::splitLines(text.substr(shown_, end + 1 - shown_));
  shown_ = end + 1;
  return lines;
}

void Promises::promise(const std::string &key, const std::string &what) {
  promises_.push_back({key, what, "", false});
}

void Promises::see(const std::string &key, const std::string &how) {
  for (Promise &p : promises_)
    if (p.key == key && !p.seen) {
      p.seen = true;
      p.how = how;
    }
}

bool Promises::seen(const std::string &key) const {
  for (const Promise &p : promises_)
    if (p.key == key) return p.seen;
  return false;
}

bool Promises::report() const {
  bool all = true;
  for (const Promise &p : promises_) {
    printf("  %-8s %s\n", p.seen ? "seen" : "MISSING", p.what.c_str());
    if (p.seen && !p.how.empty()) printf("           (%s)\n", p.how.c_str());
    all = all && p.seen;
  }
  return all;
}

}  // namespace kvdemo
