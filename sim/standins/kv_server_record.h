// SPDX-License-Identifier: MIT
// The kv_server stand-in's recording controller: what the recorder's kv_server does around
// one recording, so that kv_shocklog and kv_navlink see the very requests, arguments and
// signals of the recorder. A test or the demo writes one or more lines into the control
// file sim/ctl/kv_server/record; the stand-in takes the file, serves the lines in order,
// logs each to sim/log/kv_server.log and removes the file (kvsim::sendRecordRequests).
//
//   start [kind=always|impact|manual|motion|parking] [state=drive|park] [pre=<ms>]
//         [length=<ms>] [video=1]
//       Names the recording by the library's rule (GenerateRecordFileName in the card's
//       recordings folder, the unit's role from SysInfo, the name's time that of the
//       recording's first moment, `pre` ms before now), starts
//         kv_shocklog <stem> <pre> <start tick> 0 <length>
//       and asks kv_navlink on the GPS channel for the track of the same stem from the same
//       start tick (pre > 0: the seconds before are written first; 0: from the request),
//       closed by itself after <length> ms. Defaults: always, drive, 0, 60000. A recording
//       still running is stopped first. With video=1 the stop also leaves the recording's
//       video <stem>.mp4, as the recorder does, where ffmpeg is installed: a test pattern
//       as long as the recording, its seconds burnt in (off by default: ffmpeg takes a
//       second, and most tests look at the track and data files only).
//   stop     SIGINT to kv_shocklog (its end awaited, at most 5 s), then the track stop. On
//            a rear unit the saved recording is then announced to the front unit:
//            file_name_tmp_time in SysInfo set to the name's time, and the relay request
//            of its kind (70 "#CMAND" ... 76 "#CMANP").
//   cancel   The recording is called off: SIGUSR2 to kv_shocklog and to kv_navlink (within
//            6 s of the start both then delete their file), then as stop, without notice.
//
// Log lines:
//   record start stem=<stem> time=<the name's time, seconds since 1970> shocklog=<pid>
//       args=<kv_shocklog's arguments> track=<result>
//   record stop stem=<stem> shocklog_exit=<status, -1: still running> track=<result>
//       [video=<0 written, else ffmpeg's status>] [announce=<code> result=<result>]
//   record cancel stem=<stem> ... (as stop)
//   record refused <reason>
#pragma once

#include <chrono>
#include <string>

#include "sandbox.h"

namespace kvsim {

// Serves the control file if it is there; called by the stand-in's control watcher.
void serveRecordRequests();

// For tests and the demo: writes the requests and waits until the stand-in has served them.
inline bool sendRecordRequests(
    const Sandbox &board, const std::string &lines,
    std::chrono::milliseconds timeout = std::chrono::milliseconds(10000)) {
  return board.sendRequests("kv_server", "record", lines, timeout);
}

}  // namespace kvsim
