// SPDX-License-Identifier: MIT
/*
 * drv_i2c: the I2C tool's thin layer over the board's I2C character device ("/dev/dev_i2c").
 *
 * A handle is opened for one device address; reads and writes then move the values of one
 * or more registers of that device in one request each. The variants differ in the value
 * width (8 or 16 bits, the number in the name) and the register-address width (the
 * DRV_i2c16... variants take 16-bit register addresses). Results are 0 or a negative
 * value; the device's own error codes are not passed on.
 */
#ifndef KV_DRV_I2C_H
#define KV_DRV_I2C_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define DRV_I2C_DEVICE_NAME "dev_i2c"

/* Requests of the board's I2C driver. */
#define DRV_I2C_IOCTL_SET_ADDR 0x2C01  /* the device address as the plain argument */
#define DRV_I2C_IOCTL_READ 0x2C02      /* a DRV_I2cTransfer */
#define DRV_I2C_IOCTL_WRITE 0x2C03     /* a DRV_I2cTransfer */
#define DRV_I2C_IOCTL_RESERVED4 0x2C04 /* further requests of the driver, unused here */
#define DRV_I2C_IOCTL_RESERVED5 0x2C05

/* The transfer record the driver reads and writes through. On the board (4-byte
 * addresses) it is the driver's 20-byte record; a workstation build has its own
 * pointer width, and only its simulated bus reads it there. */
typedef struct {
  uint8_t dataSize;     /* value width in bytes: 1 or 2 */
  uint8_t reserved1[4]; /* not used by this layer: zero */
  uint8_t count;        /* registers to transfer */
  uint8_t regSize;      /* register-address width in bytes: 1 or 2 */
  uint8_t reserved2;    /* zero */
  uint8_t *reg;         /* 1-byte register addresses (regSize 1) */
  uint16_t *reg16;      /* 2-byte register addresses (regSize 2) */
  void *value;          /* the values: uint8_t (dataSize 1) or uint16_t (dataSize 2) */
} DRV_I2cTransfer;

typedef struct {
  int fd; /* the open device, or -1 */
} DRV_I2cHndl;

/* Opens the device and selects devAddr. 0, or a negative value (nothing left open). */
int DRV_i2cOpen(DRV_I2cHndl *hndl, uint8_t devAddr);
int DRV_i2cClose(DRV_I2cHndl *hndl);

/* `count` registers reg[0..count-1] into / from value[0..count-1]. */
int DRV_i2cRead8(DRV_I2cHndl *hndl, uint8_t *reg, uint8_t *value, uint8_t count);
int DRV_i2cWrite8(DRV_I2cHndl *hndl, uint8_t *reg, uint8_t *value, uint8_t count);
int DRV_i2cRead16(DRV_I2cHndl *hndl, uint8_t *reg, uint16_t *value, uint8_t count);
int DRV_i2cWrite16(DRV_I2cHndl *hndl, uint8_t *reg, uint16_t *value, uint8_t count);
int DRV_i2c16Read8(DRV_I2cHndl *hndl, uint16_t *reg, uint8_t *value, uint8_t count);
int DRV_i2c16Write8(DRV_I2cHndl *hndl, uint16_t *reg, uint8_t *value, uint8_t count);
int DRV_i2c16Read16(DRV_I2cHndl *hndl, uint16_t *reg, uint16_t *value, uint8_t count);
int DRV_i2c16Write16(DRV_I2cHndl *hndl, uint16_t *reg, uint16_t *value, uint8_t count);

/* The i2c_rw command line (see drv_i2c_tool.cpp): 0, or 2 for a wrong command line. */
int DRV_i2cTestMain(int argc, char **argv);

#ifdef __cplusplus
}
#endif

#endif
