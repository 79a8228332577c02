// SPDX-License-Identifier: MIT
/*
 * The simulated I2C bus of a sandbox: the files through which the I2C tool's seam serves
 * the device requests and a test prepares and reads back the devices. Paths are board
 * paths below the sandbox root (KV_SYSROOT). Plain C: the tool shares nothing else with
 * the sandbox.
 */
#ifndef KV_SIM_I2C_BUS_FORMAT_H
#define KV_SIM_I2C_BUS_FORMAT_H

/* The device node; without it the device cannot be opened. */
#define KV_SIM_I2C_NODE "/dev/dev_i2c"

/* One file a device: "<folder>/<address as two lower-case hex digits>", 256 registers of
 * 16 bits each, little-endian. A 1-byte read gives a register's low byte, a 1-byte write
 * sets it to the byte. A missing file is a device that does not acknowledge: its reads and
 * writes fail (ENXIO). */
#define KV_SIM_I2C_FOLDER "/sim/i2c"
#define KV_SIM_I2C_REGISTERS 256
#define KV_SIM_I2C_MAP_SIZE (2 * KV_SIM_I2C_REGISTERS)

/* "<device file>.fail" holds the words of the requests the device fails (EIO): "address"
 * (the set-address request), "read", "write". */
#define KV_SIM_I2C_FAIL_SUFFIX ".fail"

/* Every request the bus received, one line each, in order:
 *   "address 0x50"
 *   "read 0x50 width=1 count=2: 0x10 0x11"
 *   "write 0x50 width=2 count=1: 0x10=0x1234" */
#define KV_SIM_I2C_LOG "/sim/i2c/requests.log"

#endif
