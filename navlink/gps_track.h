// The GPS track file beside a recording (stem + ".gps") and the ring of recent sentences
// that an event recording's track starts with.
//
// A track is plain ASCII, lines ended by LF only:
//   YYYYMMDDhhmmss            the recording's first moment, local time
//   <file name>               the part of the path after the last '/'
//   <ms>:<sentence>           every accepted sentence: its tick minus the start tick,
//   ...                       the sentence as received (with '$' and "*hh", no CR LF)
// The file is opened for appending (a second start on the same stem adds a second
// header), written through one 512-byte buffer so that the card only sees whole 512-byte
// writes while the track runs, and synced once when it closes.
//
// Two threads use it: the GPS reader (ProcessGpsData, and the close when the duration has
// run out) and the message thread (start, stop). The descriptor, the buffer and the
// pre-event pass are used only under the track lock. The ring belongs to the GPS reader.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <sys/types.h>

#include <atomic>

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
  ssize_t (*write)(int fd, const void *buf, size_t n);
  int (*fdatasync)(int fd);
  int (*close)(int fd);
};

// Sets the hooks and the file calls (null `ops`: the real ones). Call before anything else.
void TrackSetUp(const TrackHooks &hooks, const TrackFileOps *ops);

// The track lock, made by whoever starts the GPS reader before it runs and destroyed after
// it ended. 0, or -1 when it cannot be made; track starts then do nothing.
int TrackCreateLock();
void TrackDestroyLock();
bool TrackHasLock();

// The GPS reader's start: the ring's entries are zeroed, its counters kept.
void TrackZeroRing();

// Starts a track (closing an open one first). `stem` null or empty, the GPS reader not
// running, or no track lock: no file, but the start tick and the duration are kept.
// A start tick <= 0 means now; a tick in the past has the ring's sentences since then
// written first, at the first sentence after the start.
void StartGpsFileWrite(const char *stem, int32_t reserved, int64_t start_tick, int32_t duration_ms);
// CloseGpsFd(), then "sync &".
void StopGpsFileWirte();
// Flushes and closes the open track; 0 when none is open. -1 after a fatal failure.
int CloseGpsFd();
// One accepted sentence (at most 1023 characters): into the ring and, during a track,
// into the file. 1, or -1 when the track's duration had run out (the track is closed and
// this sentence dropped).
int ProcessGpsData(const char *sentence);
// The open track's path ("" when none) into `dest`, which holds kGpsPathSize bytes.
char *GetCurrentWriteFile(char *dest);
// The two header lines into the buffer; their length.
int WriteHeader(const char *path);

// For tests: a track is open; the filled slots of the ring.
bool TrackIsOpen();
int TrackRingSize();
