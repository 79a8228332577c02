// SPDX-License-Identifier: MIT
// The storage unit's readers of kernel and flash files: the mount table (is the card or
// the flash mounted), the memory table (free memory before a recording starts) and the
// boot check marker; and the checker's exit status as text. A mount table with hundreds of
// lines, a truncated meminfo or a marker of garbage must give an answer, not a fault.
#include <stdint.h>
#include <string.h>

#include "fuzz_board.h"
#include "kv_common_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static const kvfuzz::Board board({KV_MOUNT_TABLE, KV_MEMORY_TABLE, KV_BOOT_CHECK_MARKER});
  board.feed(data, size);

  IsSdMounted();
  IsNanMounted();
  KVGetfreememInfo();
  BootReadCheckDisk();

  int status = 0;
  memcpy(&status, data, size < sizeof status ? size : sizeof status);
  char text[KV_FSCK_ERROR_TEXT_SIZE];
  PrintFsckMsdosError(status, text);
  IsFsckMsdosResultOk(status);
  return 0;
}
