#include "gps_track.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "board_root.h"
#include "dm368_zt5_util.h"
#include "kv_common_util.h"
#include "sem_util.h"

namespace {

constexpr int kDefaultDurationMs = 60000;
constexpr int kClosePauseMs = 100;
constexpr char kExtension[] = ".gps";

int openFile(const char *path, int flags, mode_t mode) { return ::open(path, flags, mode); }

constexpr TrackFileOps kRealOps = {openFile, ::write, ::fdatasync, ::close};

// The ring is 240 x 1032 bytes: static, like every buffer of the writer, so that nothing
// is allocated per sentence.
struct Ring {
  GpsRingEntry g_arrGpsQueue[kGpsRingEntries];
  int g_nCurrIndex = 0;  // next slot to fill
  int g_nDataSize = 0;   // filled slots, at most 240
};

struct Writer {
  TrackHooks hooks = {};
  TrackFileOps ops = kRealOps;
  std::atomic<SemHandl_t> hndlGpsSem{nullptr};
  std::atomic<int> g_bWriteMode{0};
  // The request's tick and the duration are set by the message thread and read by the
  // GPS reader at every sentence.
  std::atomic<int64_t> g_llProcStart{0};
  std::atomic<int32_t> g_nRecordingDuration{kDefaultDurationMs};
  // Under the track lock.
  int g_fd = -1;
  char g_strFilePath[kGpsPathSize] = {};
  int64_t g_llTickStart = 0;
  int64_t g_nPreviousTime = 0;  // > 0: the ring's pre-event part is still to be written
  char g_buffer[kGpsBlockSize] = {};
  size_t g_nBufferPos = 0;
};

Ring g_ring;
Writer g;

class TrackLock : public kv::SemHold {
 public:
  TrackLock() : kv::SemHold(g.hndlGpsSem.load()) {}
};

// ---- the ring ------------------------------------------------------------------------

void storeInRing(int64_t tick, const char *sentence) {
  GpsRingEntry &slot = g_ring.g_arrGpsQueue[g_ring.g_nCurrIndex];
  slot.llTick = tick;
  size_t n = strnlen(sentence, kGpsSentenceSize - 1);
  memcpy(slot.szSentence, sentence, n);
  slot.szSentence[n] = '\0';
  g_ring.g_nCurrIndex = (g_ring.g_nCurrIndex + 1) % kGpsRingEntries;
  if (g_ring.g_nDataSize < kGpsRingEntries) ++g_ring.g_nDataSize;
}

// ---- buffered writing ----------------------------------------------------------------

// One block, continued after a short write so that a block is never cut in the middle.
// A failing card is not reported here: the close's fdatasync shows it.
void writeOut(const char *data, size_t n) {
  while (n > 0) {
    ssize_t done = g.ops.write(g.g_fd, data, n);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return;
    data += done;
    n -= static_cast<size_t>(done);
  }
}

void append(const char *text, size_t n) {
  while (n > 0) {
    size_t fits = kGpsBlockSize - g.g_nBufferPos;
    size_t take = n < fits ? n : fits;
    memcpy(g.g_buffer + g.g_nBufferPos, text, take);
    g.g_nBufferPos += take;
    text += take;
    n -= take;
    if (g.g_nBufferPos == kGpsBlockSize) {
      writeOut(g.g_buffer, kGpsBlockSize);
      g.g_nBufferPos = 0;
    }
  }
}

// "%lld:%s\n", formatted by hand: snprintf would cost more than the rest of a sentence's
// way through the daemon.
void appendLine(int64_t offset, const char *sentence) {
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
  append(p, static_cast<size_t>(end - p));
  append(sentence, strnlen(sentence, kGpsSentenceSize - 1));
  append("\n", 1);
}

// The ring's entries from the start tick on, oldest first, before the first live line.
void writePreviousData() {
  int size = g_ring.g_nDataSize;
  int first = size < kGpsRingEntries ? 0 : g_ring.g_nCurrIndex;
  for (int k = 0; k < size; ++k) {
    const GpsRingEntry &e = g_ring.g_arrGpsQueue[(first + k) % kGpsRingEntries];
    if (e.llTick < g.g_llTickStart) continue;
    appendLine(e.llTick - g.g_llTickStart, e.szSentence);
  }
}

const char *fileName(const char *path) {
  const char *slash = strrchr(path, '/');
  return slash ? slash + 1 : path;
}

void fatal(const char *printed, const char *logged) {
  if (g.hooks.fatal) g.hooks.fatal(printed, logged);
}

void clearFirstTimeSynced() {
  if (g.hooks.first_time_synced) g.hooks.first_time_synced->store(0);
}

bool readerRunning() { return g.hooks.reader_running && g.hooks.reader_running(); }

int64_t now() { return g.hooks.now ? g.hooks.now() : kv::tick_ms(); }

// The lock is held. 0, or -1 after the fatal hook returned.
int closeLocked() {
  if (!g.g_bWriteMode.load()) return 0;
  if (g.g_nBufferPos > 0) writeOut(g.g_buffer, g.g_nBufferPos);
  g.g_nBufferPos = 0;
  g.g_bWriteMode = 0;
  waitms(kClosePauseMs);
  // The descriptor is closed whatever the sync says; a failed sync still ends the daemon.
  int synced = g.ops.fdatasync(g.g_fd);
  int closed = g.ops.close(g.g_fd);
  g.g_fd = -1;
  g.g_strFilePath[0] = '\0';
  clearFirstTimeSynced();
  g.g_nPreviousTime = 0;
  g.g_llTickStart = 0;
  return synced != 0 ? -1 : closed != 0 ? -2 : 0;
}

// Opens the new track and writes its header; the lock is held. 0, or the fatal texts.
int openLocked(const char *stem, int64_t start_tick, int64_t at, const char **printed,
               const char **logged) {
  g.g_strFilePath[0] = '\0';
  clearFirstTimeSynced();
  g.g_fd = -1;
  g.g_llTickStart = start_tick > 0 ? start_tick : at;
  g.g_nPreviousTime = start_tick > 0 ? at - start_tick : 0;
  int n = snprintf(g.g_strFilePath, sizeof g.g_strFilePath, "%s%s", stem, kExtension);
  g.g_nBufferPos = 0;
  if (n < 0 || static_cast<size_t>(n) >= sizeof g.g_strFilePath) {
    // Only the 80-byte stem of a start request comes here, which always fits.
    g.g_strFilePath[0] = '\0';
    errno = ENAMETOOLONG;
  } else {
    g.g_fd = g.ops.open(g.g_strFilePath, O_WRONLY | O_CREAT | O_APPEND, 0644);
  }
  if (g.g_fd < 0) {
    g.g_bWriteMode = 0;
    *printed = "open file error!!";
    *logged = "StartGpsFileWrite GPS EXIT 7\n";
    return -1;
  }
  if (WriteHeader(g.g_strFilePath) <= 0) {
    *printed = nullptr;
    *logged = "StartGpsFileWrite GPS EXIT 8\n";
    return -1;
  }
  g.g_bWriteMode = 1;
  return 0;
}

}  // namespace

