// SPDX-License-Identifier: MIT
// Programs built for the board's processor inside a sandbox on this workstation. The
// workstation cannot start an ARM executable by itself (no binfmt_misc), neither from the
// sandbox nor from a shell that a program under test runs, so both go through qemu-arm.
// A program for the workstation itself is started as it is.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace kvsim {

// True when `file` is an ELF executable for the ARM processor.
bool isArmProgram(const std::string &file);

// What to hand execvp() to start `exe` with the arguments `argv` (argv[0] included).
struct Launch {
  std::string file;
  std::vector<std::string> argv;
};
// An ARM program runs in the emulator; the emulator's process shows argv[0] first in the
// process table, where the sandbox's ps and killall look for a program's name.
Launch launchOf(const std::string &exe, const std::vector<std::string> &argv);

// Makes `link` start the stand-in `target` under the link's own name: a symbolic link,
// or for an ARM stand-in a small shell script that runs it in the emulator.
void linkStandIn(const std::string &target, const std::string &link);

// Memory of an emulated program, as VmRSS would show it on the board. The emulator's
// process also holds its own code, translation buffers and libraries; a program started
// with this in its environment (Sandbox::start's `env`) has its memory at a known place in
// that process, apart from the emulator's.
inline constexpr const char *kPinnedGuestMemory = "QEMU_GUEST_BASE=0x100000000";
// Resident kB of the program that emulator process `pid` runs (started with
// kPinnedGuestMemory); -1 when its memory map cannot be read.
long emulatedResidentKb(pid_t pid);

}  // namespace kvsim
