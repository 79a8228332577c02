#include "gsf_file.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "sem_util.h"

namespace {

constexpr size_t kBlockSize = 512;
constexpr off_t kCountOffset = offsetof(GSF_HEADER, nRecordCount);
constexpr char kExtension[] = ".gsf";

struct Writer {
  char strFilePath[kGsfPathSize] = {};
  int g_fd = -1;
  unsigned char g_buffer[kBlockSize] = {};
  size_t g_nBufferPos = 0;
  SemHandl_t hndlWriteSem = nullptr;
} g;

// One block (or the final partial one) to the file. A short write is continued so that
// a block is never cut in the middle; any other failure is left for the close to show.
void writeOut(const unsigned char *data, size_t n) {
  while (n > 0) {
    ssize_t done = write(g.g_fd, data, n);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return;
    data += done;
    n -= static_cast<size_t>(done);
  }
}

void flushBuffer() {
  if (g.g_nBufferPos > 0) writeOut(g.g_buffer, g.g_nBufferPos);
  g.g_nBufferPos = 0;
}

const char *fileName(const char *path) {
  const char *slash = strrchr(path, '/');
  return slash ? slash + 1 : path;
}

}  // namespace

int GsfInitLock() {
  g.hndlWriteSem = MakeSem();
  return g.hndlWriteSem ? 0 : -1;
}

void GsfDestroyLock() {
  if (g.hndlWriteSem) DestroySem(g.hndlWriteSem);
  g.hndlWriteSem = nullptr;
}

int GsfSetPath(const char *stem) {
  int n = snprintf(g.strFilePath, sizeof g.strFilePath, "%s%s", stem, kExtension);
  if (n < 0 || static_cast<size_t>(n) >= sizeof g.strFilePath) {
    g.strFilePath[0] = '\0';
    return -1;
  }
  return 0;
}

int GsfOpen() {
  g.g_nBufferPos = 0;
  // Truncated: a file left under the same name must not keep its old tail behind the
  // new end marker.
  g.g_fd = open(g.strFilePath, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  return g.g_fd >= 0 ? 0 : -1;
}

void GsfWriteHeader(const char *date_time) {
  GSF_HEADER header = {};
  header.magic = kGsfMagic;
  header.nRecordSize = sizeof(GSF_RECORD);
  header.nRecordCount = 0;
  // 14 digits, "//" and at most 255 bytes of name: always inside the 512-byte block.
  snprintf(header.text, sizeof header.text, "%.14s//%s", date_time, fileName(g.strFilePath));
  GsfAppend(&header, sizeof header);
}

void GsfAppend(const void *data, size_t n) {
  const auto *bytes = static_cast<const unsigned char *>(data);
  SemWait(g.hndlWriteSem);
  while (g.g_nBufferPos + n > kBlockSize) {
    size_t fits = kBlockSize - g.g_nBufferPos;
    memcpy(g.g_buffer + g.g_nBufferPos, bytes, fits);
    writeOut(g.g_buffer, kBlockSize);
    g.g_nBufferPos = 0;
    bytes += fits;
    n -= fits;
  }
  memcpy(g.g_buffer + g.g_nBufferPos, bytes, n);
  g.g_nBufferPos += n;
  SemRelease(g.hndlWriteSem);
}

void GsfWriteRecord(const GSF_RECORD &record) { GsfAppend(&record, sizeof record); }

int GsfClose(int32_t count) {
  uint32_t marker = kGsfEndMarker;
  GsfAppend(&marker, sizeof marker);
  SemWait(g.hndlWriteSem);
  flushBuffer();
  SemRelease(g.hndlWriteSem);

  if (lseek(g.g_fd, kCountOffset, SEEK_SET) < 0) {
    printf("lseek file error 2!!");
    return 1;
  }
  if (write(g.g_fd, &count, sizeof count) <= 0) {
    printf("lseek file error!!");
    return 1;
  }
  if (fdatasync(g.g_fd) != 0) {
    printf("fdatasync error!!");
    return 1;
  }
  int fd = g.g_fd;
  g.g_fd = -1;
  if (close(fd) != 0) {
    printf("close file error!!");
    return 1;
  }
  return 0;
}

void GsfRemove() {
  if (g.strFilePath[0]) unlink(g.strFilePath);
}
