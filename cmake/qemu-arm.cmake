# SPDX-License-Identifier: MIT
# How this workstation starts a program built for the board: under qemu-arm, as an ARM926
# with the cross toolchain's libraries (there is no binfmt_misc here to do it by itself).
set(KV_ARM_EMULATOR qemu-arm -cpu arm926 -L /usr/arm-linux-gnueabi)
