// SPDX-License-Identifier: MIT
// The demo's output: a timeline of what happens on the boards, one line per step as it is
// seen ("[ 12.3 s] who          what"), and the promises the demo makes, each seen or not.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace kvdemo {

using Clock = std::chrono::steady_clock;

class Timeline {
 public:
  Timeline() : start_(Clock::now()) {}
  void say(const std::string &who, const std::string &what) const;
  // A heading between the acts of the demo.
  void act(const std::string &title) const;
  double seconds() const { return std::chrono::duration<double>(Clock::now() - start_).count(); }

 private:
  Clock::time_point start_;
};

// New lines of a growing text, remembered by how much was already shown.
class Tail {
 public:
  std::vector<std::string> fresh(const std::string &text);

 private:
  size_t shown_ = 0;
};

// What the demo promises, in the order it is told; the summary says which were seen.
class Promises {
 public:
  // Registers a promise; `key` names it for see().
  void promise(const std::string &key, const std::string &what);
  // Marks it seen, with what showed it (printed in the summary).
  void see(const std::string &key, const std::string &how = "");
  bool seen(const std::string &key) const;
  // Prints every promise, seen or MISSING; true when all were seen.
  bool report() const;

 private:
  struct Promise {
    std::string key, what, how;
    bool seen = false;
  };
  std::vector<Promise> promises_;
};

}  // namespace kvdemo
