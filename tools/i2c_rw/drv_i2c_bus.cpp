// SPDX-License-Identifier: MIT
// The device calls of drv_i2c: the node's own open/ioctl/close on the board, the sandbox's
// simulated bus on a workstation with a board root. The firmware build has only the first.
#include "drv_i2c_bus.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

extern "C" {

int DRV_i2cBusOpen(const char *path) {
#ifndef KV_BOARD_BUILD
  if (DRV_i2cSimActive()) return DRV_i2cSimOpen(path);
#endif
  return open(path, O_RDWR);
}

int DRV_i2cBusSetAddress(int fd, uint8_t devAddr) {
#ifndef KV_BOARD_BUILD
  if (DRV_i2cSimActive()) return DRV_i2cSimSetAddress(fd, devAddr);
#endif
  return ioctl(fd, DRV_I2C_IOCTL_SET_ADDR, static_cast<unsigned long>(devAddr));
}

int DRV_i2cBusTransfer(int fd, unsigned long request, DRV_I2cTransfer *xfer) {
#ifndef KV_BOARD_BUILD
  if (DRV_i2cSimActive()) return DRV_i2cSimTransfer(fd, request, xfer);
#endif
  return ioctl(fd, request, xfer);
}

int DRV_i2cBusClose(int fd) {
#ifndef KV_BOARD_BUILD
  if (DRV_i2cSimActive()) return DRV_i2cSimClose(fd);
#endif
  return close(fd);
}

}  // extern "C"
