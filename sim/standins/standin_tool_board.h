// SPDX-License-Identifier: MIT
// Behaviours of the stand-in tools that keep the sandbox's board true (mount table, card
// tools, process list); each takes the tool's command line and returns its exit status.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>

namespace kvsim {
int standinMount(int argc, char **argv);
int standinUmount(int argc, char **argv);
int standinFsckMsdos(int argc, char **argv);
int standinMkdosfs(int argc, char **argv);
int standinPs(int argc, char **argv);
int standinKillall(int argc, char **argv);
// Calls `visit` with the pid and the NUL-separated command line of every process that was
// started with this sandbox's KV_SYSROOT.
void forEachSandboxProcess(const std::function<void(pid_t, const std::string &)> &visit);
}  // namespace kvsim
