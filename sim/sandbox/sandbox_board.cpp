// SPDX-License-Identifier: MIT
// The board's driver nodes as a new sandbox has them: a front unit on DC power with a
// card in the slot, the flash mounted, the LEDs off, a sensor at rest. A test changes a
// node with board.write(node, text) or removes it to simulate a missing driver.
#include <string>

#include "KVLog.h"
#include "dm368_zt5_util.h"
#include "sandbox.h"

namespace kvsim {
namespace {

struct NodeDefault {
  const char *node;
  const char *content;
};

// Drivers print their values with a line end, as sysfs attributes do.
const NodeDefault kBoardNodes[] = {
    {KV_NODE_BATTERY_LEVEL, "3900000\n"},  // microvolts: a charged cell
    {KV_NODE_INTERCH_STATUS, "0\n"},
    {KV_NODE_CABLE_STATUS, "0\n"},
    {KV_NODE_DC_STATUS, "1\n"},
    {KV_NODE_CD_STATUS, "1\n"},
    {KV_NODE_BOARD_INFO, "1\n"},  // front unit of a two-channel set
    {KV_NODE_WHITE_LED, ""},
    {KV_NODE_LEDS_CONTROL, "-1_0_0_0_0\n"},
    {KV_NODE_MICOM_DATA, "0_0_0_0\n"},
    {KV_NODE_GSENSOR_DATA, "3_-2_64_0_0\n"},  // x, y, z in sensor counts: level, 1 g down
};

// The flash partition as the board mounts it at boot.
constexpr const char kFlashMountLine[] = "/dev/mtdblock4 /mnt/nand jffs2 rw,relatime 0 0\n";

}  // namespace

void writeBoardDefaults(const Sandbox &board) {
  for (const auto &n : kBoardNodes) board.write(n.node, n.content);
  if (!contains(board.read("/proc/mounts"), " /mnt/nand "))
    board.append("/proc/mounts", kFlashMountLine);
  board.mkdir(KV_LOG_DIR);
  // The log export's pass-phrase file, installed with the system.
  board.write("/opt/vcam/kv_openssl/tamso_travelogbox.key", "kv-sandbox-log-export\n");
}

}  // namespace kvsim
