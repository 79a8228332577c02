// SPDX-License-Identifier: MIT
// The GPS track writer on its own, with a tick the test moves: the file's lines, the
// pre-event ring, the duration, the 512-byte writes, and every failure of the card (made
// at the writer's system calls). The stand-in "sync" of a sandbox records the syncs.
// ctest-labels: threaded (the GPS reader and the message thread share the track)
// test-links: kvnavlink
#include "gps_track.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "gps_track_reader.h"
#include "nmea_drive.h"
#include "sandbox.h"

namespace {

using namespace std::chrono_literals;
using kvsim::Sandbox;
using namespace navlink;  // the daemon's own types under test

std::string sentence(int n) { return kvsim::withChecksum("GPGGA,SENTENCE," + std::to_string(n)); }

// Each case has a fresh writer, its own tick, reader flag and card. The writer's hooks are
// plain functions: they reach the running case through `self`.
class Track : public testing::Test {
 protected:
  struct Fatal {
    std::string printed, logged;
  };

  void SetUp() override {
    self = this;
    board.installTool("sync");
    board.mkdir("/mnt/mmc/Recordings");
    w = std::make_unique<TrackWriter>(TrackHooks{now, readerRuns, &synced, recordFatal}, &kCard);
    ASSERT_EQ(w->createLock(), 0);
  }
  void TearDown() override {
    fail_sync = fail_close = 0;
    w.reset();
    self = nullptr;
  }

  // The hooks and the card, as the writer's calls see them.
  static int64_t now() { return self->clock.load(); }
  static bool readerRuns() { return self->reader_runs.load(); }
  static void recordFatal(const char *printed, const char *logged) {
    self->fatal.push_back({printed ? printed : "", logged});
  }
  static int openReal(const char *path, int flags, mode_t mode) { return open(path, flags, mode); }
  static ssize_t pwriteCard(int fd, const void *buf, size_t n, off_t at) {
    {
      std::lock_guard<std::mutex> held(self->card_mutex);
      self->write_sizes.push_back(n);
    }
    if (self->fail_write) {
      errno = ENOSPC;
      return -1;
    }
    return pwrite(fd, buf, n, at);
  }
  static int syncCard(int fd) {
    ++self->syncs_seen;
    if (self->fail_sync) {
      errno = EIO;
      return -1;
    }
    return fdatasync(fd);
  }
  static int closeCard(int fd) {
    close(fd);
    if (self->fail_close) {
      errno = EIO;
      return -1;
    }
    return 0;
  }
  static constexpr TrackFileOps kCard = {openReal, pwriteCard, syncCard, closeCard};
  std::vector<size_t> writeSizes() {
    std::lock_guard<std::mutex> held(card_mutex);
    return write_sizes;
  }

  void at(int64_t ms, const std::string &s) {
    clock = start_ + ms;
    EXPECT_EQ(w->process(s.c_str()), 1) << s;
  }
  void start(int64_t start_tick = 0, int32_t duration = 60000) {
    start_ = clock.load();
    w->start(stem.c_str(), start_tick, duration);
  }
  std::string file() const { return board.read("/mnt/mmc/Recordings/X.gps"); }
  int syncs() const {
    Sandbox::waitUntil([&] { return !board.commandsOf("sync").empty(); }, 2000ms);
    return static_cast<int>(board.commandsOf("sync").size());
  }

  static inline Track *self = nullptr;
  std::atomic<int64_t> clock{10'000'000};
  std::atomic<bool> reader_runs{true};
  std::atomic<int> synced{1};
  std::vector<Fatal> fatal;
  std::mutex card_mutex;
  std::vector<size_t> write_sizes;  // from the writer's syncing thread too
  std::atomic<int> fail_write{0}, fail_sync{0}, fail_close{0}, syncs_seen{0};
  std::unique_ptr<TrackWriter> w;

