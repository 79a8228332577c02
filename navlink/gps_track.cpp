// SPDX-License-Identifier: MIT
#include "gps_track.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <new>

#include "KVLog.h"
#include "board_root.h"
#include "dm368_zt5_util.h"
#include "kv_common_util.h"

namespace navlink {
namespace {

constexpr int kDefaultDurationMs = 60000;
constexpr int kClosePauseMs = 100;
constexpr char kExtension[] = ".gps";

int openFile(const char *path, int flags, mode_t mode) { return ::open(path, flags, mode); }

constexpr TrackFileOps kRealOps = {openFile, ::pwrite, ::fdatasync, ::close};

const char *fileName(const char *path) {
  const char *slash = strrchr(path, '/');
  return slash ? slash + 1 : path;
}

}  // namespace

class TrackWriter::Lock : public kv::SemHold {
 public:
  explicit Lock(const TrackWriter &w) : kv::SemHold(w.lock_.load()) {}
};

TrackWriter::TrackWriter(const TrackHooks &hooks, const TrackFileOps *ops)
    : hooks_(hooks),
      ops_(ops ? *ops : kRealOps),
      duration_ms_(kDefaultDurationMs),
      blocks_(held_, nullptr) {
  setUp(hooks, ops);
}

TrackWriter::~TrackWriter() {
  close();
  destroyLock();
}

void TrackWriter::setUp(const TrackHooks &hooks, const TrackFileOps *ops) {
  hooks_ = hooks;
  ops_ = ops ? *ops : kRealOps;
  const kv::BlockFileOps block_ops = {ops_.pwrite, ops_.fdatasync};
  blocks_.setOps(block_ops);
}

// ---- the ring ------------------------------------------------------------------------

void TrackWriter::storeInRing(int64_t tick, const char *sentence) {
  GpsRingEntry &slot = ring_[ring_next_];
  slot.llTick = tick;
  size_t n = strnlen(sentence, kGpsSentenceSize - 1);
  memcpy(slot.szSentence, sentence, n);
  slot.szSentence[n] = '\0';
  ring_next_ = (ring_next_ + 1) % kGpsRingEntries;
  if (ring_size_ < kGpsRingEntries) ++ring_size_;
}

void TrackWriter::zeroRing() { memset(ring_, 0, sizeof ring_); }

// ---- buffered writing ----------------------------------------------------------------

// Into the block writer's memory; the card takes it from the writer's own thread. A card
// too slow to keep up loses whole lines (the writer logs it), never the reader's time.
void TrackWriter::append(const char *text, size_t n) { blocks_.append(text, n); }

// "%lld:%s\n", formatted by hand into one piece: snprintf would cost more than the rest
// of a sentence's way through the daemon, and a line is kept or dropped whole.
void TrackWriter::appendLine(int64_t offset, const char *sentence) {
  char line[24 + kGpsSentenceSize];
  char number[24];
  char *const end = number + sizeof number;
  char *p = end;
  *--p = ':';
  uint64_t magnitude = offset < 0 ? 0 - static_cast<uint64_t>(offset) : offset;
  do {
    *--p = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (offset < 0) *--p = '-';
  size_t head = static_cast<size_t>(end - p);
  size_t body = strnlen(sentence, kGpsSentenceSize - 1);
  memcpy(line, p, head);
  memcpy(line + head, sentence, body);
  line[head + body] = '\n';
  append(line, head + body + 1);
}

// The ring's entries from the start tick on, oldest first, before the first live line.
void TrackWriter::writePreviousData() {
  int first = ring_size_ < kGpsRingEntries ? 0 : ring_next_;
  for (int k = 0; k < ring_size_; ++k) {
    const GpsRingEntry &e = ring_[(first + k) % kGpsRingEntries];
    if (e.llTick < tick_start_) continue;
    appendLine(e.llTick - tick_start_, e.szSentence);
  }
}

void TrackWriter::fatal(const char *printed, const char *logged) {
  if (hooks_.fatal) hooks_.fatal(printed, logged);
}

void TrackWriter::clearFirstTimeSynced() {
  if (hooks_.first_time_synced) hooks_.first_time_synced->store(0);
}

bool TrackWriter::readerRunning() const { return hooks_.reader_running && hooks_.reader_running(); }

int64_t TrackWriter::now() const { return hooks_.now ? hooks_.now() : kv::tick_ms(); }

// The lock is held. 0, or -1 after a failed sync or close (logged with the file's name).
int TrackWriter::closeLocked() {
  if (!write_mode_.load()) return 0;
  // What the card refused is left for the sync to show.
  blocks_.finish();
  write_mode_ = 0;
  waitms(kClosePauseMs);
  // The descriptor is closed whatever the sync says.
  int synced = ops_.fdatasync(fd_);
  int sync_errno = errno;
  int closed = ops_.close(fd_);
  int close_errno = errno;
  if (synced != 0) {
    printf("fdatasync error!!");
    fflush(stdout);
    KVLog("CloseGpsFd %s: fdatasync failed: %s\n", path_, strerror(sync_errno));
  } else if (closed != 0) {
    printf("close file error!!");
    fflush(stdout);
    KVLog("CloseGpsFd %s: close failed: %s\n", path_, strerror(close_errno));
  }
  fd_ = -1;
  path_[0] = '\0';
  clearFirstTimeSynced();
  previous_ms_ = 0;
  pre_event_pending_ = false;
  tick_start_ = 0;
  return synced != 0 || closed != 0 ? -1 : 0;
}

// Opens the new track and writes its header; the lock is held. 0 (also when the card
// refused the file: logged, no track), or the fatal texts.
int TrackWriter::openLocked(const char *stem, int64_t start_tick, int64_t at, const char **printed,
                            const char **logged) {
  path_[0] = '\0';
  clearFirstTimeSynced();
  fd_ = -1;
  tick_start_ = start_tick > 0 ? start_tick : at;
  previous_ms_ = start_tick > 0 ? at - start_tick : 0;
  pre_event_pending_ = previous_ms_ > 0;
  int n = snprintf(path_, sizeof path_, "%s%s", stem, kExtension);
  if (n < 0 || static_cast<size_t>(n) >= sizeof path_) {
    // Only the 80-byte stem of a start request comes here, which always fits.
    path_[0] = '\0';
    errno = ENAMETOOLONG;
  } else {
    // Appending by position rather than O_APPEND: the block being filled is rewritten in
    // place at each sync, which O_APPEND would add again at the end.
    fd_ = ops_.open(path_, O_WRONLY | O_CREAT, 0644);
  }
  // Not a file one can seek in (a pipe): its writes fail and are logged like a card's.
  off_t end = fd_ >= 0 ? lseek(fd_, 0, SEEK_END) : 0;
  if (end < 0) end = 0;
  if (fd_ < 0) {
    // A card that is out or turned read-only must not end the daemon: the GPS clock, the
    // speed and the serial link go on, and the next track works once the card is back.
    int err = errno;
    write_mode_ = 0;
    printf("open file error!!");
    fflush(stdout);
    KVLog("StartGpsFileWrite %s: open failed, no track: %s\n", path_, strerror(err));
    path_[0] = '\0';
    return 0;
  }
  blocks_.start(fd_, end, path_);
  if (writeHeader(path_) <= 0) {
    *printed = nullptr;
    *logged = "StartGpsFileWrite GPS EXIT 8\n";
    return -1;
  }
  write_mode_ = 1;
  return 0;
}

int TrackWriter::createLock() {
  if (!lock_.load()) lock_ = MakeSem();
  return lock_.load() ? 0 : -1;
}

void TrackWriter::destroyLock() {
  if (SemHandl_t lock = lock_.exchange(nullptr)) DestroySem(lock);
}

void TrackWriter::start(const char *stem, int64_t start_tick, int32_t duration_ms) {
  int64_t at = now();
  proc_start_ = at;
  duration_ms_ = duration_ms;
  if (!stem || !stem[0] || !readerRunning()) return;
  // Without its lock the writer would share the descriptor and the buffer unguarded.
  if (!hasLock()) return;
  if (write_mode_.load()) stop();
  const char *printed = nullptr, *logged = nullptr;
  {
    Lock lock(*this);
    if (openLocked(stem, start_tick, at, &printed, &logged) == 0) return;
  }
  fatal(printed, logged);
}

void TrackWriter::stop() {
  close();
  kv_system("sync &\n");
}

int TrackWriter::close() {
  if (!write_mode_.load() || !hasLock()) return 0;
  int result;
  {
    Lock lock(*this);
    result = closeLocked();
  }
  // A card pulled or failing during a track must not end the daemon: the GPS clock, the
  // speed and the serial link go on, and the next track works once the card is back.
  return result;
}

int TrackWriter::process(const char *sentence) {
  if (!sentence) return 1;
  int64_t at = now();
  // Outside a track the ring is the reader's alone. A close that slips in after this test
  // is harmless: the descriptor is then -1 under the lock.
  if (!write_mode_.load() || !hasLock()) {
    storeInRing(at, sentence);
    return 1;
  }
  if (at - proc_start_.load() > duration_ms_.load()) {
    stop();
    return -1;
  }
  Lock lock(*this);
  if (pre_event_pending_) {
    writePreviousData();
    pre_event_pending_ = false;
  }
  storeInRing(at, sentence);
  if (fd_ != -1) appendLine(at - tick_start_, sentence);
  return 1;
}

bool TrackWriter::durationOver() const {
  return write_mode_.load() && now() - proc_start_.load() > duration_ms_.load();
}

int TrackWriter::expire() {
  if (!hasLock() || !durationOver()) return 0;
  {
    // Tested again under the lock: a start that came meanwhile has set its own tick and
    // duration before opening, and its new track must not be taken for the old one.
    Lock lock(*this);
    if (!durationOver()) return 0;
    closeLocked();
  }
  kv_system("sync &\n");
  return 1;
}

char *TrackWriter::currentFile(char *dest) {
  if (!dest) return dest;
  if (!hasLock()) {
    dest[0] = '\0';
    return dest;
  }
  Lock lock(*this);
  memcpy(dest, path_, kGpsPathSize);
  return dest;
}

int TrackWriter::writeHeader(const char *path) {
  char digits[15] = {};
  // The start's wall-clock time, to the second; the division truncates.
  GetDateTimeGSensorFormat(digits, static_cast<int>(-(previous_ms_ / 1000)));
  char header[15 + 1 + kGpsPathSize + 1];
  int n = snprintf(header, sizeof header, "%s\n%s\n", digits, fileName(path));
  if (n <= 0 || strlen(digits) != 14) {
    fatal("write file error!!", "WriteHeader GPS EXIT 4\n");
    return 0;
  }
  append(header, static_cast<size_t>(n));
  return n;
}

// ---- the daemon's track writer --------------------------------------------------------

// Never destroyed: the daemon ends with exit() from any thread, and a track still open
// then keeps what reached the card rather than waiting for a sync that may never end.
namespace {
alignas(TrackWriter) unsigned char g_track_storage[sizeof(TrackWriter)];
}  // namespace

TrackWriter &TheTrack() {
  static TrackWriter *track = new (g_track_storage) TrackWriter();
  return *track;
}

void TrackSetUp(const TrackHooks &hooks, const TrackFileOps *ops) { TheTrack().setUp(hooks, ops); }
int TrackCreateLock() { return TheTrack().createLock(); }
void TrackDestroyLock() { TheTrack().destroyLock(); }
bool TrackHasLock() { return TheTrack().hasLock(); }
void TrackZeroRing() { TheTrack().zeroRing(); }
bool TrackIsOpen() { return TheTrack().isOpen(); }
int TrackRingSize() { return TheTrack().ringSize(); }

}  // namespace navlink

// ---- the system's names --------------------------------------------------------------

using navlink::TheTrack;

void StartGpsFileWrite(const char *stem, int32_t, int64_t start_tick, int32_t duration_ms) {
  TheTrack().start(stem, start_tick, duration_ms);
}
void StopGpsFileWirte() { TheTrack().stop(); }
int CloseGpsFd() { return TheTrack().close(); }
int ProcessGpsData(const char *sentence) { return TheTrack().process(sentence); }
int ExpireGpsTrack() { return TheTrack().expire(); }
char *GetCurrentWriteFile(char *dest) { return TheTrack().currentFile(dest); }
int WriteHeader(const char *path) { return TheTrack().writeHeader(path); }
