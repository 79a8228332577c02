# SPDX-License-Identifier: MIT
# Cross build for the board: ARM926EJ-S (ARMv5TE, soft float). Only the compilers, the
# processor and where the target's files are: what the programs need of the target (64-bit
# file offsets, the runtime linked in, libatomic) the project's own CMake decides, so an
# integrator's toolchain file gives the same firmware.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER arm-linux-gnueabi-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabi-g++)
set(CMAKE_C_FLAGS_INIT "-mcpu=arm926ej-s")
set(CMAKE_CXX_FLAGS_INIT "-mcpu=arm926ej-s")
set(CMAKE_FIND_ROOT_PATH /usr/arm-linux-gnueabi)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# ctest and the test discovery start every test program through the emulator.
include(${CMAKE_CURRENT_LIST_DIR}/qemu-arm.cmake)
set(CMAKE_CROSSCOMPILING_EMULATOR ${KV_ARM_EMULATOR})
