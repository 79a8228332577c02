// SPDX-License-Identifier: MIT
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

// The liveness monitors of av_server, kv_server and system_server, and the watcher that
// restarts the unit; thread bodies.
void *AVServerMonitorThread(void *);
void *KVServerMonitorThread(void *);
void *SysServerMonitorThread(void *);
void *MonitorThread(void *);

// Plain setters of the state the monitors and the watcher share.
void SetAVServerUpdateTick(int64_t t);
void SetSysServerUpdateTick(int64_t t);
void SetKVServerUpdateTick(int64_t t);
void SetAVServerMonitorStarted(int v);
void SetSysServerMonitorStarted(int v);
void SetKVServerMonitorStarted(int v);
void SetAVServerMonitorThreadQuit(int v);
void SetSysServerMonitorThreadQuit(int v);
void SetKVServerMonitorThreadQuit(int v);
void SetMonitorThreadQuit(int v);

// The restart sequence, run on the watcher's thread: serial notice to the other unit,
// the stopping half on a thread of its own (RestartThread), then the controller's power
// restart 10 s on.
int StartRestartThread(void *pSysInfo);
// The restart thread's body: KillAndRestart.
void *RestartThread(void *);
// The stopping half: prompts, the kill list, the settings manager's quit, unmounts and the
// power restart.
void KillAndRestart();
