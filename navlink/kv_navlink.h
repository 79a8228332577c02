// What the units of kv_navlink share: the settings record, the tick, the GPS reader and
// the fatal end.
#pragma once

#include <pthread.h>
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

// The two serial ports (GPS receiver, link to the other unit): 9600 baud, 8N1, receiver
// on, modem lines ignored, raw, the other control characters 0, applied at once. The
// readers poll (a read waits at most 0.5 s, for nothing); a writer's read would wait for
// a byte. The settings belong to the port, so a write leaves its own in force.
inline constexpr int kReaderVtime = 5, kReaderVmin = 0;
inline constexpr int kWriterVtime = 0, kWriterVmin = 1;
void SetUpPort(int fd, int vtime, int vmin);

// Starts a worker thread with every signal blocked: signals are the message thread's,
// whose blocked receive they must end. pthread_create's result.
int StartDaemonThread(pthread_t *thread, void *(*body)(void *));
