// SPDX-License-Identifier: MIT
// The readers of the device's identity files: the language file on flash (and a language
// file handed in by path), the version word "1.23:456[:more]", the device and kernel
// version nodes, and the MAC address line of the Wi-Fi nvram file. The files are written
// by other programs and by firmware updates; the caller's buffers are exactly the sizes
// kv_common_util.h promises to stay within.
#include <stdint.h>
#include <string.h>

#include "fuzz_board.h"
#include "kv_common_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static const kvfuzz::Board board({KV_LANG_FILE, KV_VERSION_FILE, KV_DEVICE_VERSION_NODE,
                                    KV_KERNEL_VERSION_NODE, KV_NVRAM_FILE});
  board.feed(data, size);

  char lang[10] = {0};
  KVGetLanguage(lang);
  char checked[3];
  KVCheckLanguage(const_cast<char *>(board.input()), checked);
  KVIsValidLanguage(lang);

  char version[64] = {0};
  if (GetFirmwareVersion(version) == 0) GetFWVersionStringAsNumber(version);
  char build[64];
  GetBuildNumber(build);
  char mac[64];
  GetMACAddress(mac);

  KVCheck_device_version();
  KVPlatform_check();
  return 0;
}
