// SPDX-License-Identifier: MIT
#include "navlink_bus.h"

#include <errno.h>
#include <sys/ipc.h>

#include <mutex>

#include "kv_common_util.h"
#include "kv_msg_drv.h"
#include "msg_util.h"
#include "share_mem.h"

namespace {

constexpr int kBusProcId = 6;  // kv_navlink's number on the event bus
constexpr int kRecordSize = sizeof(KV_MSG_BUF);
// How often the serial reader looks for kv_server's answer (and for its own stop).
constexpr int kAnswerPollMs = 5;
// The daemon's 12 KiB slot of the bus segment, cut into places for one payload each (at
// most a 104-byte record). Place 0, the slot's start, is the blocking request's; the
// one-way payloads take the others in turn.
constexpr int kPayloadRoom = 128;
constexpr int kPayloadPlaces = PROC_MSG_SIZE / kPayloadRoom;
static_assert(sizeof(RearCmdRecord) <= kPayloadRoom, "a record fits its place");

struct Bus {
  std::mutex members;  // guards `joined`
  int joined = 0;
  // Held for every message of the daemon on the bus, and by the serial reader until
  // kv_server has answered a blocking event: the payload slot is the process's, and a
  // notice's payload must not overwrite a record that kv_server has yet to read.
  std::mutex gate;
  unsigned kept = 0;  // the GPS reader's notices not sent yet (its thread alone)
  int place = 0;      // the last place a one-way payload took (under `gate`)
} g;

// A one-way event (src 0, no answer). kv_server finds the payload only through the
// record's `offset` (a one-way record names no sender), and takes it when it comes to
// the event. The bus library puts every payload at the start of the slot, so two events
// of one read of the link (two saved-recording notices, a pause and a resume) would
// leave kv_server the second record twice. Here each payload has a place of its own,
// reused only after 95 more. The payload length sent, or -1.
int sendOneWay(int id, const void *data, int len) {
  int proc = GetKVProcId();
  if (proc <= MSG_TYPE_MSG1) return -1;  // not on the bus
  KV_MSG_BUF rec = {};
  rec.Des = MSG_TYPE_MSG1;
  rec.cmd = id;
  rec.offset = PROC_SLOT_OFFSET(proc);
  if (data && len > 0) {
    g.place = g.place % (kPayloadPlaces - 1) + 1;
    rec.offset += g.place * kPayloadRoom;
    rec.length = len;
    if (kv::segment_copy_in(GetKVMemId(), rec.offset, data, len) != 0) return -1;
  }
  // A full queue drops the event, as every one-way event of the bus.
  Msg_SendFlags(GetKVMsgId(), &rec, kRecordSize, IPC_NOWAIT);
  return rec.length;
}

int sendCode(int id, int32_t value) { return sendOneWay(id, &value, sizeof value); }

void sendNotices(unsigned notices) {
  if (notices & kNoticeGpsSource) sendCode(KV_MSG_SEND_TO_FRONT_GPS_START, SEND_TO_FRONT_GPS_START);
  if (notices & kNoticeOsd) sendOneWay(KV_MSG_UPDATE_OSD, nullptr, 0);
  if (notices & kNoticeSignalOn) sendCode(KV_MSG_GPS_SIGNAL_ONOFF, 1);
}

// An answer that came after an earlier wait was given up (the daemon ended before
// kv_server answered) must not be taken for the answer to this request.
void dropStaleAnswers(int qid, int proc) {
  KV_MSG_BUF stale;
  while (Msg_RsvFlags(qid, proc, &stale, kRecordSize, IPC_NOWAIT) >= 0) {
  }
}

// The blocking shape of the bus (payload in the slot, request, the answer of type 6),
// with waits that can be given up: the library's blocking senders wait for good.
// kv_server's answer `length`, or -1.
int exchange(int id, const void *data, int len, bool (*keep_waiting)()) {
  int qid = GetKVMsgId(), proc = GetKVProcId();
  if (proc <= MSG_TYPE_MSG1) return -1;  // not on the bus
  KV_MSG_BUF rec = {};
  rec.Des = MSG_TYPE_MSG1;
  rec.cmd = id;
  rec.src = proc;
  rec.length = len;
  rec.offset = PROC_SLOT_OFFSET(proc);
  dropStaleAnswers(qid, proc);
  if (kv::segment_copy_in(GetKVMemId(), rec.offset, data, len) != 0) return -1;
  // The queue may be full while kv_server is stuck: the request waits for room.
  while (Msg_SendFlags(qid, &rec, kRecordSize, IPC_NOWAIT) < 0) {
    if ((errno != EAGAIN && errno != EINTR) || !keep_waiting()) return -1;
    kv::sleep_ms(kAnswerPollMs);
  }
  while (Msg_RsvFlags(qid, proc, &rec, kRecordSize, IPC_NOWAIT) < 0) {
    if ((errno != ENOMSG && errno != EINTR) || !keep_waiting()) return -1;
    kv::sleep_ms(kAnswerPollMs);
  }
  return rec.length;
}

}  // namespace

int NavBusJoin() {
  std::lock_guard<std::mutex> lock(g.members);
  if (g.joined == 0 && KVDrvInit(kBusProcId) != 0) return -1;
  ++g.joined;
  return 0;
}

void NavBusLeave() {
  std::lock_guard<std::mutex> lock(g.members);
  if (g.joined > 0 && --g.joined == 0) KVDrvExit();
}

void NavBusNotify(unsigned notices) {
  g.kept |= notices;
  NavBusFlush();
}

void NavBusFlush() {
  if (!g.kept) return;
  std::unique_lock<std::mutex> gate(g.gate, std::try_to_lock);
  if (!gate.owns_lock()) return;  // the serial reader waits for kv_server: next pass
  unsigned notices = g.kept;
  g.kept = 0;
  sendNotices(notices);
}

void NavBusRearEvent(const navlink::RearCommand &command, bool (*keep_waiting)()) {
  std::lock_guard<std::mutex> gate(g.gate);
  const RearCmdRecord &r = command.record;
  int id = KV_MSG_CMD_FROM_REAR_START + command.code;
  switch (command.event) {
    case navlink::RearEvent::Code:
      sendCode(id, command.code);
      break;
    case navlink::RearEvent::Record:
      sendOneWay(id, &r, sizeof r);
      break;
    case navlink::RearEvent::RecordBlocking:
      exchange(id, &r, sizeof r, keep_waiting);
      break;
    case navlink::RearEvent::None:
      break;
  }
}
