// SPDX-License-Identifier: MIT
#include "kv_serial_write.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>

#include "KVLog.h"
#include "board_root.h"
#include "kv_common_util.h"
#include "kv_navlink.h"
#include "kv_owners.hpp"
#include "kv_sysinfo_util.h"
#include "kv_worker.hpp"
#include "line_splitter.h"
#include "navlink_bus.h"
#include "rear_command.h"
#include "sem_util.h"

namespace {

constexpr const char *kLinkPort = "/dev/ttyS1";
constexpr int kPassPauseMs = 50;
constexpr int kAliveIntervalMs = 2000;
constexpr int kAliveIdlePollMs = 200;  // also the longest the keep-alive takes to stop
constexpr size_t kNumberTextSize = 16;

struct Link {
  std::atomic<SemHandl_t> g_hSem{nullptr};
  kv::Worker serialReader;         // front unit
  navlink::LineSplitter splitter;  // the serial reader's alone
  kv::Worker keepAlive;            // rear unit
};

// Never destroyed: DoExit ends the process while the workers may still run.
Link &link() {
  static Link *const instance = new Link;
  return *instance;
}

// ---- writing ---------------------------------------------------------------------------

// One byte; a signal that arrives meanwhile does not count as a lost byte.
bool writeByte(int fd, const char *byte) {
  ssize_t n;
  do n = write(fd, byte, 1);
  while (n < 0 && errno == EINTR);
  return n == 1;
}

// Request 1: version, Wi-Fi and start texts from the rear unit's own settings, in the
// order the front unit's kv_server expects them.
int sendStartTexts(SysInfo *info) {
  if (!info) return 0;
  char firmware[64] = "", build[64] = "";
  GetFirmwareVersion(firmware);
  GetBuildNumber(build);
  navlink::StartTexts texts;
  navlink::FormatStartTexts(info->kv_config, firmware, build, MakeCurrentDateTime(), texts);
  int sum = WriteCommandToFront(SEND_TO_FRONT_INIT_VERSION, texts.version);
  sum += WriteCommandToFront(SEND_TO_FRONT_INIT_WIFI, texts.wifi);
  sum += WriteCommandToFront(SEND_TO_FRONT_SYSTEM_START, texts.start);
  return sum;
}

// A saved-recording notice names the recording by the time its name was made from.
int sendSaveNotice(int code, SysInfo *info) {
  if (!info) return 0;
  char number[kNumberTextSize];
  snprintf(number, sizeof number, "%d", static_cast<int>(info->kv_config.file_name_tmp_time));
  return WriteCommandToFront(code, number);
}

// ---- the serial reader -----------------------------------------------------------------

bool readerKeepsRunning() { return !link().serialReader.quitRequested(); }

void deliverToBus(const navlink::RearCommand &command) {
  NavBusRearEvent(command, readerKeepsRunning);
}

void handleLinkLine(void *, const char *line, size_t) { ParseRearCommand(line); }

int64_t linkTick() { return GetTickCount(); }

void *SerialReadThread(void *) {
  navlink::SerialPort port;
  if (!port.open(kLinkPort, O_RDONLY, kReaderVtime, kReaderVmin)) return nullptr;  // no link
  bool onBus = NavBusJoin() == 0;
  Link &g = link();
  g.splitter.reset();
  while (readerKeepsRunning()) {
    g.splitter.pass(port.fd(), handleLinkLine, nullptr);
    kv::sleep_ms(kPassPauseMs);
  }
  port.close();
  if (onBus) NavBusLeave();
  return nullptr;
}

// ---- the keep-alive --------------------------------------------------------------------

bool keepAliveQuit() { return link().keepAlive.quitRequested(); }

// Sleeps `ms`, or less when the thread is told to quit.
void pauseUnlessQuit(int ms) {
  int64_t until = kv::tick_ms() + ms;
  for (int64_t now = kv::tick_ms(); now < until && !keepAliveQuit(); now = kv::tick_ms()) {
    int64_t left = until - now;
    kv::sleep_ms(static_cast<int>(left < kAliveIdlePollMs ? left : kAliveIdlePollMs));
  }
}

void *RearConnCheckThread(void *) {
  KVLog("R Consta\n");
  while (!keepAliveQuit()) {
    if (IsRemoteDeivceConnected(GetStaticSysInfo())) {
      WriteCommandToFront(SEND_TO_FRONT_ALIVE, nullptr);
      pauseUnlessQuit(kAliveIntervalMs);
    } else {
      pauseUnlessQuit(kAliveIdlePollMs);
    }
  }
  KVLog("R Constp\n");
  return nullptr;
}

}  // namespace

