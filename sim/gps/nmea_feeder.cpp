// SPDX-License-Identifier: MIT
// nmea_feeder: the GPS receiver of a simulated board.
//
//   nmea_feeder [--port /dev/ttyS0] [--speed X] [--noise SEED] [--cut] [--repeat N]
//               [--ledger FILE] CAPTURE
//
// Makes a pseudo-terminal, links the board port (below KV_SYSROOT) to it, says it is
// ready (sim/run/nmea_feeder.ready, so Sandbox::startServer("nmea_feeder", {...}) returns
// once the port exists) and plays the capture into it: with the capture's own timing, or
// X times faster (--speed 0: no pauses), with noise mixed in (--noise), with every line
// cut across writes (--cut), the whole capture N times (--repeat; 0: until stopped).
// --ledger writes one line per line the receiving end sees: "accepted <kind> <text>" or
// "dropped <kind> <text>". After the capture it keeps the port open until SIGTERM or
// SIGINT, so the reader does not see a hang-up. Status 2 on a bad argument, 1 when the
// capture or the port cannot be had.
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>

#include "board_root.h"
#include "nmea_feed.h"
#include "standin.h"

namespace {

std::atomic<bool> g_stop{false};
void onStop(int) { g_stop = true; }

struct Arguments {
  std::string port = "/dev/ttyS0";
  std::string capture, ledger;
  kvsim::FeedOptions feed;
  int repeat = 1;
};

bool parse(int argc, char **argv, Arguments &a) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--cut") {
      a.feed.cut = true;
      continue;
    }
    if (arg.rfind("--", 0) != 0) {
      a.capture = arg;
      continue;
    }
    if (i + 1 >= argc) return false;
    const char *value = argv[++i];
    if (arg == "--port")
      a.port = value;
    else if (arg == "--speed")
      a.feed.speed = atof(value);
    else if (arg == "--noise")
      a.feed.noise_seed = static_cast<unsigned>(strtoul(value, nullptr, 10));
    else if (arg == "--repeat")
      a.repeat = atoi(value);
    else if (arg == "--ledger")
      a.ledger = value;
    else
      return false;
  }
  return !a.capture.empty();
}

// The receiver's end of a new pseudo-terminal, with the board port linked to its other
// end; -1 on failure.
int openPort(const std::string &board_port) {
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return -1;
  const char *name = ptsname(master);
  if (!name) return -1;
  // Held open so that the terminal does not hang up between the reader's opens.
  int held = open(name, O_RDWR | O_NOCTTY);
  if (held < 0) return -1;
  struct termios raw;
  tcgetattr(held, &raw);
  cfmakeraw(&raw);
  tcsetattr(held, TCSANOW, &raw);
  std::filesystem::path link = kv::rooted(board_port);
  std::error_code ec;
  std::filesystem::create_directories(link.parent_path(), ec);
  std::filesystem::remove(link, ec);
  std::filesystem::create_symlink(name, link, ec);
  return ec ? -1 : master;
}

void writeLedger(const std::string &file, const std::vector<kvsim::SentLine> &ledger) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  for (const auto &l : ledger)
    out << (l.accepted ? "accepted " : "dropped ") << l.kind << ' ' << l.text << '\n';
}

}  // namespace

int main(int argc, char **argv) {
  Arguments a;
  if (!parse(argc, argv, a)) {
    fprintf(stderr,
            "usage: nmea_feeder [--port P] [--speed X] [--noise SEED] [--cut]"
            " [--repeat N] [--ledger FILE] CAPTURE\n");
    return 2;
  }
  signal(SIGTERM, onStop);
  signal(SIGINT, onStop);
  auto sentences = kvsim::readCapture(a.capture);
  if (sentences.empty()) {
    fprintf(stderr, "nmea_feeder: no sentences in %s\n", a.capture.c_str());
    return 1;
  }
  int fd = openPort(a.port);
  if (fd < 0) {
    perror("nmea_feeder: port");
    return 1;
  }
  kvsim::Control("nmea_feeder").ready();
  kvsim::NmeaFeeder feeder(fd);
  for (int i = 0; (a.repeat == 0 || i < a.repeat) && !g_stop; ++i)
    feeder.play(sentences, a.feed, &g_stop);
  if (!a.ledger.empty()) writeLedger(a.ledger, feeder.ledger());
  while (!g_stop) pause();
  return 0;
}
