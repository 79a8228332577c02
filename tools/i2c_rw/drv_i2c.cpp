// SPDX-License-Identifier: MIT
// The driver layer: one open device per handle, one request per read or write.
#include "drv_i2c.h"

#include <stdio.h>

#include "drv_i2c_bus.h"

// The fields the board's driver reads, at the offsets it reads them.
static_assert(offsetof(DRV_I2cTransfer, dataSize) == 0);
static_assert(offsetof(DRV_I2cTransfer, count) == 5);
static_assert(offsetof(DRV_I2cTransfer, regSize) == 6);
static_assert(offsetof(DRV_I2cTransfer, reg) == 8);
static_assert(offsetof(DRV_I2cTransfer, reg16) == 8 + sizeof(void *));
static_assert(offsetof(DRV_I2cTransfer, value) == 8 + 2 * sizeof(void *));
#ifdef KV_BOARD_BUILD
// The board's driver takes exactly this record: 20 bytes with 4-byte addresses.
static_assert(sizeof(void *) == 4);
static_assert(sizeof(DRV_I2cTransfer) == 20);
static_assert(offsetof(DRV_I2cTransfer, reg16) == 12);
static_assert(offsetof(DRV_I2cTransfer, value) == 16);
#endif

namespace {

// One request with the bytes this layer does not use left zero.
// The register addresses are in reg8 or reg16, as regSize says.
int transfer(DRV_I2cHndl *hndl, unsigned long request, uint8_t regSize, uint8_t *reg8,
             uint16_t *reg16, uint8_t dataSize, void *value, uint8_t count) {
  if (!hndl || hndl->fd < 0) return -1;
  DRV_I2cTransfer xfer = {};
  xfer.dataSize = dataSize;
  xfer.count = count;
  xfer.regSize = regSize;
  xfer.reg = reg8;
  xfer.reg16 = reg16;
  xfer.value = value;
  return DRV_i2cBusTransfer(hndl->fd, request, &xfer) < 0 ? -1 : 0;
}

constexpr unsigned long kRead = DRV_I2C_IOCTL_READ;
constexpr unsigned long kWrite = DRV_I2C_IOCTL_WRITE;

}  // namespace

extern "C" {

int DRV_i2cOpen(DRV_I2cHndl *hndl, uint8_t devAddr) {
  if (!hndl) return -1;
  char path[32];
  snprintf(path, sizeof path, "/dev/%s", DRV_I2C_DEVICE_NAME);
  hndl->fd = DRV_i2cBusOpen(path);
  if (hndl->fd < 0) return -1;
  int status = DRV_i2cBusSetAddress(hndl->fd, devAddr);
  if (status < 0) {
    DRV_i2cBusClose(hndl->fd);
    hndl->fd = -1;
    return status;
  }
  return 0;
}

int DRV_i2cClose(DRV_I2cHndl *hndl) {
  if (!hndl || hndl->fd < 0) return -1;
  int status = DRV_i2cBusClose(hndl->fd);
  hndl->fd = -1;
  return status;
}

int DRV_i2cRead8(DRV_I2cHndl *hndl, uint8_t *reg, uint8_t *value, uint8_t count) {
  return transfer(hndl, kRead, 1, reg, nullptr, 1, value, count);
}
int DRV_i2cWrite8(DRV_I2cHndl *hndl, uint8_t *reg, uint8_t *value, uint8_t count) {
  return transfer(hndl, kWrite, 1, reg, nullptr, 1, value, count);
}
int DRV_i2cRead16(DRV_I2cHndl *hndl, uint8_t *reg, uint16_t *value, uint8_t count) {
  return transfer(hndl, kRead, 1, reg, nullptr, 2, value, count);
}
int DRV_i2cWrite16(DRV_I2cHndl *hndl, uint8_t *reg, uint16_t *value, uint8_t count) {
  return transfer(hndl, kWrite, 1, reg, nullptr, 2, value, count);
}
int DRV_i2c16Read8(DRV_I2cHndl *hndl, uint16_t *reg, uint8_t *value, uint8_t count) {
  return transfer(hndl, kRead, 2, nullptr, reg, 1, value, count);
}
int DRV_i2c16Write8(DRV_I2cHndl *hndl, uint16_t *reg, uint8_t *value, uint8_t count) {
  return transfer(hndl, kWrite, 2, nullptr, reg, 1, value, count);
}
int DRV_i2c16Read16(DRV_I2cHndl *hndl, uint16_t *reg, uint16_t *value, uint8_t count) {
  return transfer(hndl, kRead, 2, nullptr, reg, 2, value, count);
}
int DRV_i2c16Write16(DRV_I2cHndl *hndl, uint16_t *reg, uint16_t *value, uint8_t count) {
  return transfer(hndl, kWrite, 2, nullptr, reg, 2, value, count);
}

}  // extern "C"
