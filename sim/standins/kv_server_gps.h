// SPDX-License-Identifier: MIT
// The kv_server stand-in's requests on kv_navlink's GPS channel (key 49609), as the
// recorder's kv_server sends them around a recording. A test writes one or more request
// lines into the control file sim/ctl/kv_server/gps; the stand-in takes the file, sends
// the requests in order, logs each to sim/log/kv_server.log and removes the file, so a
// test knows its requests went out once the file is gone (kvsim::sendGpsRequests).
//
//   start stem=<path> [start_tick=<tick>|ago=<ms>] [duration=<ms>] [length=<n>] [proc=<id>]
//       KVGpsMSG_StartSave with a 104-byte GpsStartSaveRecord: the stem, the start tick
//       (default 0; ago=N: N ms before now), the duration (default 60000). length=N
//       announces another length than 104; proc=N sends as process N (default 3).
//   stop                 KVGpsMSG_StopSave
//   relay code=<n>       KVGpsMSG_SendToFront(n)
//   usr2                 SIGUSR2 to this sandbox's kv_navlink ("killall -USR2 kv_navlink")
//
// Log lines: "gps request=<line> result=<value>".
#pragma once

#include <stdint.h>

#include <chrono>
#include <string>

#include "sandbox.h"

namespace kvsim {

// Serves the control file if it is there; called by the stand-in's control watcher
// whenever its control folder changes.
void serveGpsRequests();

// The requests themselves, as process 3 (kv_server's recording controller sends these).
// Each returns what the channel client returned.
int gpsStartTrack(const std::string &stem, int64_t start_tick, int32_t duration_ms);
int gpsStopTrack();
int gpsRelay(int code);
// SIGUSR2 to this sandbox's kv_navlink: the track just started is to be deleted.
int gpsDeleteTrack();

// For tests: writes the requests and waits until the stand-in has sent them all.
inline bool sendGpsRequests(const Sandbox &board, const std::string &lines,
                            std::chrono::milliseconds timeout = std::chrono::milliseconds(5000)) {
  return board.sendRequests("kv_server", "gps", lines, timeout);
}

}  // namespace kvsim
