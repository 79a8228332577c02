// SPDX-License-Identifier: MIT
// kv_server: stands in for the recorder's event hub on a simulated board.
//
// It serves the event bus (queue and segment of key 49601, derived from the sandbox like
// every key): it reads the messages of type 1, logs each one, and answers every blocking
// request (src 2..23) with one reply of type src. Replies carry `length` 0, except
// KV_MSG_GET_PREVIOUS_GSENSOR (280), answered with `length` 2000 and the shmid/offset of
// the requester's own slot, where the last 50 G-sensor items of the feed now lie (oldest
// first; missing ones empty, tick 0). One-way messages (src 0) get no reply.
//
// Usage in a test:
//   kvsim::Sandbox board;
//   board.startServer("kv_server");                 // returns once the queue is open
//   board.setControl("kv_server", "hang", "");      // from now on no request is answered
//   auto lines = board.serverLog("kv_server");     // one line per event received
//
// Log, sim/log/kv_server.log, one line per message received, in order:
//   id=<cmd> src=<src> length=<length> offset=<offset> payload=<hex bytes of the slot>
// (payload is empty without one, "?" when it lies outside the segment).
//
// Control: the shared vocabulary of standin_server.h (hang, die, exit, quiet, reply and
// reply.<id> with delay_ms, answer, die and length: `length` replaces the reply's length
// word), and
//   gsensor_items   the G-sensor feed, one item per line, oldest first:
//                     llTick llTick2 nAxis1 nAxis2 nAxis3 nReserved nSensor4 nBattery
//                   decimal, separated by blanks; missing trailing fields are 0; blank
//                   lines and lines starting with '#' are skipped. The last 50 are served.
//   gps             requests to send on kv_navlink's GPS channel (see kv_server_gps.h)
//   record          a recording to start, stop or call off as the recorder does it:
//                   kv_shocklog, the track, the rear's notice (see kv_server_record.h)
#include <stdio.h>

#include <algorithm>
#include <array>
#include <sstream>
#include <string>
#include <vector>

#include "kv_msg_drv.h"
#include "kv_server_gps.h"
#include "kv_server_record.h"
#include "msg_util.h"
#include "share_mem.h"
#include "standin_server.h"

namespace {

using GsensorItems = std::array<GSENSOR_ITEM, KV_PREVIOUS_GSENSOR_ITEMS>;

// The last 50 items of the feed, oldest first; the places of missing ones stay empty
// (tick 0) at the front, so the newest item is always the last.
GsensorItems loadGsensorItems(const kvsim::Control &control) {
  std::vector<GSENSOR_ITEM> fed;
  std::istringstream in(control.text("gsensor_items"));
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    long long v[8] = {};
    int n = sscanf(line.c_str(), "%lld %lld %lld %lld %lld %lld %lld %lld", &v[0], &v[1], &v[2],
                   &v[3], &v[4], &v[5], &v[6], &v[7]);
    if (n < 1) continue;
    GSENSOR_ITEM item{};
    item.llTick = v[0];
    item.llTick2 = v[1];
    item.nAxis1 = static_cast<int32_t>(v[2]);
    item.nAxis2 = static_cast<int32_t>(v[3]);
    item.nAxis3 = static_cast<int32_t>(v[4]);
    item.nReserved = static_cast<int32_t>(v[5]);
    item.nSensor4 = static_cast<int32_t>(v[6]);
    item.nBattery = static_cast<int32_t>(v[7]);
    fed.push_back(item);
  }
  GsensorItems items{};
  size_t n = std::min(fed.size(), items.size());
  std::copy(fed.end() - static_cast<std::ptrdiff_t>(n), fed.end(), items.end() - n);
  return items;
}

class EventHub {
 public:
  using Record = KV_MSG_BUF;

  EventHub(const kvsim::Control &control, int shmid) : control_(control), shmid_(shmid) {}

  static int sender(const Record &rec) { return rec.src; }
  bool quits(const Record &) const { return false; }

  // "id=.. src=.. length=.. offset=.. payload=<hex>", the payload read from the slot.
  void describe(const Record &rec, std::string &line) {
    char head[128];
    snprintf(head, sizeof head, "id=%d src=%d length=%d offset=%d payload=", rec.cmd, rec.src,
             rec.length, rec.offset);
    line = head;
    if (rec.length <= 0) return;
    if (rec.length <= PROC_MSG_SIZE &&
        kv::segment_copy_out(shmid_, rec.offset, payload_, rec.length) == 0)
      line += kvsim::hex(payload_, static_cast<size_t>(rec.length));
    else
      line += '?';
  }

  void answer(Record &rec, const kvsim::ReplyPlan &plan) {
    rec.length = 0;
    if (rec.cmd == KV_MSG_GET_PREVIOUS_GSENSOR) answerPreviousGsensor(rec);
    rec.length = static_cast<int32_t>(plan.number("length", rec.length));
  }

 private:
  // The previous G-sensor data go into the requester's own slot, which it does not touch
  // while it waits for this reply. A slot outside the segment gets no data (length 0).
  void answerPreviousGsensor(Record &rec) {
    GsensorItems items = loadGsensorItems(control_);
    int offset = PROC_SLOT_OFFSET(rec.src);
    if (kv::segment_copy_in(shmid_, offset, items.data(), KV_PREVIOUS_GSENSOR_LENGTH) != 0) return;
    rec.shmid = shmid_;
    rec.offset = offset;
    rec.length = KV_PREVIOUS_GSENSOR_LENGTH;
  }

  const kvsim::Control &control_;
  int shmid_;
  unsigned char payload_[PROC_MSG_SIZE];
};

// Hook of the control watcher: the controls that make kv_server act on its own. Each
// takes its file only when it is there, so a change to another control costs a look.
void actOnControls() {
  kvsim::serveGpsRequests();
  kvsim::serveRecordRequests();
}

}  // namespace

int main() {
  kvsim::Control control("kv_server");
  kvsim::beginStandIn(control, actOnControls);
  const int qid = Msg_Init(KV_MSG_KEY), shmid = ShareMemInit(KV_MSG_KEY);
  if (qid < 0 || shmid < 0) {
    perror("kv_server: cannot open the event bus");
    return 1;
  }
  control.ready();
  EventHub hub(control, shmid);
  return kvsim::serve(hub, control, qid);
}
