// SPDX-License-Identifier: MIT
#include "kv_block_writer.hpp"

#include <errno.h>
#include <pthread.h>
#include <signal.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

#include "KVLog.h"

namespace kv {

namespace {

constexpr BlockFileOps kRealOps = {::pwrite, ::fdatasync};

}  // namespace

BlockWriter::BlockWriter(std::span<Block> storage, const BlockFileOps *ops)
    : storage_(storage), ops_(ops ? *ops : kRealOps) {}

BlockWriter::~BlockWriter() {
  if (started()) finish();
}

bool BlockWriter::started() const {
  std::lock_guard<std::mutex> held(mutex_);
  return fd_ >= 0;
}

bool BlockWriter::start(int fd, off_t offset, const char *name) {
  if (started()) finish();
  {
    std::lock_guard<std::mutex> held(mutex_);
    fd_ = fd;
    name_ = name ? name : "";
    stop_ = false;
    head_ = full_ = 0;
    head_offset_ = offset;
    fill_ = written_ = 0;
    ++fill_seq_;
    unsynced_ = failing_ = false;
    origin_ = Clock::now();
    slot_open_ = origin_ + std::chrono::milliseconds(kSyncPeriodMs - kSyncLeadMs);
    sync_asked_ = waiting_ = false;
    syncs_ = 0;
    dropped_ = 0;
    reported_drop_ = false;
    reported_errno_ = 0;
  }
  // The samplers' signals (SIGINT, SIGALRM, SIGUSR2) must reach the thread that handles
  // them, never this one.
  sigset_t all, old;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &old);
  syncer_ = std::thread([this] { run(); });
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  return syncer_.joinable();
}

bool BlockWriter::append(const void *data, size_t n) {
  const auto *bytes = static_cast<const unsigned char *>(data);
  std::lock_guard<std::mutex> held(mutex_);
  if (fd_ < 0) return false;
  // The block being filled must never complete into the oldest one's slot.
  size_t room = (storage_.size() - static_cast<size_t>(full_)) * kBlockSize - fill_ - 1;
  if (n > room) {
    dropped_ += n;
    return false;
  }
  while (n > 0) {
    size_t take = std::min(n, kBlockSize - fill_);
    memcpy(slot(head_ + full_).data() + fill_, bytes, take);
    fill_ += take;
    bytes += take;
    n -= take;
    if (fill_ == kBlockSize) {
      ++full_;
      fill_ = written_ = 0;
      ++fill_seq_;
      // A whole block goes to the file at once (the sync still waits for its time), so
      // that a program killed without a power cut leaves as much as before.
      wake_.notify_one();
    }
  }
  const auto now = Clock::now();
  bool wake = false;
  if (!waiting_) {
    // The syncing thread waits without a deadline while nothing waits: it takes this one.
    waiting_ = true;
    waiting_since_ = now;
    wake = true;
  }
  if (!sync_asked_ && now >= slot_open_) {
    sync_asked_ = true;
    wake = true;
  }
  if (wake) wake_.notify_one();
  return true;
}

int BlockWriter::finish() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (fd_ < 0) return 0;
  stop_ = true;
  wake_.notify_all();
  if (syncer_.joinable()) {
    lock.unlock();
    syncer_.join();
    lock.lock();
  }
  int result = flush(lock, false);
  int err = errno;
  fd_ = -1;
  errno = err;
  return result;
}

int BlockWriter::syncCount() const {
  std::lock_guard<std::mutex> held(mutex_);
  return syncs_;
}

uint64_t BlockWriter::droppedBytes() const {
  std::lock_guard<std::mutex> held(mutex_);
  return dropped_;
}

void BlockWriter::run() {
  std::unique_lock<std::mutex> lock(mutex_);
  // A card that refused a write is tried again at the next second's sync, not at every
  // block.
  auto ready = [this] { return stop_ || sync_asked_ || (full_ > 0 && !failing_); };
  while (!stop_) {
    // Nothing waiting: no wake-up until something is appended. The deadline of what
    // waits changes only with a sync, which this thread makes.
    if (waiting_)
      wake_.wait_until(lock, quietDeadline(), ready);
    else
      wake_.wait(lock, [&] { return ready() || waiting_; });
    if (stop_) break;
    const auto now = Clock::now();
    if (sync_asked_ || (waiting_ && now >= quietDeadline()))
      syncPass(lock, now);
    else if (full_ > 0 && !failing_)
      failing_ = writeWholeBlocks(lock) != 0;
  }
}