void TrackSetUp(const TrackHooks &hooks, const TrackFileOps *ops) {
  g.hooks = hooks;
  g.ops = ops ? *ops : kRealOps;
}

int TrackCreateLock() {
  if (!g.hndlGpsSem.load()) g.hndlGpsSem = MakeSem();
  return g.hndlGpsSem.load() ? 0 : -1;
}

void TrackDestroyLock() {
  if (SemHandl_t lock = g.hndlGpsSem.exchange(nullptr)) DestroySem(lock);
}

bool TrackHasLock() { return g.hndlGpsSem.load() != nullptr; }

void TrackZeroRing() { memset(g_ring.g_arrGpsQueue, 0, sizeof g_ring.g_arrGpsQueue); }

void StartGpsFileWrite(const char *stem, int32_t reserved, int64_t start_tick,
                       int32_t duration_ms) {
  (void)reserved;
  int64_t at = now();
  g.g_llProcStart = at;
  g.g_nRecordingDuration = duration_ms;
  if (!stem || !stem[0] || !readerRunning()) return;
  // Without its lock the writer would share the descriptor and the buffer unguarded.
  if (!TrackHasLock()) return;
  if (g.g_bWriteMode.load()) StopGpsFileWirte();
  const char *printed = nullptr, *logged = nullptr;
  {
    TrackLock lock;
    if (openLocked(stem, start_tick, at, &printed, &logged) == 0) return;
  }
  fatal(printed, logged);
}

void StopGpsFileWirte() {
  CloseGpsFd();
  kv_system("sync &\n");
}

int CloseGpsFd() {
  if (!g.g_bWriteMode.load() || !TrackHasLock()) return 0;
  int result;
  {
    TrackLock lock;
    result = closeLocked();
  }
  if (result == -1) fatal("fdatasync error!!", "CloseGpsFd GPS EXIT 5\n");
  if (result == -2) fatal("close file error!!", "CloseGpsFd GPS EXIT 6\n");
  return result < 0 ? -1 : 0;
}

int ProcessGpsData(const char *sentence) {
  if (!sentence) return 1;
  int64_t at = now();
  // Outside a track the ring is the reader's alone. A close that slips in after this test
  // is harmless: the descriptor is then -1 under the lock.
  if (!g.g_bWriteMode.load() || !TrackHasLock()) {
    storeInRing(at, sentence);
    return 1;
  }
  if (at - g.g_llProcStart.load() > g.g_nRecordingDuration.load()) {
    StopGpsFileWirte();
    return -1;
  }
  TrackLock lock;
  if (g.g_nPreviousTime > 0) {
    writePreviousData();
    g.g_nPreviousTime = 0;
  }
  storeInRing(at, sentence);
  if (g.g_fd != -1) appendLine(at - g.g_llTickStart, sentence);
  return 1;
}

char *GetCurrentWriteFile(char *dest) {
  if (!dest) return dest;
  if (!TrackHasLock()) {
    dest[0] = '\0';
    return dest;
  }
  TrackLock lock;
  memcpy(dest, g.g_strFilePath, kGpsPathSize);
  return dest;
}

int WriteHeader(const char *path) {
  char digits[15] = {};
  // The start's wall-clock time, to the second; the division truncates.
  GetDateTimeGSensorFormat(digits, static_cast<int>(-(g.g_nPreviousTime / 1000)));
  char header[15 + 1 + kGpsPathSize + 1];
  int n = snprintf(header, sizeof header, "%s\n%s\n", digits, fileName(path));
  if (n <= 0 || strlen(digits) != 14) {
    fatal("write file error!!", "WriteHeader GPS EXIT 4\n");
    return 0;
  }
  append(header, static_cast<size_t>(n));
  return n;
}

bool TrackIsOpen() { return g.g_bWriteMode.load() != 0; }

int TrackRingSize() { return g_ring.g_nDataSize; }
