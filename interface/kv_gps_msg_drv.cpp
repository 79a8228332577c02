// SPDX-License-Identifier: MIT
#include "kv_gps_msg_drv.h"

#include <stdint.h>
#include <stdio.h>
#include <sys/ipc.h>

#include <atomic>

#include "kv_msg_drv.h"
#include "msg_util.h"
#include "sem_util.h"
#include "share_mem.h"

namespace {

// The unit's state, one copy per program; the accessors may be called from any thread.
struct {
  std::atomic<int> gKVGpsProcId{1};
  std::atomic<int> gKVGpsMsgId{0};
  std::atomic<int> gKVGpsMemId{0};
  std::atomic<SemHandl_t> hndlDrvGpsSem{nullptr};
} g_gps;

constexpr int kRecordSize = sizeof(KV_MSG_BUF);  // the kernel is handed 20 bytes
constexpr int kFirstProcId = 1;
constexpr int kLastProcId = 23;

// The sender's slot, by the channel's arithmetic: (id - 2) x 0x3000. Every record carries
// it, with or without a payload. An id set through SetKVGpsProcId beyond any slot a word
// can name gives -1.
int own_slot() {
  int64_t offset = int64_t{g_gps.gKVGpsProcId.load()} * PROC_MSG_SIZE - 2 * PROC_MSG_SIZE;
  return offset >= INT32_MIN && offset <= INT32_MAX ? static_cast<int>(offset) : -1;
}

// Ids 11 to 23 (and the 1 left after a failed set-up) have no whole slot inside the
// channel's segment. Refusing their payloads, before any copy, keeps one from landing in
// another process's slot when the segment is larger than the one kv_navlink makes.
bool fits_own_slot(int offset, int len) {
  return offset >= 0 && len >= 0 && len <= PROC_MSG_SIZE &&
         int64_t{offset} + PROC_MSG_SIZE <= PROC_MEM_SIZE;
}

// One-way: src 0, no reply, never a wait for room in the queue. A payload that cannot be
// placed whole in the sender's own slot is not announced: -1, nothing sent.
int send_one_way(int cmd, const void *data, int len) {
  KV_MSG_BUF rec{};
  rec.Des = MSG_TYPE_MSG1;
  rec.cmd = cmd;
  rec.length = data ? len : 0;
  rec.offset = own_slot();
  kv::SemHold lock(g_gps.hndlDrvGpsSem.load());
  if (data && len != 0) {
    if (!fits_own_slot(rec.offset, len)) return -1;
    if (kv::segment_copy_in(g_gps.gKVGpsMemId.load(), rec.offset, data, len) != 0) return -1;
  }
  Msg_SendFlags(g_gps.gKVGpsMsgId.load(), &rec, kRecordSize, IPC_NOWAIT);
  return rec.length;
}

int fail(const char *message) {
  fputs(message, stderr);
  g_gps.gKVGpsProcId = 1;
  return -1;
}

}  // namespace

extern "C" {

int KVGpsDrvInit(int proc_id) {
  if (proc_id < kFirstProcId || proc_id > kLastProcId) return fail("Error:Invalid Parameter\n");
  g_gps.gKVGpsProcId = proc_id;
  g_gps.gKVGpsMemId = KVShareMemInit(KV_GPS_MSG_KEY);
  if (g_gps.gKVGpsMemId < 0) return fail("Error:Share Memory init fail\n");
  if (!g_gps.hndlDrvGpsSem.load()) {
    g_gps.hndlDrvGpsSem = MakeSem();
    if (!g_gps.hndlDrvGpsSem.load()) return fail("Error:No more memory to create semaphore\n");
  }
  g_gps.gKVGpsMsgId = Msg_Init(KV_GPS_MSG_KEY);
  if (g_gps.gKVGpsMsgId < 0) {
    DestroySem(g_gps.hndlDrvGpsSem.exchange(nullptr));
    return fail("Error:Msg_Init fail\n");
  }
  return 0;
}

int KVGpsDrvExit(void) {
  g_gps.gKVGpsProcId = 1;
  if (SemHandl_t lock = g_gps.hndlDrvGpsSem.exchange(nullptr)) DestroySem(lock);
  return 0;
}

int KVGpsMSG_StartSave(void *pFnt, int len) { return send_one_way(KV_GPS_START_SAVE, pFnt, len); }

int KVGpsMSG_StopSave(void) {
  send_one_way(KV_GPS_STOP_SAVE, nullptr, 0);
  return 0;
}

int KVGpsMSG_SendToFront(int command) { return send_one_way(command, &command, sizeof command); }

void SendKVGpsQuitCmd(void) {
  KV_MSG_BUF rec{};
  rec.Des = MSG_TYPE_MSG1;
  rec.cmd = KV_GPS_QUIT;
  Msg_Send(g_gps.gKVGpsMsgId.load(), &rec, kRecordSize);
}

void SetKVGpsProcId(int id) { g_gps.gKVGpsProcId = id; }
int GetKVGpsProcId(void) { return g_gps.gKVGpsProcId; }
void SetKVGpsMsgId(int id) { g_gps.gKVGpsMsgId = id; }
int GetKVGpsMsgId(void) { return g_gps.gKVGpsMsgId; }
void SetKVGpsMemId(int id) { g_gps.gKVGpsMemId = id; }
int GetKVGpsMemId(void) { return g_gps.gKVGpsMemId; }

}  // extern "C"