// A second and the lead after the oldest waiting byte: a sampler's next sample, due a
// second after the one that follows a sync, still comes first and takes the sync (with
// any less, a sync made without a sample would be followed by such syncs for good).
BlockWriter::Clock::time_point BlockWriter::quietDeadline() const {
  const auto waited = waiting_since_ + std::chrono::milliseconds(kSyncPeriodMs + kSyncLeadMs);
  return std::max(slot_open_, waited);
}

// The first moment of the file's next second after `t`, at which a sync may come.
BlockWriter::Clock::time_point BlockWriter::nextSlotAfter(Clock::time_point t) const {
  const auto period = std::chrono::milliseconds(kSyncPeriodMs);
  const auto lead = std::chrono::milliseconds(kSyncLeadMs);
  return origin_ + ((t - origin_ + lead) / period + 1) * period - lead;
}

void BlockWriter::syncPass(std::unique_lock<std::mutex> &lock, Clock::time_point now) {
  slot_open_ = nextSlotAfter(now);
  sync_asked_ = false;
  // What is appended from here on may miss this sync: it waits from now.
  const bool was_waiting = waiting_;
  const auto since = waiting_since_;
  waiting_ = false;
  failing_ = flush(lock, true) != 0;
  if (failing_ && was_waiting) {
    waiting_ = true;
    waiting_since_ = since;
  }
  // After a sync that took longer than a second the seconds it overran are skipped, so
  // that a stalled card is not hammered with syncs.
  slot_open_ = nextSlotAfter(Clock::now());
  sync_asked_ = false;
}

// Oldest first, each released once the card has taken it.
int BlockWriter::writeWholeBlocks(std::unique_lock<std::mutex> &lock) {
  while (full_ > 0) {
    const off_t offset = head_offset_;
    const unsigned char *data = slot(head_).data();
    lock.unlock();
    int done = writeAll(data, kBlockSize, offset);
    lock.lock();
    if (done != 0) return -1;
    head_ = (head_ + 1) % static_cast<int>(storage_.size());
    --full_;
    head_offset_ += kBlockSize;
    unsynced_ = true;
  }
  return 0;
}

int BlockWriter::flush(std::unique_lock<std::mutex> &lock, bool sync) {
  if (dropped_ > 0 && !reported_drop_) {
    reported_drop_ = true;
    KVLog("%s: the card is too slow, data dropped\n", name_);
  }
  if (writeWholeBlocks(lock) != 0) return -1;
  int result = 0;
  // The block being filled: rewritten from its start, so that the card sees block-aligned
  // writes and the last second reaches it even when the port or the sensor goes quiet.
  if (fill_ > written_) {
    const size_t n = fill_;
    const uint64_t seq = fill_seq_;
    const off_t offset = head_offset_;
    memcpy(tail_copy_.data(), slot(head_).data(), n);
    lock.unlock();
    int done = writeAll(tail_copy_.data(), n, offset);
    lock.lock();
    if (done != 0) return -1;
    if (seq == fill_seq_) written_ = n;
    unsynced_ = true;
  }
  if (sync && unsynced_) {
    const int fd = fd_;
    lock.unlock();
    int done = ops_.fdatasync(fd);
    int err = errno;
    lock.lock();
    if (done != 0) {
      report("fdatasync", err);
      result = -1;
    } else {
      ++syncs_;
      unsynced_ = false;
    }
  }
  return result;
}

// A short write is continued so that a block is never cut in the middle.
int BlockWriter::writeAll(const unsigned char *data, size_t n, off_t offset) {
  while (n > 0) {
    ssize_t done = ops_.pwrite(fd_, data, n, offset);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) {
      int err = done < 0 ? errno : ENOSPC;
      std::lock_guard<std::mutex> held(mutex_);
      report("write", err);
      errno = err;
      return -1;
    }
    data += done;
    offset += done;
    n -= static_cast<size_t>(done);
  }
  return 0;
}

// The lock is held.
void BlockWriter::report(const char *call, int err) {
  if (err == reported_errno_) return;
  reported_errno_ = err;
  KVLog("%s: %s failed: %s\n", name_, call, strerror(err));
}

}  // namespace kv
