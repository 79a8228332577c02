// SPDX-License-Identifier: MIT
// The settings store client against the stand-in settings file manager: set-up, the
// request exchange and its failures, and the setter family.
// ctest-labels: threaded
#include "file_msg_drv.h"

#include <gtest/gtest.h>
#include <stddef.h>
#include <stdio.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <tuple>
#include <type_traits>
#include <variant>
#include <vector>

#include "board_root.h"
#include "msg_util.h"
#include "sandbox.h"
#include "sandbox_settings.h"
#include "share_mem.h"

namespace {

using namespace std::chrono_literals;
using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

constexpr int kProc = 16;
const char kReadError[] = "FileMsgDrv: Error\nData read error";
const char kWriteError[] = "FileMsgDrv: Error\nData write error";

int cmdOf(const std::string &line) {
  int cmd = -1;
  sscanf(line.c_str(), "cmd=%d", &cmd);
  return cmd;
}

template <typename F>
struct FunctionArgs;
template <typename R, typename... A>
struct FunctionArgs<R (*)(A...)> {
  using type = std::tuple<A...>;
};

std::string bytesAt(const SysInfo &rec, size_t offset, size_t size) {
  return std::string(reinterpret_cast<const char *>(&rec) + offset, size);
}

// A fresh sandbox with the manager serving and this process set up as client 16.
class Settings : public testing::Test {
 protected:
  void SetUp() override {
    manager = board.startServer("file_manager");
    ASSERT_EQ(InitFileMsgDrv(FILE_MSG_KEY, kProc), 0);
  }
  void TearDown() override { CleanupFileMsgDrv(); }

  std::vector<std::string> requests() const { return board.serverLog("file_manager"); }
  int lastCmd() const {
    auto log = requests();
    return log.empty() ? -1 : cmdOf(log.back());
  }
  // A copy of the live record, to prove that a rejected call changed nothing.
  SysInfo snapshot() const { return *live; }
  bool unchangedSince(const SysInfo &before) const {
    return memcmp(&before, live.get(), sizeof before) == 0;
  }

