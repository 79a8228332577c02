// SPDX-License-Identifier: MIT
// The readers of the board's driver nodes: the G-sensor sample token, the controller's
// status token, the LED node's state, the battery and board-info numbers and the detect
// flags. The drivers print what they like; whatever bytes a node holds, a reader must stay
// inside its buffers and leave the caller's fields either parsed or untouched.
#include <stdint.h>
#include <string.h>

#include "dm368_zt5_util.h"
#include "fuzz_board.h"

namespace {

// A token buffer must come back terminated within its size.
void expect_terminated(const char *buf, size_t size) {
  if (!memchr(buf, '\0', size)) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static const kvfuzz::Board board({KV_NODE_GSENSOR_DATA, KV_NODE_MICOM_DATA, KV_NODE_LEDS_CONTROL,
                                    KV_NODE_BATTERY_LEVEL, KV_NODE_BOARD_INFO, KV_NODE_CD_STATUS,
                                    KV_NODE_INTERCH_STATUS});
  board.feed(data, size);

  int sample[5] = {0, 0, 0, 0, 0};
  gsensor_data_grabber(sample);
  int status[4] = {0, 0, 0, 0};
  micom_status(status);

  // Exactly the documented size, filled with non-zero bytes, so that an overrun or a
  // missing terminator shows.
  char token[KV_NODE_TOKEN_SIZE];
  memset(token, 'x', sizeof token - 1);
  token[sizeof token - 1] = '\0';
  micom_cat(token);
  expect_terminated(token, sizeof token);
  memset(token, 'x', sizeof token - 1);
  LEDs_cat(token);
  expect_terminated(token, sizeof token);

  get_internal_battery_level();
  kv_device_get_board_info();
  check_cd_status();
  is_interch_inserted();
  micom_ADC_to_Voltage(512, 2);  // the board offset comes from the board-info node
  return 0;
}
