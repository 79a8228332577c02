#include "kv_serial_write.h"

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
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
  // serial reader (front unit)
  std::atomic<int> g_bSerialReadThreadCreated{0};
  pthread_t tSerialReadThread{};
  bool readerJoinable = false;
  navlink::LineSplitter splitter;  // the serial reader's alone
  // keep-alive (rear unit)
  std::atomic<int> g_bRearConnCheckThreadCreated{0};
  std::atomic<int> gIsRearConnCheckThreadQuit{0};
  pthread_t tRearConnCheckThread{};
  bool keepAliveJoinable = false;
} g;

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
  StartTexts texts;
  FormatStartTexts(info->kv_config, firmware, build, MakeCurrentDateTime(), texts);
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

bool readerKeepsRunning() { return g.g_bSerialReadThreadCreated.load() != 0; }

void deliverToBus(const RearCommand &command) { NavBusRearEvent(command, readerKeepsRunning); }

void handleLinkLine(void *, const char *line, size_t) { ParseRearCommand(line); }

int64_t linkTick() { return GetTickCount(); }

void *SerialReadThread(void *) {
  kv::UniqueFd port(kv_open(kLinkPort, O_RDONLY | O_NOCTTY | O_NONBLOCK));
  if (!port) return nullptr;  // no link: the reader ends without a word
  struct termios saved;
  bool restore = tcgetattr(port.get(), &saved) == 0;
  SetUpPort(port.get(), kReaderVtime, kReaderVmin);
  bool onBus = NavBusJoin() == 0;
  g.splitter.reset();
  while (readerKeepsRunning()) {
    g.splitter.pass(port.get(), handleLinkLine, nullptr);
    kv::sleep_ms(kPassPauseMs);
  }
  if (restore) tcsetattr(port.get(), TCSANOW, &saved);
  if (onBus) NavBusLeave();
  return nullptr;
}

// ---- the keep-alive --------------------------------------------------------------------

bool keepAliveQuit() { return g.gIsRearConnCheckThreadQuit.load() != 0; }

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
  g.g_bRearConnCheckThreadCreated = 0;
  return nullptr;
}

}  // namespace

// ---- the link's operations -------------------------------------------------------------

int WriteToSerialL(const char *data, int len, int) {
  if (!data || len <= 0) return -1;
  SemHandl_t lock = g.g_hSem.load();
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
  CommandLine line;
  long now = command == SEND_TO_FRONT_DATE_TIME ? MakeCurrentDateTime() : 0;
  if (!ComposeCommandLine(command, str, now, line)) return -1;
  switch (line.shape) {
    case LineShape::Fixed:
      return WriteToSerial(line.text, static_cast<int>(line.len));
    case LineShape::Framed:
      return WriteToSerialWithCRLF(line.text);
    case LineShape::None:
      break;
  }
  return 0;
}

int CreateSerialReadThread() {
  if (g.g_bSerialReadThreadCreated.load()) return 0;
  RearLinkSetUp(RearLinkHooks{GetStaticSysInfo, linkTick, deliverToBus});
  g.g_bSerialReadThreadCreated = 1;
  if (StartDaemonThread(&g.tSerialReadThread, SerialReadThread) != 0) {
    g.g_bSerialReadThreadCreated = 0;
    return -1;
  }
  g.readerJoinable = true;
  return 0;
}

int CloseSerialReadThread() {
  if (!g.g_bSerialReadThreadCreated.load()) return 0;
  g.g_bSerialReadThreadCreated = 0;  // the reader ends within one pass, or its wait
  if (g.readerJoinable) pthread_join(g.tSerialReadThread, nullptr);
  g.readerJoinable = false;
  return 0;
}

int CreateRearConnCheckThread() {
  if (g.g_bRearConnCheckThreadCreated.load()) return 0;
  g.gIsRearConnCheckThreadQuit = 0;
  if (StartDaemonThread(&g.tRearConnCheckThread, RearConnCheckThread) != 0) return -1;
  g.keepAliveJoinable = true;
  g.g_bRearConnCheckThreadCreated = 1;
  return 0;
}

int CloseRearConnCheckThread() {
  if (!g.keepAliveJoinable) return 0;
  g.gIsRearConnCheckThreadQuit = 1;
  pthread_join(g.tRearConnCheckThread, nullptr);
  g.keepAliveJoinable = false;
  g.g_bRearConnCheckThreadCreated = 0;
  return 0;
}

int CreateSerialLock() {
  if (g.g_hSem.load()) return 0;
  SemHandl_t lock = MakeSem();
  if (!lock) return -1;
  g.g_hSem = lock;
  return 0;
}

int DestroySerialLock() {
  SemHandl_t lock = g.g_hSem.exchange(nullptr);
  return lock ? DestroySem(lock) : 0;
}

// ---- the daemon's seam -----------------------------------------------------------------

void SerialLinkStart(int role) {
  CreateSerialLock();
  if (role == DEVICE_2CH_FRONT) CreateSerialReadThread();
  if (role == DEVICE_2CH_REAR) CreateRearConnCheckThread();
}

void SerialLinkStop(int role) {
  if (role == DEVICE_2CH_FRONT) CloseSerialReadThread();
  if (role == DEVICE_2CH_REAR) CloseRearConnCheckThread();
  DestroySerialLock();
}

void SerialLinkEndThreads() {
  CloseSerialReadThread();
  CloseRearConnCheckThread();
}

int SerialLinkRequest(int code, SysInfo *info) {
  if (code == SEND_TO_FRONT_SYSTEM_START) return sendStartTexts(info);
  if (ChangeSaveCommandToString(code)) return sendSaveNotice(code, info);
  // "#CMINW" and "#CMVER" have their texts only inside request 1; alone, they carry none.
  return WriteCommandToFront(code, "");
}
