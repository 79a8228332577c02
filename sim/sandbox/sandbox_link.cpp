// SPDX-License-Identifier: MIT
#include "sandbox_link.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <sstream>

#include "standin.h"

namespace kvsim {

namespace {

int64_t nowUs() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

// The programs' tick for the same moment.
int64_t tickOfUs(int64_t us) { return us / 1000; }

constexpr int kIdlePollMs = 10;  // how soon the cable notices that it is to stop
constexpr size_t kReadChunk = 256;

}  // namespace

// ---- OnBoard ---------------------------------------------------------------------------

OnBoard::OnBoard(const Sandbox &board) {
  root_.set(board.root());
  path_.set(Sandbox::searchPath(board.root()));
}

// ---- SerialCable -----------------------------------------------------------------------

SerialCable::SerialCable(int end_a, int end_b) {
  ways_[0].from = ways_[1].to = end_a;
  ways_[0].to = ways_[1].from = end_b;
  for (int fd : {end_a, end_b}) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  thread_ = std::thread([this] { run(); });
}

SerialCable::~SerialCable() {
  stop_ = true;
  thread_.join();
}

void SerialCable::setFaults(Way way, const CableFaults &faults) {
  std::lock_guard<std::mutex> lock(mutex_);
  ways_[static_cast<int>(way)].faults = faults;
}

void SerialCable::pull() { pulled_ = true; }
void SerialCable::plug() { pulled_ = false; }

std::string SerialCable::delivered(Way way) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return ways_[static_cast<int>(way)].delivered;
}

std::vector<WireLine> SerialCable::lines(Way way) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return ways_[static_cast<int>(way)].lines;
}

uint64_t SerialCable::dropped(Way way) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return ways_[static_cast<int>(way)].lost;
}

// Bytes that reached the cable: each is lost, or put on its way with the moment it is
// due at the other end (after the one before it, one character time apart).
void SerialCable::take(Direction &d, int64_t now_us) {
  char buf[kReadChunk];
  ssize_t n = read(d.from, buf, sizeof buf);
  if (n <= 0) return;
  std::lock_guard<std::mutex> lock(mutex_);
  int64_t byte_us = d.faults.baud > 0 ? int64_t{10 * 1000000} / d.faults.baud : 0;
  for (ssize_t i = 0; i < n; ++i) {
    ++d.seen;
    if (pulled_ || (d.faults.drop_every > 0 && d.seen % d.faults.drop_every == 0)) {
      ++d.lost;
      continue;
    }
    int64_t due =
        std::max<int64_t>(now_us + int64_t{d.faults.delay_ms} * 1000, d.last_due_us + byte_us);
    d.last_due_us = due;
    d.on_the_way.push_back(Byte{buf[i], due});
  }
}

// Writes the bytes whose time has come; a full port keeps them for later.
void SerialCable::hand_over(Direction &d, int64_t now_us) {
  std::lock_guard<std::mutex> lock(mutex_);
  char buf[kReadChunk];
  size_t n = 0;
  while (n < d.on_the_way.size() && n < sizeof buf && d.on_the_way[n].due_us <= now_us) {
    buf[n] = d.on_the_way[n].value;
    ++n;
  }
  if (n == 0) return;
  ssize_t written = write(d.to, buf, n);
  if (written <= 0) return;
  int64_t tick = tickOfUs(now_us);
  for (ssize_t i = 0; i < written; ++i) {
    d.on_the_way.pop_front();
    char c = buf[i];
    d.delivered += c;
    if (c == '\n' && !d.piece.empty() && d.piece.back() == '\r') {
      d.piece.pop_back();
      if (!d.piece.empty()) d.lines.push_back(WireLine{d.piece, tick});
      d.piece.clear();
    } else {
      d.piece += c;
    }
  }
}

int64_t SerialCable::next_due_us() const {
  std::lock_guard<std::mutex> lock(mutex_);
  int64_t next = INT64_MAX;
  for (const Direction &d : ways_)
    if (!d.on_the_way.empty()) next = std::min(next, d.on_the_way.front().due_us);
  return next;
}

void SerialCable::run() {
  while (!stop_) {
    int64_t now = nowUs();
    int64_t next = next_due_us();
    int wait_ms = kIdlePollMs;
    if (next != INT64_MAX)
      wait_ms = static_cast<int>(std::clamp<int64_t>((next - now) / 1000, 0, kIdlePollMs));
    struct pollfd fds[2] = {{ways_[0].from, POLLIN, 0}, {ways_[1].from, POLLIN, 0}};
    poll(fds, 2, wait_ms);
    now = nowUs();
    for (int i = 0; i < 2; ++i) {
      if (fds[i].revents & POLLIN) take(ways_[i], now);
      hand_over(ways_[i], now);
    }
  }
}

// ---- RecorderUnit ----------------------------------------------------------------------

RecorderUnit::RecorderUnit(int role_, const Prepare &prepare, std::string_view board_name)
    : board(board_name), role(role_) {
  OnBoard here(board);
  SysInfo rec = defaultSettings();
  rec.kv_config.front_rear_type = static_cast<uint8_t>(role);
  if (prepare) prepare(rec.kv_config, role);
  saveSettingsStore(rec);
  board.installTool("sync");
  board.mkdir("/mnt/mmc/Recordings");
  gps = board.openPty("/dev/ttyS0");
  fcntl(gps, F_SETFL, fcntl(gps, F_GETFL) | O_NONBLOCK);
  link = board.openPty("/dev/ttyS1");
  board.startServer("file_manager");
  kv_server = board.startServer("kv_server");
  live = std::make_unique<LiveSettings>();
}

RecorderUnit::~RecorderUnit() {
  if (navlink > 0) board.kill(navlink);
}

bool RecorderUnit::startNavlink() {
  navlink = board.start({"kv_navlink"});
  return Sandbox::waitUntil([&] { return cfg().gps_proc_alive == 1 || !board.running(navlink); },
                            10000ms) &&
         board.running(navlink);
}

std::vector<RecorderUnit::BusEvent> RecorderUnit::busEvents() const {
  std::vector<BusEvent> events;
  for (const auto &line : board.serverLog("kv_server")) {
    if (line.rfind("id=", 0) != 0) continue;
    auto words = keyedWords(line);
    BusEvent e;
    e.id = atoi(words["id"].c_str());
    e.src = atoi(words["src"].c_str());
    e.length = atoi(words["length"].c_str());
    e.payload = words["payload"];
    events.push_back(e);
  }
  return events;
}

}  // namespace kvsim
