// SPDX-License-Identifier: MIT
// av_server.out (stand-in): the AV server of the simulated board.
//
// Usage: Sandbox::startServer("av_server.out"). It serves the queue of key 74565 (no
// segment). Each request that names its sender (`Src` 2 or more) is answered once with a record
// of type `Src`; one-way messages (`Src` 0: UnlockFrame, SendQuitCmd) are only logged.
// MSG_CMD_QUIT (2), SIGTERM and SIGINT end it with status 0.
//
// Log, sim/log/av_server.out.log, one line per request received:
//   cmd=28 src=16 value=30 serial_no=0 format=0 eventframe=0 payload=1e
// value is the word at offset 16; payload the bytes from offset 16 in hex, trailing zero
// bytes left out (a text setter's payload is its length word, then its bytes).
//
// Control (Sandbox::setControl("av_server.out", key, text)): the shared vocabulary of
// standin_server.h (hang, die, exit, quiet, reply and reply.<id> with delay_ms, answer and
// die; the record has no length word), and in reply / reply.<id>:
//   ret=N           the reply's result word (default 0)
//   hex=0a0b..      bytes written over the reply from offset 16
//   <field>=N       one word of the reply: addr, memsize (MSG_MEM) or a FrameInfo_t field
//                   (offset, serial_no, size, width, height, format, frameType, eventframe,
//                   quality, flags, timestamp, temporalId, frameNum, timeTick)
// The default answer is the request itself with `ret` 0.
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "OrvelDrvMsg.h"
#include "msg_util.h"
#include "standin_server.h"

namespace {

constexpr size_t kPayloadAt = offsetof(MSG_BUF, mem_info);

struct Field {
  const char *name;
  size_t at;
};

const Field kFields[] = {
    {"addr", offsetof(MSG_BUF, mem_info.addr)},
    {"memsize", offsetof(MSG_BUF, mem_info.size)},
    {"offset", offsetof(MSG_BUF, frame_info.offset)},
    {"serial_no", offsetof(MSG_BUF, frame_info.serial_no)},
    {"size", offsetof(MSG_BUF, frame_info.size)},
    {"width", offsetof(MSG_BUF, frame_info.width)},
    {"height", offsetof(MSG_BUF, frame_info.height)},
    {"format", offsetof(MSG_BUF, frame_info.format)},
    {"frameType", offsetof(MSG_BUF, frame_info.frameType)},
    {"eventframe", offsetof(MSG_BUF, frame_info.eventframe)},
    {"quality", offsetof(MSG_BUF, frame_info.quality)},
    {"flags", offsetof(MSG_BUF, frame_info.flags)},
    {"timestamp", offsetof(MSG_BUF, frame_info.timestamp)},
    {"temporalId", offsetof(MSG_BUF, frame_info.temporalId)},
    {"frameNum", offsetof(MSG_BUF, frame_info.frameNum)},
    {"timeTick", offsetof(MSG_BUF, frame_info.timeTick)},
};

class AvServer {
 public:
  using Record = MSG_BUF;

  explicit AvServer(const kvsim::Control &control) : control_(control) {}

  static int sender(const Record &msg) { return msg.Src; }
  bool quits(const Record &msg) const { return msg.cmd == MSG_CMD_QUIT; }

  void describe(const Record &msg, std::string &line) {
    const auto *bytes = reinterpret_cast<const unsigned char *>(&msg);
    size_t end = sizeof msg;
    while (end > kPayloadAt && bytes[end - 1] == 0) --end;
    int32_t value;
    memcpy(&value, bytes + kPayloadAt, sizeof value);
    line = "cmd=" + std::to_string(msg.cmd) + " src=" + std::to_string(msg.Src) +
           " value=" + std::to_string(value) +
           " serial_no=" + std::to_string(msg.frame_info.serial_no) +
           " format=" + std::to_string(msg.frame_info.format) +
           " eventframe=" + std::to_string(msg.frame_info.eventframe) +
           " payload=" + kvsim::hex(bytes + kPayloadAt, end - kPayloadAt);
  }

  void answer(Record &msg, const kvsim::ReplyPlan &plan) {
    msg.ret = static_cast<int32_t>(plan.number("ret", 0));
    auto *bytes = reinterpret_cast<unsigned char *>(&msg);
    std::vector<unsigned char> data;
    if (plan.has("hex") && !kvsim::unhex(plan.text("hex"), data)) control_.log("bad hex");
    if (!data.empty())
      memcpy(bytes + kPayloadAt, data.data(), std::min(data.size(), sizeof msg - kPayloadAt));
    for (const Field &f : kFields) {
      if (!plan.has(f.name)) continue;
      auto word = static_cast<uint32_t>(plan.number(f.name, 0));
      memcpy(bytes + f.at, &word, sizeof word);
    }
  }

 private:
  const kvsim::Control &control_;
};

}  // namespace

int main() {
  kvsim::Control control("av_server.out");
  kvsim::beginStandIn(control);
  const int qid = Msg_Init(ORVEL_MSG_KEY);
  if (qid < 0) {
    fprintf(stderr, "av_server.out: cannot open the queue of key %d\n", ORVEL_MSG_KEY);
    return 1;
  }
  control.ready();
  AvServer server(control);
  return kvsim::serve(server, control, qid);
}
