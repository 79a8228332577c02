// SPDX-License-Identifier: MIT
// Built into the test fixture and into the stand-in file manager, which share the store
// format and the defaults.
#include "sandbox_settings.h"

#include <stdio.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <sys/stat.h>

#include <stdexcept>

#include "board_root.h"
#include "file_msg_drv.h"
#include "kv_owners.hpp"
#include "share_mem.h"

namespace kvsim {

SysInfo defaultSettings() {
  SysInfo rec{};
  rec.kv_config.gps_speed = -1;
  rec.kv_config.sysinfo_version = 1;
  return rec;
}

bool loadSettingsStore(SysInfo &out) {
  kv::UniqueFile f(fopen(kv::rooted(kSettingsStore).c_str(), "rb"));
  if (!f) return false;
  SysInfo rec;
  bool whole = fread(&rec, 1, sizeof rec, f.get()) == sizeof rec && fgetc(f.get()) == EOF;
  if (whole) out = rec;
  return whole;
}

bool saveSettingsStore(const SysInfo &rec) {
  std::string file = kv::rooted(kSettingsStore);
  std::string dir = file.substr(0, file.rfind('/'));
  ::mkdir(dir.c_str(), 0755);
  std::string tmp = file + ".new";
  kv::UniqueFile f(fopen(tmp.c_str(), "wb"));
  if (!f) return false;
  bool ok = fwrite(&rec, 1, sizeof rec, f.get()) == sizeof rec;
  ok = f.reset() == 0 && ok;
  return ok && rename(tmp.c_str(), file.c_str()) == 0;
}

LiveSettings::LiveSettings() : shmid_(pShareMemInit(FILE_MSG_KEY)) {
  if (shmid_ < 0) throw std::runtime_error("settings: no segment for the record");
  void *addr = shmat(shmid_, nullptr, 0);
  if (addr == reinterpret_cast<void *>(-1))
    throw std::runtime_error("settings: cannot map the record");
  rec_ = static_cast<SysInfo *>(addr);
}

LiveSettings::~LiveSettings() { shmdt(rec_); }

}  // namespace kvsim
