// gsensor_feeder: moves the sandbox's acceleration sensor.
//
//   gsensor_feeder [period_ms] [first_sample]
//
// Every period (default 250 ms, on absolute deadlines) it puts the next token of the
// generated motion (gsensor_motion.h) into the sensor node, whole (written beside it and
// renamed, as a driver never shows half a token), and appends the same sample with its
// monotonic tick and the battery level to kv_server's history, which the kv_server
// stand-in answers from: the two see one sensor, as on the board.
// Runs until it is killed; the sandbox does that at its end.
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "dm368_zt5_util.h"
#include "gsensor_motion.h"
#include "standin.h"

namespace {

long long nowMs() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

bool putToken(const std::string &node, const std::string &token) {
  std::string tmp = node + ".feed";
  FILE *f = fopen(tmp.c_str(), "w");
  if (!f) return false;
  fprintf(f, "%s\n", token.c_str());
  fclose(f);
  return rename(tmp.c_str(), node.c_str()) == 0;
}

}  // namespace

int main(int argc, char **argv) {
  long period_ms = argc > 1 ? strtol(argv[1], nullptr, 10) : 250;
  int n = argc > 2 ? atoi(argv[2]) : 0;
  if (period_ms <= 0) period_ms = 250;
  kvsim::Control ctl("gsensor_feeder");
  std::string node = kvsim::simPath(KV_NODE_GSENSOR_DATA);
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(node).parent_path(), ec);
  std::filesystem::create_directories(
      std::filesystem::path(kvsim::simPath(kvsim::kGSensorFeed)).parent_path(), ec);

  struct timespec deadline;
  clock_gettime(CLOCK_MONOTONIC, &deadline);
  for (bool first = true;; first = false, ++n) {
    kvsim::GSensorSample sample = kvsim::motionSample(n);
    putToken(node, kvsim::sensorToken(sample));
    int battery = get_internal_battery_level();
    kvsim::appendLine(kvsim::kGSensorFeed, kvsim::serverItemLine(nowMs(), sample, battery < 0 ? 0 : battery));
    if (first) ctl.ready();
    deadline.tv_nsec += period_ms * 1000000L;
    while (deadline.tv_nsec >= 1000000000L) {
      deadline.tv_nsec -= 1000000000L;
      deadline.tv_sec++;
    }
    clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr);
  }
}
