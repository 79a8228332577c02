// SPDX-License-Identifier: MIT
// The sandbox's simulated I2C bus: the three requests of the board's driver served from
// register maps below the board root, so that the tool can be run and checked on a
// workstation (file formats in i2c_bus_format.h, beside it). Compiled into the I2C tool's
// own units (tools/i2c_rw/) in workstation builds only, and used only while KV_SYSROOT is
// set.
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "drv_i2c_bus.h"
#include "i2c_bus_format.h"

namespace {

constexpr int kMaxOpen = 8;
constexpr size_t kPathMax = 1024;
constexpr size_t kLogLineMax = 4096;
constexpr int kRegisters = KV_SIM_I2C_REGISTERS;

struct OpenDevice {
  bool used;
  int fd;
  int address;  // -1 until the set-address request
};

struct Bus {
  OpenDevice open[kMaxOpen];
} g;

// A descriptor of a sandbox file, closed on every return. The tool links nothing of the
// library, so it has an owner of its own.
class SimFd {
 public:
  explicit SimFd(int fd) : fd_(fd) {}
  ~SimFd() {
    if (fd_ >= 0) close(fd_);
  }
  SimFd(const SimFd &) = delete;
  SimFd &operator=(const SimFd &) = delete;
  int get() const { return fd_; }
  bool ok() const { return fd_ >= 0; }

 private:
  int fd_;
};

const char *sandboxRoot() {
  const char *root = getenv("KV_SYSROOT");
  return root ? root : "";
}

int fail(int code) {
  errno = code;
  return -1;
}

// The sandbox file of a board path built from `format`; false when it does not fit.
bool boardFile(char (&out)[kPathMax], const char *format, ...)
    __attribute__((format(printf, 2, 3)));
bool boardFile(char (&out)[kPathMax], const char *format, ...) {
  int n = snprintf(out, sizeof out, "%s", sandboxRoot());
  if (n < 0 || static_cast<size_t>(n) >= sizeof out) return false;
  va_list ap;
  va_start(ap, format);
  int m = vsnprintf(out + n, sizeof out - static_cast<size_t>(n), format, ap);
  va_end(ap);
  return m >= 0 && static_cast<size_t>(m) < sizeof out - static_cast<size_t>(n);
}

bool deviceFile(char (&out)[kPathMax], int address, const char *suffix) {
  return boardFile(out, KV_SIM_I2C_FOLDER "/%02x%s", address, suffix);
}

OpenDevice *findOpen(int fd) {
  for (auto &dev : g.open)
    if (dev.used && dev.fd == fd) return &dev;
  return nullptr;
}

// A line of the request log, built in a bounded buffer: what does not fit is cut.
struct LogLine {
  char text[kLogLineMax];
  size_t len;
};

void addToLine(LogLine &line, const char *format, ...) __attribute__((format(printf, 2, 3)));
void addToLine(LogLine &line, const char *format, ...) {
  if (line.len >= sizeof line.text - 1) return;
  va_list ap;
  va_start(ap, format);
  int n = vsnprintf(line.text + line.len, sizeof line.text - line.len, format, ap);
  va_end(ap);
  if (n > 0) line.len = strnlen(line.text, sizeof line.text);
}

void writeLog(LogLine &line) {
  char path[kPathMax];
  if (!boardFile(path, KV_SIM_I2C_LOG)) return;
  SimFd fd(open(path, O_WRONLY | O_CREAT | O_APPEND, 0644));
  if (!fd.ok()) return;
  if (line.len >= sizeof line.text - 1) line.len = sizeof line.text - 2;
  line.text[line.len++] = '\n';
  ssize_t n = write(fd.get(), line.text, line.len);
  (void)n;  // a lost log line only costs the test its evidence
}

// Whether the test told the device to fail requests of this kind.
bool refuses(int address, const char *kind) {
  char path[kPathMax];
  if (!deviceFile(path, address, KV_SIM_I2C_FAIL_SUFFIX)) return false;
  SimFd fd(open(path, O_RDONLY));
  if (!fd.ok()) return false;
  char words[128] = {0};
  ssize_t n = read(fd.get(), words, sizeof words - 1);
  return n > 0 && strstr(words, kind) != nullptr;
}

int registerAt(const DRV_I2cTransfer &xfer, int i) {
  return xfer.regSize == 1 ? xfer.reg[i] : xfer.reg16[i];
}

bool recordUsable(const DRV_I2cTransfer &xfer) {
  bool widths =
      (xfer.dataSize == 1 || xfer.dataSize == 2) && (xfer.regSize == 1 || xfer.regSize == 2);
  bool regs = xfer.regSize == 1 ? xfer.reg != nullptr : xfer.reg16 != nullptr;
  bool arrays = xfer.count == 0 || (xfer.value && regs);
  return widths && arrays;
}

void logTransfer(const char *kind, int address, const DRV_I2cTransfer &xfer, bool write) {
  LogLine line = {{0}, 0};
  addToLine(line, "%s 0x%02x width=%d count=%d:", kind, address, xfer.dataSize, xfer.count);
  if (!recordUsable(xfer)) {
    addToLine(line, " bad record");
  } else {
    for (int i = 0; i < xfer.count; ++i) {
      addToLine(line, " 0x%02x", registerAt(xfer, i));
      if (!write) continue;
      if (xfer.dataSize == 2)
        addToLine(line, "=0x%04x", static_cast<const uint16_t *>(xfer.value)[i]);
      else
        addToLine(line, "=0x%02x", static_cast<const uint8_t *>(xfer.value)[i]);
    }
  }
  writeLog(line);
}

struct RegisterMap {
  uint8_t bytes[KV_SIM_I2C_MAP_SIZE];
  uint16_t get(int reg) const {
    return static_cast<uint16_t>(bytes[2 * reg] | (bytes[2 * reg + 1] << 8));
  }
  void set(int reg, uint16_t value) {
    bytes[2 * reg] = static_cast<uint8_t>(value & 0xFF);
    bytes[2 * reg + 1] = static_cast<uint8_t>(value >> 8);
  }
};

// The device's map, opened for the request and read into `map`; the descriptor, or -1
// (ENXIO) when there is no such device.
int openMap(int address, int flags, RegisterMap &map) {
  char path[kPathMax];
  if (!deviceFile(path, address, "")) return fail(ENXIO);
  int fd = open(path, flags);
  if (fd < 0) return fail(ENXIO);
  memset(&map, 0, sizeof map);
  ssize_t n = pread(fd, map.bytes, sizeof map.bytes, 0);
  (void)n;  // a short map reads as zeros beyond its end
  return fd;
}

int serveRead(int address, DRV_I2cTransfer &xfer) {
  RegisterMap map;
  if (!SimFd(openMap(address, O_RDONLY, map)).ok()) return -1;
  for (int i = 0; i < xfer.count; ++i) {
    uint16_t value = map.get(registerAt(xfer, i));
    if (xfer.dataSize == 2)
      static_cast<uint16_t *>(xfer.value)[i] = value;
    else
      static_cast<uint8_t *>(xfer.value)[i] = static_cast<uint8_t>(value & 0xFF);
  }
  return 0;
}

int serveWrite(int address, const DRV_I2cTransfer &xfer) {
  RegisterMap map;
  SimFd fd(openMap(address, O_RDWR, map));
  if (!fd.ok()) return -1;
  for (int i = 0; i < xfer.count; ++i) {
    uint16_t value = xfer.dataSize == 2 ? static_cast<const uint16_t *>(xfer.value)[i]
                                        : static_cast<const uint8_t *>(xfer.value)[i];
    map.set(registerAt(xfer, i), value);
  }
  bool stored =
      pwrite(fd.get(), map.bytes, sizeof map.bytes, 0) == static_cast<ssize_t>(sizeof map.bytes);
  return stored ? 0 : fail(EIO);
}

bool registersInRange(const DRV_I2cTransfer &xfer) {
  for (int i = 0; i < xfer.count; ++i)
    if (registerAt(xfer, i) >= kRegisters) return false;
  return true;
}

}  // namespace

