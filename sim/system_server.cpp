// system_server (stand-in): the system server of the simulated board.
//
// Usage: Sandbox::startServer("system_server"). It serves the queue of key 14073 and
// creates that key's segment large enough for the slots of every client id (2..23); a
// segment that exists already is used as it is. Each request that names its sender
// (`src` > 0) is answered once, with a header of type `src`; one-way messages (`src` 0,
// such as the restart request) are only logged. SYS_MSG_QUIT (271), SIGTERM and SIGINT
// end it with status 0.
//
// Log, sim/log/system_server.log, one line per request received:
//   cmd=312 src=16 length=0 offset=172032 data=
// where data is the request's payload in hex (at most 64 bytes, read from the segment at
// `offset`; "outside" when that lies outside the segment).
//
// Control (Sandbox::setControl("system_server", key, text)): the shared keys of
// standin_server.h (hang, die, exit, reply.<id> with delay_ms/answer/die), and in reply.<id>:
//   length=N    the reply's length, the client's result (default: the request's length,
//               or the size of the reply data)
//   offset=N    where the reply data lies (default: the caller's slot)
//   data=text   reply data: the text's bytes;   hex=0a0b..  reply data as bytes
// The default answer of a request is its own header: a setter "succeeds" with its length,
// SysWatchDog returns 0.
#include <errno.h>
#include <stdio.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <string>
#include <vector>

#include "board_root.h"
#include "msg_util.h"
#include "share_mem.h"
#include "standin_server.h"
#include "sys_msg_drv.h"

namespace {

// Room for the slots of process ids 2 to 23.
constexpr int kSegmentSize = PROC_SLOT_OFFSET(24);
constexpr int kLoggedBytes = 64;

int openSegment() {
  int id = shmget(kv_ipc_key(SYS_MSG_KEY), kSegmentSize, IPC_CREAT | 0660);
  return id >= 0 ? id : pShareMemInit(SYS_MSG_KEY);
}

void logRequest(const kvsim::Control &control, int shmid, const SYS_MSG_BUF &msg) {
  std::string data;
  if (msg.length > 0) {
    unsigned char bytes[kLoggedBytes];
    int n = std::min(msg.length, kLoggedBytes);
    data = kv::segment_copy_out(shmid, msg.offset, bytes, n) == 0
               ? kvsim::hex(bytes, static_cast<size_t>(n))
               : "outside";
  }
  control.log("cmd=" + std::to_string(msg.cmd) + " src=" + std::to_string(msg.src) +
              " length=" + std::to_string(msg.length) + " offset=" + std::to_string(msg.offset) +
              " data=" + data);
}

SYS_MSG_BUF answer(const kvsim::Control &control, int shmid, const SYS_MSG_BUF &msg,
                   const kvsim::ReplyPlan &plan) {
  SYS_MSG_BUF reply = msg;
  reply.Des = msg.src;
  reply.shmid = shmid;
  reply.offset = static_cast<int32_t>(plan.number("offset", PROC_SLOT_OFFSET(msg.src)));
  std::vector<unsigned char> data;
  if (plan.has("hex") && !kvsim::unhex(plan.text("hex"), data)) control.log("bad hex");
  if (plan.has("data")) data.assign(plan.text("data").begin(), plan.text("data").end());
  const auto size = static_cast<int>(data.size());
  if (size > 0 && kv::segment_copy_in(shmid, reply.offset, data.data(), size) != 0)
    control.log("reply data outside the segment");
  reply.length = static_cast<int32_t>(plan.number("length", size > 0 ? size : msg.length));
  return reply;
}

}  // namespace

int main() {
  kvsim::Control control("system_server");
  kvsim::endOnSignals(control);
  const int qid = Msg_Init(SYS_MSG_KEY);
  const int shmid = openSegment();
  if (qid < 0 || shmid < 0) {
    fprintf(stderr, "system_server: cannot open the channel of key %d\n", SYS_MSG_KEY);
    return 1;
  }
  control.ready();
  for (;;) {
    SYS_MSG_BUF msg;
    if (Msg_Rsv(qid, 1, &msg, sizeof msg) < 0) {
      if (errno == EINTR) continue;
      return 1;  // the queue is gone: the sandbox is ending
    }
    // The plan is read before the request is logged: a test that sees the line may
    // change the control for the next request without racing this one.
    const kvsim::ReplyPlan plan = kvsim::loadPlan(control, msg.cmd);
    logRequest(control, shmid, msg);
    if (msg.cmd == SYS_MSG_QUIT) return 0;
    if (msg.src <= 0) continue;
    if (!kvsim::holdBeforeAnswer(control, plan)) continue;
    SYS_MSG_BUF reply = answer(control, shmid, msg, plan);
    Msg_Send(qid, &reply, sizeof reply);
  }
}
