// Sandboxes that a test process left behind when it aborted: found by the owner record each
// sandbox keeps, removed with the queues and segments of their own keys only.
#include <stdlib.h>
#include <sys/ipc.h>
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
  std::string start;
  std::vector<int> keys;
};

bool readOwner(const std::string &root, Owner &owner) {
  std::string text;
  if (!readFile(root + kSandboxOwnerFile, text)) return false;
  std::istringstream in(text);
  if (!(in >> owner.pid >> owner.start) || owner.pid <= 0) return false;
  for (int key; in >> key;) owner.keys.push_back(key);
  return true;
}

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

std::string processStart(pid_t pid) {
  std::string stat;
  if (!readFile("/proc/" + std::to_string(pid) + "/stat", stat)) return "";
  // The name in parentheses may hold blanks: the fields are counted after its end.
  size_t close = stat.rfind(')');
  if (close == std::string::npos) return "";
  std::istringstream in(stat.substr(close + 1));
  std::string field;
  for (int i = 3; i <= 22; ++i)  // the state is field 3, the start time field 22
    if (!(in >> field)) return "";
  return field;
}

int removeLeftoverSandboxes(const std::string &folder) {
  int removed = 0;
  std::error_code ec;
  for (const auto &entry : fs::directory_iterator(folder, ec)) {
    Owner owner;
    std::string root = entry.path().string();
    if (!ownedByMe(entry.path()) || !readOwner(root, owner)) continue;
    if (processStart(owner.pid) == owner.start) continue;  // its process still runs
    for (int key : owner.keys) removeIpcOf(root, key);
    std::error_code rm;
    fs::remove_all(entry.path(), rm);
    if (!rm) ++removed;
  }
  return removed;
}

}  // namespace kvsim
