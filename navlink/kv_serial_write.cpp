#include "kv_serial_write.h"

// The link's port, threads and command table come with the serial link itself; without
// them this unit is a unit whose link port cannot be opened.

void SerialLinkStart(int role) { (void)role; }

void SerialLinkStop(int role) { (void)role; }

int SerialLinkRequest(int code, SysInfo *info) {
  (void)code;
  (void)info;
  return 0;
}
