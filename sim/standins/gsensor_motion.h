// SPDX-License-Identifier: MIT
// A generated motion for the sandbox's G-sensor: the token of sample n, as the sensor
// driver prints it ("z_x_y_s4_unused"). The fourth number carries n itself, so a test can
// tell from any record (the file copies it unchanged) which sample it came from and
// recompute the raw axes.
#pragma once

#include <math.h>
#include <stdio.h>

#include <string>

namespace kvsim {

// kv_server's G-sensor history in the sandbox (the kv_server stand-in answers from its last
// 50 lines), fed from the same samples as the sensor node.
inline constexpr const char *kGSensorFeed = "/sim/ctl/kv_server/gsensor_items";
// kv_server's items carry this in nReserved here, so a file shows which records came
// from kv_server (own samples carry 0).
inline constexpr int kServerItemMark = 1;

struct GSensorSample {
  int z, x, y, s4, unused;
};

// A car on a bumpy road: gravity on z with a slow swing, braking and cornering on x, y.
inline GSensorSample motionSample(int n) {
  const double pi = 3.14159265358979323846;
  GSensorSample s;
  s.z = 1000 + static_cast<int>(lround(180.0 * sin(2 * pi * n / 8.0)));
  s.x = static_cast<int>(lround(-310.0 * sin(2 * pi * n / 13.0)));
  s.y = static_cast<int>(lround(145.0 * cos(2 * pi * n / 7.0)));
  s.s4 = n;
  s.unused = 0;
  return s;
}

// A hard braking, as the sensor feels it: the car's deceleration pulls x down by these
// milli-g over eight samples (2 s at 250 ms), with a sharp onset and a softer release, and
// the nose dips (z up a little). Added to the road's own motion.
inline constexpr int kBrakeSamples = 8;
inline constexpr int kBrakeXMg[kBrakeSamples] = {-350, -800, -950, -900, -850, -600, -300, -100};
inline constexpr int kBrakeZMg[kBrakeSamples] = {60, 140, 160, 150, 140, 90, 40, 10};

// Sample n of the motion, braking hard since sample `brake_from` (none when negative).
inline GSensorSample motionSample(int n, int brake_from) {
  GSensorSample s = motionSample(n);
  int into = n - brake_from;
  if (brake_from >= 0 && into >= 0 && into < kBrakeSamples) {
    s.x += kBrakeXMg[into];
    s.z += kBrakeZMg[into];
  }
  return s;
}

inline std::string sensorToken(const GSensorSample &s) {
  char text[80];
  snprintf(text, sizeof text, "%d_%d_%d_%d_%d", s.z, s.x, s.y, s.s4, s.unused);
  return text;
}

// One line of kv_server's history: the item as the stand-in reads it
// ("llTick llTick2 nAxis1 nAxis2 nAxis3 nReserved nSensor4 nBattery").
inline std::string serverItemLine(long long tick, const GSensorSample &s, int battery_mv) {
  char text[160];
  snprintf(text, sizeof text, "%lld 0 %d %d %d %d %d %d", tick, s.x, s.y, s.z, kServerItemMark,
           s.s4, battery_mv);
  return text;
}

}  // namespace kvsim
