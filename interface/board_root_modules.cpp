// SPDX-License-Identifier: MIT
// Kernel modules through the board root. On the board: the init_module and delete_module
// system calls. Under a sysroot: the sandbox's proc/modules, kept the way the kernel keeps
// its list, with the misbehaviours a test asks for in "sim/ctl/modules/<name>" (a driver
// that comes up late or never, that will not load, that will not let go).
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <string>

#include "board_root.h"

#ifndef KV_BOARD_BUILD
#include <time.h>

#include "kv_owners.hpp"

namespace {

constexpr const char kModuleList[] = "/proc/modules";

struct ModuleScript {
  enum class Load { now, late, never, fail } load = Load::now;
  int late_ms = 0;
  bool refuse_removal = false;
};

ModuleScript scriptOf(const char *name) {
  ModuleScript s;
  kv::UniqueFile f(kv_fopen(("/sim/ctl/modules/" + std::string(name)).c_str(), "r"));
  if (!f) return s;
  char line[128];
  while (fgets(line, sizeof line, f.get())) {
    int ms = 0;
    if (strncmp(line, "load=fail", 9) == 0) s.load = ModuleScript::Load::fail;
    if (strncmp(line, "load=never", 10) == 0) s.load = ModuleScript::Load::never;
    if (sscanf(line, "load=late %d", &ms) == 1) {
      s.load = ModuleScript::Load::late;
      s.late_ms = ms;
    }
    if (strncmp(line, "remove=refuse", 13) == 0) s.refuse_removal = true;
  }
  return s;
}

// One line of the sandbox's module log, in one write so lines of several processes never mix.
void note(const std::string &line) {
  kv::UniqueFd fd(kv_open("/sim/log/modules.log", O_WRONLY | O_CREAT | O_APPEND, 0644));
  std::string whole = line + "\n";
  if (fd) (void)!write(fd.get(), whole.data(), whole.size());
}

std::string listLine(const char *name) { return std::string(name) + " 0 0 - Live 0x00000000\n"; }

// The module list without `name`'s line, and whether it was there (the first word of a
// line is the module's name).
std::string listWithout(const char *name, bool &found) {
  found = false;
  std::string kept;
  kv::UniqueFile in(kv_fopen(kModuleList, "r"));
  if (!in) return kept;
  char line[512];
  while (fgets(line, sizeof line, in.get())) {
    size_t n = strcspn(line, " \n");
    if (n == strlen(name) && strncmp(line, name, n) == 0) {
      found = true;
      continue;
    }
    kept += line;
  }
  return kept;
}

int writeList(const std::string &text) {
  kv::UniqueFile out(kv_fopen(kModuleList, "w"));
  if (!out) return -1;
  return fputs(text.c_str(), out.get()) < 0 ? -1 : 0;
}

// A driver that takes its time to register: a child lists the module after `ms` and ends.
// It writes into the list only while the sandbox still exists (no O_CREAT).
void listLater(const char *name, int ms) {
  std::string list = kv::rooted(kModuleList), line = listLine(name);
  pid_t child = fork();
  if (child != 0) return;
  struct timespec ts = {ms / 1000, static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
  int fd = open(list.c_str(), O_WRONLY | O_APPEND);
  if (fd >= 0) (void)!write(fd, line.data(), line.size());
  _exit(0);
}

int sandboxInit(const char *params, const char *name) {
  if (!name || !name[0]) {
    errno = EINVAL;
    return -1;
  }
  note("init " + std::string(name) + " " + (params ? params : ""));
  bool listed = false;
  std::string list = listWithout(name, listed);
  if (listed) {
    errno = EEXIST;
    return -1;
  }
  ModuleScript s = scriptOf(name);
  switch (s.load) {
    case ModuleScript::Load::fail:
      errno = ENOEXEC;
      return -1;
    case ModuleScript::Load::never:
      return 0;
    case ModuleScript::Load::late:
      listLater(name, s.late_ms);
      return 0;
    case ModuleScript::Load::now:
      break;
  }
  return writeList(list + listLine(name));
}

int sandboxDelete(const char *name) {
  if (!name) {
    errno = EINVAL;
    return -1;
  }
  note("delete " + std::string(name));
  bool listed = false;
  std::string list = listWithout(name, listed);
  if (!listed) {
    errno = ENOENT;
    return -1;
  }
  if (scriptOf(name).refuse_removal) {
    errno = EBUSY;
    return -1;
  }
  return writeList(list);
}

}  // namespace
#endif

extern "C" {

int kv_init_module(const void *image, unsigned long len, const char *params, const char *name) {
#ifndef KV_BOARD_BUILD
  if (kv_sysroot()[0]) return sandboxInit(params, name);
#endif
  (void)name;
  return static_cast<int>(syscall(SYS_init_module, image, len, params ? params : ""));
}

int kv_delete_module(const char *name, unsigned int flags) {
#ifndef KV_BOARD_BUILD
  if (kv_sysroot()[0]) return sandboxDelete(name);
#endif
  return static_cast<int>(syscall(SYS_delete_module, name, flags));
}

}  // extern "C"
