// SPDX-License-Identifier: MIT
// What the four stand-in servers of the sandbox (kv_server, system_server, av_server.out,
// file_manager) share: one control vocabulary, with one meaning in every server, and one
// serve loop.
//
// Control files sim/ctl/<server>/<key> (Sandbox::setControl(server, key, text)), read
// anew whenever something in that folder changes:
//   hang        while it exists, the request in hand is logged but not answered; it is
//               answered once the file is removed ("answer late"). Later requests wait in
//               the queue meanwhile, as behind a stuck server.
//   die         the next request ends the server without an answer; the file's number is
//               the exit status (1 when empty).
//   exit        the server ends at once, with the status written in it (0 when empty).
//   quiet       no log of requests (the benchmark's setting: a log line costs a write()
//               as dear as the exchange it records).
//   reply       "key=value" lines for every request; reply.<id> for requests of that id,
//               over `reply`. Keys every server knows:
//                 delay_ms=N   answer N ms late (-1: never answer, and stop serving)
//                 answer=0     receive and log, but do not answer (keeps serving)
//                 die=N        end with status N on this request, without an answer
//                 length=N     the reply's length word (servers whose record has one)
//               A server's own keys (the reply's other words and data) are in its file.
// SIGTERM and SIGINT end a server at once with status 0. A request is answered only when
// it names its sender (a process id of 2 or more); one-way messages are logged only.
#pragma once

#include <errno.h>
#include <stddef.h>

#include <map>
#include <string>
#include <vector>

#include "kv_owners.hpp"
#include "msg_util.h"
#include "standin.h"

namespace kvsim {

struct ReplyPlan {
  std::map<std::string, std::string> keys;  // reply.<id> over reply
  bool has(const std::string &key) const { return keys.count(key) != 0; }
  long long number(const std::string &key, long long fallback) const;
  const std::string &text(const std::string &key) const;  // "" when missing
};

// The controls of one server, read again only when its control folder changed, so that
// a request costs one non-blocking read instead of a look at every file.
class Controls {
 public:
  explicit Controls(const Control &control);
  Controls(const Controls &) = delete;
  Controls &operator=(const Controls &) = delete;

  // Reads the folder again if anything in it changed since the last look.
  void refresh();
  bool quiet() const { return quiet_; }
  // The plan of request `id`: reply.<id> over reply.
  ReplyPlan planFor(int id) const;
  // Applies die, hang and delay_ms to a request about to be answered. False when it must
  // not be answered (answer=0). May not return at all (die, delay_ms=-1).
  bool holdBeforeAnswer(const ReplyPlan &plan);

 private:
  void load();
  void waitForChange();

  const Control &control_;
  kv::UniqueFd watch_;
  bool hang_ = false, quiet_ = false, die_ = false;
  int die_status_ = 1;
  std::map<std::string, std::string> defaults_;
  std::map<int, std::map<std::string, std::string>> by_id_;
};

// The log of received requests, sim/log/<server>.log. Held open, because opening it per
// line would cost more than the exchange the benchmark measures; opened again when a test
// removed it. One write() per line, so lines never mix with another writer's.
class RequestLog {
 public:
  explicit RequestLog(const Control &control);
  RequestLog(const RequestLog &) = delete;
  RequestLog &operator=(const RequestLog &) = delete;
  void write(std::string &line);

 private:
  std::string path_;
  kv::UniqueFd fd_;
};

// What every stand-in does first: makes its control folder, ends at once with status 0 on
// SIGTERM or SIGINT, and with the `exit` control's status as soon as that file appears.
// `onChange`, when given, runs in the watcher thread at start and whenever the control
// folder changed: the place for controls that make the server act on its own (kv_server's
// GPS channel requests).
void beginStandIn(const Control &control, void (*onChange)() = nullptr);

// The one serve loop. Takes the requests of type 1 on queue `qid` until the server's quit
// request or the end of the queue (the sandbox is ending), and returns the exit status.
// `Server` provides:
//   using Record = ...;                                  Des, cmd, src as its first words
//   static int sender(const Record &);                   the process id to answer
//   void describe(const Record &, std::string &line);    its log line
//   bool quits(const Record &) const;                    the request that ends the server
//   void answer(Record &, const ReplyPlan &);            the request turned into the reply
template <class Server>
int serve(Server &server, const Control &control, int qid) {
  using Record = typename Server::Record;
  Controls controls(control);
  RequestLog log(control);
  std::string line;
  for (;;) {
    Record rec{};
    if (Msg_Rsv(qid, MSG_TYPE_MSG1, &rec, sizeof rec) < 0) {
      if (errno == EINTR) continue;
      return 1;
    }
    // The controls are read before the request is logged: a test that sees the line may
    // change them for the next request without racing this one.
    controls.refresh();
    const ReplyPlan plan = controls.planFor(rec.cmd);
    if (!controls.quiet()) {
      server.describe(rec, line);
      log.write(line);
    }
    if (server.quits(rec)) return 0;
    // Type 1 is the server's own: a reply to 1 (or 0) would come back to it as a request.
    const int client = Server::sender(rec);
    if (client < MSG_TYPE_MSG2 || !controls.holdBeforeAnswer(plan)) continue;
    server.answer(rec, plan);
    rec.Des = client;
    kv::send_retrying(qid, &rec, sizeof rec);
  }
}

// Bytes as lower-case hex ("0a1b"); and back: false on a malformed text.
std::string hex(const void *data, size_t len);
bool unhex(const std::string &text, std::vector<unsigned char> &out);

}  // namespace kvsim
