// SPDX-License-Identifier: MIT
// The GPS channel's client: what each sender puts on the queue of key 49609 and into the
// sender's slot, read back as kv_navlink reads them, in a sandbox of its own.
#include "kv_gps_msg_drv.h"

#include <gtest/gtest.h>
#include <string.h>
#include <sys/ipc.h>

#include <string>

#include "kv_msg_drv.h"
#include "msg_util.h"
#include "sandbox.h"
#include "share_mem.h"

namespace {

class GpsChannel : public testing::Test {
 protected:
  void TearDown() override { KVGpsDrvExit(); }
  // The next message for kv_navlink, or cmd -1 when there is none.
  KV_MSG_BUF next() {
    KV_MSG_BUF rec = {};
    rec.cmd = -1;
    Msg_RsvFlags(Msg_Init(KV_GPS_MSG_KEY), MSG_TYPE_MSG1, &rec, sizeof rec, IPC_NOWAIT);
    return rec;
  }
  template <typename T>
  T slot(int offset) {
    T value{};
    EXPECT_EQ(kv::segment_copy_out(GetKVGpsMemId(), offset, &value, sizeof value), 0);
    return value;
  }
  kvsim::Sandbox board;
};

TEST_F(GpsChannel, ids_outside_1_to_23_are_refused) {
  for (int id : {0, 24, -3}) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(KVGpsDrvInit(id), -1) << id;
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error:Invalid Parameter\n") << id;
    EXPECT_EQ(GetKVGpsProcId(), 1) << id;
  }
}

TEST_F(GpsChannel, a_start_record_goes_into_the_senders_slot) {
  ASSERT_EQ(KVGpsDrvInit(6), 0);
  GpsStartSaveRecord rec = {};
  strcpy(rec.szStem, "/mnt/mmc/Recordings/20240507_123519_N_F");
  rec.llStartTick = 123456789012LL;
  rec.nDuration = 60000;
  EXPECT_EQ(KVGpsMSG_StartSave(&rec, sizeof rec), 104);
  KV_MSG_BUF msg = next();
  EXPECT_EQ(msg.Des, 1);
  EXPECT_EQ(msg.cmd, KV_GPS_START_SAVE);
  EXPECT_EQ(msg.src, 0);
  EXPECT_EQ(msg.length, 104);
  EXPECT_EQ(msg.offset, 4 * 0x3000);
  auto copied = slot<GpsStartSaveRecord>(msg.offset);
  EXPECT_STREQ(copied.szStem, rec.szStem);
  EXPECT_EQ(copied.llStartTick, rec.llStartTick);
  EXPECT_EQ(copied.nDuration, 60000);

  EXPECT_EQ(KVGpsMSG_StartSave(nullptr, 0), 0);
  msg = next();
  EXPECT_EQ(msg.cmd, KV_GPS_START_SAVE);
  EXPECT_EQ(msg.length, 0);
  EXPECT_EQ(KVGpsMSG_StopSave(), 0);
  msg = next();
  EXPECT_EQ(msg.cmd, KV_GPS_STOP_SAVE);
  EXPECT_EQ(msg.length, 0);
  EXPECT_EQ(next().cmd, -1);
}

TEST_F(GpsChannel, a_relay_carries_its_code_as_cmd_and_as_payload) {
  ASSERT_EQ(KVGpsDrvInit(10), 0);  // the last id with a whole slot
  EXPECT_EQ(KVGpsMSG_SendToFront(20), 4);
  KV_MSG_BUF msg = next();
  EXPECT_EQ(msg.cmd, 20);
  EXPECT_EQ(msg.length, 4);
  EXPECT_EQ(msg.offset, 8 * 0x3000);
  EXPECT_EQ(slot<int32_t>(msg.offset), 20);
}

TEST_F(GpsChannel, ids_without_a_slot_in_the_segment_send_no_payload) {
  ASSERT_EQ(KVGpsDrvInit(11), 0);
  GpsStartSaveRecord rec = {};
  EXPECT_EQ(KVGpsMSG_StartSave(&rec, sizeof rec), -1);
  EXPECT_EQ(KVGpsMSG_SendToFront(20), -1);
  EXPECT_EQ(next().cmd, -1) << "nothing announced";
  EXPECT_EQ(KVGpsMSG_StopSave(), 0);
  KV_MSG_BUF stop = next();
  EXPECT_EQ(stop.cmd, KV_GPS_STOP_SAVE);
  EXPECT_EQ(stop.offset, 9 * 0x3000) << "a record without payload names the sender's slot too";
  ASSERT_EQ(KVGpsDrvInit(6), 0);
  std::string big(0x3001, 'x');
  EXPECT_EQ(KVGpsMSG_StartSave(big.data(), static_cast<int>(big.size())), -1) << "past the slot";
  EXPECT_EQ(KVGpsMSG_StartSave(&rec, -1), -1);
  EXPECT_EQ(next().cmd, -1);
}

TEST_F(GpsChannel, the_quit_record_is_cmd_271_and_nothing_else) {
  ASSERT_EQ(KVGpsDrvInit(6), 0);
  SendKVGpsQuitCmd();
  KV_MSG_BUF msg = next();
  EXPECT_EQ(msg.Des, 1);
  EXPECT_EQ(msg.cmd, 271);
  EXPECT_EQ(msg.src, 0);
  EXPECT_EQ(msg.shmid, 0);
  EXPECT_EQ(msg.length, 0);
  EXPECT_EQ(msg.offset, 0);
}

}  // namespace
