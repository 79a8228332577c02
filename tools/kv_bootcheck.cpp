// SPDX-License-Identifier: MIT
// kv_bootcheck: checks the SD card's file system once during start-up and leaves the
// outcome in the boot check marker on flash, where the recorder reads it back.
//
//   kv_bootcheck          (arguments are ignored)
//
// Result: 0 no card in the slot (nothing checked); 1 the card was unmounted and the FAT
// checker found it usable; -1 the card stayed mounted, or the checker's second run
// reported a blocking flag. The card is left unmounted; mounting it again is the
// start-up scripts' business. The exit status is always 0.
#include <errno.h>
#include <stdio.h>
#include <string.h>

#include "dm368_zt5_util.h"
#include "kv_cmdline.h"
#include "kv_common_util.h"

namespace {

int checkCard() {
  // A detection error counts as a card: the check's own unmount and checker results
  // decide, rather than a flaky detect line hiding a damaged card.
  if (is_sdcard_inserted() == 0) return 0;
  return DoBootCheckDiskSdCard();
}

// The marker holds the decimal result NUL-padded to its full 20 bytes.
void leaveMarker(int result) {
  char record[KV_BOOT_CHECK_MARKER_SIZE] = {0};
  snprintf(record, sizeof record, "%d", result);
  // The recorder then finds no result; the line says why the flash did not take it.
  if (BootWriteCheckDisk(record) != 0)
    fprintf(stderr, "kv_bootcheck: %s not written: %s\n", KV_BOOT_CHECK_MARKER, strerror(errno));
}

}  // namespace

int main(int argc, char **argv) {
  kv_answer_help_or_version("kv_bootcheck", argc, argv);
  int result = checkCard();
  leaveMarker(result);
  printf("####################### BootCheckDiskSdcard=%d\n", result);
  return 0;
}
