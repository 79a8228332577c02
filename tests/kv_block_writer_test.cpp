// SPDX-License-Identifier: MIT
// The one block writer of the recording files, on its own with a card made of the test's
// own calls: what reaches the file while the card refuses and takes writes again, and
// what a card that stalls past the writer's memory costs.
// ctest-labels: threaded (the samplers append while the writer's thread writes)
#include "kv_block_writer.hpp"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "KVLog.h"
#include "sandbox.h"

namespace {

using namespace std::chrono_literals;
using kvsim::Sandbox;

std::atomic<int> g_refuse{0};    // errno the card answers writes with, 0: takes them
std::atomic<int> g_stall_ms{0};  // how long each write takes

ssize_t pwriteCard(int fd, const void *buf, size_t n, off_t at) {
  std::this_thread::sleep_for(std::chrono::milliseconds(g_stall_ms.load()));
  if (int e = g_refuse.load()) {
    errno = e;
    return -1;
  }
  return pwrite(fd, buf, n, at);
}
constexpr kv::BlockFileOps kCard = {pwriteCard, ::fdatasync};

// Each sync of the card: when, and how many bytes the file held then.
struct SyncSeen {
  std::chrono::steady_clock::time_point at;
  off_t size;
};
std::mutex g_seen_mutex;
std::vector<SyncSeen> g_seen;

int fdatasyncSeen(int fd) {
  struct stat st = {};
  fstat(fd, &st);
  std::lock_guard<std::mutex> seen(g_seen_mutex);
  g_seen.push_back({std::chrono::steady_clock::now(), st.st_size});
  return ::fdatasync(fd);
}

class BlockWriterTest : public testing::Test {
 protected:
  void SetUp() override {
    g_refuse = 0;
    g_stall_ms = 0;
    board.mkdir("/mnt/mmc");
    fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
  }
  void TearDown() override {
    writer.finish();
    close(fd);
  }
  std::string file() const { return board.read("/mnt/mmc/data"); }

  Sandbox board;
  std::string path = board.path("/mnt/mmc/data");
  int fd = -1;
  std::array<kv::BlockWriter::Block, 4> held = {};
  kv::BlockWriter writer{held, &kCard};
};

TEST_F(BlockWriterTest, a_card_that_refuses_writes_for_a_while_loses_nothing_held) {
  KVLogSetWriteFile(0);  // the log's lines to standard error, where the test reads them
  testing::internal::CaptureStderr();
  ASSERT_TRUE(writer.start(fd, 0, "data"));
  g_refuse = EIO;
  std::string sent;
  for (int i = 0; i < 40; ++i) {
    std::string line = "line " + std::to_string(i) + "\n";
    ASSERT_TRUE(writer.append(line.data(), line.size())) << i;
    sent += line;
  }
  std::this_thread::sleep_for(1200ms);  // a sync's time passes with the card refusing
  EXPECT_EQ(file(), "");
  g_refuse = 0;
  ASSERT_TRUE(Sandbox::waitUntil([&] { return writer.syncCount() > 0; }, 5000ms));
  EXPECT_EQ(file(), sent);
  std::string log = testing::internal::GetCapturedStderr();
  EXPECT_NE(log.find("data: write failed: Input/output error\n"), std::string::npos) << log;
  EXPECT_EQ(log.find("failed"), log.rfind("failed")) << "one line, not one per try: " << log;
}

TEST_F(BlockWriterTest, a_stalled_card_refuses_whole_appends_once_its_memory_is_full) {
  g_stall_ms = 3000;
  ASSERT_TRUE(writer.start(fd, 0, "data"));
  std::string record(32, 'r');
  int taken = 0;
  for (int i = 0; i < 100; ++i) taken += writer.append(record.data(), record.size());
  // Four blocks of memory, one of them being filled: at most 3 * 512 + 511 bytes wait.
  EXPECT_EQ(taken, (3 * 512 + 511) / 32);
  EXPECT_EQ(writer.droppedBytes(), (100u - taken) * 32);
  g_stall_ms = 0;
  EXPECT_EQ(writer.finish(), 0);
  EXPECT_EQ(file(), std::string(32 * taken, 'r')) << "records are kept or dropped whole";
}

// A sampler whose 250 ms steps began just after the file opened (kv_shocklog's header and
// first sensor read): each second's sync comes right after that second's first sample,
// so that a cut loses no more than a second of samples (a sync on a clock of its own fell
// just before a sample and kept 250 ms less).
TEST_F(BlockWriterTest, each_seconds_sync_carries_the_sample_just_taken) {
  static constexpr kv::BlockFileOps kSeen = {::pwrite, fdatasyncSeen};
  g_seen.clear();
  writer.setOps(kSeen);
  ASSERT_TRUE(writer.start(fd, 0, "data"));
  using Clock = std::chrono::steady_clock;
  std::vector<Clock::time_point> taken;
  const auto first = Clock::now() + 20ms;
  for (int i = 0; i < 10; ++i) {  // samples at 0 ... 2250 ms
    std::this_thread::sleep_until(first + i * 250ms);
    taken.push_back(Clock::now());
    ASSERT_TRUE(writer.append(std::string(32, 'a' + i).data(), 32));
  }
  EXPECT_EQ(writer.finish(), 0);
  std::lock_guard<std::mutex> seen(g_seen_mutex);
  ASSERT_EQ(g_seen.size(), 2u) << "one sync a second";
  for (const SyncSeen &sync : g_seen) {
    size_t records = static_cast<size_t>(sync.size) / 32;
    ASSERT_GE(records, 1u);
    ASSERT_LE(records, taken.size());
    EXPECT_LT(sync.at - taken[records - 1], 60ms)
        << "the newest synced sample is " << records - 1 << ", taken before the sample just due";
  }
}

}  // namespace
