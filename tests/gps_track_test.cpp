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
#include <string>
#include <thread>
#include <vector>

#include "gps_track_reader.h"
#include "nmea_drive.h"
#include "sandbox.h"

namespace {

using namespace std::chrono_literals;
using kvsim::Sandbox;

// Ticks only move forward across the tests of this process, so the ring's entries of an
// earlier test always lie before a later test's start tick.
std::atomic<int64_t> g_now{10'000'000};
int64_t fakeNow() { return g_now.load(); }
std::atomic<bool> g_reader_runs{true};
bool readerRuns() { return g_reader_runs.load(); }
std::atomic<int> g_synced{1};

struct Fatal {
  std::string printed, logged;
};
std::vector<Fatal> g_fatal;
void recordFatal(const char *printed, const char *logged) {
  g_fatal.push_back({printed ? printed : "", logged});
}

// The card, as the writer's system calls see it.
std::vector<size_t> g_write_sizes;
int g_fail_write = 0, g_fail_sync = 0, g_fail_close = 0;
int openReal(const char *path, int flags, mode_t mode) { return open(path, flags, mode); }
ssize_t writeCard(int fd, const void *buf, size_t n) {
  g_write_sizes.push_back(n);
  if (g_fail_write) {
    errno = ENOSPC;
    return -1;
  }
  return write(fd, buf, n);
}
int syncCard(int fd) {
  if (g_fail_sync) {
    errno = EIO;
    return -1;
  }
  return fdatasync(fd);
}
int closeCard(int fd) {
  close(fd);
  if (g_fail_close) {
    errno = EIO;
    return -1;
  }
  return 0;
}
constexpr TrackFileOps kCard = {openReal, writeCard, syncCard, closeCard};

std::string sentence(int n) { return kvsim::withChecksum("GPGGA,SENTENCE," + std::to_string(n)); }

class Track : public testing::Test {
 protected:
  void SetUp() override {
    board.installTool("sync");
    board.mkdir("/mnt/mmc/Recordings");
    g_fatal.clear();
    g_write_sizes.clear();
    g_fail_write = g_fail_sync = g_fail_close = 0;
    g_reader_runs = true;
    TrackSetUp(TrackHooks{fakeNow, readerRuns, &g_synced, recordFatal}, &kCard);
    ASSERT_EQ(TrackCreateLock(), 0);
    g_now += 1'000'000;
  }
  void TearDown() override {
    g_fail_sync = g_fail_close = 0;
    CloseGpsFd();
    TrackDestroyLock();
  }
  void at(int64_t ms, const std::string &s) {
    g_now = start_ + ms;
    EXPECT_EQ(ProcessGpsData(s.c_str()), 1) << s;
  }
  void start(int64_t start_tick = 0, int32_t duration = 60000) {
    start_ = g_now.load();
    StartGpsFileWrite(stem.c_str(), 0, start_tick, duration);
  }
  std::string file() const { return board.read("/mnt/mmc/Recordings/X.gps"); }
  int syncs() const {
    Sandbox::waitUntil([&] { return !board.commandsOf("sync").empty(); }, 2000ms);
    return static_cast<int>(board.commandsOf("sync").size());
  }

