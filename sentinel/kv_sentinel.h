// kv_sentinel: the recorder's watchdog. Three monitor threads send each server a liveness
// request every 10 s; a watcher restarts the whole unit when one has not answered for
// 40 s or when a program raised the shared error flag.
#pragma once

#include <stdint.h>

#include "file_msg_drv.h"

// Milliseconds of the monotonic clock, as one 64-bit value.
int64_t GetTickCount();

// The live shared settings record, fetched on first use (null while the settings
// manager delivers none).
SysInfo *GetStaticSysInfo();

// The restart sequence, run on the watcher's thread: serial notice to the other unit,
// the stopping half on a thread of its own, then the controller's power restart 10 s on.
int StartRestartThread(void *pSysInfo);
// The stopping half: prompts, the kill list, the settings manager's quit, unmounts and the
// power restart.
void KillAndRestart();
