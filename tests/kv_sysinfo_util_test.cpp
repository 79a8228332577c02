// SPDX-License-Identifier: MIT
// The role, Wi-Fi and file-name order helpers over the shared settings record, and the log
// lines their setters write.
#include "kv_sysinfo_util.h"

#include <gtest/gtest.h>
#include <string.h>

#include <algorithm>
#include <memory>
#include <string>

#include "KVLog.h"
#include "kv_common_util.h"
#include "sandbox.h"

namespace {

// A settings record of our own: the helpers touch only the fields they name.
struct Record {
  std::unique_ptr<SysInfo> info = std::make_unique<SysInfo>();
  Record() { memset(info.get(), 0, sizeof *info); }
  KV_Config_Data &kv() { return info->kv_config; }
  SysInfo *get() { return info.get(); }
};

// What the helpers logged: file saving off, so lines go to standard error.
class SysInfoUtil : public ::testing::Test {
 protected:
  void SetUp() override {
    KVLogSetWriteFile(0);
    testing::internal::CaptureStderr();
  }
  void TearDown() override { testing::internal::GetCapturedStderr(); }
  // What was logged since the last look.
  std::string logged() {
    std::string text = testing::internal::GetCapturedStderr();
    testing::internal::CaptureStderr();
    return text;
  }
  kvsim::Sandbox board;
  Record rec;
};

TEST_F(SysInfoUtil, role_and_wifi_connection_type) {
  struct Case {
    int role;
    int front, rear, wifi;
  } cases[] = {
      {DEVICE_1CH_ONLY, 0, 0, WIFI_CONNECT_REAR_STATION},
      {DEVICE_2CH_FRONT, 1, 0, WIFI_CONNECT_AP},
      {DEVICE_2CH_REAR, 0, 1, WIFI_CONNECT_REAR_STATION},
  };
  for (const auto &c : cases) {
    rec.kv().front_rear_type = static_cast<uint8_t>(c.role);
    EXPECT_EQ(Is2ChFront(rec.get()), c.front) << c.role;
    EXPECT_EQ(Is2ChRear(rec.get()), c.rear) << c.role;
    EXPECT_EQ(GetWifiConnectType(rec.get()), c.wifi) << c.role;
  }
}

TEST_F(SysInfoUtil, clearing_the_sync_time_and_a_null_record) {
  rec.kv().gps_sync_time_time = 1700000000;
  rec.kv().gps_sync_time_activate = 1;
  rec.kv().gps_sync_time = 1;
  ClearSyncTime(rec.get());
  EXPECT_EQ(rec.kv().gps_sync_time_time, 0);
  EXPECT_EQ(rec.kv().gps_sync_time_activate, 0);
  EXPECT_EQ(rec.kv().gps_sync_time, 1) << "the switch itself stays";
  ClearSyncTime(nullptr);
  EXPECT_EQ(Is2ChFront(nullptr), 0);
  EXPECT_EQ(GetWifiConnectType(nullptr), WIFI_CONNECT_REAR_STATION);
  SetRemoteDeviceConnected(nullptr, 1);
  SetSoleFileNameOrderAll(nullptr);
  EXPECT_EQ(logged(), "") << "nothing to set, nothing logged";
}

TEST_F(SysInfoUtil, connection_flags_and_their_log_lines) {
  SetRemoteDeviceConnected(rec.get(), 1);
  EXPECT_EQ(rec.kv().remote_device_on, 1);
  EXPECT_EQ(IsRemoteDeivceConnected(rec.get()), 1);
  SetRearWiFiConnected(rec.get(), 1);
  EXPECT_EQ(IsRearWiFiConnected(rec.get()), 1);
  SetFrontBasedDeviceSync(rec.get(), 1);
  EXPECT_EQ(rec.kv().file_name_sync_type, 1);
  EXPECT_EQ(IsFrontBasedDeviceSync(rec.get()), 1);
  std::string log = logged();
  EXPECT_TRUE(kvsim::contains(log, ": remote_on=1\n")) << log;
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 2) << "one line per logging setter";
}