// ---- the ports ------------------------------------------------------------------------

void SetUpPort(int fd, int vtime, int vmin) {
  struct termios t = {};
  t.c_iflag = IGNPAR;
  t.c_cflag = B9600 | CS8 | CREAD | CLOCAL;
  cfsetispeed(&t, B9600);
  cfsetospeed(&t, B9600);
  t.c_cc[VTIME] = static_cast<cc_t>(vtime);
  t.c_cc[VMIN] = static_cast<cc_t>(vmin);
  tcsetattr(fd, TCSANOW, &t);
}

bool navlink::SerialPort::open(const char *board_path, int access, int vtime, int vmin) {
  close();
  fd_.reset(kv_open(board_path, access | O_NOCTTY | O_NONBLOCK));
  if (!fd_) return false;
  restore_ = tcgetattr(fd_.get(), &saved_) == 0;
  SetUpPort(fd_.get(), vtime, vmin);
  return true;
}

void navlink::SerialPort::close() {
  if (fd_ && restore_) tcsetattr(fd_.get(), TCSANOW, &saved_);
  restore_ = false;
  fd_.reset();
}

// ---- the link's operations -------------------------------------------------------------

int WriteToSerialL(const char *data, int len, int) {
  if (!data || len <= 0) return -1;
  SemHandl_t lock = link().g_hSem.load();
  if (!lock) return -1;  // without the lock, frames of two writers could tear
  kv::SemHold hold(lock);
  kv::UniqueFd port(kv_open(kLinkPort, O_WRONLY | O_NOCTTY | O_NONBLOCK));
  if (!port) return -1;
  SetUpPort(port.get(), kWriterVtime, kWriterVmin);
  for (int i = 0; i < len; ++i)
    if (!writeByte(port.get(), data + i)) return -1;
  return len;
}

int WriteToSerial(const char *str, int len) { return WriteToSerialL(str, len, 1); }

int WriteToSerialWithCRLF(const char *str) {
  int sum = WriteToSerial("\r\n", 2);
  sum += WriteToSerial(str, str ? static_cast<int>(strlen(str)) : 0);
  sum += WriteToSerial("\r\n", 2);
  return sum;
}

int WriteCommandToFront(int command, const char *str) {
  navlink::CommandLine line;
  long now = command == SEND_TO_FRONT_DATE_TIME ? MakeCurrentDateTime() : 0;
  if (!navlink::ComposeCommandLine(command, str, now, line)) return -1;
  switch (line.shape) {
    case navlink::LineShape::Fixed:
      return WriteToSerial(line.text, static_cast<int>(line.len));
    case navlink::LineShape::Framed:
      return WriteToSerialWithCRLF(line.text);
    case navlink::LineShape::None:
      break;
  }
  return 0;
}

int CreateSerialReadThread() {
  if (link().serialReader.running()) return 0;
  navlink::RearLinkSetUp(navlink::RearLinkHooks{GetStaticSysInfo, linkTick, deliverToBus});
  return link().serialReader.start(SerialReadThread) ? 0 : -1;
}

// The reader ends within one pass, or within its wait for kv_server's answer.
int CloseSerialReadThread() {
  link().serialReader.stop();
  return 0;
}

int CreateRearConnCheckThread() { return link().keepAlive.start(RearConnCheckThread) ? 0 : -1; }

int CloseRearConnCheckThread() {
  link().keepAlive.stop();
  return 0;
}

int CreateSerialLock() {
  std::atomic<SemHandl_t> &held = link().g_hSem;
  if (held.load()) return 0;
  SemHandl_t lock = MakeSem();
  if (!lock) return -1;
  held = lock;
  return 0;
}

int DestroySerialLock() {
  SemHandl_t lock = link().g_hSem.exchange(nullptr);
  return lock ? DestroySem(lock) : 0;
}

// ---- the daemon's seam -----------------------------------------------------------------

void SerialLinkQuitThreads() {
  link().serialReader.stopWithin(kExitWaitMs);
  link().keepAlive.stopWithin(kExitWaitMs);
}

int SerialLinkRequest(int code, SysInfo *info) {
  if (code == SEND_TO_FRONT_SYSTEM_START) return sendStartTexts(info);
  if (ChangeSaveCommandToString(code)) return sendSaveNotice(code, info);
  // "#CMINW" and "#CMVER" have their texts only inside request 1; alone, they carry none.
  return WriteCommandToFront(code, "");
}
