// SPDX-License-Identifier: MIT
// The I2C tool's driver layer in this process, against the sandbox's simulated bus: the
// variants the tool does not use (16-bit register addresses) and the handle's life.
#include "drv_i2c.h"

#include <dirent.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sandbox.h"
#include "sandbox_i2c.h"

namespace {

using kvsim::I2cBus;
using kvsim::Sandbox;

int openDescriptors() {
  int n = 0;
  if (DIR *d = opendir("/proc/self/fd")) {
    while (readdir(d)) ++n;
    closedir(d);
  }
  return n;
}

TEST(DrvI2c, sixteen_bit_register_addresses_reach_the_registers_named) {
  Sandbox board;
  I2cBus bus(board);
  bus.addDevice(0x1A);
  DRV_I2cHndl dev = {-1};
  ASSERT_EQ(DRV_i2cOpen(&dev, 0x1A), 0);

  uint16_t regs[] = {0x0001, 0x00FF};
  uint16_t words[] = {0xCAFE, 0x0102};
  EXPECT_EQ(DRV_i2c16Write16(&dev, regs, words, 2), 0);
  EXPECT_EQ(bus.registerValue(0x1A, 0x01), 0xCAFE);
  EXPECT_EQ(bus.registerValue(0x1A, 0xFF), 0x0102);

  uint8_t bytes[2] = {0, 0};
  EXPECT_EQ(DRV_i2c16Read8(&dev, regs, bytes, 2), 0);
  EXPECT_EQ(bytes[0], 0xFE);
  EXPECT_EQ(bytes[1], 0x02);

  // The device has 256 registers: a larger address is not acknowledged.
  uint16_t beyond[] = {0x0100};
  EXPECT_LT(DRV_i2c16Read16(&dev, beyond, words, 1), 0);
  EXPECT_EQ(DRV_i2cClose(&dev), 0);
  EXPECT_EQ(bus.requests().back(), "read 0x1a width=2 count=1: 0x100");
}

TEST(DrvI2c, a_refused_address_leaves_nothing_open) {
  Sandbox board;
  I2cBus bus(board);
  bus.failRequests(0x1A, "address");
  int before = openDescriptors();
  DRV_I2cHndl dev = {-1};
  EXPECT_LT(DRV_i2cOpen(&dev, 0x1A), 0);
  EXPECT_EQ(dev.fd, -1);
  EXPECT_EQ(openDescriptors(), before);

  // A handle that is not open sends nothing.
  uint8_t reg = 0, value = 0;
  EXPECT_EQ(DRV_i2cRead8(&dev, &reg, &value, 1), -1);
  EXPECT_EQ(DRV_i2cClose(&dev), -1);
  EXPECT_EQ(bus.requests(), std::vector<std::string>{"address 0x1a"});
}

}  // namespace
