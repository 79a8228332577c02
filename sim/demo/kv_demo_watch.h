// SPDX-License-Identifier: MIT
// What the demo shows while it waits: what the two boards show a person (the servers'
// request logs, the front supervisor's output and log lines, the commands run, the serial
// cable both ways, the GPS state, the G-sensor, the card, the board controller), each new
// sight as a line of the timeline, and the promises those sights keep.
#pragma once

#include <sys/types.h>

#include <map>
#include <set>
#include <string>

#include "kv_demo_timeline.h"
#include "sandbox_link.h"

namespace kvdemo {

inline constexpr const char *kRecordings = "/mnt/mmc/Recordings";

std::string baseName(const std::string &path);
// The word after " key=" in a stand-in's log line ("" when there is none).
std::string wordAfter(const std::string &line, const std::string &key);

class BoardWatch {
 public:
  BoardWatch(kvsim::TwoUnits &units, const Timeline &timeline, Promises &promises)
      : units_(units), timeline_(timeline), promises_(promises) {}

  // Looks at everything once and shows what is new.
  void look();

  void watchSentinel(pid_t front_sentinel) { sentinel_ = front_sentinel; }
  // From now on the servers' answers no longer count as answers before the hang.
  void hangBegins() { hung_ = true; }

  // The front kv_server's last "record start" line, as it logged it.
  const std::string &lastStart() const { return last_start_; }
  bool restarted() const { return restarted_; }
  // kv_sentinel has said that kv_server does not respond: the restart is under way.
  bool restartBegun() const { return restart_begun_; }
  double restartedAt() const { return restarted_at_; }
  // The liveness request the hung kv_server holds unanswered, once one has come.
  bool kvServerHoldsRequest() const { return held_since_ != Clock::time_point{}; }
  Clock::time_point kvServerHeldSince() const { return held_since_; }
  int keepAlives() const { return keep_alives_; }
  bool answeredBeforeHang(const std::string &server) const { return answered_.count(server); }
  // Board roots in `text` shown as <front> and <rear>.
  std::string shortPaths(const std::string &text) const;

 private:
  void servers();
  void frontKvServer(const std::string &line);
  void rearKvServer(const std::string &line);
  void liveness(const std::string &server);
  void rearLiveness(const std::string &server);
  void recordLine(const std::string &who, const std::string &line);
  void eventFromRear(const std::string &line);
  void sentinel();
  void commands();
  void link();
  void gps();
  void gsensor();
  void card();
  void controller();
  void say(const std::string &who, const std::string &what) const { timeline_.say(who, what); }
  std::string serverLog(const kvsim::RecorderUnit &unit, const std::string &server);

  kvsim::TwoUnits &units_;
  const Timeline &timeline_;
  Promises &promises_;
  std::map<std::string, Tail> tails_;
  pid_t sentinel_ = -1;
  bool hung_ = false, restarted_ = false, had_fix_ = false, clock_shown_ = false;
  bool hwclock_shown_ = false, restart_begun_ = false;
  double restarted_at_ = 0;
  Clock::time_point held_since_{};
  std::string last_start_, announced_;
  size_t link_lines_ = 0, link_back_ = 0;
  int keep_alives_ = 0;
  std::set<std::string> answered_, rear_answered_, card_;
};

}  // namespace kvdemo
