// SPDX-License-Identifier: MIT
#include "share_mem.h"

#include <string.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include "board_root.h"

namespace {

struct {
  int shmid = -1;
} g_unit;

// Attachment of a segment for the length of one copy.
class Attachment {
 public:
  explicit Attachment(int shmid) : addr_(shmat(shmid, nullptr, 0)) {
    struct shmid_ds ds;
    if (ok() && shmctl(shmid, IPC_STAT, &ds) == 0) size_ = ds.shm_segsz;
  }
  ~Attachment() {
    if (ok()) shmdt(addr_);
  }
  Attachment(const Attachment &) = delete;
  Attachment &operator=(const Attachment &) = delete;

  bool ok() const { return addr_ != reinterpret_cast<void *>(-1); }
  // The bytes [offset, offset + length) of the segment, or null when they pass its end.
  char *range(int offset, int length) const {
    if (!ok() || offset < 0 || length < 0) return nullptr;
    if (static_cast<size_t>(offset) + static_cast<size_t>(length) > size_) return nullptr;
    return static_cast<char *>(addr_) + offset;
  }

 private:
  void *addr_;
  size_t size_ = 0;
};

int open_segment(int key) {
  key_t k = kv_ipc_key(key);
  int id = shmget(k, PROC_MEM_SIZE, IPC_CREAT | 0660);
  if (id < 0) id = shmget(k, 0, 0);
  return id < 0 ? -1 : id;
}

}  // namespace

namespace kv {

int segment_copy_in(int shmid, int offset, const void *buf, int length) {
  if (!buf) return -1;
  Attachment seg(shmid);
  char *dst = seg.range(offset, length);
  if (!dst) return -1;
  memcpy(dst, buf, static_cast<size_t>(length));
  return 0;
}

int segment_copy_out(int shmid, int offset, void *buf, int length) {
  if (!buf) return -1;
  Attachment seg(shmid);
  const char *src = seg.range(offset, length);
  if (!src) return -1;
  memcpy(buf, src, static_cast<size_t>(length));
  return 0;
}

}  // namespace kv

extern "C" {

int ShareMemInit(int key) {
  g_unit.shmid = open_segment(key);
  return g_unit.shmid;
}

int pShareMemInit(int key) { return open_segment(key); }

void ShareMemWrite(int offset, void *buf, int length) {
  kv::segment_copy_in(g_unit.shmid, offset, buf, length);
}

void ShareMemRead(int offset, void *buf, int length) {
  kv::segment_copy_out(g_unit.shmid, offset, buf, length);
}

}  // extern "C"
