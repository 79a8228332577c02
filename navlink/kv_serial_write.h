// The serial link between the two camera units, as the rest of the daemon sees it.
//
// Start-up, the message table and the shutdown reach the link only through these three
// calls. Until the link is built, a unit behaves as one whose link port cannot be used:
// nothing is written, nothing is read, and every relay request is still answered as
// handled by the message loop.
#pragma once

#include "sys_env_type.h"

// Start-up: the port's write lock, then the serial reader (front unit) or the keep-alive
// thread (rear unit). `role` is front_rear_type (DEVICE_*).
void SerialLinkStart(int role);
// Shutdown: the reader or keep-alive thread stopped, the write lock destroyed.
void SerialLinkStop(int role);
// A relay request of the GPS channel whose id is a serial-link command code (1 to 16,
// 20, 21, 70 to 76, 79, 90, 91); the rear-only codes arrive here only on a rear unit.
// `info` may be null. The sum of the write results; 0 when nothing was written.
int SerialLinkRequest(int code, SysInfo *info);
