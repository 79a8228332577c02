// SPDX-License-Identifier: MIT
// card_wear_bench: what a recording costs the SD card. A front unit records for 30 s on
// the sandbox's FUSE card (sim/standins/card_fs.cpp), with a 5 Hz receiver on its GPS port
// and the G-sensor moving; the card counts every write, whole 512-byte write, byte and
// sync per file. Reported per file and per minute of recording: syncs (goal: at most 60,
// one a second), bytes written, writes, and the bytes the file grew by, the baseline that
// the bytes written are a multiple of (the block being filled is written again at each
// sync). Without root or /dev/fuse there is no card to count on: it says so and ends
// with status 0.
#include <stdio.h>
#include <time.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "kv_common_util.h"
#include "kv_server_record.h"
#include "nmea_feed.h"
#include "sandbox_card.h"
#include "sandbox_link.h"
#include "standin.h"

namespace {

using namespace std::chrono_literals;

constexpr auto kRecording = 30s;
constexpr double kGoalSyncsPerMinute = 60;

using kvsim::wordOf;

// The recording's stem below the card ("/Recordings/..."), from kv_server's log.
std::string stemOnCard(kvsim::Sandbox &board) {
  for (const auto &line : board.serverLog("kv_server"))
    if (line.rfind("record start ", 0) == 0) {
      std::string stem = wordOf(line, "stem").substr(board.root().size());
      return stem.substr(std::string("/mnt/mmc").size());
    }
  return "";
}

// True when every file kept to the goal.
bool report(kvsim::Card &card, kvsim::Sandbox &board, const std::string &stem, double minutes) {
  auto stats = card.stats();
  bool ok = true;
  for (const char *ext : {".gps", ".gsf"}) {
    const kvsim::Card::FileStats &s = stats[stem + ext];
    // The close's own sync comes on top of the recording's, one a second at most.
    const long long while_recording = s.syncs > 0 ? s.syncs - 1 : 0;
    double syncs = static_cast<double>(while_recording) / minutes;
    long long grown = static_cast<long long>(board.read("/mnt/mmc" + stem + ext).size());
    printf(
        "card wear %s: %.1f syncs/min and the close's (goal <= %.0f), %.0f bytes written/min for "
        "%.0f bytes of "
        "data/min (x%.2f), %.0f writes/min, %lld of %lld whole 512-byte blocks\n",
        ext, syncs, kGoalSyncsPerMinute, static_cast<double>(s.bytes) / minutes,
        static_cast<double>(grown) / minutes,
        grown > 0 ? static_cast<double>(s.bytes) / static_cast<double>(grown) : 0.0,
        static_cast<double>(s.writes) / minutes, s.whole, s.writes);
    if (static_cast<double>(while_recording) > kGoalSyncsPerMinute * minutes + 1) ok = false;
  }
  return ok;
}

}  // namespace

int main() {
  std::string why = kvsim::Card::unavailable();
  if (!why.empty()) {
    printf("card wear: skipped: %s\n", why.c_str());
    return 0;
  }
  kvsim::RecorderUnit unit{DEVICE_2CH_FRONT, nullptr};
  unit.board.startServer("gsensor_feeder");
  kvsim::Card card{unit.board};
  if (!card.mounted() || !unit.startNavlink()) {
    fprintf(stderr, "card wear: the card or kv_navlink did not come up\n");
    return 1;
  }
  kvsim::DriveOptions drive_options;
  drive_options.rate_hz = 5;
  drive_options.seconds = 60;
  std::vector<kvsim::Sentence> drive = kvsim::generateDrive(drive_options);
  std::atomic<bool> stop{false};
  std::thread feeder([&] { kvsim::NmeaFeeder(unit.gps).play(drive, {.speed = 1.0}, &stop); });

  std::this_thread::sleep_for(2s);
  int64_t began = kv::tick_ms();
  bool sent = kvsim::sendRecordRequests(unit.board, "start kind=always pre=0 length=60000\n");
  std::this_thread::sleep_for(kRecording);
  sent = kvsim::sendRecordRequests(unit.board, "stop\n") && sent;
  double minutes = static_cast<double>(kv::tick_ms() - began) / 60000.0;
  stop = true;
  feeder.join();
  if (!sent) {
    fprintf(stderr, "card wear: kv_server did not take the recording's requests\n");
    return 1;
  }
  return report(card, unit.board, stemOnCard(unit.board), minutes) ? 0 : 1;
}
