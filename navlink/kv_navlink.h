// SPDX-License-Identifier: MIT
// What the units of kv_navlink share: the settings record, the tick, the GPS reader and
// the fatal end.
#pragma once

#include <stdint.h>
#include <termios.h>

#include "kv_owners.hpp"
#include "sys_env_type.h"

// The settings record, fetched from the settings store on first use and kept.
SysInfo *GetStaticSysInfo();
// Milliseconds of the monotonic clock.
long long GetTickCount();

// The GPS reader thread (GpsReader, kv_navlink_thread.cpp). CreateGpsThread does nothing
// while it counts as started (also after it ended by itself because its set-up failed);
// CloseGpsThread closes an open track first, then stops the reader and waits for it.
int CreateGpsThread();
int CloseGpsThread();
// The reader's quit request; it waits for nothing, so any thread may call it at any time.
void SetGpsThreadQuit(int quit);
// The fatal end's stop of the reader, from any thread under any lock: the quit request and
// a short bounded wait, after which a reader that has not ended is left behind.
void GpsReaderStopForExit();
bool GpsThreadStarted();
// Once at start-up, before the reader is first started: the GPS state and the track
// writer's hooks.
void GpsReaderSetUp();

// How long the fatal end waits for each thread: the readers end within a pass (50 ms) or a
// poll of kv_server's answer, the keep-alive within its 200 ms pause. A thread held up
// longer (waiting for the track lock that the failing step holds, or for the clock tool)
// is left behind.
inline constexpr int kExitWaitMs = 300;

// The fatal end, from any thread and under any lock: every worker told to stop,
// gps_proc_alive 0, exit status 1. It never waits for a thread without a bound: a fatal
// track error comes with the track lock held, and a reader waiting for that lock would
// never end.
[[noreturn]] void DoExit();

// The two serial ports (GPS receiver, link to the other unit): 9600 baud, 8N1, receiver
// on, modem lines ignored, raw, the other control characters 0, applied at once. The
// readers poll (a read waits at most 0.5 s, for nothing); a writer's read would wait for
// a byte. The settings belong to the port, so a write leaves its own in force.
inline constexpr int kReaderVtime = 5, kReaderVmin = 0;
inline constexpr int kWriterVtime = 0, kWriterVmin = 1;
void SetUpPort(int fd, int vtime, int vmin);

namespace navlink {

// A reader's port, held for the reader's life: opened non-blocking without becoming the
// controlling terminal, set up as above, and given back its earlier settings (when they
// could be read) and closed when the owner goes or closes it.
class SerialPort {
 public:
  SerialPort() = default;
  ~SerialPort() { close(); }
  SerialPort(const SerialPort &) = delete;
  SerialPort &operator=(const SerialPort &) = delete;

  // `board_path` below the board root, `access` O_RDONLY or O_RDWR. False (and nothing
  // held) when the port cannot be opened.
  bool open(const char *board_path, int access, int vtime, int vmin);
  void close();
  int fd() const { return fd_.get(); }

 private:
  kv::UniqueFd fd_;
  struct termios saved_ = {};
  bool restore_ = false;
};

}  // namespace navlink
