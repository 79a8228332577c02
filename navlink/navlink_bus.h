// SPDX-License-Identifier: MIT
// kv_navlink on the event bus (process 6): the one client that its two port readers share.
//
// The front unit's serial reader sends "#CMINW" and "#CMVER" as blocking events and waits
// for kv_server's answer. Through the bus library's own lock, that wait would also stop
// the GPS reader at its next OSD refresh, and with it the track, for as long as
// kv_server takes. Here the GPS reader never waits: its notices are sent when the bus is
// free, and otherwise kept (each kind once, as each only says "look again") and sent at
// its next pass. The serial reader's wait ends when kv_server answers or when the daemon
// stops the reader, so that a kv_server that never answers cannot keep the daemon from
// ending.
//
// Every payload has a place of its own in the daemon's slot of the bus segment (named by
// the record's `offset`), so that kv_server, which takes a one-way payload only when it
// comes to the event, never finds it overwritten by the next event of the same read.
#pragma once

#include "rear_command.h"

// Joins the bus for one reader: the first one makes the client (KVDrvInit(6)), the last
// one to leave ends it. 0, or -1 when the client cannot be made (the reader then goes on
// without events, and must not leave).
int NavBusJoin();
void NavBusLeave();

// Notices of the GPS reader, in the order they go out.
enum : unsigned {
  kNoticeGpsSource = 1u,  // KVMSG_CommandFromRear(SEND_TO_FRONT_GPS_START)
  kNoticeOsd = 2u,        // KVMSG_UpdateOSD()
  kNoticeSignalOn = 4u,   // KVMSG_GPSSignalOnOff(1)
};
// GPS reader only: sends the notices now, or keeps them while the bus is busy.
void NavBusNotify(unsigned notices);
// GPS reader only, once per pass: sends what was kept.
void NavBusFlush();

// Serial reader only: the event of one received command. A blocking event waits for
// kv_server's answer while `keep_waiting()` holds (checked every few milliseconds).
void NavBusRearEvent(const navlink::RearCommand &command, bool (*keep_waiting)());
