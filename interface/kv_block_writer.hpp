// SPDX-License-Identifier: MIT
// kv_block_writer: the one writer of a recording's data files (the GPS track and the
// G-sensor file). The card sees whole 512-byte writes, plus, once a second, the block
// being filled and an fdatasync, so that a power cut loses at most the last second.
//
// The second's sync goes right after the first append of that second (a sample, a
// sentence), so that it carries the newest record: a sync on a clock of its own would
// fall just before a sample as often as just after it, and the card would then hold a
// sample period less than it could. When nothing more comes, the waiting bytes are
// synced 1.1 s after the oldest of them was appended.
//
// The sampling and reading threads only copy bytes into memory (append); a thread of the
// writer's own does every write and sync, so a card that stalls for half a second on a
// sync delays neither a 250 ms sample nor a 5 Hz sentence. When the card stalls so long
// that the held blocks are all full, further appends are refused whole (a record or a
// line is never cut) and counted; the card's error is logged once per kind.
//
// C++ only, not part of the installed C interface.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <sys/types.h>

#include <array>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <span>
#include <thread>

namespace kv {

// The system calls the writer makes, replaceable so that a test can fail each one.
struct BlockFileOps {
  ssize_t (*pwrite)(int fd, const void *buf, size_t n, off_t offset);
  int (*fdatasync)(int fd);
};

class BlockWriter {
 public:
  static constexpr size_t kBlockSize = 512;
  // One sync a second at most: what a cut may take, and 60 syncs a minute of card wear.
  static constexpr int64_t kSyncPeriodMs = 1000;
  // Each second's sync may come this much before the second is full, so that a sampler
  // whose 250 ms steps began with the file (sample 4 at 1000 ms and a little more) is met
  // by the sync of its own second. Syncs still keep to one per second of the file.
  static constexpr int64_t kSyncLeadMs = 100;
  using Block = std::array<unsigned char, kBlockSize>;

  // `storage` (at least two blocks) is the writer's memory for the blocks not yet on the
  // card; the caller keeps it for the writer's life (static in the programs: nothing is
  // allocated while recording). Null `ops`: the real system calls.
  explicit BlockWriter(std::span<Block> storage, const BlockFileOps *ops = nullptr);
  ~BlockWriter();
  BlockWriter(const BlockWriter &) = delete;
  BlockWriter &operator=(const BlockWriter &) = delete;

  // Starts writing to `fd` (not owned), whose new data begins at `offset`; `name` (kept
  // by pointer, for the log lines) says which file. Starts the syncing thread; false when
  // it cannot be started (the data then reach the card at finish()).
  bool start(int fd, off_t offset, const char *name);
  // Copies the bytes for the card. False (nothing of them kept) when they do not fit
  // into the blocks the card has not taken yet, or nothing is started.
  bool append(const void *data, size_t n);
  // Stops the syncing thread and writes everything held, without a sync: the caller's
  // close does that. 0, or -1 (errno set) when the card refused a write.
  int finish();
  bool started() const;
  // Replaces the system calls; only while nothing is started.
  void setOps(const BlockFileOps &ops) { ops_ = ops; }

  // For tests and the card-wear report.
  int syncCount() const;
  uint64_t droppedBytes() const;

 private:
  struct Snapshot {
    int blocks = 0;         // whole blocks waiting, from head_
    off_t offset = 0;       // where the first of them goes
    size_t tail = 0;        // bytes of the block being filled not on the card yet
    uint64_t tail_seq = 0;  // which block that is
  };
  using Clock = std::chrono::steady_clock;
  void run();
  // The moment the waiting bytes must be synced even when nothing more comes.
  Clock::time_point quietDeadline() const;
  Clock::time_point nextSlotAfter(Clock::time_point t) const;
  // One second's sync (the lock is held); `now` decides the next second.
  void syncPass(std::unique_lock<std::mutex> &lock, Clock::time_point now);
  // Writes what is held (and syncs when asked and something was written). The lock is
  // held on entry and exit, released around the card's calls. -1 when a write failed.
  int flush(std::unique_lock<std::mutex> &lock, bool sync);
  int writeWholeBlocks(std::unique_lock<std::mutex> &lock);
  int writeAll(const unsigned char *data, size_t n, off_t offset);
  void report(const char *call, int err);
  Block &slot(int k) { return storage_[static_cast<size_t>(k) % storage_.size()]; }

  std::span<Block> storage_;
  BlockFileOps ops_;
  const char *name_ = "";
  int fd_ = -1;

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::thread syncer_;
  bool stop_ = false;
  // Under mutex_. Blocks head_ .. head_ + full_ - 1 are whole and wait for the card; the
  // next one is being filled (fill_ bytes, of which written_ are on the card already).
  int head_ = 0;
  int full_ = 0;
  off_t head_offset_ = 0;
  size_t fill_ = 0;
  size_t written_ = 0;
  uint64_t fill_seq_ = 0;
  bool unsynced_ = false;  // written since the last sync
  // The seconds of the file: the next sync may come from slot_open_ on (one per second
  // from origin_, kSyncLeadMs early); an append from then on asks for it at once.
  Clock::time_point origin_;
  Clock::time_point slot_open_;
  bool sync_asked_ = false;
  bool waiting_ = false;  // bytes appended that no sync has covered yet, since:
  Clock::time_point waiting_since_;
  bool failing_ = false;  // the card refused the last write or sync
  int syncs_ = 0;
  uint64_t dropped_ = 0;
  bool reported_drop_ = false;
  int reported_errno_ = 0;  // the last error logged, so that a pulled card logs once
  // The syncing thread's own copy of the block being filled.
  Block tail_copy_ = {};
};

}  // namespace kv
