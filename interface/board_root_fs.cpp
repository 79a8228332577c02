// SPDX-License-Identifier: MIT
// The file-system side of the board root: statfs() of board paths and the resolution of
// paths that arrive at run time.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/statfs.h>

#include <string>
#include <string_view>

#include "board_root.h"
#include "kv_owners.hpp"

namespace {

// Numbers a sandbox states for one mount point.
struct StatedSize {
  long long bsize = -1, blocks = -1, bfree = -1, bavail = -1;
};

bool holds(std::string_view mount_point, std::string_view board_path) {
  if (mount_point == "/") return true;
  if (board_path.substr(0, mount_point.size()) != mount_point) return false;
  return board_path.size() == mount_point.size() || board_path[mount_point.size()] == '/';
}

// Finds the longest stated mount point that holds `board_path`; false when none does.
bool statedSize(std::string_view board_path, StatedSize &out) {
  kv::UniqueFile f(kv_fopen("/sim/statfs", "r"));
  if (!f) return false;
  size_t best = 0;
  bool found = false;
  char line[512];
  while (fgets(line, sizeof line, f.get())) {
    char mount_point[256];
    StatedSize s;
    if (sscanf(line, "%255s bsize=%lld blocks=%lld bfree=%lld bavail=%lld", mount_point, &s.bsize,
               &s.blocks, &s.bfree, &s.bavail) != 5)
      continue;
    size_t len = strlen(mount_point);
    if (holds(mount_point, board_path) && (!found || len > best)) {
      best = len;
      out = s;
      found = true;
    }
  }
  return found;
}

}  // namespace

extern "C" int kv_statfs(const char *path, struct statfs *out) {
  if (!path || !out) return -1;
  std::string host = kv::resolved(path);
  if (statfs(host.c_str(), out) != 0) return -1;
  std::string_view root = kv_sysroot();
  if (root.empty() || host.size() <= root.size()) return 0;
  StatedSize s;
  if (statedSize(std::string_view(host).substr(root.size()), s)) {
    out->f_bsize = static_cast<decltype(out->f_bsize)>(s.bsize);
    out->f_blocks = static_cast<fsblkcnt_t>(s.blocks);
    out->f_bfree = static_cast<fsblkcnt_t>(s.bfree);
    out->f_bavail = static_cast<fsblkcnt_t>(s.bavail);
  }
  return 0;
}

namespace kv {
std::string resolved(std::string_view path) {
  std::string_view root = kv_sysroot();
  if (root.empty() || path.empty() || path[0] != '/') return std::string(path);
  bool below = path.substr(0, root.size()) == root &&
               (path.size() == root.size() || path[root.size()] == '/');
  return below ? std::string(path) : rooted(path);
}
}  // namespace kv
