# SPDX-License-Identifier: MIT
# What the programs need from any toolchain, decided here rather than in a toolchain file:
# an integrator's own toolchain file (Buildroot, Yocto: compilers and a find root, little
# more) must give the same firmware as the board preset.

# 64-bit file offsets and sizes on every target: with the 32-bit defaults of the board's
# C library, stat() fails (EOVERFLOW) on a recording of 2 GiB or more, which the
# housekeeping would then count as empty, and readdir() fails on a folder whose directory
# cookies need more than 32 bits. A 64-bit target has them anyway.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  add_compile_definitions(_FILE_OFFSET_BITS=64)
endif()

# The board has glibc but none of GCC's own run-time libraries: a cross build links the
# C++ runtime and libgcc into each program.
if(CMAKE_CROSSCOMPILING)
  set(kv_static_runtime_default ON)
else()
  set(kv_static_runtime_default OFF)
endif()
option(KV_STATIC_RUNTIME "Link the C++ runtime, libgcc and libatomic into each program"
  ${kv_static_runtime_default})
if(KV_STATIC_RUNTIME)
  add_link_options(-static-libstdc++ -static-libgcc)
endif()

# 64-bit atomics (the ticks shared between threads) are not lock-free on ARMv5: GCC calls
# libatomic for them. Whether this target needs it is asked of the compiler, not assumed.
include(CheckCXXSourceCompiles)
set(kv_atomic_probe [[
#include <atomic>
#include <cstdint>
std::atomic<int64_t> tick{0};
int main() { return static_cast<int>(tick.fetch_add(1) + tick.load()); }
]])
set(CMAKE_REQUIRED_QUIET ON)
check_cxx_source_compiles("${kv_atomic_probe}" KV_ATOMIC64_BUILTIN)
set(KV_ATOMIC_LIBRARIES)
set(KV_NEEDS_LIBATOMIC OFF)
if(NOT KV_ATOMIC64_BUILTIN)
  set(KV_NEEDS_LIBATOMIC ON)
  set(CMAKE_REQUIRED_LIBRARIES atomic)
  check_cxx_source_compiles("${kv_atomic_probe}" KV_ATOMIC64_IN_LIBATOMIC)
  unset(CMAKE_REQUIRED_LIBRARIES)
  if(NOT KV_ATOMIC64_IN_LIBATOMIC)
    message(FATAL_ERROR "64-bit atomics link neither by themselves nor with libatomic")
  endif()
  if(KV_STATIC_RUNTIME)
    set(KV_ATOMIC_LIBRARIES "-Wl,--push-state,-Bstatic" atomic "-Wl,--pop-state")
  else()
    set(KV_ATOMIC_LIBRARIES atomic)
  endif()
endif()
unset(CMAKE_REQUIRED_QUIET)

# GCC for ARM notes that std::vector iterators are passed differently since GCC 7.1: every
# object of the firmware is built by one compiler, so the note tells nothing.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_SYSTEM_PROCESSOR MATCHES "^arm")
  add_compile_options($<$<COMPILE_LANGUAGE:CXX>:-Wno-psabi>)
endif()
