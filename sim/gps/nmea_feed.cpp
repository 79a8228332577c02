// SPDX-License-Identifier: MIT
#include "nmea_feed.h"

#include <ctype.h>
#include <errno.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <thread>

namespace kvsim {

struct NmeaFeeder::Noise {
  explicit Noise(unsigned seed) : rng(seed) {}
  int below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); }
  // Printable bytes and a few others a noisy line delivers; never CR, LF or NUL.
  std::string junk(int n) {
    std::string s;
    for (int i = 0; i < n; ++i) {
      char c = static_cast<char>(below(2) ? 32 + below(95) : 1 + below(255));
      // No '*': without one no line passes a checksum, so junk is dropped by construction.
      s += (c == '\r' || c == '\n' || c == '\0' || c == '*') ? '#' : c;
    }
    return s;
  }
  std::mt19937 rng;
};

namespace {

std::string withTalker(const std::string &line, const char *talker) {
  size_t star = line.find('*');
  std::string body = line.substr(1, star == std::string::npos ? std::string::npos : star - 1);
  return withChecksum(std::string(talker) + body.substr(2));
}

// The verdict the daemon's intake must reach on a line, by how the line was made: the
// capture's sentences are a receiver's own "$GP" sentences with their checksums (the
// generator's, or a recording's), and each kind of noise was made so that the rules take
// it or drop it whatever the seed. Written out here, not computed by a copy of the rules,
// so that a replay checks the daemon against an independent expectation.
bool verdictOf(const std::string &kind) {
  static const std::pair<const char *, bool> kVerdicts[] = {
      {"capture", true},       {"lower-case", true},     // either case of hex digits is taken
      {"garbage", false},      {"bad-checksum", false},  // no '*', or the last digit changed
      {"other-talker", false},                           // $GN, $GL: only "$GP" is recorded
      {"merged", false},                                 // the two checksums differ
      {"overlong", false},                               // past the 1023 characters of a line
      {"nul", false},                                    // the intake sees "$GP" alone
  };
  for (const auto &[name, accepted] : kVerdicts)
    if (kind == name) return accepted;
  return false;
}

std::string badChecksum(std::string line) {
  char &c = line.back();
  c = c == '0' ? '1' : '0';
  return line;
}

std::string lowerCaseChecksum(std::string line) {
  size_t star = line.rfind('*');
  for (size_t i = star + 1; i < line.size(); ++i)
    line[i] = static_cast<char>(tolower(static_cast<unsigned char>(line[i])));
  return line;
}

}  // namespace

void NmeaFeeder::sendBytes(std::string_view bytes) const {
  while (!bytes.empty()) {
    ssize_t n = write(fd_, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) {
      if (stop_ && stop_->load()) return;
      struct pollfd p = {fd_, POLLOUT, 0};
      poll(&p, 1, 100);
      continue;
    }
    if (n <= 0) return;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
}

void NmeaFeeder::sendLine(std::string_view line) const {
  std::string bytes(line);
  bytes += "\r\n";
  sendBytes(bytes);
}

void NmeaFeeder::record(std::string text, const std::string &kind, bool ends_line) {
  if (!ends_line) {
    pending_ += text;
    return;
  }
  SentLine line;
  line.kind = pending_.empty() ? kind : "merged";
  line.text = pending_ + text;
  pending_.clear();
  line.accepted = verdictOf(line.kind);
  ledger_.push_back(std::move(line));
}

void NmeaFeeder::sendNoise(Noise &noise, const std::string &next) {
  switch (noise.below(7)) {
    case 0: {  // line noise, sometimes with a talker's prefix but no checksum
      std::string text = (noise.below(2) ? "$GP" : "") + noise.junk(3 + noise.below(60));
      record(text, "garbage", true);
      sendLine(text);
      break;
    }
    case 1:
      record(badChecksum(next), "bad-checksum", true);
      sendLine(badChecksum(next));
      break;
    case 2: {
      std::string text = withTalker(next, noise.below(2) ? "GN" : "GL");
      record(text, "other-talker", true);
      sendLine(text);
      break;
    }
    case 3:
      record(lowerCaseChecksum(next), "lower-case", true);
      sendLine(lowerCaseChecksum(next));
      break;
    case 4: {  // a sentence whose CR LF was lost: it runs into the next line
      // The joined line is summed up to the first '*' (this sentence's body) and checked
      // against the next one's digits: they must differ, or the join would pass.
      std::string text = withChecksum("GPTXT,01,01,02,ANTENNA OPEN");
      if (text.substr(text.size() - 2) == next.substr(next.size() - 2))
        text = withChecksum("GPTXT,01,01,02,ANTENNA OK");
      record(text, "merged", false);
      sendBytes(text);
      break;
    }
    case 5: {  // a receiver talking at another baud rate: no CR LF for a long time
      std::string text = noise.junk(1024 + noise.below(1500));
      record(text, "overlong", true);
      sendLine(text);
      break;
    }
    default: {
      std::string text = next;
      text.insert(3, 1, '\0');
      record(text, "nul", true);
      sendLine(text);
      break;
    }
  }
}

void NmeaFeeder::sendCut(std::string bytes, const FeedOptions &o, std::mt19937 &rng) {
  std::vector<size_t> cuts;
  int pieces = 2 + static_cast<int>(rng() % 2);
  for (int i = 1; i < pieces; ++i) cuts.push_back(1 + rng() % (bytes.size() - 1));
  std::sort(cuts.begin(), cuts.end());
  size_t from = 0;
  for (size_t cut : cuts) {
    sendBytes(std::string_view(bytes).substr(from, cut - from));
    from = cut;
    std::this_thread::sleep_for(std::chrono::milliseconds(o.cut_pause_ms));
  }
  sendBytes(std::string_view(bytes).substr(from));
}

void NmeaFeeder::play(const std::vector<Sentence> &sentences, const FeedOptions &o,
                      const std::atomic<bool> *stop) {
  stop_ = stop;
  Noise noise(o.noise_seed);
  std::mt19937 cut_rng(o.cut_seed);
  auto start = std::chrono::steady_clock::now();
  for (const Sentence &s : sentences) {
    if (stop && stop->load()) return;
    if (o.speed > 0) {
      auto due = start + std::chrono::microseconds(static_cast<int64_t>(s.at_ms * 1000 / o.speed));
      std::this_thread::sleep_until(due);
    }
    if (o.noise_seed != 0 && noise.below(o.noise_every) == 0) sendNoise(noise, s.text);
    record(s.text, "capture", true);
    if (o.cut)
      sendCut(s.text + "\r\n", o, cut_rng);
    else
      sendLine(s.text);
  }
}

std::vector<std::string> acceptedLines(const std::vector<SentLine> &ledger) {
  std::vector<std::string> out;
  for (const SentLine &l : ledger)
    if (l.accepted) out.push_back(l.text);
  return out;
}

}  // namespace kvsim
