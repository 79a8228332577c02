// SPDX-License-Identifier: MIT
// gsensor_feeder: moves the sandbox's acceleration sensor.
//
//   gsensor_feeder [period_ms [first_sample]]
//   gsensor_feeder --slow-read <ms>
//
// Every period (default 250 ms, on absolute deadlines) it puts the next token of the
// generated motion (gsensor_motion.h) into the sensor node, whole (written beside it and
// renamed, as a driver never shows half a token), and appends the same sample with its
// monotonic tick and the battery level to kv_server's history, which the kv_server
// stand-in answers from: the two see one sensor, as on the board.
//
// --slow-read: a sensor on a busy I2C bus. The node becomes a pipe, and every read of it
// gets the next sample only <ms> after it opened the node (kv_server's history is fed
// at the same moments).
//
// Control: sim/ctl/gsensor_feeder/brake (Sandbox::setControl("gsensor_feeder", "brake", ""))
// makes the car brake hard from the next sample on (gsensor_motion.h); the feeder takes the
// file away and logs "brake sample=<n> tick=<tick of that sample>" to
// sim/log/gsensor_feeder.log.
//
// Runs until it is killed; the sandbox does that at its end.
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "dm368_zt5_util.h"
#include "gsensor_motion.h"
#include "kv_common_util.h"
#include "kv_owners.hpp"
#include "standin.h"

namespace {

bool putToken(const std::string &node, const std::string &token) {
  std::string tmp = node + ".feed";
  kv::UniqueFile f(fopen(tmp.c_str(), "w"));
  if (!f) return false;
  fprintf(f.get(), "%s\n", token.c_str());
  f.reset();
  return rename(tmp.c_str(), node.c_str()) == 0;
}

// kv_server samples the same sensor: its history gets every sample too.
void feedServer(const kvsim::GSensorSample &sample) {
  int battery = get_internal_battery_level();
  kvsim::appendLine(kvsim::kGSensorFeed,
                    kvsim::serverItemLine(kv::tick_ms(), sample, battery < 0 ? 0 : battery));
}

// The sample of number n, braking from where the `brake` control was found.
class Motion {
 public:
  explicit Motion(const kvsim::Control &ctl) : ctl_(ctl) {}
  kvsim::GSensorSample sample(int n) {
    if (ctl_.has("brake")) {
      unlink(kvsim::simPath("/sim/ctl/gsensor_feeder/brake").c_str());
      brake_from_ = n;
      ctl_.log("brake sample=" + std::to_string(n) + " tick=" + std::to_string(kv::tick_ms()));
    }
    return kvsim::motionSample(n, brake_from_);
  }

 private:
  const kvsim::Control &ctl_;
  int brake_from_ = -1;
};

[[noreturn]] void feedPeriodically(const std::string &node, long period_ms, int n,
                                   const kvsim::Control &ctl) {
  Motion motion(ctl);
  int64_t deadline = kv::tick_ms();
  for (bool first = true;; first = false, ++n) {
    kvsim::GSensorSample sample = motion.sample(n);
    putToken(node, kvsim::sensorToken(sample));
    feedServer(sample);
    if (first) ctl.ready();
    deadline += period_ms;
    kv::sleep_until_tick(deadline);
  }
}

[[noreturn]] void feedSlowly(const std::string &node, long read_ms, const kvsim::Control &ctl) {
  signal(SIGPIPE, SIG_IGN);  // a reader gone meanwhile only loses that token
  unlink(node.c_str());
  if (mkfifo(node.c_str(), 0644) != 0) {
    perror("gsensor_feeder: mkfifo");
    exit(1);
  }
  ctl.ready();
  Motion motion(ctl);
  for (int n = 0;; ++n) {
    kv::UniqueFd fd(open(node.c_str(), O_WRONLY));  // waits for the next reader
    if (!fd) {
      kv::sleep_ms(5);
      continue;
    }
    kv::sleep_ms(read_ms);
    kvsim::GSensorSample sample = motion.sample(n);
    std::string token = kvsim::sensorToken(sample) + "\n";
    ssize_t done = write(fd.get(), token.data(), token.size());
    (void)done;
    fd.reset();
    feedServer(sample);
    // Let the reader see the end and close before the next open, or that open would
    // join the same reader and hold it up with the next token.
    kv::sleep_ms(30);
  }
}

}  // namespace

int main(int argc, char **argv) {
  kvsim::Control ctl("gsensor_feeder");
  std::string node = kvsim::simPath(KV_NODE_GSENSOR_DATA);
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(node).parent_path(), ec);
  std::filesystem::create_directories(
      std::filesystem::path(kvsim::simPath(kvsim::kGSensorFeed)).parent_path(), ec);

  if (argc > 2 && strcmp(argv[1], "--slow-read") == 0)
    feedSlowly(node, strtol(argv[2], nullptr, 10), ctl);
  long period_ms = argc > 1 ? strtol(argv[1], nullptr, 10) : 250;
  int first = argc > 2 ? atoi(argv[2]) : 0;
  feedPeriodically(node, period_ms > 0 ? period_ms : 250, first, ctl);
}
