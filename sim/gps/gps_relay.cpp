// SPDX-License-Identifier: MIT
// gps_relay: sends relay requests on kv_navlink's GPS channel (key 49609, derived from the
// sandbox like every key), as a process of the rear unit besides kv_server would.
//
// Usage:
//   gps_relay <proc> [--at <tick>] <code> [<code> ...]
//     Joins the channel as process <proc> (2 to 10: a slot inside the segment) and sends
//     KVGpsMSG_SendToFront(code) for each code, in order, without pause. With --at, the
//     first send waits for that tick (monotonic ms, the programs' tick), so that two
//     senders started apart send at the same moment.
//   Exit status 0 when every send was accepted, 1 when one was refused, 2 for a wrong
//   command line.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "kv_common_util.h"
#include "kv_gps_msg_drv.h"

namespace {

int usage() {
  fputs("usage: gps_relay <proc> [--at <tick>] <code> [<code> ...]\n", stderr);
  return 2;
}

bool number(const char *text, long long &out) {
  char *end = nullptr;
  out = strtoll(text, &end, 10);
  return end != text && *end == '\0';
}

}  // namespace

int main(int argc, char **argv) {
  long long proc = 0, at = 0;
  if (argc < 3 || !number(argv[1], proc) || proc < 2 || proc > 10) return usage();
  int first = 2;
  if (strcmp(argv[first], "--at") == 0) {
    if (argc < first + 3 || !number(argv[first + 1], at)) return usage();
    first += 2;
  }
  if (KVGpsDrvInit(static_cast<int>(proc)) != 0) return 1;
  while (kv::tick_ms() < at) kv::sleep_ms(1);
  int status = 0;
  for (int i = first; i < argc; ++i) {
    long long code = 0;
    if (!number(argv[i], code)) return usage();
    if (KVGpsMSG_SendToFront(static_cast<int>(code)) != 4) status = 1;
  }
  KVGpsDrvExit();
  return status;
}
