// SPDX-License-Identifier: MIT
#include "sandbox_i2c.h"

#include <stdio.h>

#include <stdexcept>

#include "i2c_bus_format.h"

namespace kvsim {

I2cBus::I2cBus(const Sandbox &board) : board_(board) {
  board_.write(KV_SIM_I2C_NODE, "");
  board_.mkdir(KV_SIM_I2C_FOLDER);
}

namespace {
size_t registerOffset(int reg) {
  if (reg < 0 || reg >= KV_SIM_I2C_REGISTERS)
    throw std::out_of_range("i2c register " + std::to_string(reg));
  return 2 * static_cast<size_t>(reg);
}
}  // namespace

std::string I2cBus::deviceFile(int address) const {
  char name[8];
  snprintf(name, sizeof name, "/%02x", address & 0xFF);
  return std::string(KV_SIM_I2C_FOLDER) + name;
}

void I2cBus::addDevice(int address) const {
  board_.write(deviceFile(address), std::string(KV_SIM_I2C_MAP_SIZE, '\0'));
}

void I2cBus::setRegister(int address, int reg, int value) const {
  std::string map = board_.read(deviceFile(address));
  map.resize(KV_SIM_I2C_MAP_SIZE, '\0');
  size_t at = registerOffset(reg);
  map[at] = static_cast<char>(value & 0xFF);
  map[at + 1] = static_cast<char>((value >> 8) & 0xFF);
  board_.write(deviceFile(address), map);
}

int I2cBus::registerValue(int address, int reg) const {
  size_t at = registerOffset(reg);
  if (!board_.exists(deviceFile(address))) return -1;
  std::string map = board_.read(deviceFile(address));
  map.resize(KV_SIM_I2C_MAP_SIZE, '\0');
  auto byte = [&](size_t i) { return static_cast<unsigned char>(map[i]); };
  return byte(at) | byte(at + 1) << 8;
}

void I2cBus::failRequests(int address, const std::string &kinds) const {
  board_.write(deviceFile(address) + KV_SIM_I2C_FAIL_SUFFIX, kinds + "\n");
}

std::vector<std::string> I2cBus::requests() const {
  return splitLines(board_.read(KV_SIM_I2C_LOG));
}

}  // namespace kvsim
