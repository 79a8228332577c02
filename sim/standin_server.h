// What the stand-in servers of the sandbox (system_server, av_server.out) share: how a
// test tells them to answer, hang or die, and how they end.
//
// Control files, read anew on every request (Sandbox::setControl(server, key, text)):
//   hang           while it exists, requests are received and logged but not answered;
//                  answered once it is removed ("answer late").
//   die            the next request ends the server without an answer; the file's number
//                  is the exit status (1 when empty).
//   exit           the server ends at once (within 20 ms), with the status written in it
//                  (0 when empty), as the kv_server stand-in does.
//   reply.<id>     "key=value" lines for requests of that id; `reply` holds defaults for
//                  every id. Keys shared by both servers:
//                    delay_ms=N   answer N ms late (-1: never answer, and stop serving)
//                    answer=0     receive and log, but do not answer (keeps serving)
//                    die=N        end with status N on this request, without an answer
//                  The server's own keys (the reply's words and data) are in its file.
#pragma once

#include <stddef.h>

#include <map>
#include <string>
#include <vector>

#include "standin.h"

namespace kvsim {

struct ReplyPlan {
  std::map<std::string, std::string> keys;  // reply.<id> over reply
  bool has(const std::string &key) const { return keys.count(key) != 0; }
  long long number(const std::string &key, long long fallback) const;
  const std::string &text(const std::string &key) const;  // "" when missing
};

// The plan for request `id`.
ReplyPlan loadPlan(const Control &control, int id);

// SIGTERM and SIGINT end the server at once with status 0; so does the `exit` control,
// with its own status.
void endOnSignals(const Control &control);

// Applies the shared keys and the `hang`/`die` files. Returns false when this request
// must not be answered. May not return at all (die, delay_ms=-1).
bool holdBeforeAnswer(const Control &control, const ReplyPlan &plan);

// Bytes as lower-case hex ("0a1b"); and back: false on a malformed text.
std::string hex(const void *data, size_t len);
bool unhex(const std::string &text, std::vector<unsigned char> &out);

}  // namespace kvsim
