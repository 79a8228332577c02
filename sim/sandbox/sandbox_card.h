// SPDX-License-Identifier: MIT
// The sandbox's card as a FUSE file system that fails as SD cards fail (sim/standins/card_fs.cpp),
// mounted over a board folder (/mnt/mmc, or /mnt/nand for the logs) for one test.
//
//   kvsim::Card card(board);            // mounted over /mnt/mmc, holding what it held
//   card.powerCut();                    // only what was synced is left; every call EIO
//   card.powerOn();
//   card.stats()["/Recordings/X.gps"].syncs
//
// It needs root and /dev/fuse (unavailable() says what is missing: a test skips, or
// fails under CI=true). The mount ends with the object, and with the test process if
// that dies first.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>

#include "sandbox.h"

namespace kvsim {

class Card {
 public:
  // Why no card can be mounted here ("" when one can).
  static std::string unavailable();

  explicit Card(Sandbox &board, std::string board_path = "/mnt/mmc");
  ~Card();
  Card(const Card &) = delete;
  Card &operator=(const Card &) = delete;

  bool mounted() const { return control_ >= 0; }

  // The power goes: every file keeps only what was synced (torn: and half of its next
  // 512-byte block); files never synced are gone; every call fails with EIO until on.
  void powerCut(bool torn = false);
  void powerOn();
  // ENOSPC once `bytes` more have been written (statfs shows them free); -1 lifts it.
  void fillAfter(long long bytes);
  // Pulled: EIO on every call, then (gone) the folder is empty; insert puts it back with
  // what was synced.
  void pull();
  void gone();
  void insert();
  void readOnly(bool on);
  // Every write / every sync takes that long.
  void slow(int write_ms, int sync_ms);

  struct FileStats {
    long long writes = 0, whole = 0, bytes = 0, syncs = 0;
  };
  // Per file, by its path below the card ("/Recordings/X.gps").
  std::map<std::string, FileStats> stats();

 private:
  std::string send(const std::string &line);

  std::string mountpoint_;
  pid_t pid_ = -1;
  int control_ = -1;
};

}  // namespace kvsim
