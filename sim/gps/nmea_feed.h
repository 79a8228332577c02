// SPDX-License-Identifier: MIT
// The simulated GPS receiver's side of the port: plays a capture into a pseudo-terminal
// with the capture's own timing (or faster), can cut every line across reads at random
// byte positions, and can mix in what real ports deliver besides good sentences: line
// noise, bad checksums, other talkers ($GNRMC, $GLGSV), sentences that lost their CR LF
// and overlong lines. It keeps a ledger of every line the receiving end will cut out of
// the stream, with the verdict the daemon's intake must reach on it, known from how the
// line was made (a capture's sentences are taken, each kind of noise is made to be taken
// or dropped).
//
//   kvsim::Sandbox board;
//   int gps = board.openPty("/dev/ttyS0");
//   kvsim::NmeaFeeder feeder(gps);
//   kvsim::FeedOptions o;
//   o.speed = 4;              // four times the capture's pace
//   o.noise_seed = 7;         // noise between the lines, the same for the same seed
//   o.cut = true;             // every line in 2 or 3 writes, 60 ms apart
//   feeder.play(kvsim::readCapture(path), o);
//   auto expected = kvsim::acceptedLines(feeder.ledger());
//
// The program nmea_feeder (nmea_feeder.cpp) does the same on its own pseudo-terminal (see its
// usage).
#pragma once

#include <stdint.h>

#include <atomic>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "nmea_drive.h"

namespace kvsim {

struct FeedOptions {
  double speed = 1.0;       // times the capture's pace; 0: no pause between fixes
  unsigned noise_seed = 0;  // 0: no noise
  int noise_every = 4;      // on average one noise item before every this many lines
  bool cut = false;         // lines written in pieces, cut at random byte positions
  int cut_pause_ms = 60;    // between the pieces: more than one pass of the reader
  unsigned cut_seed = 1;
};

// A line the receiving end will see between two CR LFs, and whether the intake takes it.
struct SentLine {
  std::string text;
  bool accepted = false;
  std::string kind;  // "capture", "garbage", "bad-checksum", "other-talker", "lower-case",
                     // "merged" (a line that lost its CR LF, with the next), "overlong", "nul"
};

class NmeaFeeder {
 public:
  explicit NmeaFeeder(int fd) : fd_(fd) {}

  // Plays `sentences`; returns early when `stop` becomes true.
  void play(const std::vector<Sentence> &sentences, const FeedOptions &options,
            const std::atomic<bool> *stop = nullptr);
  // Writes one line and its CR LF at once (no ledger entry).
  void sendLine(std::string_view line) const;
  // Writes raw bytes, whole (a full port waits, until play's `stop` is set).
  void sendBytes(std::string_view bytes) const;

  const std::vector<SentLine> &ledger() const { return ledger_; }

 private:
  struct Noise;
  void sendNoise(Noise &noise, const std::string &next);
  void sendCut(std::string bytes, const FeedOptions &options, std::mt19937 &rng);
  void record(std::string text, const std::string &kind, bool ends_line);

  int fd_;
  const std::atomic<bool> *stop_ = nullptr;  // a full port is given up on once it is set
  std::vector<SentLine> ledger_;
  std::string pending_;  // text sent without CR LF, which the next line continues
  bool pending_overlong_ = false;
};

// The texts of the accepted lines of a ledger, in order.
std::vector<std::string> acceptedLines(const std::vector<SentLine> &ledger);

}  // namespace kvsim
