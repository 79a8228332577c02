// What the units of kv_navlink share: the settings record, the tick, the GPS reader and
// the fatal end.
#pragma once

#include <stdint.h>

#include "sys_env_type.h"

// The settings record, fetched from the settings store on first use and kept.
SysInfo *GetStaticSysInfo();
// Milliseconds of the monotonic clock.
long long GetTickCount();

// The GPS reader thread. CreateGpsThread does nothing while it counts as started (also
// after it ended by itself because its set-up failed); CloseGpsThread closes an open track
// first, then stops the reader and waits for it.
int CreateGpsThread();
int CloseGpsThread();
void SetGpsThreadQuit(int quit);
bool GpsThreadStarted();
// Once at start-up, before the reader is first started: the GPS state and the track
// writer's hooks.
void GpsReaderSetUp();

// The fatal end: the reader told to stop, gps_proc_alive 0, exit status 1.
[[noreturn]] void DoExit();
