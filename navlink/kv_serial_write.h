// SPDX-License-Identifier: MIT
// The serial link between the two camera units ("/dev/ttyS1", 9600 baud 8N1, raw).
//
// The rear unit writes command lines to the front unit: relay requests of its kv_server
// (the GPS channel's ids 1 to 91), the three texts of request 1, and a keep-alive every
// 2 s while remote_device_on is set. The front unit's serial reader hands every line it
// receives to ParseRearCommand (rear_command.h), which turns it into an event for the
// front's kv_server.
//
// Writes open, set up and close the port each time, one byte at a time, under the serial
// lock: each write call is whole, and since every piece of a frame ends at a CR LF, frames
// of two writers (the message thread and the keep-alive thread) never tear each other.
#pragma once

#include "sys_env_type.h"

// ---- the daemon's seam -----------------------------------------------------------------

// The fatal end (DoExit, from any thread): the reader and the keep-alive told to quit and
// given a short bounded wait each, never more, since the caller may hold a lock they wait
// for; the lock stays, since another thread may be writing under it.
void SerialLinkQuitThreads();
// A relay request of the GPS channel whose id is a serial-link command code (1 to 16,
// 20, 21, 70 to 76, 79, 90, 91); the rear-only codes arrive here only on a rear unit.
// Code 1 sends "#CMVER", "#CMINW" and "#CMSTA" from `info`; 70 to 76 carry its
// file_name_tmp_time; 12 and 13 sent on their own carry an empty text. `info` may be
// null (then 1 and 70 to 76 send nothing). The sum of the write results; 0 when nothing
// was written, -1 when a line could not be sent.
int SerialLinkRequest(int code, SysInfo *info);

// ---- the link's operations -------------------------------------------------------------

// Writes `len` bytes under the serial lock. `len`, or -1 (empty text, no lock, the port
// cannot be opened, or a byte was not taken: the rest of the piece is abandoned).
int WriteToSerialL(const char *data, int len, int ignored);
int WriteToSerial(const char *str, int len);
// "\r\n", `str`, "\r\n" as three writes; the sum of their results.
int WriteToSerialWithCRLF(const char *str);
// Sends command `command` (rear_command.h); `str` is the text of "%s=%s" commands. The
// sum of the write results, 0 for a code without a line, -1 when the line cannot be sent
// whole (nothing is written).
int WriteCommandToFront(int command, const char *str);

// The serial reader (front unit). Create does nothing while it runs; a reader whose port
// cannot be opened ends at once, still counting as started until Close. Close waits for
// it (the owner's thread only).
int CreateSerialReadThread();
int CloseSerialReadThread();
// The keep-alive thread (rear unit), the same way.
int CreateRearConnCheckThread();
int CloseRearConnCheckThread();
// The serial lock, made once at start, before any thread that may write, and destroyed at
// the end.
int CreateSerialLock();
int DestroySerialLock();
