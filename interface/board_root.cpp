// SPDX-License-Identifier: MIT
#include "board_root.h"

#include <fcntl.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "kv_owners.hpp"

namespace {

#ifdef KV_BOARD_BUILD
constexpr bool kSeamCompiledIn = false;
#else
constexpr bool kSeamCompiledIn = true;
#endif

// Read anew on every call: tests switch sandboxes inside one process, and the cost is
// one getenv() next to a system call.
const char *sysroot_or_empty() {
  if (!kSeamCompiledIn) return "";
  const char *root = getenv("KV_SYSROOT");
  return root ? root : "";
}

bool has_sysroot() { return sysroot_or_empty()[0] != '\0'; }

// FNV-1a, 64 bits: stable across processes and architectures.
uint64_t fnv1a(const void *data, size_t len, uint64_t hash = 1469598103934665603ULL) {
  const auto *p = static_cast<const unsigned char *>(data);
  for (size_t i = 0; i < len; ++i) {
    hash ^= p[i];
    hash *= 1099511628211ULL;
  }
  return hash;
}

// Under a sysroot each command text is noted whole in sim/log/shell.log, one line per
// command with a line break inside written as a backslash and 'n': the stand-in tools see
// only their argument lists, never the exact text the program handed the shell.
void note_command(const char *command) {
  if (!has_sysroot() || !command) return;
  std::string line;
  for (const char *p = command; *p; ++p) {
    if (*p == '\n')
      line += "\\n";
    else
      line += *p;
  }
  line += '\n';
  std::string path = std::string(sysroot_or_empty()) + "/sim/log/shell.log";
  kv::UniqueFd fd(open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
  if (fd) (void)!write(fd.get(), line.data(), line.size());
}

}  // namespace

extern "C" {

const char *kv_sysroot(void) { return sysroot_or_empty(); }

int kv_path(const char *path, char *out, size_t outlen) {
  if (!out || outlen == 0) return -1;
  out[0] = '\0';
  if (!path) return -1;
  const char *root = sysroot_or_empty();
  size_t rlen = strlen(root), plen = strlen(path);
  if (rlen + plen + 1 > outlen) return -1;
  memcpy(out, root, rlen);
  memcpy(out + rlen, path, plen + 1);
  return 0;
}

int kv_open(const char *path, int flags, ...) {
  mode_t mode = 0;
  if (flags & O_CREAT) {
    va_list ap;
    va_start(ap, flags);
    mode = static_cast<mode_t>(va_arg(ap, int));
    va_end(ap);
  }
  char full[1024];
  if (kv_path(path, full, sizeof full) != 0) return -1;
  return open(full, flags, mode);
}

FILE *kv_fopen(const char *path, const char *mode) {
  char full[1024];
  if (kv_path(path, full, sizeof full) != 0) return nullptr;
  return fopen(full, mode);
}

int kv_system(const char *command) {
  note_command(command);
  return system(command);
}

FILE *kv_popen(const char *command, const char *mode) {
  note_command(command);
  return popen(command, mode);
}

int kv_pclose(FILE *stream) { return pclose(stream); }

int kv_ipc_key(int key) { return kv::ipc_key_for(sysroot_or_empty(), key); }

int kv_set_clock(const struct timespec *ts) {
  if (!ts) return -1;
  if (!has_sysroot()) return clock_settime(CLOCK_REALTIME, ts);
  kv::UniqueFile f(kv_fopen("/sim/clock", "w"));
  if (!f) return -1;
  fprintf(f.get(), "%lld %ld\n", static_cast<long long>(ts->tv_sec),
          static_cast<long>(ts->tv_nsec));
  return 0;
}

}  // extern "C"

namespace kv {
int ipc_key_for(std::string_view root, int key) {
  if (root.empty()) return key;
  uint64_t h = fnv1a(root.data(), root.size());
  h = fnv1a(&key, sizeof key, h);
  // Positive, and never IPC_PRIVATE (0) nor one of the system's own small keys.
  auto derived = static_cast<int>((h ^ (h >> 32)) & 0x7FFFFFFF);
  return derived < 0x01000000 ? derived + 0x01000000 : derived;
}

std::string rooted(std::string_view path) {
  return std::string(sysroot_or_empty()) + std::string(path);
}
}  // namespace kv
