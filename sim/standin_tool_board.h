// Behaviours of the stand-in tools that keep the sandbox's board true (mount table, card
// tools, process list); each takes the tool's command line and returns its exit status.
#pragma once

namespace kvsim {
int standinMount(int argc, char **argv);
int standinUmount(int argc, char **argv);
int standinFsckMsdos(int argc, char **argv);
int standinMkdosfs(int argc, char **argv);
int standinPs(int argc, char **argv);
}  // namespace kvsim