extern "C" {

int DRV_i2cSimActive(void) { return sandboxRoot()[0] != '\0'; }

int DRV_i2cSimOpen(const char *path) {
  char file[kPathMax];
  if (!path || !boardFile(file, "%s", path)) return fail(ENAMETOOLONG);
  for (auto &dev : g.open) {
    if (dev.used) continue;
    int fd = open(file, O_RDWR);
    if (fd < 0) return -1;
    dev = {true, fd, -1};
    return fd;
  }
  return fail(EMFILE);
}

// Like the board's driver, selecting an address does not touch the bus: an absent device
// is noticed by the transfers.
int DRV_i2cSimSetAddress(int fd, uint8_t devAddr) {
  OpenDevice *dev = findOpen(fd);
  if (!dev) return fail(EBADF);
  LogLine line = {{0}, 0};
  addToLine(line, "address 0x%02x", devAddr);
  writeLog(line);
  if (refuses(devAddr, "address")) return fail(EIO);
  dev->address = devAddr;
  return 0;
}

int DRV_i2cSimTransfer(int fd, unsigned long request, DRV_I2cTransfer *xfer) {
  OpenDevice *dev = findOpen(fd);
  if (!dev) return fail(EBADF);
  if (!xfer) return fail(EFAULT);
  bool write = request == DRV_I2C_IOCTL_WRITE;
  if (!write && request != DRV_I2C_IOCTL_READ) return fail(EINVAL);
  logTransfer(write ? "write" : "read", dev->address, *xfer, write);
  if (!recordUsable(*xfer)) return fail(EINVAL);
  if (dev->address < 0) return fail(ENXIO);
  // A register the device does not have is not acknowledged.
  if (!registersInRange(*xfer)) return fail(ENXIO);
  if (refuses(dev->address, write ? "write" : "read")) return fail(EIO);
  return write ? serveWrite(dev->address, *xfer) : serveRead(dev->address, *xfer);
}

int DRV_i2cSimClose(int fd) {
  OpenDevice *dev = findOpen(fd);
  if (!dev) return fail(EBADF);
  dev->used = false;
  return close(fd);
}

}  // extern "C"