  Sandbox board;
  std::string stem = board.path("/mnt/mmc/Recordings/X");
  int64_t start_ = 0;
};

TEST_F(Track, a_track_holds_the_header_and_each_sentence_with_its_offset) {
  time_t wall = time(nullptr);
  start();
  EXPECT_EQ(g_synced.load(), 0) << "a start makes the next fix set the clock";
  EXPECT_TRUE(TrackIsOpen());
  at(120, "$GPA*41");
  at(1120, "$GPB*42");
  g_synced = 1;
  StopGpsFileWirte();
  EXPECT_EQ(g_synced.load(), 0) << "so does a close";
  EXPECT_EQ(syncs(), 1);
  auto track = gpstrack::parse(file());
  ASSERT_EQ(track.lines.size(), 2u) << file();
  EXPECT_EQ(track.name, "X.gps");
  EXPECT_LE(std::abs(gpstrack::secondsFrom(track.date_time, wall)), 2.0) << track.date_time;
  EXPECT_EQ(file().substr(15), "X.gps\n120:$GPA*41\n1120:$GPB*42\n");
  EXPECT_TRUE(g_fatal.empty());
}

TEST_F(Track, a_start_10_s_in_the_past_begins_with_the_ring_since_then) {
  // 100 sentences over the last 30 s.
  std::vector<std::string> sent;
  for (int i = 0; i < 100; ++i) {
    g_now += 300;
    sent.push_back(sentence(i));
    ProcessGpsData(sent.back().c_str());
  }
  time_t wall = time(nullptr);
  int64_t begin = g_now.load() - 10000;
  start(begin);
  g_now += 50;
  std::string live = sentence(1000);
  ProcessGpsData(live.c_str());
  StopGpsFileWirte();
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
    g_now += 100;
    ProcessGpsData(sentence(i).c_str());
  }
  EXPECT_EQ(TrackRingSize(), kGpsRingEntries);
  start(g_now.load() - 100'000);
  g_now += 100;
  ProcessGpsData(sentence(300).c_str());
  CloseGpsFd();
  auto track = gpstrack::parse(file());
  ASSERT_EQ(track.lines.size(), 241u);
  for (int k = 0; k <= 240; ++k) EXPECT_EQ(track.lines[k].sentence, sentence(60 + k)) << k;
}

TEST_F(Track, the_first_sentence_after_the_duration_closes_the_track_and_is_dropped) {
  start(0, 60000);
  at(60000, sentence(1));
  EXPECT_TRUE(TrackIsOpen());
  g_now = start_ + 60001;
  std::string late = sentence(2);
  EXPECT_EQ(ProcessGpsData(late.c_str()), -1);
  EXPECT_FALSE(TrackIsOpen());
  EXPECT_EQ(syncs(), 1);
  char path[kGpsPathSize];
  EXPECT_STREQ(GetCurrentWriteFile(path), "");
  at(60002, sentence(3));  // only the ring
  auto track = gpstrack::parse(file());
  ASSERT_EQ(track.lines.size(), 1u);
  EXPECT_EQ(track.lines[0].offset, 60000);
  // The ring did not keep the late sentence: a track from before it shows only the next.
  start(start_ + 60001 - 1);
  g_now += 10;
  ProcessGpsData(sentence(4).c_str());
  CloseGpsFd();
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
  CloseGpsFd();
  std::string text = file();
  EXPECT_EQ(text.find("X.gps\n10:" + sentence(1) + "\n"), 15u) << text;
  size_t second = text.find("X.gps\n", 20);
  ASSERT_NE(second, std::string::npos);
  EXPECT_EQ(text.substr(second), "X.gps\n20:" + sentence(2) + "\n");
}

TEST_F(Track, starts_without_a_stem_a_reader_or_a_lock_make_no_file) {
  StartGpsFileWrite("", 0, 0, 60000);
  StartGpsFileWrite(nullptr, 0, 0, 60000);
  g_reader_runs = false;
  start();
  g_reader_runs = true;
  TrackDestroyLock();
  start();
  EXPECT_FALSE(TrackIsOpen());
  EXPECT_FALSE(board.exists("/mnt/mmc/Recordings/X.gps"));
  at(10, sentence(1));  // the ring still takes sentences without the lock
  EXPECT_TRUE(g_fatal.empty());
  ASSERT_EQ(TrackCreateLock(), 0);
}

TEST_F(Track, a_stop_without_a_track_only_syncs) {
  StopGpsFileWirte();
  EXPECT_EQ(syncs(), 1);
  EXPECT_EQ(CloseGpsFd(), 0);
  EXPECT_TRUE(g_fatal.empty());
}

TEST_F(Track, the_card_sees_whole_512_byte_writes_until_the_close) {
  start();
  for (int i = 0; i < 100; ++i) at(10 * i, sentence(i));
  size_t during = g_write_sizes.size();
  EXPECT_GT(during, 3u);
  for (size_t n : g_write_sizes) EXPECT_EQ(n, 512u);
  CloseGpsFd();
  ASSERT_EQ(g_write_sizes.size(), during + 1);
  EXPECT_LT(g_write_sizes.back(), 512u);
  EXPECT_EQ(file().size(), 512 * during + g_write_sizes.back());
}

TEST_F(Track, card_failures_end_the_daemon_with_the_texts_of_each_step) {
  struct Case {
    const char *name;
    int *fail;
    const char *printed, *logged;
  } cases[] = {
      {"fdatasync", &g_fail_sync, "fdatasync error!!", "CloseGpsFd GPS EXIT 5\n"},
      {"close", &g_fail_close, "close file error!!", "CloseGpsFd GPS EXIT 6\n"},
  };
  for (const auto &c : cases) {
    g_fatal.clear();
    start();
    at(5, sentence(1));
    *c.fail = 1;
    EXPECT_EQ(CloseGpsFd(), -1) << c.name;
    *c.fail = 0;
    ASSERT_EQ(g_fatal.size(), 1u) << c.name;
    EXPECT_EQ(g_fatal[0].printed, c.printed);
    EXPECT_EQ(g_fatal[0].logged, c.logged);
  }
  g_fatal.clear();
  stem = board.path("/mnt/mmc/NoSuchFolder/X");
  start();
  ASSERT_EQ(g_fatal.size(), 1u);
  EXPECT_EQ(g_fatal[0].printed, "open file error!!");
  EXPECT_EQ(g_fatal[0].logged, "StartGpsFileWrite GPS EXIT 7\n");
  EXPECT_FALSE(TrackIsOpen());
}

TEST_F(Track, a_full_card_loses_lines_but_ends_nothing) {
  start();
  at(5, sentence(1));
  g_fail_write = 1;
  for (int i = 0; i < 50; ++i) at(10 + i, sentence(i));
  EXPECT_EQ(CloseGpsFd(), 0);
  EXPECT_TRUE(g_fatal.empty());
  EXPECT_FALSE(TrackIsOpen());
}

// The GPS reader writes while the message thread starts and stops tracks: every file
// holds whole lines in order (ThreadSanitizer watches the sharing).
TEST_F(Track, the_reader_and_the_message_thread_share_the_track_safely) {
  std::atomic<bool> stop{false};
  std::thread reader([&] {
    for (int i = 0; !stop; ++i) {
      g_now += 1;
      ProcessGpsData(sentence(i).c_str());
      std::this_thread::sleep_for(200us);
    }
  });
  for (int round = 0; round < 8; ++round) {
    stem = board.path("/mnt/mmc/Recordings/T" + std::to_string(round));
    StartGpsFileWrite(stem.c_str(), 0, g_now.load() - 50, 60000);
    std::this_thread::sleep_for(5ms);
    if (round % 2)
      StopGpsFileWirte();
    else
      CloseGpsFd();
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
  EXPECT_TRUE(g_fatal.empty());
}

}  // namespace
