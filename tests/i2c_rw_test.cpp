// SPDX-License-Identifier: MIT
// i2c_rw on a simulated board: the real tool against the sandbox's I2C bus. Each case
// checks what a person at the board's shell sees (the printed lines, byte for byte) and
// what reached the devices (their registers and the requests on the bus).
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "sandbox.h"
#include "sandbox_i2c.h"

namespace {

using kvsim::I2cBus;
using kvsim::Sandbox;

constexpr int kDevice = 0x50;

const std::string kUsage =
    " \n I2C Test Utility, \r Usage: i2c_rw -r|-w <devAddrInHex> <regAddrInHex> "
    "<regValueInHex or numRegsToReadInDec> <regSizeInBytes>\r\n \n";

struct Outcome {
  int status;
  std::string out, err;
};

std::string joined(const std::vector<std::string> &args) {
  std::string text = "i2c_rw";
  for (const auto &a : args) text += " " + a;
  return text;
}

// A board with the bus's node and device 0x50 on it.
struct I2cBoard {
  I2cBoard() { bus.addDevice(kDevice); }

  Outcome run(const std::vector<std::string> &args) {
    std::vector<std::string> argv{"i2c_rw"};
    argv.insert(argv.end(), args.begin(), args.end());
    pid_t pid = board.start(argv);
    int status = board.wait(pid);
    return {Sandbox::exitCode(status), board.stdoutOf(pid), board.stderrOf(pid)};
  }

