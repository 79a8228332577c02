// SPDX-License-Identifier: MIT
// The board's I2C bus in a sandbox, as the I2C tool sees it: devices by address, each a
// map of 256 registers of up to 16 bits that a test prepares and reads back, devices
// told to fail requests, and the log of every request the bus received (formats in
// i2c_bus_format.h).
#pragma once

#include <string>
#include <vector>

#include "sandbox.h"

namespace kvsim {

class I2cBus {
 public:
  // Puts the device node in place; no device answers yet.
  explicit I2cBus(const Sandbox &board);

  // A device that acknowledges, every register 0.
  void addDevice(int address) const;
  void setRegister(int address, int reg, int value) const;
  // The register's 16-bit value; -1 when there is no such device.
  int registerValue(int address, int reg) const;
  // Has the device fail requests of the kinds named: "address", "read", "write".
  void failRequests(int address, const std::string &kinds) const;
  // Every request the bus received, in order ("read 0x50 width=1 count=4: 0x10 ...").
  std::vector<std::string> requests() const;

 private:
  std::string deviceFile(int address) const;
  const Sandbox &board_;
};

}  // namespace kvsim
