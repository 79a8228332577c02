# Cross build for the board: ARM926EJ-S (ARMv5TE, soft float).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER arm-linux-gnueabi-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabi-g++)
# 64-bit file offsets and sizes: with the 32-bit defaults, stat() fails (EOVERFLOW) on a
# recording of 2 GiB or more on the card, which the housekeeping would then count as
# empty, and readdir() fails on a folder whose directory cookies need more than 32 bits.
set(CMAKE_C_FLAGS_INIT "-mcpu=arm926ej-s -D_FILE_OFFSET_BITS=64")
# -Wno-psabi: GCC notes that std::vector iterators are passed differently since GCC 7.1;
# every object of the firmware is built by this one compiler, so the note tells nothing.
set(CMAKE_CXX_FLAGS_INIT "-mcpu=arm926ej-s -D_FILE_OFFSET_BITS=64 -Wno-psabi")
# The board has glibc but none of GCC's own run-time libraries: the C++ runtime, libgcc
# and libatomic (the 64-bit atomics that ARMv5 cannot do lock-free) go into each program.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static-libstdc++ -static-libgcc")
set(CMAKE_C_STANDARD_LIBRARIES_INIT "-Wl,-Bstatic -latomic -Wl,-Bdynamic")
set(CMAKE_CXX_STANDARD_LIBRARIES_INIT "-Wl,-Bstatic -latomic -Wl,-Bdynamic")
set(CMAKE_FIND_ROOT_PATH /usr/arm-linux-gnueabi)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# ctest and the test discovery start every test program through the emulator.
include(${CMAKE_CURRENT_LIST_DIR}/qemu-arm.cmake)
set(CMAKE_CROSSCOMPILING_EMULATOR ${KV_ARM_EMULATOR})
