// SPDX-License-Identifier: MIT
// i2c_rw: reads and writes registers of devices on the board's I2C bus from a shell.
//
//   i2c_rw -r|-w <devAddrInHex> <regAddrInHex> <regValueInHex or numRegsToReadInDec>
//          <regSizeInBytes>
//
// One run is one read of one or more consecutive registers (4 from register 0 unless told
// otherwise), or one write of one register followed by a read-back. Values are 1 byte
// wide unless the last argument is 2. Every outcome is a printed line; the exit status is
// 0, except 2 for a wrong command line (the usage is printed).
#include <stdlib.h>
#include <string.h>

#include "drv_i2c.h"
#include "kv_cmdline.h"
#include "osa.h"

namespace {

constexpr int kMaxRegisters = 256;

struct Request {
  bool write = false;
  uint8_t device = 0;
  uint8_t reg = 0;
  uint32_t value = 0;  // write: the value
  uint8_t count = 4;   // read: registers
  int width = 1;       // value width in bytes
};

// The tool's buffers, zeroed before use.
struct Buffers {
  uint8_t regs[kMaxRegisters];
  uint8_t bytes[kMaxRegisters];
  uint16_t words[kMaxRegisters];
};

// The loose rule the board's scripts rely on: every character shifts the value by one
// digit and adds its value when it is a hexadecimal digit, so "0x50" and "50" are the
// same address.
uint32_t parseLooseHex(const char *text) {
  uint32_t value = 0;
  for (const char *c = text; *c; ++c) {
    value <<= 4;
    if (*c >= '0' && *c <= '9') value += static_cast<uint32_t>(*c - '0');
    if (*c >= 'A' && *c <= 'F') value += static_cast<uint32_t>(*c - 'A' + 10);
    if (*c >= 'a' && *c <= 'f') value += static_cast<uint32_t>(*c - 'a' + 10);
  }
  return value;
}

uint8_t lowByte(long value) { return static_cast<uint8_t>(value & 0xFF); }

void printBlankLine() { OSA_printf(" \n"); }

void printUsage(const char *program) {
  printBlankLine();
  OSA_printf(" I2C Test Utility, \r");
  OSA_printf(
      " Usage: %s -r|-w <devAddrInHex> <regAddrInHex> <regValueInHex or numRegsToReadInDec> "
      "<regSizeInBytes>\r\n",
      program);
  printBlankLine();
}

void printRegister(uint8_t reg, uint16_t value, int width) {
  if (width == 2)
    OSA_printf(" I2C: 0x%02x = 0x%04x \n", reg, value);
  else
    OSA_printf(" I2C: 0x%02x = 0x%02x \n", reg, value);
}

// The mode and the device address are required; a bare "-r" has no device to talk to.
bool parseRequest(int argc, char **argv, Request &req) {
  if (argc < 3) return false;
  if (strcmp(argv[1], "-r") == 0)
    req.write = false;
  else if (strcmp(argv[1], "-w") == 0)
    req.write = true;
  else
    return false;
  req.device = lowByte(parseLooseHex(argv[2]));
  if (argc > 3) req.reg = lowByte(parseLooseHex(argv[3]));
  if (argc > 4) {
    if (req.write)
      req.value = parseLooseHex(argv[4]);
    else
      req.count = lowByte(strtol(argv[4], nullptr, 10));
  }
  if (argc > 5 && strtol(argv[5], nullptr, 10) == 2) req.width = 2;
  return true;
}

int readRegisters(DRV_I2cHndl *dev, const Request &req, Buffers &buf) {
  for (int i = 0; i < req.count; ++i) buf.regs[i] = static_cast<uint8_t>(req.reg + i);
  if (req.width == 2) return DRV_i2cRead16(dev, buf.regs, buf.words, req.count);
  return DRV_i2cRead8(dev, buf.regs, buf.bytes, req.count);
}

void runRead(DRV_I2cHndl *dev, const Request &req, Buffers &buf) {
  int status = readRegisters(dev, req, buf);
  printBlankLine();
  if (status < 0) {
    OSA_printf(" I2C: Read ERROR !!!");
    return;
  }
  for (int i = 0; i < req.count; ++i)
    printRegister(buf.regs[i], req.width == 2 ? buf.words[i] : buf.bytes[i], req.width);
}

// One register written, then read back into a cleared slot: what is printed is what the
// device holds, not what was sent.
int writeThenReadBack(DRV_I2cHndl *dev, const Request &req, Buffers &buf, uint16_t &readBack) {
  buf.regs[0] = req.reg;
  if (req.width == 2) {
    buf.words[0] = static_cast<uint16_t>(req.value);
    if (DRV_i2cWrite16(dev, buf.regs, buf.words, 1) < 0) return -1;
    buf.words[0] = 0;
    if (DRV_i2cRead16(dev, buf.regs, buf.words, 1) < 0) return -1;
    readBack = buf.words[0];
    return 0;
  }
  buf.bytes[0] = static_cast<uint8_t>(req.value);
  if (DRV_i2cWrite8(dev, buf.regs, buf.bytes, 1) < 0) return -1;
  buf.bytes[0] = 0;
  if (DRV_i2cRead8(dev, buf.regs, buf.bytes, 1) < 0) return -1;
  readBack = buf.bytes[0];
  return 0;
}

void runWrite(DRV_I2cHndl *dev, const Request &req, Buffers &buf) {
  printBlankLine();
  uint16_t readBack = 0;
  if (writeThenReadBack(dev, req, buf, readBack) < 0)
    OSA_printf(" I2C: Write ERROR !!!");
  else
    printRegister(req.reg, readBack, req.width);
}

// A script that calls the tool wrongly must be able to tell: the usage alone says nothing
// to a caller that looks at the status only.
constexpr int kWrongCommandLine = 2;

}  // namespace

extern "C" int DRV_i2cTestMain(int argc, char **argv) {
  const char *program = argc > 0 && argv[0] ? argv[0] : "i2c_rw";
  Request req;
  if (!parseRequest(argc, argv, req)) {
    printUsage(program);
    return kWrongCommandLine;
  }
  if (req.device == 0) {
    OSA_printf(" I2C: Invalid device address");
    printUsage(program);
    return kWrongCommandLine;
  }
  DRV_I2cHndl dev = {-1};
  if (DRV_i2cOpen(&dev, req.device) < 0) {
    // Reported at the place service staff know the message by.
    OSA_error("drv_i2c.c", "DRV_i2cTestMain", 277, "DRV_i2cOpen(%d)", req.device);
    return 0;
  }
  Buffers buf;
  memset(&buf, 0, sizeof buf);
  if (req.write)
    runWrite(&dev, req, buf);
  else
    runRead(&dev, req, buf);
  printBlankLine();
  DRV_i2cClose(&dev);
  return 0;
}

int main(int argc, char **argv) {
  kv_answer_help_or_version("i2c_rw", argc, argv);
  return DRV_i2cTestMain(argc, argv);
}
