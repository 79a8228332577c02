// SPDX-License-Identifier: MIT
// system_server (stand-in): the system server of the simulated board.
//
// Usage: Sandbox::startServer("system_server"). It serves the queue of key 14073 and
// creates that key's segment large enough for the slots of every client id (2..23); a
// segment that exists already is used as it is. Each request that names its sender
// (`src` 2 or more) is answered once, with a header of type `src`; one-way messages (`src` 0,
// such as the restart request) are only logged. SYS_MSG_QUIT (271), SIGTERM and SIGINT
// end it with status 0.
//
// Log, sim/log/system_server.log, one line per request received:
//   cmd=312 src=16 length=0 offset=172032 data=
// where data is the request's payload in hex (at most 64 bytes, read from the segment at
// `offset`; "outside" when that lies outside the segment).
//
// Control (Sandbox::setControl("system_server", key, text)): the shared vocabulary of
// standin_server.h (hang, die, exit, quiet, reply and reply.<id> with delay_ms, answer, die
// and length: the reply's length, the client's result; default the request's length, or
// the size of the reply data), and in reply / reply.<id>:
//   offset=N    where the reply data lies (default: the caller's slot)
//   data=text   reply data: the text's bytes;   hex=0a0b..  reply data as bytes
// The default answer of a request is its own header: a setter "succeeds" with its length,
// SysWatchDog returns 0.
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

class SystemServer {
 public:
  using Record = SYS_MSG_BUF;

  SystemServer(const kvsim::Control &control, int shmid) : control_(control), shmid_(shmid) {}

  static int sender(const Record &msg) { return msg.src; }
  bool quits(const Record &msg) const { return msg.cmd == SYS_MSG_QUIT; }

  void describe(const Record &msg, std::string &line) {
    std::string data;
    if (msg.length > 0) {
      unsigned char bytes[kLoggedBytes];
      int n = std::min(msg.length, kLoggedBytes);
      data = kv::segment_copy_out(shmid_, msg.offset, bytes, n) == 0
                 ? kvsim::hex(bytes, static_cast<size_t>(n))
                 : "outside";
    }
    line = "cmd=" + std::to_string(msg.cmd) + " src=" + std::to_string(msg.src) +
           " length=" + std::to_string(msg.length) + " offset=" + std::to_string(msg.offset) +
           " data=" + data;
  }

  void answer(Record &msg, const kvsim::ReplyPlan &plan) {
    msg.shmid = shmid_;
    msg.offset = static_cast<int32_t>(plan.number("offset", PROC_SLOT_OFFSET(msg.src)));
    std::vector<unsigned char> data;
    if (plan.has("hex") && !kvsim::unhex(plan.text("hex"), data)) control_.log("bad hex");
    if (plan.has("data")) data.assign(plan.text("data").begin(), plan.text("data").end());
    const auto size = static_cast<int>(data.size());
    if (size > 0 && kv::segment_copy_in(shmid_, msg.offset, data.data(), size) != 0)
      control_.log("reply data outside the segment");
    msg.length = static_cast<int32_t>(plan.number("length", size > 0 ? size : msg.length));
  }

 private:
  const kvsim::Control &control_;
  int shmid_;
};

}  // namespace

int main() {
  kvsim::Control control("system_server");
  kvsim::beginStandIn(control);
  const int qid = Msg_Init(SYS_MSG_KEY);
  const int shmid = openSegment();
  if (qid < 0 || shmid < 0) {
    fprintf(stderr, "system_server: cannot open the channel of key %d\n", SYS_MSG_KEY);
    return 1;
  }
  control.ready();
  SystemServer server(control, shmid);
  return kvsim::serve(server, control, qid);
}
