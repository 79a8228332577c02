// SPDX-License-Identifier: MIT
// The settings record of a sandbox, for tests and for the stand-ins.
//
// The stand-in settings file manager (`file_manager`, sim/standins/file_manager.cpp) owns SysInfo
// in the segment of key 12930021 and keeps it in a store file of the sandbox. A test reaches the
// live record through its own mapping, exactly as the programs do:
//
//   kvsim::Sandbox board;
//   board.startServer("file_manager");        // loads the store, or the defaults below
//   kvsim::LiveSettings live;                 // this process's mapping of the record
//   live->kv_config.bRunning = 1;             // every program sees it at once
//   live->kv_config.error_flag = 1;
//
// To start the manager with a prepared record instead of the defaults, write the store first:
//
//   SysInfo rec = kvsim::defaultSettings();
//   rec.kv_config.front_rear_type = 2;        // a rear unit
//   kvsim::saveSettingsStore(rec);            // before startServer("file_manager")
//
// Fields written into the live record before the manager starts are replaced by what it
// loads. All paths and keys are the sandbox's (KV_SYSROOT), so use these after the Sandbox
// is made.
#pragma once

#include <string>

#include "sys_env_type.h"

namespace kvsim {

// Board path of the manager's store: the whole record, 12 600 bytes as in the segment.
inline constexpr const char *kSettingsStore = "/sim/store/sysinfo.bin";

// What the manager loads when there is no store, and restores on a reset request: zeros,
// except gps_speed -1 (no speed to show) and sysinfo_version 1.
SysInfo defaultSettings();

// The record in the store; false when there is none or it is not a whole record.
bool loadSettingsStore(SysInfo &out);
// Replaces the store (written aside and renamed, so a reader never sees half a record).
bool saveSettingsStore(const SysInfo &rec);

// This process's mapping of the live record (the segment is made if nobody has yet).
class LiveSettings {
 public:
  LiveSettings();  // throws std::runtime_error when the segment cannot be mapped
  ~LiveSettings();
  LiveSettings(const LiveSettings &) = delete;
  LiveSettings &operator=(const LiveSettings &) = delete;

  SysInfo &operator*() const { return *rec_; }
  SysInfo *operator->() const { return rec_; }
  SysInfo *get() const { return rec_; }
  int shmid() const { return shmid_; }

 private:
  int shmid_ = -1;
  SysInfo *rec_ = nullptr;
};

}  // namespace kvsim
