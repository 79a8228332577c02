// SPDX-License-Identifier: MIT
/*
 * The four calls through which drv_i2c reaches the device: open, set address, transfer,
 * close. On the board they are open(), ioctl() and close() of the node. In a workstation
 * build with a board root (KV_SYSROOT set) the node path is taken below the root and the
 * requests are served by the sandbox's simulated bus (sim/standins/drv_i2c_sim.cpp); the firmware
 * build has no such seam.
 */
#ifndef KV_DRV_I2C_BUS_H
#define KV_DRV_I2C_BUS_H

#include "drv_i2c.h"

#ifdef __cplusplus
extern "C" {
#endif

int DRV_i2cBusOpen(const char *path);
int DRV_i2cBusSetAddress(int fd, uint8_t devAddr);
int DRV_i2cBusTransfer(int fd, unsigned long request, DRV_I2cTransfer *xfer);
int DRV_i2cBusClose(int fd);

#ifndef KV_BOARD_BUILD
/* The simulated bus (workstation builds only): whether a board root is set, and the
 * same four calls served from the sandbox. */
int DRV_i2cSimActive(void);
int DRV_i2cSimOpen(const char *path);
int DRV_i2cSimSetAddress(int fd, uint8_t devAddr);
int DRV_i2cSimTransfer(int fd, unsigned long request, DRV_I2cTransfer *xfer);
int DRV_i2cSimClose(int fd);
#endif

#ifdef __cplusplus
}
#endif

#endif
