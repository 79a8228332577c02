// SPDX-License-Identifier: MIT
#include "sandbox_emulator.h"

#include <elf.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "kv_common_util.h"
#include "kv_owners.hpp"

namespace kvsim {
namespace {

// The emulator's command words ("qemu-arm -cpu arm926 -L <libraries>").
std::vector<std::string> emulatorWords() {
  std::vector<std::string> words;
  std::istringstream in(KV_ARM_EMULATOR);
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

}  // namespace

bool isArmProgram(const std::string &file) {
  kv::UniqueFd fd(open(file.c_str(), O_RDONLY | O_CLOEXEC));
  Elf32_Ehdr header;  // the fields read here sit at the same offsets in a 64-bit header
  if (!fd || read(fd.get(), &header, sizeof header) != static_cast<ssize_t>(sizeof header))
    return false;
  return memcmp(header.e_ident, ELFMAG, SELFMAG) == 0 && header.e_ident[EI_DATA] == ELFDATA2LSB &&
         header.e_machine == EM_ARM;
}

Launch launchOf(const std::string &exe, const std::vector<std::string> &argv) {
  if (!isArmProgram(exe)) return {exe, argv};
  std::vector<std::string> emulator = emulatorWords();
  Launch launch{emulator.front(), {argv.front()}};
  launch.argv.insert(launch.argv.end(), emulator.begin() + 1, emulator.end());
  launch.argv.insert(launch.argv.end(), {"-0", argv.front(), exe});
  launch.argv.insert(launch.argv.end(), argv.begin() + 1, argv.end());
  return launch;
}

void linkStandIn(const std::string &target, const std::string &link) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::remove(link, ec);
  if (!isArmProgram(target)) {
    fs::create_symlink(target, link);
    return;
  }
  // "$0" is the link's path: the stand-in takes its name from it, as from a symbolic link.
  {
    std::ofstream script(link, std::ios::trunc);
    script << "#!/bin/sh\nexec " << KV_ARM_EMULATOR << " -0 \"$0\" " << kv::shell_word(target)
           << " \"$@\"\n";
    if (!script) throw std::runtime_error("sandbox: cannot write " + link);
  }
  fs::permissions(link, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                            fs::perms::others_read | fs::perms::others_exec);
}

long emulatedResidentKb(pid_t pid) {
  // The guest's 4 GiB address space starts at the pinned base.
  constexpr unsigned long long kBase = 0x100000000ULL, kEnd = kBase + (1ULL << 32);
  std::ifstream smaps("/proc/" + std::to_string(pid) + "/smaps");
  if (!smaps) return -1;
  long kb = 0;
  bool guest = false;
  for (std::string line; std::getline(smaps, line);) {
    unsigned long long start = 0, end = 0;
    if (sscanf(line.c_str(), "%llx-%llx ", &start, &end) == 2)
      guest = start >= kBase && start < kEnd;
    else if (guest && line.rfind("Rss:", 0) == 0)
      kb += atol(line.c_str() + 4);
  }
  return kb;
}

}  // namespace kvsim