  kvsim::Sandbox board;
  pid_t manager = -1;
  kvsim::LiveSettings live;
};

// ---- layout -----------------------------------------------------------------------------------

// The kv_config fields the system's programs read and write, each at the offset the
// record's layout gives it (written out here): set by name in the live record, they must
// reach the manager's store at exactly that place.
TEST_F(Settings, kv_config_fields_reach_the_store_at_the_offsets_peers_read) {
  struct Field {
    const char *name;
    size_t offset, size;
    void *at;
  };
#define KV_FIELD(f, off) \
  Field { #f, off, sizeof live->kv_config.f, &live->kv_config.f }
  const Field fields[] = {
      KV_FIELD(bRunning, 11808),
      KV_FIELD(record_state, 11812),
      KV_FIELD(restart_state, 11926),
      KV_FIELD(wifi_ap_ssid, 11927),
      KV_FIELD(wifi_ap_pwd, 11959),
      KV_FIELD(gps_speed_display, 11981),
      KV_FIELD(gps_speed, 11984),
      KV_FIELD(gps_sync_time, 11989),
      KV_FIELD(gps_sync_time_activate, 11990),
      KV_FIELD(gps_sync_time_counter, 11992),
      KV_FIELD(gps_sync_time_time, 12000),
      KV_FIELD(gps_timezone, 12004),
      KV_FIELD(gps_proc_alive, 12008),
      KV_FIELD(gps_cable_connected, 12009),
      KV_FIELD(gps_need_alert, 12010),
      KV_FIELD(system_drive_park_state, 12164),
      KV_FIELD(error_flag, 12170),
      KV_FIELD(osd_speed_display_type, 12204),
      KV_FIELD(drive_stop_count, 12220),
      KV_FIELD(mac_address, 12428),
      KV_FIELD(front_rear_type, 12471),
      KV_FIELD(rear_connected, 12472),
      KV_FIELD(remote_device_on, 12545),
      KV_FIELD(file_name_order_type, 12546),
      KV_FIELD(file_name_sync_type, 12547),
      KV_FIELD(file_name_tmp_time, 12552),
      KV_FIELD(recording_interval_drive_2ch, 12556),
      KV_FIELD(use_rec_parking_always_2ch, 12557),
      KV_FIELD(button_control_2ch, 12558),
      KV_FIELD(last_rear_alive_received, 12560),
      KV_FIELD(park_shutdown_voltage_2ch, 12576),
      KV_FIELD(park_voltage_2ch, 12584),
      KV_FIELD(is_sdxc, 12595),
  };
#undef KV_FIELD
  memset(live.get(), 0, sizeof(SysInfo));
  for (size_t i = 0; i < std::size(fields); ++i)
    memset(fields[i].at, static_cast<int>(i + 1), fields[i].size);

  ASSERT_EQ(fRequestWrite(), 0);
  std::string store = board.read(kvsim::kSettingsStore);
  ASSERT_EQ(store.size(), 12600u);
  for (size_t i = 0; i < std::size(fields); ++i)
    EXPECT_EQ(store.substr(fields[i].offset, fields[i].size),
              std::string(fields[i].size, static_cast<char>(i + 1)))
        << fields[i].name << " at " << fields[i].offset;
}

// ---- set-up -------------------------------------------------------------------------------------

TEST(FileMsgDrvSetUp, before_set_up_every_call_fails_and_nothing_is_sent) {
  kvsim::Sandbox board;
  board.startServer("file_manager");
  char text[] = "abc";
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(fSetAudioReceiverEnable(1), -1);
    EXPECT_EQ(fSetTitle(text, 3), -1);
    EXPECT_EQ(fSetIp(in_addr{0x0100007f}), -1);
    EXPECT_EQ(fSetNetMulticast(1), -1);
    EXPECT_EQ(fSetMotionBlock(text, 2), -1);
    EXPECT_EQ(fdelprofile(0), -1);
    EXPECT_EQ(fResetCodecROIParam(0, 640, 480), -1);
    EXPECT_EQ(fSetStreamConfig(0, 640, 480, text, 8557), -1);
    EXPECT_EQ(GetSysInfo(), nullptr);
    EXPECT_EQ(fRequestWrite(), -1);
    // The second round: after a set-up and a tear-down.
    ASSERT_EQ(InitFileMsgDrv(FILE_MSG_KEY, kProc), 0);
    CleanupFileMsgDrv();
  }
  EXPECT_TRUE(board.serverLog("file_manager").empty());
}

TEST(FileMsgDrvSetUp, rejects_process_ids_that_cannot_address_a_reply) {
  kvsim::Sandbox board;
  for (int id : {0, 1, 24}) {
    CaptureStderr();
    EXPECT_EQ(InitFileMsgDrv(FILE_MSG_KEY, id), -1) << id;
    EXPECT_EQ(GetCapturedStderr(), "Error:Invalid Parameter\n") << id;
  }
  EXPECT_EQ(InitFileMsgDrv(FILE_MSG_KEY, 23), 0);
  CleanupFileMsgDrv();
}

TEST(FileMsgDrvSetUp, a_segment_too_small_for_the_record_is_a_set_up_failure) {
  kvsim::Sandbox board;
  ASSERT_GE(shmget(kv_ipc_key(FILE_MSG_KEY), 4096, IPC_CREAT | 0660), 0);
  CaptureStderr();
  EXPECT_EQ(InitFileMsgDrv(FILE_MSG_KEY, kProc), -1);
  EXPECT_EQ(GetCapturedStderr(), "FileMsgDrv: Error\nShare memory attach error");
  EXPECT_EQ(fSetAudioON(1), -1);
}

TEST(FileMsgDrvSetUp, a_segment_that_cannot_be_attached_is_a_set_up_failure) {
  kvsim::Sandbox board;
  // Readable by all, writable by nobody: it can be found but not mapped for writing.
  ASSERT_GE(shmget(kv_ipc_key(FILE_MSG_KEY), PROC_MEM_SIZE, IPC_CREAT | 0444), 0);
  ASSERT_GE(Msg_Init(FILE_MSG_KEY), 0);
  fflush(nullptr);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // root may attach anything; as another user the mode counts.
    if (!freopen(board.path("/tmp/init.err").c_str(), "w", stderr)) _exit(3);
    if (geteuid() == 0 && setuid(65534) != 0) _exit(2);
    bool failed = InitFileMsgDrv(FILE_MSG_KEY, kProc) == -1 && fSetAudioON(1) == -1;
    fflush(stderr);
    _exit(failed ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_EQ(kvsim::Sandbox::exitCode(status), 0);
  EXPECT_EQ(board.read("/tmp/init.err"), "FileMsgDrv: Error\nShare memory attach error");
}

// ---- the exchange
// ---------------------------------------------------------------------------------

TEST_F(Settings, the_request_after_three_failed_ones_reopens_the_queue) {
  board.setControl("file_manager", "reply", "length=0");
  CaptureStderr();
  EXPECT_EQ(GetSysInfo(), nullptr);
  EXPECT_EQ(GetSysInfo(), nullptr);
  board.clearControl("file_manager", "reply");
  // A queue id that cannot work: the third request fails on it, the fourth reopens.
  SaveQid(-1);
  EXPECT_EQ(GetSysInfo(), nullptr);
  EXPECT_EQ(GetCapturedStderr(), std::string(kReadError) + kReadError + kReadError);
  SysInfo *rec = GetSysInfo();
  ASSERT_NE(rec, nullptr) << "the queue was opened anew";
  EXPECT_EQ(rec->kv_config.gps_speed, -1) << "the manager's record";
  // Two answered wrongly, one lost on the bad id, one after the reopening.
  EXPECT_EQ(requests().size(), 3u);
}

TEST_F(Settings, failed_resets_do_not_count_towards_reopening) {
  board.setControl("file_manager", "reply", "length=0");
  CaptureStderr();
  for (int i = 0; i < 3; ++i) EXPECT_EQ(fResetSysInfo(), -1);
  const std::string reset_error = "FileMsgDrv: Error\nFILE_MSG_RESET fail";
  EXPECT_EQ(GetCapturedStderr(), reset_error + reset_error + reset_error);
  board.clearControl("file_manager", "reply");
  SaveQid(-1);
  CaptureStderr();
  EXPECT_EQ(GetSysInfo(), nullptr) << "no reopening after failed resets";
  GetCapturedStderr();
}

TEST_F(Settings, a_reply_of_the_wrong_length_fails_with_the_requests_error_text) {
  LogEntry_t entry{};
  struct Case {
    const char *name;
    std::function<bool()> failed;
    const char *text;
  } cases[] = {
      {"GetSysInfo", [] { return GetSysInfo() == nullptr; }, kReadError},
      {"GetSysLog", [&] { return GetSysLog(0, 0, &entry) == -1; }, kReadError},
      {"fSetClearSysLog", [] { return fSetClearSysLog(1) == -1; }, kReadError},
      {"fSetClearAccessLog", [] { return fSetClearAccessLog(1) == -1; }, kReadError},
      {"fRequestWrite", [] { return fRequestWrite() == -1; }, kWriteError},
      {"fSetIp", [] { return fSetIp(in_addr{0x0101a8c0}) == -1; }, kWriteError},
      {"fSetSysLog", [&] { return fSetSysLog(&entry) == -1; }, kWriteError},
  };
  board.setControl("file_manager", "reply", "length=12599");
  for (auto &c : cases) {
    CaptureStderr();
    EXPECT_TRUE(c.failed()) << c.name;
    EXPECT_EQ(GetCapturedStderr(), c.text) << c.name;
  }
  // The store failed, not the change: the record holds the new value.
  EXPECT_EQ(fSetAudioReceiverEnable(9), -1);
  EXPECT_EQ(live->audio_config.audiorecvenable, 9);
}

TEST_F(Settings, a_stale_reply_is_not_taken_for_the_answer_to_the_next_request) {
  // Left behind by an exchange that gave up, or by a peer that answered twice.
  FILE_MSG_BUF stale{kProc, FILE_MSG_READ, kProc, 0, SYSINFO_SIZE, 0, 0, 0};
  ASSERT_EQ(Msg_Send(Msg_Init(FILE_MSG_KEY), &stale, sizeof stale), 0);
  board.setControl("file_manager", "reply", "length=0");
  CaptureStderr();
  EXPECT_EQ(GetSysInfo(), nullptr) << "the manager's own answer counts";
  EXPECT_EQ(GetCapturedStderr(), kReadError);
}

TEST_F(Settings, a_hanging_manager_takes_the_request_and_answers_once_released) {
  board.setControl("file_manager", "hang", "");
  int qid = Msg_Init(FILE_MSG_KEY);
  FILE_MSG_BUF msg{1, FILE_MSG_READ, kProc, 0, 0, 0, 0, 0};
  ASSERT_EQ(Msg_Send(qid, &msg, sizeof msg), 0);
  ASSERT_TRUE(kvsim::Sandbox::waitUntil([&] { return requests().size() == 1; }, 5000ms));
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(Msg_RsvFlags(qid, kProc, &msg, sizeof msg, IPC_NOWAIT), -1) << "no answer";
  board.clearControl("file_manager", "hang");
  EXPECT_TRUE(kvsim::Sandbox::waitUntil(
      [&] { return Msg_RsvFlags(qid, kProc, &msg, sizeof msg, IPC_NOWAIT) >= 0; }, 5000ms));
  EXPECT_EQ(msg.length, SYSINFO_SIZE);
  EXPECT_NE(GetSysInfo(), nullptr);
}

TEST_F(Settings, two_threads_of_one_process_each_get_an_answer) {
  auto worker = [](unsigned char value, int *failures) {
    for (int i = 0; i < 100; ++i)
      if ((value == 1 ? fSetAudioON(value) : fSetAudioMode(value)) != 0) ++*failures;
  };
  int failures1 = 0, failures2 = 0;
  std::thread a(worker, 1, &failures1), b(worker, 2, &failures2);
  a.join();
  b.join();
  EXPECT_EQ(failures1 + failures2, 0);
  EXPECT_EQ(requests().size(), 200u);
}

// ---- one-way commands and the log
// ----------------------------------------------------------------

TEST_F(Settings, quit_and_the_file_write_commands_go_one_way) {
  SendStartFileWriteCmd();
  SendStopFileWriteCmd();
  SendFileQuitCmd();
  EXPECT_EQ(kvsim::Sandbox::exitCode(board.wait(manager)), 0);
  EXPECT_EQ(requests(), (std::vector<std::string>{"cmd=9 src=0 shmid=0 shmidx=0 page=0 item=0",
                                                  "cmd=10 src=0 shmid=0 shmidx=0 page=0 item=0",
                                                  "cmd=0 src=0 shmid=0 shmidx=0 page=0 item=0"}));
}

TEST_F(Settings, a_log_entry_is_written_read_back_and_cleared) {
  LogEntry_t entry{};
  snprintf(entry.event, sizeof entry.event, "%s", "card removed");
  entry.time.tm_year = 126;
  entry.time.tm_hour = 7;
  ASSERT_EQ(fSetSysLog(&entry), 0);
  auto shmid = std::to_string(live.shmid());
  EXPECT_EQ(requests().back(), "cmd=3 src=16 shmid=" + shmid + " shmidx=1 page=0 item=0");

  LogEntry_t back{};
  ASSERT_EQ(GetSysLog(0, 0, &back), 0);
  EXPECT_EQ(requests().back(), "cmd=1 src=16 shmid=" + shmid + " shmidx=1 page=0 item=0");
  EXPECT_EQ(memcmp(&back, &entry, sizeof entry), 0);
  EXPECT_EQ(GetSysLog(0, 0, nullptr), -1);

  CaptureStderr();
  EXPECT_EQ(GetSysLog(0, 1, &back), -1) << "no second entry";
  EXPECT_EQ(fSetClearSysLog(0), 0);
  EXPECT_EQ(GetSysLog(0, 0, &back), -1) << "cleared";
  EXPECT_EQ(GetCapturedStderr(), std::string(kReadError) + kReadError);
}

TEST_F(Settings, reset_restores_the_managers_defaults) {
  live->kv_config.front_rear_type = 2;
  ASSERT_EQ(fResetSysInfo(), 0);
  EXPECT_EQ(lastCmd(), FILE_MSG_RESET);
  EXPECT_EQ(live->kv_config.front_rear_type, 0);
  EXPECT_EQ(live->kv_config.gps_speed, -1);
}

// ---- persistence and sharing
// -----------------------------------------------------------------------

TEST_F(Settings, a_saved_value_survives_a_restart_of_the_manager) {
  char title[] = "front door";
  ASSERT_EQ(fSetTitle(title, 10), 0);
  SendFileQuitCmd();
  ASSERT_EQ(kvsim::Sandbox::exitCode(board.wait(manager)), 0);
  memset(live.get(), 0, sizeof(SysInfo));

  manager = board.startServer("file_manager");
  EXPECT_STREQ(live->lan_config.title, "front door");
  EXPECT_EQ(live->kv_config.gps_speed, -1);
  EXPECT_NE(GetSysInfo(), nullptr) << "the same queue serves the new manager";
}

TEST_F(Settings, a_value_set_in_one_process_is_seen_at_once_in_another) {
  fflush(nullptr);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Its own mapping; no request is made to see the change.
    kvsim::LiveSettings mine;
    bool seen = kvsim::Sandbox::waitUntil(
        [&] { return mine->kv_config.error_flag == 1 && mine->audio_config.audiorecvenable == 7; },
        5000ms);
    _exit(seen ? 0 : 1);
  }
  ASSERT_EQ(fSetAudioReceiverEnable(7), 0);
  live->kv_config.error_flag = 1;
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_EQ(kvsim::Sandbox::exitCode(status), 0);
}

// ---- the field setters
// --------------------------------------------------------------------------------

// Every field setter, each with its field's place written out here from the record's
// layout (not taken from the code's table): on a zeroed record, a value of its own whose
// bytes are all non-zero (a text for text setters) must change exactly the field's bytes
// and no others, and one write request (write-immediate for the IP address) must follow.
// Fields of lan_config, whose inner offsets the layout does not list, are named by member.
#define LAN(f) (offsetof(SysInfo, lan_config) + offsetof(Lancam_Config_Data, f))
#define LAN_SIZE(f) sizeof(Lancam_Config_Data::f)
#define NET(f) (LAN(net) + offsetof(Network_Config_Data, f))
#define NET_SIZE(f) sizeof(Network_Config_Data::f)

enum SetterKind { kValue, kText, kNow };
using AnySetter =
    std::variant<int (*)(unsigned char), int (*)(unsigned short), int (*)(unsigned int),
                 int (*)(int), int (*)(struct in_addr), int (*)(void *, int)>;
struct SetterRow {
  const char *name;
  AnySetter setter;
  size_t offset, size;
  SetterKind kind;
};

const std::vector<SetterRow> &fieldSetters() {
  static const std::vector<SetterRow> rows = {
      {"fSetStr1X1", fSetStr1X1, 1324, 4, kValue},
      {"fSetStr1Y1", fSetStr1Y1, 1328, 4, kValue},
      {"fSetStr1W1", fSetStr1W1, 1332, 4, kValue},
      {"fSetStr1H1", fSetStr1H1, 1336, 4, kValue},
      {"fSetStr1X2", fSetStr1X2, 1340, 4, kValue},
      {"fSetStr1Y2", fSetStr1Y2, 1344, 4, kValue},
      {"fSetStr1W2", fSetStr1W2, 1348, 4, kValue},
      {"fSetStr1H2", fSetStr1H2, 1352, 4, kValue},
      {"fSetStr1X3", fSetStr1X3, 1356, 4, kValue},
      {"fSetStr1Y3", fSetStr1Y3, 1360, 4, kValue},
      {"fSetStr1W3", fSetStr1W3, 1364, 4, kValue},
      {"fSetStr1H3", fSetStr1H3, 1368, 4, kValue},
      {"fSetROIEnable1", fSetROIEnable1, 1312, 1, kValue},
      {"fSetIpratio1", fSetIpratio1, 1276, 4, kValue},
      {"fSetForceIframe1", fSetForceIframe1, 1280, 1, kValue},
      {"fSetQPInit1", fSetQPInit1, 1281, 1, kValue},
      {"fSetQPMin1", fSetQPMin1, 1282, 1, kValue},
      {"fSetQPMax1", fSetQPMax1, 1283, 1, kValue},
      {"fSetMEConfig1", fSetMEConfig1, 1284, 1, kValue},
      {"fSetPacketSize1", fSetPacketSize1, 1285, 1, kValue},
      {"fSetDateStampEnable1", fSetDateStampEnable1, 1180, 1, kValue},
      {"fSetTimeStampEnable1", fSetTimeStampEnable1, 1181, 1, kValue},
      {"fSetLogoEnable1", fSetLogoEnable1, 1182, 1, kValue},
      {"fSetLogoPosition1", fSetLogoPosition1, 1183, 1, kValue},
      {"fSetTextEnable1", fSetTextEnable1, 1184, 1, kValue},
      {"fSetTextPosition1", fSetTextPosition1, 1185, 1, kValue},
      {"fSetDetailInfo1", fSetDetailInfo1, 1210, 1, kValue},
      {"fSetOverlayText1", fSetOverlayText1, 1186, 24, kText},
      {"fSetFramerate1", fSetFramerate1, LAN(nFrameRate1), LAN_SIZE(nFrameRate1), kValue},
      {"fSetFramerateVal1", fSetFramerateVal1, LAN(frameRateVal1), LAN_SIZE(frameRateVal1), kValue},
      {"fSetStr2X1", fSetStr2X1, 1384, 4, kValue},
      {"fSetStr2Y1", fSetStr2Y1, 1388, 4, kValue},
      {"fSetStr2W1", fSetStr2W1, 1392, 4, kValue},
      {"fSetStr2H1", fSetStr2H1, 1396, 4, kValue},
      {"fSetStr2X2", fSetStr2X2, 1400, 4, kValue},
      {"fSetStr2Y2", fSetStr2Y2, 1404, 4, kValue},
      {"fSetStr2W2", fSetStr2W2, 1408, 4, kValue},
      {"fSetStr2H2", fSetStr2H2, 1412, 4, kValue},
      {"fSetStr2X3", fSetStr2X3, 1416, 4, kValue},
      {"fSetStr2Y3", fSetStr2Y3, 1420, 4, kValue},
      {"fSetStr2W3", fSetStr2W3, 1424, 4, kValue},
      {"fSetStr2H3", fSetStr2H3, 1428, 4, kValue},
      {"fSetROIEnable2", fSetROIEnable2, 1372, 1, kValue},
      {"fSetIpratio2", fSetIpratio2, 1288, 4, kValue},
      {"fSetForceIframe2", fSetForceIframe2, 1292, 1, kValue},
      {"fSetQPInit2", fSetQPInit2, 1293, 1, kValue},
      {"fSetQPMin2", fSetQPMin2, 1294, 1, kValue},
      {"fSetQPMax2", fSetQPMax2, 1295, 1, kValue},
      {"fSetMEConfig2", fSetMEConfig2, 1296, 1, kValue},
      {"fSetPacketSize2", fSetPacketSize2, 1297, 1, kValue},
      {"fSetDateStampEnable2", fSetDateStampEnable2, 1211, 1, kValue},
      {"fSetTimeStampEnable2", fSetTimeStampEnable2, 1212, 1, kValue},
      {"fSetLogoEnable2", fSetLogoEnable2, 1213, 1, kValue},
      {"fSetLogoPosition2", fSetLogoPosition2, 1214, 1, kValue},
      {"fSetTextEnable2", fSetTextEnable2, 1215, 1, kValue},
      {"fSetTextPosition2", fSetTextPosition2, 1216, 1, kValue},
      {"fSetDetailInfo2", fSetDetailInfo2, 1241, 1, kValue},
      {"fSetOverlayText2", fSetOverlayText2, 1217, 24, kText},
      {"fSetFramerate2", fSetFramerate2, LAN(nFrameRate2), LAN_SIZE(nFrameRate2), kValue},
      {"fSetFramerateVal2", fSetFramerateVal2, LAN(frameRateVal2), LAN_SIZE(frameRateVal2), kValue},
      {"fSetStr3X1", fSetStr3X1, 1444, 4, kValue},
      {"fSetStr3Y1", fSetStr3Y1, 1448, 4, kValue},
      {"fSetStr3W1", fSetStr3W1, 1452, 4, kValue},
      {"fSetStr3H1", fSetStr3H1, 1456, 4, kValue},
      {"fSetStr3X2", fSetStr3X2, 1460, 4, kValue},
      {"fSetStr3Y2", fSetStr3Y2, 1464, 4, kValue},
      {"fSetStr3W2", fSetStr3W2, 1468, 4, kValue},
      {"fSetStr3H2", fSetStr3H2, 1472, 4, kValue},
      {"fSetStr3X3", fSetStr3X3, 1476, 4, kValue},
      {"fSetStr3Y3", fSetStr3Y3, 1480, 4, kValue},
      {"fSetStr3W3", fSetStr3W3, 1484, 4, kValue},
      {"fSetStr3H3", fSetStr3H3, 1488, 4, kValue},
      {"fSetROIEnable3", fSetROIEnable3, 1432, 1, kValue},
      {"fSetIpratio3", fSetIpratio3, 1300, 4, kValue},
      {"fSetForceIframe3", fSetForceIframe3, 1304, 1, kValue},
      {"fSetQPInit3", fSetQPInit3, 1305, 1, kValue},
      {"fSetQPMin3", fSetQPMin3, 1306, 1, kValue},
      {"fSetQPMax3", fSetQPMax3, 1307, 1, kValue},
      {"fSetMEConfig3", fSetMEConfig3, 1308, 1, kValue},
      {"fSetPacketSize3", fSetPacketSize3, 1309, 1, kValue},
      {"fSetDateStampEnable3", fSetDateStampEnable3, 1242, 1, kValue},
      {"fSetTimeStampEnable3", fSetTimeStampEnable3, 1243, 1, kValue},
      {"fSetLogoEnable3", fSetLogoEnable3, 1244, 1, kValue},
      {"fSetLogoPosition3", fSetLogoPosition3, 1245, 1, kValue},
      {"fSetTextEnable3", fSetTextEnable3, 1246, 1, kValue},
      {"fSetTextPosition3", fSetTextPosition3, 1247, 1, kValue},
      {"fSetDetailInfo3", fSetDetailInfo3, 1272, 1, kValue},
      {"fSetOverlayText3", fSetOverlayText3, 1248, 24, kText},
      {"fSetFramerate3", fSetFramerate3, LAN(nFrameRate3), LAN_SIZE(nFrameRate3), kValue},
      {"fSetFramerateVal3", fSetFramerateVal3, LAN(frameRateVal3), LAN_SIZE(frameRateVal3), kValue},
      {"fSetRateControl1", fSetRateControl1, LAN(nRateControl1), LAN_SIZE(nRateControl1), kValue},
      {"fSetRateControl2", fSetRateControl2, LAN(nRateControl2), LAN_SIZE(nRateControl2), kValue},
      {"fSetMP41bitrate", fSetMP41bitrate, LAN(nMpeg41bitrate), LAN_SIZE(nMpeg41bitrate), kValue},
      {"fSetMP42bitrate", fSetMP42bitrate, LAN(nMpeg42bitrate), LAN_SIZE(nMpeg42bitrate), kValue},
      {"fSetMotionEnable", fSetMotionEnable, 862, 1, kValue},
      {"fSetMotionCEnable", fSetMotionCEnable, 863, 1, kValue},
      {"fSetMotionLevel", fSetMotionLevel, 864, 1, kValue},
      {"fSetMotionCValue", fSetMotionCValue, 865, 1, kValue},
      {"fSetFaceDetect", fSetFaceDetect, 872, 1, kValue},
      {"fSetFDX", fSetFDX, 876, 4, kValue},
      {"fSetFDY", fSetFDY, 880, 4, kValue},
      {"fSetFDW", fSetFDW, 884, 4, kValue},
      {"fSetFDH", fSetFDH, 888, 4, kValue},
      {"fSetFDConfLevel", fSetFDConfLevel, 900, 1, kValue},
      {"fSetFDDirection", fSetFDDirection, 901, 1, kValue},
      {"fSetFRecognition", fSetFRecognition, 902, 1, kValue},
      {"fSetFRConfLevel", fSetFRConfLevel, 903, 1, kValue},
      {"fSetFRDatabase", fSetFRDatabase, 904, 1, kValue},
      {"fSetPrivacyMask", fSetPrivacyMask, 905, 1, kValue},
      {"fSetMaskOptions", fSetMaskOptions, 906, 1, kValue},
      {"fSetAudioON", fSetAudioON, 908, 1, kValue},
      {"fSetAudioEnable", fSetAudioEnable, 909, 1, kValue},
      {"fSetAudioMode", fSetAudioMode, 910, 1, kValue},
      {"fSetAudioInVolume", fSetAudioInVolume, 911, 1, kValue},
      {"fSetAudioEncode", fSetAudioEncode, 912, 1, kValue},
      {"fSetAudioSampleRate", fSetAudioSampleRate, 913, 1, kValue},
      {"fSetAudioBitrate", fSetAudioBitrate, 914, 1, kValue},
      {"fSetAudioBitrateValue", fSetAudioBitrateValue, 916, 4, kValue},
      {"fSetAudioAlarmLevel", fSetAudioAlarmLevel, 920, 1, kValue},
      {"fSetAudioAlarm", fSetAudioAlarm, 921, 1, kValue},
      {"fSetAudioOutVolume", fSetAudioOutVolume, 922, 1, kValue},
      {"fSetAudioReceiverEnable", fSetAudioReceiverEnable, 923, 1, kValue},
      {"fSetAudioSeverIp", fSetAudioSeverIp, 924, 256, kText},
      {"fSetSDFileFormat", fSetSDFileFormat, 3578, 1, kValue},
      {"fSetSdReEnable", fSetSdReEnable, 3579, 1, kValue},
      {"fSetSDInsert", fSetSDInsert, 3580, 1, kValue},
      {"fSetFtpFqdn", fSetFtpFqdn, 1960, 41, kText},
      {"fSetFtpUsername", fSetFtpUsername, 2001, 32, kText},
      {"fSetFtpPassword", fSetFtpPassword, 2033, 20, kText},
      {"fSetFtpFoldname", fSetFtpFoldname, 2053, 128, kText},
      {"fSetFtpImageacount", fSetFtpImageacount, 2184, 4, kValue},
      {"fSetFtpPid", fSetFtpPid, 2188, 4, kValue},
      {"fSetFtpPort", fSetFtpPort, 2192, 2, kValue},
      {"fSetRftpenable", fSetRftpenable, 2194, 1, kValue},
      {"fSetFTPFileFormat", fSetFTPFileFormat, 2195, 1, kValue},
      {"fSetSmtpServerIp", fSetSmtpServerIp, 2196, 41, kText},
      {"fSetSmtpServerPort", fSetSmtpServerPort, 2238, 2, kValue},
      {"fSetSmtpUsername", fSetSmtpUsername, 2240, 32, kText},
      {"fSetSmtpPassword", fSetSmtpPassword, 2272, 20, kText},
      {"fSetSmtpAuthentication", fSetSmtpAuthentication, 2292, 1, kValue},
      {"fSetSmtpSenderEmail", fSetSmtpSenderEmail, 2293, 256, kText},
      {"fSetSmtpReceiverEmail", fSetSmtpReceiverEmail, 2549, 256, kText},
      {"fSetSmtpCC", fSetSmtpCC, 2805, 256, kText},
      {"fSetSmtpSubject", fSetSmtpSubject, 3061, 256, kText},
      {"fSetSmtpText", fSetSmtpText, 3317, 256, kText},
      {"fSetSmtpAttachments", fSetSmtpAttachments, 3573, 1, kValue},
      {"fSetSmtpView", fSetSmtpView, 3574, 1, kValue},
      {"fSetASmtpAttach", fSetASmtpAttach, 3575, 1, kValue},
      {"fSetAttFileFormat", fSetAttFileFormat, 3576, 1, kValue},
      {"fSetVcamPtz", fSetVcamPtz, 4904, 1, kValue},
      {"fSetTitle", fSetTitle, LAN(title), LAN_SIZE(title), kText},
      {"fSetRegUsr", fSetRegUsr, LAN(regusr), LAN_SIZE(regusr), kText},
      {"fSetOSDText", fSetOSDText, LAN(osdtext), LAN_SIZE(osdtext), kText},
      {"fSetClickSnapFilename", fSetClickSnapFilename, LAN(nClickSnapFilename),
       LAN_SIZE(nClickSnapFilename), kText},
      {"fSetChipConfig", fSetChipConfig, LAN(chipConfig), LAN_SIZE(chipConfig), kValue},
      {"fSetCamWhiteBalance", fSetCamWhiteBalance, LAN(nWhiteBalance), LAN_SIZE(nWhiteBalance),
       kValue},
      {"fSetCamDayNight", fSetCamDayNight, LAN(nDayNight), LAN_SIZE(nDayNight), kValue},
      {"fSetBinning", fSetBinning, LAN(nBinning), LAN_SIZE(nBinning), kValue},
      {"fSetBlc", fSetBlc, LAN(nBacklightControl), LAN_SIZE(nBacklightControl), kValue},
      {"fSetCamBacklight", fSetCamBacklight, LAN(nBackLight), LAN_SIZE(nBackLight), kValue},
      {"fSetCamBrightness", fSetCamBrightness, LAN(nBrightness), LAN_SIZE(nBrightness), kValue},
      {"fSetCamContrast", fSetCamContrast, LAN(nContrast), LAN_SIZE(nContrast), kValue},
      {"fSetCamSaturation", fSetCamSaturation, LAN(nSaturation), LAN_SIZE(nSaturation), kValue},
      {"fSetCamSharpness", fSetCamSharpness, LAN(nSharpness), LAN_SIZE(nSharpness), kValue},
      {"fSetMirror", fSetMirror, LAN(mirror), LAN_SIZE(mirror), kValue},
      {"fSetImageAEW", fSetImageAEW, LAN(nAEWswitch), LAN_SIZE(nAEWswitch), kValue},
      {"fSetImageAEWType", fSetImageAEWType, LAN(nAEWtype), LAN_SIZE(nAEWtype), kValue},
      {"fSetHistogram", fSetHistogram, LAN(histogram), LAN_SIZE(histogram), kValue},
      {"fSetDynRange", fSetDynRange, LAN(dynRange), LAN_SIZE(dynRange), kValue},
      {"fSetMaxExposureValue", fSetMaxExposureValue, LAN(maxexposure), LAN_SIZE(maxexposure),
       kValue},
      {"fSetMaxGainValue", fSetMaxGainValue, LAN(maxgain), LAN_SIZE(maxgain), kValue},
      {"fSetExpPriority", fSetExpPriority, LAN(expPriority), LAN_SIZE(expPriority), kValue},
      {"fSetVideoMode", fSetVideoMode, LAN(nStreamType), LAN_SIZE(nStreamType), kValue},
      {"fSetVideoCodecMode", fSetVideoCodecMode, LAN(nVideocodecmode), LAN_SIZE(nVideocodecmode),
       kValue},
      {"fSetVideoCodecCombo", fSetVideoCodecCombo, LAN(nVideocombo), LAN_SIZE(nVideocombo), kValue},
      {"fSetVideoCodecRes", fSetVideoCodecRes, LAN(nVideocodecres), LAN_SIZE(nVideocodecres),
       kValue},
      {"fSetRateControl", fSetRateControl, LAN(nRateControl), LAN_SIZE(nRateControl), kValue},
      {"fSetJpegQuality", fSetJpegQuality, LAN(njpegquality), LAN_SIZE(njpegquality), kValue},
      {"fSetAdvMode", fSetAdvMode, LAN(AdvanceMode), LAN_SIZE(AdvanceMode), kValue},
      {"fSetDemoCfg", fSetDemoCfg, LAN(democfg), LAN_SIZE(democfg), kValue},
      {"fSetEncryptVideo", fSetEncryptVideo, LAN(nEncryptVideo), LAN_SIZE(nEncryptVideo), kValue},
      {"fSetLocalDisplay", fSetLocalDisplay, LAN(nLocalDisplay), LAN_SIZE(nLocalDisplay), kValue},
      {"fSetLostAlarm", fSetLostAlarm, LAN(lostalarm), LAN_SIZE(lostalarm), kValue},
      {"fSetSDAlarmEnable", fSetSDAlarmEnable, LAN(bSdaEnable), LAN_SIZE(bSdaEnable), kValue},
      {"fSetFTPAlarmEnable", fSetFTPAlarmEnable, LAN(bAFtpEnable), LAN_SIZE(bAFtpEnable), kValue},
      {"fSetSMTPAlarmEnable", fSetSMTPAlarmEnable, LAN(bASmtpEnable), LAN_SIZE(bASmtpEnable),
       kValue},
      {"fSetAlarmDuration", fSetAlarmDuration, LAN(nAlarmDuration), LAN_SIZE(nAlarmDuration),
       kValue},
      {"fSetAlarmStatus", fSetAlarmStatus, LAN(alarmstatus), LAN_SIZE(alarmstatus), kValue},
      {"fSetAlarmEnable", fSetAlarmEnable, LAN(nAlarmEnable), LAN_SIZE(nAlarmEnable), kValue},
      {"fSetExtAlarm", fSetExtAlarm, LAN(nExtAlarm), LAN_SIZE(nExtAlarm), kValue},
      {"fSetAlarmAudioPlay", fSetAlarmAudioPlay, LAN(nAlarmAudioPlay), LAN_SIZE(nAlarmAudioPlay),
       kValue},
      {"fSetAlarmAudioFile", fSetAlarmAudioFile, LAN(nAlarmAudioFile), LAN_SIZE(nAlarmAudioFile),
       kValue},
      {"fSetAlarmStorage", fSetAlarmStorage, LAN(alarmlocal), LAN_SIZE(alarmlocal), kValue},
      {"fSetRecordStorage", fSetRecordStorage, LAN(recordlocal), LAN_SIZE(recordlocal), kValue},
      {"fSetClickSnapStorage", fSetClickSnapStorage, LAN(nClickSnapStorage),
       LAN_SIZE(nClickSnapStorage), kValue},
      {"fSetAVIDuration", fSetAVIDuration, LAN(aviduration), LAN_SIZE(aviduration), kValue},
      {"fSetAVIFormat", fSetAVIFormat, LAN(aviformat), LAN_SIZE(aviformat), kValue},
      {"fSetGIOInEnable", fSetGIOInEnable, LAN(gioinenable), LAN_SIZE(gioinenable), kValue},
      {"fSetGIOInType", fSetGIOInType, LAN(giointype), LAN_SIZE(giointype), kValue},
      {"fSetGIOOutEnable", fSetGIOOutEnable, LAN(giooutenable), LAN_SIZE(giooutenable), kValue},
      {"fSetGIOOutType", fSetGIOOutType, LAN(gioouttype), LAN_SIZE(gioouttype), kValue},
      {"fSetTStampEnable", fSetTStampEnable, LAN(tstampenable), LAN_SIZE(tstampenable), kValue},
      {"fSetDateFormat", fSetDateFormat, LAN(dateformat), LAN_SIZE(dateformat), kValue},
      {"fSetTStampFormat", fSetTStampFormat, LAN(tstampformat), LAN_SIZE(tstampformat), kValue},
      {"fSetDatePosition", fSetDatePosition, LAN(dateposition), LAN_SIZE(dateposition), kValue},
      {"fSetTimePosition", fSetTimePosition, LAN(timeposition), LAN_SIZE(timeposition), kValue},
      {"fSetOSDStream", fSetOSDStream, LAN(osdstream), LAN_SIZE(osdstream), kValue},
      {"fSetOSDWinNum", fSetOSDWinNum, LAN(osdwinnum), LAN_SIZE(osdwinnum), kValue},
      {"fSetOSDWin", fSetOSDWin, LAN(osdwin), LAN_SIZE(osdwin), kValue},
      {"fSetScheduleRepeatEnable", fSetScheduleRepeatEnable, LAN(nScheduleRepeatEnable),
       LAN_SIZE(nScheduleRepeatEnable), kValue},
      {"fSetScheduleNumWeeks", fSetScheduleNumWeeks, LAN(nScheduleNumWeeks),
       LAN_SIZE(nScheduleNumWeeks), kValue},
      {"fSetScheduleInfiniteEnable", fSetScheduleInfiniteEnable, LAN(nScheduleInfiniteEnable),
       LAN_SIZE(nScheduleInfiniteEnable), kValue},
      {"fSetNetMask", fSetNetMask, NET(netmask), NET_SIZE(netmask), kValue},
      {"fSetGateway", fSetGateway, NET(gateway), NET_SIZE(gateway), kValue},
      {"fSetDns", fSetDns, NET(dns), NET_SIZE(dns), kValue},
      {"fSetHttpPort", fSetHttpPort, NET(http_port), NET_SIZE(http_port), kValue},
      {"fSetHttpsPort", fSetHttpsPort, NET(https_port), NET_SIZE(https_port), kValue},
      {"fSetDhcpEnable", fSetDhcpEnable, NET(dhcp_enable), NET_SIZE(dhcp_enable), kValue},
      {"fsetdiscoverymode", fsetdiscoverymode, NET(discovery_mode), NET_SIZE(discovery_mode),
       kValue},
      {"fSetTimeZone", fSetTimeZone, NET(ntp_timezone), NET_SIZE(ntp_timezone), kValue},
      {"fSetTimeFormat", fSetTimeFormat, NET(time_format), NET_SIZE(time_format), kValue},
      {"fSetDaylightTime", fSetDaylightTime, NET(daylight_time), NET_SIZE(daylight_time), kValue},
      {"fSetMPEG4Res", fSetMPEG4Res, NET(mpeg4resolution), NET_SIZE(mpeg4resolution), kValue},
      {"fSetMPEG42Res", fSetMPEG42Res, NET(mpeg42resolution), NET_SIZE(mpeg42resolution), kValue},
      {"fSetResolution", fSetResolution, NET(liveresolution), NET_SIZE(liveresolution), kValue},
      {"fSetImageFormat", fSetImageFormat, NET(imageformat), NET_SIZE(imageformat), kValue},
      {"fSetImageSource", fSetImageSource, NET(imagesource), NET_SIZE(imagesource), kValue},
      {"fSetNetMulticast", fSetNetMulticast, NET(multicast_enable), NET_SIZE(multicast_enable),
       kValue},
      {"fSetPtzSupport", fSetPtzSupport, NET(supportptzpage), NET_SIZE(supportptzpage), kValue},
      {"fSetSntpServer", fSetSntpServer, NET(ntp_server), NET_SIZE(ntp_server), kText},
      {"fSetIp", fSetIp, 4024, 4, kNow},
  };
  return rows;
}

#undef LAN
#undef LAN_SIZE
#undef NET
#undef NET_SIZE

// Calls row `r` with the value of index `i`; the bytes it must leave in its field.
std::string callSetter(const SetterRow &r, size_t i, int &result) {
  const auto b = static_cast<unsigned char>(i % 250 + 1);
  std::string value(r.size, static_cast<char>(b));
  if (r.kind == kText) {
    std::string text = std::to_string(i);  // "t" + to_string: a false -Wrestrict at -O3
    text.insert(text.begin(), 't');
    result = std::get<int (*)(void *, int)>(r.setter)(text.data(), static_cast<int>(text.size()));
    return text + '\0';
  }
  std::visit(
      [&](auto setter) {
        using Arg = std::tuple_element_t<0, typename FunctionArgs<decltype(setter)>::type>;
        Arg arg;
        memset(&arg, b, sizeof arg);
        if constexpr (std::is_same_v<decltype(setter), int (*)(void *, int)>)
          result = -2;  // a text setter listed as a value setter
        else
          result = setter(arg);
      },
      r.setter);
  return value;
}

TEST_F(Settings, every_field_setter_changes_its_own_bytes_only_and_requests_the_save) {
#define COUNT_SETTER(kind, name, type, field) +1
  constexpr size_t kSetters = 0 FILE_MSG_FIELD_SETTERS(COUNT_SETTER);
#undef COUNT_SETTER
  ASSERT_EQ(fieldSetters().size(), kSetters) << "a setter is missing from the rows";
  size_t sent = 0;
  for (size_t i = 0; i < fieldSetters().size(); ++i) {
    const SetterRow &r = fieldSetters()[i];
    memset(live.get(), 0, sizeof(SysInfo));
    int result = -1;
    std::string expected = callSetter(r, i, result);
    EXPECT_EQ(result, 0) << r.name;
    std::string after = bytesAt(*live, 0, sizeof(SysInfo));
    std::string zeros(sizeof(SysInfo), '\0');
    zeros.replace(r.offset, expected.size(), expected);
    if (after != zeros) {
      size_t first = 0;
      while (first < after.size() && after[first] == zeros[first]) ++first;
      ADD_FAILURE() << r.name << ": the record differs first at byte " << first << ", its field is "
                    << r.offset << ".." << r.offset + r.size - 1;
    }
    auto log = requests();
    ASSERT_EQ(log.size(), ++sent) << r.name;
    EXPECT_EQ(cmdOf(log.back()), r.kind == kNow ? FILE_MSG_WRITE_I : FILE_MSG_WRITE) << r.name;
  }
}

TEST_F(Settings, text_setters_take_only_what_fits_their_field) {
  struct Case {
    const char *name;
    int (*set)(void *, int);
    int fits, too_long;
  } cases[] = {
      {"fSetSmtpPassword", fSetSmtpPassword, 19, 20}, {"fSetSmtpText", fSetSmtpText, 255, 256},
      {"fSetSntpServer", fSetSntpServer, 40, 41},     {"fSetOSDText", fSetOSDText, 23, 24},
      {"fSetOverlayText2", fSetOverlayText2, 23, 24},
  };
  char text[300];
  memset(text, 'p', sizeof text);
  for (auto &c : cases) {
    SysInfo before = snapshot();
    size_t sent = requests().size();
    EXPECT_EQ(c.set(text, c.too_long), -1) << c.name;
    EXPECT_EQ(c.set(text, -1), -1) << c.name;
    EXPECT_EQ(c.set(nullptr, 3), -1) << c.name;
    EXPECT_TRUE(unchangedSince(before)) << c.name;
    EXPECT_EQ(requests().size(), sent) << c.name;
    EXPECT_EQ(c.set(text, c.fits), 0) << c.name;
  }
  EXPECT_EQ(std::string(live->smtp_config.password), std::string(19, 'p'));
}

TEST_F(Settings, motion_blocks_take_at_most_four_bytes) {
  char blocks[] = {1, 2, 3, 4, 5};
  SysInfo before = snapshot();
  EXPECT_EQ(fSetMotionBlock(blocks, 5), -1);
  EXPECT_EQ(fSetMotionBlock(blocks, -1), -1);
  EXPECT_TRUE(unchangedSince(before));
  EXPECT_TRUE(requests().empty());
  EXPECT_EQ(fSetMotionBlock(blocks, 4), 0);
  EXPECT_EQ(bytesAt(*live, 862 + 4, 4), "\x01\x02\x03\x04");
}

TEST_F(Settings, switches_saved_only_when_they_change) {
  live->lan_config.net.multicast_enable = 1;
  live->lan_config.net.supportptzpage = 0;
  EXPECT_EQ(fSetNetMulticast(1), 0);
  EXPECT_EQ(fSetPtzSupport(0), 0);
  EXPECT_TRUE(requests().empty());
  EXPECT_EQ(fSetNetMulticast(0), 0);
  EXPECT_EQ(live->lan_config.net.multicast_enable, 0);
  EXPECT_EQ(lastCmd(), FILE_MSG_WRITE);
}

// ---- setters with their own rule
// ---------------------------------------------------------------------

TEST_F(Settings, video_sizes_by_stream_and_nothing_for_an_unknown_one) {
  Lancam_Config_Data &lan = live->lan_config;
  struct {
    unsigned char stream;
    int32_t *x, *y;
  } cases[] = {{1, &lan.JpegXsize, &lan.JpegYsize},     {2, &lan.Mpeg41Xsize, &lan.Mpeg41Ysize},
               {3, &lan.Mpeg42Xsize, &lan.Mpeg42Ysize}, {4, &lan.JpegXsize, &lan.JpegYsize},
               {5, &lan.Avc1Xsize, &lan.Avc1Ysize},     {6, &lan.Avc2Xsize, &lan.Avc2Ysize}};
  for (auto &c : cases) {
    EXPECT_EQ(fSetVideoSize(c.stream, 100 + c.stream, 200 + c.stream), 0) << int(c.stream);
    EXPECT_EQ(*c.x, 100 + c.stream) << int(c.stream);
    EXPECT_EQ(*c.y, 200 + c.stream) << int(c.stream);
  }
  SysInfo before = snapshot();
  size_t sent = requests().size();
  EXPECT_EQ(fSetVideoSize(7, 640, 480), 0);
  EXPECT_TRUE(unchangedSince(before));
  EXPECT_EQ(requests().size(), sent + 1);
  EXPECT_EQ(lastCmd(), FILE_MSG_WRITE);
}

TEST_F(Settings, the_rs485_setting_leaves_the_snapshot_name_whole) {
  char name[] = "snap";
  ASSERT_EQ(fSetClickSnapFilename(name, 4), 0);
  ASSERT_EQ(fSetRS485Port(0x0102), 0);
  EXPECT_EQ(live->lan_config.rs485config, 0x02);
  EXPECT_STREQ(live->lan_config.nClickSnapFilename, "snap");
}

TEST_F(Settings, setters_with_their_own_rule_store_and_save) {
  Schedule_t sched{1, 3, {8, 30, 0}, {1, 0, 0}};
  Acount_t account{"admin", "secret", 2};
  hostname_tmp host{"kv-front"};
  char name[] = "stream2";
  live->nrelays = 4;

  EXPECT_EQ(fSetStreamActive(1, 0, 1, 0, 1, 1), 0);
  EXPECT_EQ(live->lan_config.Supportstream3, 1);
  EXPECT_EQ(live->lan_config.Supportstream4, 0);
  EXPECT_EQ(fSetSchedule(7, &sched, 12, 2026), 0);
  EXPECT_EQ(memcmp(&live->lan_config.aSchedules[7], &sched, sizeof sched), 0);
  EXPECT_EQ(live->lan_config.schedCurDay, 12);
  EXPECT_EQ(live->lan_config.schedCurYear, 2026);
  EXPECT_EQ(fSetAcount(15, &account), 0);
  EXPECT_STREQ(live->acounts[15].password, "secret");
  EXPECT_EQ(fDelAcount(0, &account), 0);
  EXPECT_EQ(live->acounts[0].authority, 2);
  EXPECT_EQ(fsethostname(&host), 0);
  EXPECT_STREQ(live->lan_config.hostname, "kv-front");
  EXPECT_EQ(live->nrelays, 5u);
  EXPECT_EQ(fSetStreamConfig(1, 640, 480, name, 8553), 0);
  for (auto &line : requests())
    EXPECT_TRUE(cmdOf(line) == FILE_MSG_WRITE || cmdOf(line) == FILE_MSG_READ) << line;
  EXPECT_EQ(lastCmd(), FILE_MSG_WRITE);
}

TEST_F(Settings, a_stream_gets_its_size_name_and_the_path_of_its_port) {
  struct {
    int port;
    const char *path;
  } cases[] = {{8556, "PSIA/Streaming/channels/2?videoCodecType=H.264"},
               {8557, "PSIA/Streaming/channels/2?videoCodecType=H.264"},
               {8553, "PSIA/Streaming/channels/1?videoCodecType=MPEG4"},
               {8554, "PSIA/Streaming/channels/1?videoCodecType=MPEG4"},
               {8555, "PSIA/Streaming/channels/0?videoCodecType=MJPEG"}};
  char name[] = "h264";
  for (auto &c : cases) {
    ASSERT_EQ(fSetStreamConfig(2, 1280, 720, name, c.port), 0) << c.port;
    StreamParam &s = live->stream_config[2];
    EXPECT_EQ(s.portnum, c.port);
    EXPECT_EQ(s.width, 1280);
    EXPECT_EQ(s.height, 720);
    EXPECT_STREQ(reinterpret_cast<char *>(s.name), "h264");
    EXPECT_STREQ(reinterpret_cast<char *>(s.portname), c.path) << c.port;
  }
  char long_name[80];
  memset(long_name, 'n', sizeof long_name);
  long_name[75] = '\0';
  SysInfo before = snapshot();
  EXPECT_EQ(fSetStreamConfig(2, 640, 480, long_name, 8557), -1);
  EXPECT_TRUE(unchangedSince(before));
}

TEST_F(Settings, regions_follow_a_new_picture_size) {
  CodecROIParam &c = live->codec_roiconfig[1];
  c.numROI = 2;
  c.prevwidth = 640;
  c.prevheight = 480;
  c.roi[0] = {100, 50, 200, 100};
  c.roi[1] = {640, 480, 0, 1};
  c.roi[2] = {1, 1, 1, 1};
  ASSERT_EQ(fResetCodecROIParam(1, 1280, 960), 0);
  EXPECT_EQ(lastCmd(), FILE_MSG_READ) << "fetched, not saved";
  EXPECT_EQ(c.roi[0].startx, 200u);
  EXPECT_EQ(c.roi[0].starty, 100u);
  EXPECT_EQ(c.roi[0].width, 400u);
  EXPECT_EQ(c.roi[0].height, 200u);
  EXPECT_EQ(c.roi[1].startx, 1280u);
  EXPECT_EQ(c.roi[2].startx, 1u) << "beyond numROI";
  EXPECT_EQ(c.prevwidth, 1280u);
  EXPECT_EQ(c.prevheight, 960u);

  // A count from the record larger than the array scales the three regions only.
  c.numROI = 200;
  live->codec_roiconfig[2] = {1, 640, 480, {{64, 48, 64, 48}}};
  CodecROIParam next = live->codec_roiconfig[2];
  ASSERT_EQ(fResetCodecROIParam(1, 640, 480), 0);
  EXPECT_EQ(c.roi[2].startx, 0u);
  EXPECT_EQ(memcmp(&next, &live->codec_roiconfig[2], sizeof next), 0)
      << "the next stream's regions";
  // A size of 0 is remembered as 1; an unknown previous size leaves the regions.
  ASSERT_EQ(fResetCodecROIParam(1, 0, 0), 0);
  EXPECT_EQ(c.prevwidth, 1u);
  c.prevwidth = c.prevheight = 0;
  c.roi[0] = {10, 20, 30, 40};
  ASSERT_EQ(fResetCodecROIParam(1, 320, 240), 0);
  EXPECT_EQ(c.roi[0].width, 30u);
  EXPECT_EQ(c.prevwidth, 320u);

  Face_Config_Data &f = live->face_config;
  f.prevwidth = 1280;
  f.prevheight = 720;
  f.startX = 640;
  f.height = 360;
  ASSERT_EQ(fResetFDROIParam(0, 640, 360), 0);
  EXPECT_EQ(f.startX, 320u);
  EXPECT_EQ(f.height, 180u);
  ASSERT_EQ(fResetFDROIParam(1, 100, 100), 0);
  EXPECT_EQ(f.startX, 320u) << "the face rectangle belongs to stream 0";
}

TEST_F(Settings, indexes_past_their_arrays_change_nothing_and_send_nothing) {
  Acount_t account{};
  Schedule_t sched{};
  media_profile profile{};
  video_source_conf vsc{};
  vsc.position = MAX_PROF;
  audio_source_conf asc{};
  asc.position = -1;
  relay_conf relay{};
  relay.position = MAX_RELAYS;
  relay_logical_state state{MAX_RELAYS, 1};
  imaging_conf_tmp imaging{};
  imaging.position = MAX_IMAGING;
  hostname_tmp host;
  memset(&host, 'h', sizeof host);
  char name[] = "s";
  live->nprofile = 2;

  struct Case {
    const char *name;
    std::function<int()> call;
  } cases[] = {
      {"fSetAcount 16", [&] { return fSetAcount(ACOUNT_NUM, &account); }},
      {"fDelAcount -1", [&] { return fDelAcount(-1, &account); }},
      {"fSetAcount null", [&] { return fSetAcount(0, nullptr); }},
      {"fSetSchedule 8", [&] { return fSetSchedule(SCHEDULE_NUM, &sched, 1, 2026); }},
      {"fSetStreamConfig 3",
       [&] { return fSetStreamConfig(MAX_STREAM_NUM, 640, 480, name, 8557); }},
      {"fResetCodecROIParam 3", [] { return fResetCodecROIParam(MAX_STREAM_NUM, 640, 480); }},
      {"fResetFDROIParam -1", [] { return fResetFDROIParam(-1, 640, 480); }},
      {"fsetmediaprofile 4", [&] { return fsetmediaprofile(MAX_PROF, &profile); }},
      {"fdelprofile -1", [] { return fdelprofile(-1); }},
      {"fdelprofile past the used ones", [] { return fdelprofile(3); }},
      {"fsetvideosourceconfiguration 4", [&] { return fsetvideosourceconfiguration(&vsc); }},
      {"faddaudiosourceconfiguration -1", [&] { return faddaudiosourceconfiguration(&asc); }},
      {"fdelvideoencoderconfiguration 4", [] { return fdelvideoencoderconfiguration(MAX_PROF); }},
      {"fremoveaudiosource -1", [] { return fremoveaudiosource(-1); }},
      {"fremoveaudioencoder 4", [] { return fremoveaudioencoder(MAX_PROF); }},
      {"fsetrelay 3", [&] { return fsetrelay(&relay); }},
      {"fsetrelaylogicalstate 3", [&] { return fsetrelaylogicalstate(&state); }},
      {"fsetimaging 4", [&] { return fsetimaging(&imaging); }},
      {"fsethostname unterminated", [&] { return fsethostname(&host); }},
      {"fSetSysLog null", [] { return fSetSysLog(nullptr); }},
      {"faddscopes null", [] { return faddscopes(nullptr); }},
  };
  SysInfo before = snapshot();
  for (auto &c : cases) EXPECT_EQ(c.call(), -1) << c.name;
  EXPECT_TRUE(unchangedSince(before));
  EXPECT_TRUE(requests().empty());

  live->nprofile = 0;
  EXPECT_EQ(fdelprofile(0), -1) << "no profile to remove";
  EXPECT_EQ(live->nprofile, 0u);
  live->nprofile = MAX_PROF;
  EXPECT_EQ(fdelprofile(MAX_PROF), -1) << "the slot after the last lies beyond the array";
}

TEST_F(Settings, removing_a_profile_moves_the_last_one_into_its_place) {
  media_profile p{};
  for (int i = 0; i < 3; ++i) {
    snprintf(p.profile_name, sizeof p.profile_name, "profile%d", i);
    ASSERT_EQ(fsetmediaprofile(i, &p), 0);
  }
  EXPECT_EQ(live->nprofile, 3u);
  ASSERT_EQ(fdelprofile(1), 0);
  EXPECT_STREQ(live->Oprofile[1].profile_name, "profile2");
  EXPECT_STREQ(live->Oprofile[2].profile_name, "");
  EXPECT_EQ(live->nprofile, 2u);
  ASSERT_EQ(fdelprofile(0), 0);
  EXPECT_STREQ(live->Oprofile[0].profile_name, "profile0") << "index 0 moves nothing";
  EXPECT_EQ(live->nprofile, 1u);

  for (int i = 0; i < 6; ++i) ASSERT_EQ(fsetmediaprofile(i % MAX_PROF, &p), 0);
  EXPECT_EQ(live->nprofile, static_cast<uint32_t>(MAX_PROF)) << "never counts past the array";
}

TEST_F(Settings, profile_parts_relays_and_imaging_land_in_their_slots) {
  video_encoder_conf enc{};
  enc.position = 3;
  snprintf(enc.conf.VEtoken, sizeof enc.conf.VEtoken, "enc3");
  ASSERT_EQ(fsetvideoencoderconfiguration(&enc), 0);
  EXPECT_STREQ(live->Oprofile[3].AESC.VEtoken, "enc3");
  ASSERT_EQ(fdelvideoencoderconfiguration(3), 0);
  EXPECT_STREQ(live->Oprofile[3].AESC.VEtoken, "");

  audio_source_conf asc{};
  asc.position = 1;
  snprintf(asc.conf.Aname, sizeof asc.conf.Aname, "name");
  snprintf(asc.conf.Atoken, sizeof asc.conf.Atoken, "token");
  ASSERT_EQ(faddaudiosourceconfiguration(&asc), 0);
  EXPECT_STREQ(live->Oprofile[1].AASC.Atoken, "token");
  EXPECT_STREQ(live->Oprofile[1].AASC.Aname, "") << "only bytes 24 to 43";

  relay_conf relay{};
  relay.position = 2;
  relay.relay.delaytime = 30;
  relay_logical_state state{2, 1};
  ASSERT_EQ(fsetrelay(&relay), 0);
  ASSERT_EQ(fsetrelaylogicalstate(&state), 0);
  EXPECT_EQ(live->onvif_relay[2].onvif_relay_in.delaytime, 30);
  EXPECT_EQ(live->onvif_relay[2].relaylogicalstate, 1);

  imaging_conf_tmp imaging{};
  imaging.position = 3;
  imaging.imaging.Brightness = 0.5f;
  ASSERT_EQ(fsetimaging(&imaging), 0);
  EXPECT_EQ(live->imaging_conf[3].Brightness, 0.5f);
}

TEST_F(Settings, scopes_are_added_once_and_removed_by_name) {
  Onvif_Scopes change{};
  snprintf(change.type[0], SCOPE_LEN, "video_encoder");
  snprintf(change.location[1], SCOPE_LEN, "country/korea");
  ASSERT_EQ(faddscopes(&change), 0);
  ASSERT_EQ(faddscopes(&change), 0);
  EXPECT_STREQ(live->onvif_scopes.type[0], "video_encoder");
  EXPECT_STREQ(live->onvif_scopes.type[1], "") << "already listed";
  EXPECT_STREQ(live->onvif_scopes.location[0], "country/korea");

  Onvif_Scopes three{};
  for (int i = 0; i < MAX_SCOPES; ++i) snprintf(three.type[i], SCOPE_LEN, "t%d", i);
  SysInfo before = snapshot();
  EXPECT_EQ(faddscopes(&three), -1) << "only two free slots";
  EXPECT_TRUE(unchangedSince(before));

  ASSERT_EQ(fdelscopes(&change), 0);
  EXPECT_STREQ(live->onvif_scopes.type[0], "");
  EXPECT_STREQ(live->onvif_scopes.location[0], "");
}

}  // namespace