  Sandbox board;
  I2cBus bus{board};
};

using Registers = std::vector<std::pair<int, int>>;

// ---- reads -------------------------------------------------------------------------

TEST(I2cRead, consecutive_registers_with_the_chosen_width) {
  struct Case {
    std::vector<std::string> args;
    Registers prepared;
    std::string out;
    std::string request;
  } cases[] = {
      {{"-r", "50", "10"},
       {{0x10, 0x11}, {0x11, 0x22}, {0x12, 0x33}, {0x13, 0x44}, {0x14, 0x55}},
       " \n I2C: 0x10 = 0x11 \n I2C: 0x11 = 0x22 \n I2C: 0x12 = 0x33 \n I2C: 0x13 = 0x44 \n \n",
       "read 0x50 width=1 count=4: 0x10 0x11 0x12 0x13"},
      {{"-r", "0x50", "FE", "4"},
       {{0xFE, 0xA1}, {0xFF, 0xA2}, {0x00, 0xA3}, {0x01, 0xA4}},
       " \n I2C: 0xfe = 0xa1 \n I2C: 0xff = 0xa2 \n I2C: 0x00 = 0xa3 \n I2C: 0x01 = 0xa4 \n \n",
       "read 0x50 width=1 count=4: 0xfe 0xff 0x00 0x01"},
      {{"-r", "50", "fe", "2", "2"},
       {{0xFE, 0xBEEF}, {0xFF, 0x0012}},
       " \n I2C: 0xfe = 0xbeef \n I2C: 0xff = 0x0012 \n \n",
       "read 0x50 width=2 count=2: 0xfe 0xff"},
      {{"-r", "50", "10", "1"},
       {{0x10, 0xBEEF}},
       " \n I2C: 0x10 = 0xef \n \n",
       "read 0x50 width=1 count=1: 0x10"},
      {{"-r", "50", "10", "1", "3"},
       {{0x10, 0xBEEF}},
       " \n I2C: 0x10 = 0xef \n \n",
       "read 0x50 width=1 count=1: 0x10"},
      {{"-r", "50"},
       {{0x00, 0x01}, {0x03, 0x04}},
       " \n I2C: 0x00 = 0x01 \n I2C: 0x01 = 0x00 \n I2C: 0x02 = 0x00 \n I2C: 0x03 = 0x04 \n \n",
       "read 0x50 width=1 count=4: 0x00 0x01 0x02 0x03"},
      {{"-r", "50", "10", "0"}, {}, " \n \n", "read 0x50 width=1 count=0:"},
      {{"-r", "50", "10", "257"},
       {{0x10, 0x99}},
       " \n I2C: 0x10 = 0x99 \n \n",
       "read 0x50 width=1 count=1: 0x10"},
  };
  for (const auto &c : cases) {
    I2cBoard unit;
    for (auto [reg, value] : c.prepared) unit.bus.setRegister(kDevice, reg, value);
    Outcome got = unit.run(c.args);
    std::string what = joined(c.args);
    EXPECT_EQ(got.status, 0) << what;
    EXPECT_EQ(got.out, c.out) << what;
    EXPECT_EQ(got.err, "") << what;
    EXPECT_EQ(unit.bus.requests(), (std::vector<std::string>{"address 0x50", c.request})) << what;
  }
}

// ---- writes ------------------------------------------------------------------------

TEST(I2cWrite, one_register_written_and_read_back) {
  struct Case {
    std::vector<std::string> args;
    int reg, stored;
    std::string out;
    std::string write, read;
  } cases[] = {
      {{"-w", "50", "10", "AB", "3"},
       0x10,
       0xAB,
       " \n I2C: 0x10 = 0xab \n \n",
       "write 0x50 width=1 count=1: 0x10=0xab",
       "read 0x50 width=1 count=1: 0x10"},
      {{"-w", "50", "10", "1234", "2"},
       0x10,
       0x1234,
       " \n I2C: 0x10 = 0x1234 \n \n",
       "write 0x50 width=2 count=1: 0x10=0x1234",
       "read 0x50 width=2 count=1: 0x10"},
      {{"-w", "0x50", "0x2f", "0x1234"},
       0x2F,
       0x34,
       " \n I2C: 0x2f = 0x34 \n \n",
       "write 0x50 width=1 count=1: 0x2f=0x34",
       "read 0x50 width=1 count=1: 0x2f"},
      {{"-w", "50", "20"},
       0x20,
       0x00,
       " \n I2C: 0x20 = 0x00 \n \n",
       "write 0x50 width=1 count=1: 0x20=0x00",
       "read 0x50 width=1 count=1: 0x20"},
  };
  for (const auto &c : cases) {
    I2cBoard unit;
    unit.bus.setRegister(kDevice, c.reg, 0x7777);
    Outcome got = unit.run(c.args);
    std::string what = joined(c.args);
    EXPECT_EQ(got.status, 0) << what;
    EXPECT_EQ(got.out, c.out) << what;
    EXPECT_EQ(unit.bus.registerValue(kDevice, c.reg), c.stored) << what;
    EXPECT_EQ(unit.bus.requests(), (std::vector<std::string>{"address 0x50", c.write, c.read}))
        << what;
  }
}

// ---- refusals ----------------------------------------------------------------------

TEST(I2cUsage, bad_command_lines_print_the_usage_touch_no_device_and_fail) {
  struct Case {
    std::vector<std::string> args;
    std::string out;
  } cases[] = {
      {{}, kUsage},
      {{"-r"}, kUsage},
      {{"-x", "50"}, kUsage},
      {{"-R", "50", "10"}, kUsage},
      {{"-rw", "50", "10"}, kUsage},
      {{"-r", "0", "10"}, " I2C: Invalid device address" + kUsage},
      {{"-w", "100", "10", "AB"}, " I2C: Invalid device address" + kUsage},
      {{"-r", "0x"}, " I2C: Invalid device address" + kUsage},
  };
  for (const auto &c : cases) {
    I2cBoard unit;
    Outcome got = unit.run(c.args);
    std::string what = joined(c.args);
    EXPECT_EQ(got.status, 2) << what;
    EXPECT_EQ(got.out, c.out) << what;
    EXPECT_EQ(got.err, "") << what;
    EXPECT_TRUE(unit.bus.requests().empty()) << what;
  }
}

TEST(I2cFailure, absent_and_failing_devices_print_one_error_line) {
  const std::string readError = " \n I2C: Read ERROR !!! \n";
  const std::string writeError = " \n I2C: Write ERROR !!! \n";
  struct Case {
    const char *what;
    std::vector<std::string> args;
    std::string fails;  // "" for an absent device
    std::string out;
    size_t requests;  // on the bus, the set-address request included
    int stored;       // register 0x10 afterwards (-1: no device)
  } cases[] = {
      {"absent, read", {"-r", "60", "10"}, "", readError, 2, -1},
      {"absent, write", {"-w", "60", "10", "AB"}, "", writeError, 2, -1},
      {"failing reads", {"-r", "60", "10"}, "read", readError, 2, 0x7777},
      {"failing writes", {"-w", "60", "10", "AB"}, "write", writeError, 2, 0x7777},
      {"failing read-back", {"-w", "60", "10", "AB"}, "read", writeError, 3, 0xAB},
  };
  for (const auto &c : cases) {
    I2cBoard unit;
    if (!c.fails.empty()) {
      unit.bus.addDevice(0x60);
      unit.bus.setRegister(0x60, 0x10, 0x7777);
      unit.bus.failRequests(0x60, c.fails);
    }
    Outcome got = unit.run(c.args);
    EXPECT_EQ(got.status, 0) << c.what;
    EXPECT_EQ(got.out, c.out) << c.what;
    EXPECT_EQ(unit.bus.requests().size(), c.requests) << c.what;
    EXPECT_EQ(unit.bus.registerValue(0x60, 0x10), c.stored) << c.what;
  }
}

TEST(I2cFailure, a_device_that_cannot_be_opened_is_reported_on_standard_error) {
  const std::string error = " ERROR  (drv_i2c.c|DRV_i2cTestMain|277): DRV_i2cOpen(80)";
  {
    I2cBoard unit;
    unit.board.remove("/dev/dev_i2c");
    Outcome got = unit.run({"-r", "50", "10"});
    EXPECT_EQ(got.status, 0);
    EXPECT_EQ(got.out, "");
    EXPECT_EQ(got.err, error);
    EXPECT_TRUE(unit.bus.requests().empty());
  }
  {
    I2cBoard unit;
    unit.bus.failRequests(kDevice, "address");
    Outcome got = unit.run({"-w", "50", "10", "AB"});
    EXPECT_EQ(got.status, 0);
    EXPECT_EQ(got.out, "");
    EXPECT_EQ(got.err, error);
    EXPECT_EQ(unit.bus.requests(), std::vector<std::string>{"address 0x50"});
  }
}

}  // namespace
