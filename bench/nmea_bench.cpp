// SPDX-License-Identifier: MIT
// nmea_bench: the GPS reader's work per sentence, intake and track write, while a track is
// open. Meant to run under callgrind (bench/nmea_bench.sh), which counts the instructions
// of ReplayCapture and of everything it calls.
//
//   nmea_bench --write-capture FILE   writes the 2,000-sentence capture it replays (for
//                                     gpsdecode to decode the same lines)
//   nmea_bench FILE                   replays FILE's sentences once, a track open in a
//                                     temporary folder, and prints the accepted count
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "gps_track.h"
#include "kv_sysinfo_util.h"
#include "nmea_drive.h"
#include "nmea_intake.h"

using namespace navlink;  // the daemon's own types under test

namespace {

constexpr size_t kSentences = 2000;
int64_t g_tick = 1'000'000;

int64_t tick() { return g_tick; }
bool readerRuns() { return true; }
void fatal(const char *printed, const char *logged) {
  fprintf(stderr, "nmea_bench: %s %s", printed ? printed : "", logged);
  exit(1);
}

// The replay being measured: one sentence at a time, as the GPS reader hands them over.
__attribute__((noinline)) int ReplayCapture(GpsState &gps, SysInfo *info,
                                            const std::vector<std::string> &lines) {
  int accepted = 0;
  for (const std::string &line : lines) {
    g_tick += 143;  // seven sentences a second
    IntakeEffects fx;
    NmeaIntake(gps, info, line.c_str(), g_tick, fx);
    if (fx.set_clock) ClearSyncTime(info);
    if (fx.accepted && ProcessGpsData(line.c_str()) == 1) ++accepted;
  }
  return accepted;
}

std::vector<kvsim::Sentence> drive() {
  kvsim::DriveOptions o;
  o.seconds = 300;
  o.no_fix = {{200, 210}};
  auto all = kvsim::generateDrive(o);
  all.resize(kSentences);
  return all;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc == 3 && strcmp(argv[1], "--write-capture") == 0) {
    FILE *out = fopen(argv[2], "w");
    if (!out) return 1;
    fputs(kvsim::captureText(drive(),
                             "nmea_bench --write-capture: the first 2000 sentences of "
                             "nmea_drive --rate 1 --seconds 300 --no-fix 200-210")
              .c_str(),
          out);
    return fclose(out) == 0 ? 0 : 1;
  }
  if (argc != 2) {
    fprintf(stderr, "usage: nmea_bench --write-capture FILE | nmea_bench FILE\n");
    return 2;
  }
  std::vector<std::string> lines;
  for (const auto &s : kvsim::readCapture(argv[1])) lines.push_back(s.text);

  auto info = std::make_unique<SysInfo>();
  memset(info.get(), 0, sizeof *info);
  KV_Config_Data &c = info->kv_config;
  c.front_rear_type = 1;
  c.gps_speed_display = 1;
  c.gps_sync_time = 1;
  c.gps_timezone = 900;
  c.gps_cable_connected = 1;
  GpsState gps;
  GpsStateInit(gps, GpsProbes{nullptr, nullptr});

  char folder[] = "/tmp/nmea_bench.XXXXXX";
  if (!mkdtemp(folder)) return 1;
  std::string stem = std::string(folder) + "/track";
  TrackSetUp(TrackHooks{tick, readerRuns, &gps.bFirstTimeSynced, fatal}, nullptr);
  if (TrackCreateLock() != 0) return 1;
  StartGpsFileWrite(stem.c_str(), 0, 0, 2147483647);
  int accepted = ReplayCapture(gps, info.get(), lines);
  CloseGpsFd();
  TrackDestroyLock();
  std::error_code ec;
  std::filesystem::remove_all(folder, ec);
  printf("%d of %zu sentences accepted\n", accepted, lines.size());
  return accepted > 0 ? 0 : 1;
}
