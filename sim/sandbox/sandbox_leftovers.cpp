// SPDX-License-Identifier: MIT
// Sandboxes that a test process left behind when it aborted: found by the owner record each
// sandbox keeps, removed with the queues and segments of their own keys only.
#include <errno.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ipc.h>
#include <sys/mount.h>
#include <sys/msg.h>
#include <sys/shm.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "board_root.h"
#include "sandbox.h"
#include "standin.h"

namespace fs = std::filesystem;

namespace kvsim {
namespace {

struct Owner {
  pid_t pid = 0;
  std::vector<int> keys;
};

bool readOwner(const std::string &root, Owner &owner) {
  std::string text;
  if (!readFile(root + kSandboxOwnerFile, text)) return false;
  std::istringstream in(text);
  if (!(in >> owner.pid) || owner.pid <= 0) return false;
  for (int key; in >> key;) owner.keys.push_back(key);
  return true;
}

// A number that was handed on to another process keeps its leftovers a while longer: no
// harm. (Its start time would tell, but under qemu-user a process sees its own start time
// otherwise than others see it.)
bool stillRuns(pid_t pid) { return kill(pid, 0) == 0 || errno == EPERM; }

bool ownedByMe(const fs::path &dir) {
  struct stat st;
  return lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid();
}

void removeIpcOf(const std::string &root, int key) {
  key_t k = kv::ipc_key_for(root, key);
  int q = msgget(k, 0);
  if (q >= 0) msgctl(q, IPC_RMID, nullptr);
  int s = shmget(k, 0, 0);
  if (s >= 0) shmctl(s, IPC_RMID, nullptr);
}

}  // namespace

int removeLeftoverSandboxes(const std::string &folder) {
  int removed = 0;
  std::error_code ec;
  for (const auto &entry : fs::directory_iterator(folder, ec)) {
    Owner owner;
    std::string root = entry.path().string();
    if (!ownedByMe(entry.path()) || !readOwner(root, owner)) continue;
    if (stillRuns(owner.pid)) continue;
    for (int key : owner.keys) removeIpcOf(root, key);
    // A failing card whose program was killed with its test leaves a dead mount: detach
    // it, so that the removal stays inside the sandbox's own folder.
    for (const char *card : {"/mnt/mmc", "/mnt/nand"}) umount2((root + card).c_str(), MNT_DETACH);
    std::error_code rm;
    fs::remove_all(entry.path(), rm);
    if (!rm) ++removed;
  }
  return removed;
}

}  // namespace kvsim
