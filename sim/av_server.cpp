// av_server.out (stand-in): the AV server of the simulated board.
//
// Usage: Sandbox::startServer("av_server.out"). It serves the queue of key 74565 (no
// segment). Each request that names its sender (`Src` > 0) is answered once with a record
// of type `Src`; one-way messages (`Src` 0: UnlockFrame, SendQuitCmd) are only logged.
// MSG_CMD_QUIT (2), SIGTERM and SIGINT end it with status 0.
//
// Log, sim/log/av_server.out.log, one line per request received:
//   cmd=28 src=16 value=30 serial_no=0 format=0 eventframe=0 payload=1e
// value is the word at offset 16; payload the bytes from offset 16 in hex, trailing zero
// bytes left out (a text setter's payload is its length word, then its bytes).
//
// Control (Sandbox::setControl("av_server.out", key, text)): the shared keys of
// standin_server.h (hang, die, exit, reply.<id> with delay_ms/answer/die), and in reply.<id>:
//   ret=N           the reply's result word (default 0)
//   hex=0a0b..      bytes written over the reply from offset 16
//   <field>=N       one word of the reply: addr, memsize (MSG_MEM) or a FrameInfo_t field
//                   (offset, serial_no, size, width, height, format, frameType, eventframe,
//                   quality, flags, timestamp, temporalId, frameNum, timeTick)
// The default answer is the request itself with `ret` 0.
#include <errno.h>
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

void logRequest(const kvsim::Control &control, const MSG_BUF &msg) {
  const auto *bytes = reinterpret_cast<const unsigned char *>(&msg);
  size_t end = sizeof msg;
  while (end > kPayloadAt && bytes[end - 1] == 0) --end;
  int32_t value;
  memcpy(&value, bytes + kPayloadAt, sizeof value);
  control.log("cmd=" + std::to_string(msg.cmd) + " src=" + std::to_string(msg.Src) + " value=" +
              std::to_string(value) + " serial_no=" + std::to_string(msg.frame_info.serial_no) +
              " format=" + std::to_string(msg.frame_info.format) +
              " eventframe=" + std::to_string(msg.frame_info.eventframe) +
              " payload=" + kvsim::hex(bytes + kPayloadAt, end - kPayloadAt));
}

MSG_BUF answer(const kvsim::Control &control, const MSG_BUF &msg, const kvsim::ReplyPlan &plan) {
  MSG_BUF reply = msg;
  reply.Des = msg.Src;
  reply.ret = static_cast<int32_t>(plan.number("ret", 0));
  auto *bytes = reinterpret_cast<unsigned char *>(&reply);
  std::vector<unsigned char> data;
  if (plan.has("hex") && !kvsim::unhex(plan.text("hex"), data)) control.log("bad hex");
  if (!data.empty())
    memcpy(bytes + kPayloadAt, data.data(), std::min(data.size(), sizeof reply - kPayloadAt));
  for (const Field &f : kFields) {
    if (!plan.has(f.name)) continue;
    auto word = static_cast<uint32_t>(plan.number(f.name, 0));
    memcpy(bytes + f.at, &word, sizeof word);
  }
  return reply;
}

}  // namespace

int main() {
  kvsim::Control control("av_server.out");
  kvsim::endOnSignals(control);
  const int qid = Msg_Init(ORVEL_MSG_KEY);
  if (qid < 0) {
    fprintf(stderr, "av_server.out: cannot open the queue of key %d\n", ORVEL_MSG_KEY);
    return 1;
  }
  control.ready();
  for (;;) {
    MSG_BUF msg;
    if (Msg_Rsv(qid, 1, &msg, sizeof msg) < 0) {
      if (errno == EINTR) continue;
      return 1;  // the queue is gone: the sandbox is ending
    }
    // The plan is read before the request is logged: a test that sees the line may
    // change the control for the next request without racing this one.
    const kvsim::ReplyPlan plan = kvsim::loadPlan(control, msg.cmd);
    logRequest(control, msg);
    if (msg.cmd == MSG_CMD_QUIT) return 0;
    if (msg.Src <= 0) continue;
    if (!kvsim::holdBeforeAnswer(control, plan)) continue;
    MSG_BUF reply = answer(control, msg, plan);
    Msg_Send(qid, &reply, sizeof reply);
  }
}
