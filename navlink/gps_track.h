// SPDX-License-Identifier: MIT
// The GPS track file beside a recording (stem + ".gps") and the ring of recent sentences
// that an event recording's track starts with.
//
// A track is plain ASCII, lines ended by LF only:
//   YYYYMMDDhhmmss            the recording's first moment, local time
//   <file name>               the part of the path after the last '/'
//   <ms>:<sentence>           every accepted sentence: its tick minus the start tick,
//   ...                       the sentence as received (with '$' and "*hh", no CR LF)
// The file is opened for appending (a second start on the same stem adds a second
// header) and written through the shared block writer (kv_block_writer.hpp): whole
// 512-byte writes, and once a second the block being filled and a sync, from a thread of
// the writer's own, so that a power cut loses at most the last second and a slow card
// never holds up the GPS reader. The close writes the rest and syncs once more.
//
// Two threads use it: the GPS reader (ProcessGpsData, and the close when the duration has
// run out) and the message thread (start, stop). The descriptor, the buffer and the
// pre-event pass are used only under the track lock. The ring belongs to the GPS reader.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <sys/types.h>

#include <atomic>
#include <memory>

#include "kv_block_writer.hpp"
#include "sem_util.h"

// The daemon's own types; the system's function names below stay global.
namespace navlink {

// The ring: the most recent sentences with their tick of receipt.
inline constexpr int kGpsRingEntries = 240;
inline constexpr size_t kGpsSentenceSize = 1024;
struct GpsRingEntry {
  int64_t llTick;
  char szSentence[kGpsSentenceSize];
};
static_assert(sizeof(GpsRingEntry) == 1032, "a ring entry is a tick and a 1024-byte sentence");

inline constexpr size_t kGpsBlockSize = 512;
inline constexpr size_t kGpsPathSize = 256;

// What the writer needs from the daemon around it.
struct TrackHooks {
  int64_t (*now)();          // the tick
  bool (*reader_running)();  // the GPS reader counts as started
  // Cleared whenever a track starts or closes: the next valid fix sets the clock again.
  std::atomic<int> *first_time_synced;
  // A fatal failure: `printed` (may be null) for standard output, `logged` for the log.
  // The daemon ends there; a caller whose hook returns gets -1 from the failed step.
  void (*fatal)(const char *printed, const char *logged);
};

// The system calls the writer makes on the track, replaceable so that tests can make the
// card fail at each of them.
struct TrackFileOps {
  int (*open)(const char *path, int flags, mode_t mode);
  ssize_t (*pwrite)(int fd, const void *buf, size_t n, off_t offset);
  int (*fdatasync)(int fd);
  int (*close)(int fd);
};

// Blocks held for the card: the pre-event part of a full ring of ordinary sentences
// (about 20 KB) and many seconds of a stalled card at 5 Hz.
inline constexpr int kGpsHeldBlocks = 128;

// One track writer and its ring. The daemon has one (TheTrack(), behind the system's
// function names below); a test makes a fresh one per case.
class TrackWriter {
 public:
  // Null `ops`: the real file calls.
  explicit TrackWriter(const TrackHooks &hooks = {}, const TrackFileOps *ops = nullptr);
  ~TrackWriter();
  TrackWriter(const TrackWriter &) = delete;
  TrackWriter &operator=(const TrackWriter &) = delete;
  void setUp(const TrackHooks &hooks, const TrackFileOps *ops);

  int createLock();
  void destroyLock();
  bool hasLock() const { return lock_.load() != nullptr; }
  void zeroRing();

  void start(const char *stem, int64_t start_tick, int32_t duration_ms);
  void stop();
  int close();
  int process(const char *sentence);
  // Closes the track whose duration has run out; 1 when it did, else 0.
  int expire();
  char *currentFile(char *dest);
  int writeHeader(const char *path);

  bool isOpen() const { return write_mode_.load() != 0; }
  int ringSize() const { return ring_size_; }
  // Syncs of the open track so far (the close's own not counted).
  int syncCount() const { return blocks_.syncCount(); }

 private:
  class Lock;
  bool durationOver() const;
  void storeInRing(int64_t tick, const char *sentence);
  void append(const char *text, size_t n);
  void appendLine(int64_t offset, const char *sentence);
  void writePreviousData();
  void fatal(const char *printed, const char *logged);
  void clearFirstTimeSynced();
  bool readerRunning() const;
  int64_t now() const;
  int closeLocked();
  int openLocked(const char *stem, int64_t start_tick, int64_t at, const char **printed,
                 const char **logged);

  TrackHooks hooks_;
  TrackFileOps ops_;
  std::atomic<SemHandl_t> lock_{nullptr};
  std::atomic<int> write_mode_{0};
  // The request's tick and the duration are set by the message thread and read by the
  // GPS reader at every sentence.
  std::atomic<int64_t> proc_start_{0};
  std::atomic<int32_t> duration_ms_;
  // Under the track lock.
  int fd_ = -1;
  char path_[kGpsPathSize] = {};
  int64_t tick_start_ = 0;
  int64_t previous_ms_ = 0;         // how far the start lies before the request (the header)
  bool pre_event_pending_ = false;  // the ring's part since the start is still to be written
  std::array<kv::BlockWriter::Block, kGpsHeldBlocks> held_ = {};
  kv::BlockWriter blocks_;
  // The ring: the GPS reader's, and the pre-event pass's under the track lock.
  GpsRingEntry ring_[kGpsRingEntries] = {};
  int ring_next_ = 0;  // next slot to fill
  int ring_size_ = 0;  // filled slots, at most 240
};

// The daemon's track writer, and what its thread sets up and asks of it.
TrackWriter &TheTrack();

// Sets the hooks and the file calls (null `ops`: the real ones). Call before anything else.
void TrackSetUp(const TrackHooks &hooks, const TrackFileOps *ops);

// The track lock, made by whoever starts the GPS reader before it runs and destroyed after
// it ended. 0, or -1 when it cannot be made; track starts then do nothing.
int TrackCreateLock();
void TrackDestroyLock();
bool TrackHasLock();

// The GPS reader's start: the ring's entries are zeroed, its counters kept.
void TrackZeroRing();

// For tests: a track is open; the filled slots of the ring.
bool TrackIsOpen();
int TrackRingSize();

}  // namespace navlink

// The system's names, over navlink::TheTrack().
// Starts a track (closing an open one first). `stem` null or empty, the GPS reader not
// running, or no track lock: no file, but the start tick and the duration are kept.
// A start tick <= 0 means now; a tick in the past has the ring's sentences since then
// written first, at the first sentence after the start. A file the card refuses (out,
// read-only) is logged with the reason and makes no track; the daemon goes on.
void StartGpsFileWrite(const char *stem, int32_t reserved, int64_t start_tick, int32_t duration_ms);
// CloseGpsFd(), then "sync &".
void StopGpsFileWirte();
// Flushes and closes the open track; 0 when none is open. -1 after a fatal failure.
int CloseGpsFd();
// One accepted sentence (at most 1023 characters): into the ring and, during a track,
// into the file. 1, or -1 when the track's duration had run out (the track is closed and
// this sentence dropped).
int ProcessGpsData(const char *sentence);
// Closes the open track when its duration has run out, as the next sentence would, so
// that a quiet port does not keep it open (the GPS reader calls it between its reads).
// 1 when it closed the track, else 0.
int ExpireGpsTrack();
// The open track's path ("" when none) into `dest`, which holds navlink::kGpsPathSize bytes.
char *GetCurrentWriteFile(char *dest);
// The two header lines into the buffer; their length.
int WriteHeader(const char *path);
