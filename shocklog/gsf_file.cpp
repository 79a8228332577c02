// SPDX-License-Identifier: MIT
#include "gsf_file.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "kv_block_writer.hpp"
#include "sem_util.h"

namespace {

constexpr off_t kCountOffset = offsetof(GSF_HEADER, nRecordCount);
constexpr char kExtension[] = ".gsf";
// 16 KB: over two minutes of samples while a card stalls, far beyond its worst sync.
constexpr int kHeldBlocks = 32;

struct Writer {
  char strFilePath[kGsfPathSize] = {};
  int g_fd = -1;
  std::array<kv::BlockWriter::Block, kHeldBlocks> held = {};
  kv::BlockWriter blocks{held};
  SemHandl_t hndlWriteSem = nullptr;
} g;

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
  // Truncated: a file left under the same name must not keep its old tail behind the
  // new end marker.
  g.g_fd = open(g.strFilePath, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (g.g_fd < 0) return -1;
  // Without its syncing thread the writer still writes everything at the close.
  g.blocks.start(g.g_fd, 0, g.strFilePath);
  return 0;
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
  kv::SemHold held(g.hndlWriteSem);
  g.blocks.append(data, n);
}

void GsfWriteRecord(const GSF_RECORD &record) { GsfAppend(&record, sizeof record); }

int GsfClose(int32_t count) {
  uint32_t marker = kGsfEndMarker;
  GsfAppend(&marker, sizeof marker);
  {
    // What the card refused is left for the sync to show.
    kv::SemHold held(g.hndlWriteSem);
    g.blocks.finish();
  }

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

int GsfSyncCount() { return g.blocks.syncCount(); }

void GsfRemove() {
  if (g.strFilePath[0]) unlink(g.strFilePath);
}