TEST_F(SysInfoUtil, file_name_order_by_role_and_sync) {
  struct Case {
    const char *what;
    int role, sync;
    void (*set)(SysInfo *);
    int order;
    const char *line;
  } cases[] = {
      {"sole, front", DEVICE_2CH_FRONT, 0, SetSoleFileNameOrderAll, ORDER_TYPE_FRONT_SOLE,
       "sole2=0\n"},
      {"sole, rear", DEVICE_2CH_REAR, 0, SetSoleFileNameOrderAll, ORDER_TYPE_REAR_SOLE,
       "sole2=3\n"},
      {"sole, single", DEVICE_1CH_ONLY, 0, SetSoleFileNameOrderAll, ORDER_TYPE_REAR_SOLE,
       "sole2=3\n"},
      {"in step, front", DEVICE_2CH_FRONT, 0, SetFnRSyncFileNameOrderAll, ORDER_TYPE_FRONT_FRONT,
       "sync2=1\n"},
      {"in step, rear", DEVICE_2CH_REAR, 0, SetFnRSyncFileNameOrderAll, ORDER_TYPE_REAR_REAR,
       "sync2=2\n"},
      {"rear with sync", DEVICE_2CH_REAR, 1, SetRearFileNameOrderWithSync, ORDER_TYPE_REAR_REAR,
       "sole1=2\n"},
      {"rear without", DEVICE_2CH_REAR, 0, SetRearFileNameOrderWithSync, ORDER_TYPE_REAR_SOLE,
       "sole1=3\n"},
      {"front with sync", DEVICE_2CH_FRONT, 1, SetFrontFileNameOrderWithSync,
       ORDER_TYPE_FRONT_FRONT, "sync1=1\n"},
      {"front without", DEVICE_2CH_FRONT, 0, SetFrontFileNameOrderWithSync, ORDER_TYPE_FRONT_SOLE,
       "sync1=0\n"},
  };
  for (const auto &c : cases) {
    rec.kv().front_rear_type = static_cast<uint8_t>(c.role);
    rec.kv().file_name_sync_type = static_cast<uint8_t>(c.sync);
    rec.kv().file_name_order_type = 99;
    logged();
    c.set(rec.get());
    std::string log = logged();
    EXPECT_EQ(rec.kv().file_name_order_type, c.order) << c.what;
    EXPECT_TRUE(kvsim::contains(log, std::string(": ") + c.line)) << c.what << ": " << log;
    bool sole = c.order == ORDER_TYPE_FRONT_SOLE || c.order == ORDER_TYPE_REAR_SOLE;
    EXPECT_EQ(IsSoleFileNameOrderType(rec.get()), sole ? 1 : 0) << c.what;
    EXPECT_EQ(IsFnRSyncFileNameOrderType(rec.get()), sole ? 0 : 1) << c.what;
  }
}

TEST_F(SysInfoUtil, order_types_are_read_for_the_units_own_role) {
  rec.kv().front_rear_type = DEVICE_2CH_FRONT;
  rec.kv().file_name_order_type = ORDER_TYPE_REAR_REAR;
  EXPECT_EQ(IsFnRSyncFileNameOrderType(rec.get()), 0) << "the rear's type on a front unit";
  rec.kv().file_name_order_type = ORDER_TYPE_REAR_SOLE;
  EXPECT_EQ(IsSoleFileNameOrderType(rec.get()), 0);
}

TEST_F(SysInfoUtil, event_recording_states) {
  const std::pair<int, int> states[] = {
      {BB_RECORD_NONE, 0},         {BB_RECORD_ALWAYS, 0},         {BB_RECORD_IMPACT_EVENT, 1},
      {BB_RECORD_MANUAL_EVENT, 1}, {BB_RECORD_PARKING_MOTION, 0}, {BB_RECORD_PARKING_ALWAYS, 0}};
  for (const auto &[state, event] : states) {
    rec.kv().record_state = static_cast<uint8_t>(state);
    EXPECT_EQ(IsEventRecordingState(rec.get()), event) << state;
  }
}

}  // namespace