  Sandbox board;
  std::string stem = board.path("/mnt/mmc/Recordings/X");
  int64_t start_ = 0;
};

TEST_F(Track, a_track_holds_the_header_and_each_sentence_with_its_offset) {
  time_t wall = time(nullptr);
  start();
  EXPECT_EQ(synced.load(), 0) << "a start makes the next fix set the clock";
  EXPECT_TRUE(w->isOpen());
  at(120, "$GPA*41");
  at(1120, "$GPB*42");
  synced = 1;
  w->stop();
  EXPECT_EQ(synced.load(), 0) << "so does a close";
  EXPECT_EQ(syncs(), 1);
  auto track = gpstrack::parse(file());
  ASSERT_EQ(track.lines.size(), 2u) << file();
  EXPECT_EQ(track.name, "X.gps");
  EXPECT_LE(std::abs(gpstrack::secondsFrom(track.date_time, wall)), 2.0) << track.date_time;
  EXPECT_EQ(file().substr(15), "X.gps\n120:$GPA*41\n1120:$GPB*42\n");
  EXPECT_TRUE(fatal.empty());
}

TEST_F(Track, a_start_10_s_in_the_past_begins_with_the_ring_since_then) {
  // 100 sentences over the last 30 s.
  std::vector<std::string> sent;
  for (int i = 0; i < 100; ++i) {
    clock += 300;
    sent.push_back(sentence(i));
    w->process(sent.back().c_str());
  }
  time_t wall = time(nullptr);
  int64_t begin = clock.load() - 10000;
  start(begin);
  clock += 50;
  std::string live = sentence(1000);
  w->process(live.c_str());
  w->stop();
  auto track = gpstrack::parse(file());
  EXPECT_LE(std::abs(gpstrack::secondsFrom(track.date_time, wall - 10)), 2.0) << track.date_time;
  // The entries from the start tick on (+100, +400 ... +10000), then the live line.
  ASSERT_EQ(track.lines.size(), 35u) << file();
  for (size_t k = 0; k + 1 < track.lines.size(); ++k) {
    EXPECT_EQ(track.lines[k].offset, 100 + static_cast<int64_t>(k) * 300) << k;
    EXPECT_EQ(track.lines[k].sentence, sent[66 + k]) << k;
  }
  EXPECT_EQ(track.lines.back().offset, 10050);
  EXPECT_EQ(track.lines.back().sentence, live);
}

TEST_F(Track, a_full_ring_is_written_oldest_first) {
  for (int i = 0; i < 300; ++i) {
    clock += 100;
    w->process(sentence(i).c_str());
  }
  EXPECT_EQ(w->ringSize(), kGpsRingEntries);
  start(clock.load() - 100'000);
  clock += 100;
  w->process(sentence(300).c_str());
  w->close();
  auto track = gpstrack::parse(file());
  ASSERT_EQ(track.lines.size(), 241u);
  for (int k = 0; k <= 240; ++k) EXPECT_EQ(track.lines[k].sentence, sentence(60 + k)) << k;
}

TEST_F(Track, the_first_sentence_after_the_duration_closes_the_track_and_is_dropped) {
  start(0, 60000);
  at(60000, sentence(1));
  EXPECT_TRUE(w->isOpen());
  clock = start_ + 60001;
  std::string late = sentence(2);
  EXPECT_EQ(w->process(late.c_str()), -1);
  EXPECT_FALSE(w->isOpen());
  EXPECT_EQ(syncs(), 1);
  char path[kGpsPathSize];
  EXPECT_STREQ(w->currentFile(path), "");
  at(60002, sentence(3));  // only the ring
  auto track = gpstrack::parse(file());
  ASSERT_EQ(track.lines.size(), 1u);
  EXPECT_EQ(track.lines[0].offset, 60000);
  // The ring did not keep the late sentence: a track from before it shows only the next.
  start(start_ + 60001 - 1);
  clock += 10;
  w->process(sentence(4).c_str());
  w->close();
  std::string second = file().substr(file().rfind("X.gps\n") + 6);
  EXPECT_EQ(second.find(late), std::string::npos) << second;
  EXPECT_NE(second.find(sentence(3)), std::string::npos) << second;
}

TEST_F(Track, a_second_start_closes_the_first_track_and_appends_a_new_header) {
  start();
  at(10, sentence(1));
  start();
  EXPECT_EQ(syncs(), 1);
  at(20, sentence(2));
  w->close();
  std::string text = file();
  EXPECT_EQ(text.find("X.gps\n10:" + sentence(1) + "\n"), 15u) << text;
  size_t second = text.find("X.gps\n", 20);
  ASSERT_NE(second, std::string::npos);
  EXPECT_EQ(text.substr(second), "X.gps\n20:" + sentence(2) + "\n");
}

TEST_F(Track, starts_without_a_stem_a_reader_or_a_lock_make_no_file) {
  w->start("", 0, 60000);
  w->start(nullptr, 0, 60000);
  reader_runs = false;
  start();
  reader_runs = true;
  w->destroyLock();
  start();
  EXPECT_FALSE(w->isOpen());
  EXPECT_FALSE(board.exists("/mnt/mmc/Recordings/X.gps"));
  at(10, sentence(1));  // the ring still takes sentences without the lock
  EXPECT_TRUE(fatal.empty());
  ASSERT_EQ(w->createLock(), 0);
}

TEST_F(Track, a_stop_without_a_track_only_syncs) {
  w->stop();
  EXPECT_EQ(syncs(), 1);
  EXPECT_EQ(w->close(), 0);
  EXPECT_TRUE(fatal.empty());
}

TEST_F(Track, the_card_sees_whole_512_byte_writes_and_the_rest_at_the_close) {
  start();
  for (int i = 0; i < 100; ++i) at(10 * i, sentence(i));
  w->close();
  auto sizes = writeSizes();
  ASSERT_GT(sizes.size(), 3u);
  for (size_t k = 0; k + 1 < sizes.size(); ++k) EXPECT_EQ(sizes[k], 512u) << k;
  EXPECT_LT(sizes.back(), 512u);
  EXPECT_EQ(file().size(), 512 * (sizes.size() - 1) + sizes.back());
}

// A port that goes quiet: the lines already taken reach the card, synced, within a
// second, with no sentence and no close to push them out.
TEST_F(Track, lines_reach_the_card_synced_within_a_second_when_the_port_goes_quiet) {
  start();
  at(10, sentence(1));
  ASSERT_TRUE(Sandbox::waitUntil([&] { return syncs_seen.load() > 0; }, 1500ms));
  EXPECT_EQ(file().substr(15), "X.gps\n10:" + sentence(1) + "\n");
  EXPECT_TRUE(w->isOpen());
  // Nothing new: no further sync wears the card.
  std::this_thread::sleep_for(1200ms);
  EXPECT_EQ(syncs_seen.load(), 1);
}

// A card that fails at the close loses the track's end, not the daemon: the GPS clock and
// the serial link go on, and the next track is written.
TEST_F(Track, card_failures_at_the_close_end_nothing_and_the_next_track_is_written) {
  for (std::atomic<int> *fail : {&fail_sync, &fail_close}) {
    start();
    at(5, sentence(1));
    *fail = 1;
    EXPECT_EQ(w->close(), -1);
    *fail = 0;
    EXPECT_TRUE(fatal.empty());
    EXPECT_FALSE(w->isOpen());
  }
  start();
  at(5, sentence(2));
  EXPECT_EQ(w->close(), 0);
  EXPECT_NE(file().find("5:" + sentence(2) + "\n"), std::string::npos) << file();
}

// A card that is out or read-only refuses the file: no track, the daemon goes on, and the
// next track is written once the card takes files again.
TEST_F(Track, a_track_that_cannot_be_opened_ends_nothing_and_the_next_is_written) {
  fatal.clear();
  stem = board.path("/mnt/mmc/NoSuchFolder/X");
  start();
  EXPECT_TRUE(fatal.empty());
  EXPECT_FALSE(w->isOpen());
  char path[kGpsPathSize];
  EXPECT_STREQ(w->currentFile(path), "") << "a stop with the deletion mark deletes nothing";
  EXPECT_EQ(w->process(sentence(1).c_str()), 1);
  stem = board.path("/mnt/mmc/Recordings/X");
  start();
  at(5, sentence(2));
  EXPECT_EQ(w->close(), 0);
  EXPECT_EQ(file().substr(15), "X.gps\n5:" + sentence(2) + "\n");
}

// A quiet port: the track ends when its duration runs out, not at the next sentence.
TEST_F(Track, the_duration_ends_the_track_without_a_sentence) {
  start(0, 1000);
  at(500, sentence(1));
  clock = start_ + 1000;
  EXPECT_EQ(w->expire(), 0);
  EXPECT_TRUE(w->isOpen());
  clock = start_ + 1001;
  EXPECT_EQ(w->expire(), 1);
  EXPECT_FALSE(w->isOpen());
  EXPECT_EQ(syncs(), 1) << "closed as a stop closes it";
  EXPECT_EQ(file().substr(15), "X.gps\n500:" + sentence(1) + "\n");
}

TEST_F(Track, a_full_card_loses_lines_but_ends_nothing) {
  start();
  at(5, sentence(1));
  fail_write = 1;
  for (int i = 0; i < 50; ++i) at(10 + i, sentence(i));
  EXPECT_EQ(w->close(), 0);
  EXPECT_TRUE(fatal.empty());
  EXPECT_FALSE(w->isOpen());
}

// The GPS reader writes while the message thread starts and stops tracks: every file
// holds whole lines in order (ThreadSanitizer watches the sharing).
TEST_F(Track, the_reader_and_the_message_thread_share_the_track_safely) {
  std::atomic<bool> stop{false};
  std::thread reader([&] {
    for (int i = 0; !stop; ++i) {
      clock += 1;
      w->process(sentence(i).c_str());
      std::this_thread::sleep_for(200us);
    }
  });
  for (int round = 0; round < 8; ++round) {
    stem = board.path("/mnt/mmc/Recordings/T" + std::to_string(round));
    w->start(stem.c_str(), clock.load() - 50, 60000);
    std::this_thread::sleep_for(5ms);
    if (round % 2)
      w->stop();
    else
      w->close();
  }
  stop = true;
  reader.join();
  for (int round = 0; round < 8; ++round) {
    std::string text = board.read("/mnt/mmc/Recordings/T" + std::to_string(round) + ".gps");
    auto track = gpstrack::parse(text);
    EXPECT_TRUE(track.valid) << text;
    EXPECT_TRUE(track.complete) << "round " << round;
    for (size_t k = 1; k < track.lines.size(); ++k)
      EXPECT_LE(track.lines[k - 1].offset, track.lines[k].offset) << round;
  }
  EXPECT_TRUE(fatal.empty());
}

}  // namespace
