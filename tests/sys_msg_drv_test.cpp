// SPDX-License-Identifier: MIT
// The system server client against the stand-in system_server of a sandbox.
// ctest-labels: threaded
#include "sys_msg_drv.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <string.h>
#include <sys/ipc.h>
#include <sys/msg.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "msg_util.h"
#include "sandbox.h"
#include "server_log.h"
#include "share_mem.h"
#include "standin_test.h"

namespace {

using namespace std::chrono_literals;
using kvsim::numberOf;

constexpr const char *kServer = "system_server";
constexpr int kProc = 5;
// The stand-in's segment holds the slots of ids 2..23.
constexpr int kSegmentEnd = PROC_SLOT_OFFSET(24);

using Wrapper = int (*)(void *, unsigned int);

class SysClient : public StandInTest {
 protected:
  SysClient() : StandInTest(kServer) {}
  void SetUp() override {
    startServer();
    ASSERT_EQ(SysDrvInit(kProc), 0);
  }
  void TearDown() override { SysDrvExit(); }
};

std::string hexOf(char fill, int n) {
  static const char kDigits[] = "0123456789abcdef";
  std::string one{kDigits[(fill >> 4) & 15], kDigits[fill & 15]}, all;
  for (int i = 0; i < n; ++i) all += one;
  return all;
}

TEST(SysDrvInit, refuses_process_ids_outside_1_to_23_and_falls_back_to_1) {
  kvsim::Sandbox board;
  for (int id : {0, 24, -3}) {
    SCOPED_TRACE(id);
    testing::internal::CaptureStderr();
    EXPECT_EQ(SysDrvInit(id), -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error:Invalid Parameter\n");
    EXPECT_EQ(GetSysProcId(), 1);
  }
  EXPECT_EQ(SysDrvInit(23), 0);
  EXPECT_EQ(GetSysProcId(), 23);
  EXPECT_EQ(SysDrvExit(), 0);
  EXPECT_EQ(GetSysProcId(), 1);
}

TEST_F(SysClient, requests_outside_the_set_up_window_send_nothing) {
  SysDrvExit();
  char buf[4] = {};
  EXPECT_EQ(SysWatchDog(), -1);
  EXPECT_EQ(SetTitle(buf, sizeof buf), -1);
  std::this_thread::sleep_for(50ms);
  EXPECT_TRUE(received().empty());
}

TEST_F(SysClient, each_wrapper_sends_its_request_id) {
  struct Row {
    const char *name;
    Wrapper call;
    int id;
  };
  // The naming rule, then a sample of the wrappers that do not follow it.
  const Row rows[] = {
      {"GetDhcpEn", GetDhcpEn, 0},
      {"GetSysFtpPort", GetSysFtpPort, 19},
      {"SetMotionEnable", SetMotionEnable, 190},
      {"SetSysStr3H3", SetSysStr3H3, 189},
      {"GetFtpFoldername", GetFtpFoldername, 16},
      {"SetDhcpEnable", SetDhcpEnable, 37},
      {"SetSysSDAlarmEnable", SetSysSDAlarmEnable, 76},
      {"SetSysImage2A", SetSysImage2A, 222},
      {"SysAddUser", SysAddUser, 266},
      {"SysGetSdFileName", SysGetSdFileName, 278},
      {"SetAudioSourceConfiguration", SetAudioSourceConfiguration, 290},
      {"KVSetParkVoltage", KVSetParkVoltage, 304},
      {"SetSysSyncTimeZone", SetSysSyncTimeZone, 320},
  };
  char buf[8] = {};
  for (const Row &row : rows) {
    row.call(buf, 0);
    EXPECT_EQ(numberOf(last(), "cmd"), row.id) << row.name;
    EXPECT_EQ(numberOf(last(), "src"), kProc) << row.name;
  }
  SysWatchDog();
  EXPECT_EQ(numberOf(last(), "cmd"), SYS_MSG_WATCHDOG);
  KVSaveSettingsToFile();
  EXPECT_EQ(numberOf(last(), "cmd"), SYS_MSG_KV_SAVE_SETTING_TO_FILE);
  KVStartSystemInit();
  EXPECT_EQ(numberOf(last(), "cmd"), SYS_MSG_START_SYSTEM_INIT);
  SetSysCommon(buf, 0, SYS_MSG_SET_DEFAULT);
  EXPECT_EQ(numberOf(last(), "cmd"), SYS_MSG_SET_DEFAULT);
}

TEST_F(SysClient, a_setter_puts_its_payload_in_the_callers_slot_and_returns_the_reply_length) {
  char payload[] = "ABCD";
  EXPECT_EQ(SetSysStr1X1(payload, 4), 4) << "the stand-in echoes the length by default";
  auto got = last();
  EXPECT_EQ(numberOf(got, "length"), 4);
  EXPECT_EQ(numberOf(got, "offset"), PROC_SLOT_OFFSET(kProc));
  EXPECT_EQ(got["data"], "41424344");

  reply(SYS_MSG_SET_STR1X1, "length=-1");
  EXPECT_EQ(SetSysStr1X1(payload, 4), -1);
}

TEST_F(SysClient, a_setter_with_len_0_still_exchanges) {
  reply(SYS_MSG_SET_TITLE, "length=7");
  EXPECT_EQ(SetTitle(nullptr, 0), 7);
  ASSERT_EQ(received().size(), 1u);
  EXPECT_EQ(numberOf(last(), "length"), 0);
}

TEST_F(SysClient, a_payload_larger_than_the_slot_is_refused_unsent) {
  std::vector<char> big(PROC_MSG_SIZE + 1, 'x');
  EXPECT_EQ(SetTitle(big.data(), PROC_MSG_SIZE + 1), -1);
  EXPECT_TRUE(received().empty());
  EXPECT_EQ(SetTitle(big.data(), PROC_MSG_SIZE), PROC_MSG_SIZE) << "a whole slot fits";
}

TEST_F(SysClient, an_exact_getter_copies_only_a_reply_of_exactly_the_asked_length) {
  unsigned char mac[8];
  memset(mac, 0xEE, sizeof mac);
  reply(SYS_MSG_GET_MAC, "hex=01020304");
  EXPECT_EQ(GetMAC(mac, 8), -1);
  for (unsigned char b : mac) EXPECT_EQ(b, 0xEE) << "the caller's buffer must stay untouched";

  reply(SYS_MSG_GET_MAC, "hex=0102030405060708");
  EXPECT_EQ(GetMAC(mac, 8), 0);
  EXPECT_EQ(mac[0], 1);
  EXPECT_EQ(mac[7], 8);
  EXPECT_EQ(numberOf(last(), "offset"), 0) << "getters leave the place of the data to the server";
}

TEST_F(SysClient, a_truncating_getter_copies_at_most_the_callers_length) {
  struct Case {
    const char *plan;
    int result;
    int copied;
  };
  const std::string forty(40, 'T');
  const Case cases[] = {
      {"length=40", 16, 16}, {"length=10", 10, 10}, {"length=0", 0, 0}, {"length=-1", -1, 0}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.plan);
    reply(SYS_MSG_GET_TITLE, "data=" + forty + "\n" + c.plan);
    char title[32];
    memset(title, '.', sizeof title);
    EXPECT_EQ(GetTitle(title, 16), c.result);
    EXPECT_EQ(std::string(title, sizeof title),
              std::string(c.copied, 'T') + std::string(32 - c.copied, '.'));
  }
}

TEST_F(SysClient, reply_data_outside_the_segment_copies_nothing_and_fails) {
  char buf[16];
  memset(buf, '.', sizeof buf);
  const std::string outside = "offset=" + std::to_string(kSegmentEnd - 8) + "\n";
  reply(SYS_MSG_GET_TITLE, outside + "length=16");
  EXPECT_EQ(GetTitle(buf, 16), -1);
  reply(SYS_MSG_GET_MAC, outside + "length=16");
  EXPECT_EQ(GetMAC(buf, 16), -1);
  reply(SYS_MSG_GET_SMTP_SERVER_IP, "offset=-4\nlength=16");
  EXPECT_EQ(GetSmtpServerIp(buf, 16), -1);
  EXPECT_EQ(std::string(buf, sizeof buf), std::string(16, '.'));
}

TEST_F(SysClient, the_ip_getters_return_0_after_copying) {
  char ip[16];
  memset(ip, '.', sizeof ip);
  reply(SYS_MSG_GET_SMTP_SERVER_IP, "data=192.168.1.1");
  EXPECT_EQ(GetSmtpServerIp(ip, sizeof ip), 0);
  EXPECT_EQ(std::string(ip, 12), "192.168.1.1.") << "11 bytes copied, the rest untouched";

  reply(SYS_MSG_GET_FTP_SERVER_IP, "data=" + std::string(40, '9'));
  EXPECT_EQ(GetFtpServerIp(ip, sizeof ip), 0);
  EXPECT_EQ(std::string(ip, sizeof ip), std::string(16, '9'));
}

TEST_F(SysClient, login_succeeds_only_when_the_reply_length_matches) {
  char user[] = "admin:pw";
  EXPECT_EQ(DoSysLogin(user, 8), 0);
  EXPECT_EQ(last()["data"], "61646d696e3a7077");
  reply(SYS_MSG_DO_LOGIN, "length=3");
  EXPECT_EQ(DoSysLogin(user, 8), -1);
}

TEST_F(SysClient, authority_sends_the_user_and_reads_the_answer_back_into_the_same_buffer) {
  char buf[4] = {'u', 's', 'e', 'r'};
  reply(SYS_MSG_GET_USER_AUTHORITY, "hex=01000000");
  EXPECT_EQ(GetSysUserAuthority(buf, 4), 0);
  EXPECT_EQ(last()["data"], "75736572");
  EXPECT_EQ(memcmp(buf, "\x01\0\0\0", 4), 0);

  reply(SYS_MSG_GET_USER_AUTHORITY, "hex=0200");
  EXPECT_EQ(GetSysUserAuthority(buf, 4), -1);
  EXPECT_EQ(buf[0], 1) << "a short answer leaves the buffer alone";
}

TEST_F(SysClient, restart_is_one_way_from_src_0_with_the_callers_slot) {
  EXPECT_EQ(KVSetRestart(nullptr, 0), 0);
  ASSERT_TRUE(kvsim::Sandbox::waitUntil([&] { return !received().empty(); }, 5000ms));
  auto got = last();
  EXPECT_EQ(numberOf(got, "cmd"), SYS_MSG_KV_SET_RESTART);
  EXPECT_EQ(numberOf(got, "src"), 0);
  EXPECT_EQ(numberOf(got, "offset"), PROC_SLOT_OFFSET(kProc));
  EXPECT_EQ(SysWatchDog(), 0) << "no stray answer to the restart is waiting";
}

TEST(KVSetRestart, returns_at_once_when_the_queue_is_full) {
  kvsim::Sandbox board;  // no server: nothing drains the queue
  ASSERT_EQ(SysDrvInit(kProc), 0);
  int qid = Msg_Init(SYS_MSG_KEY);
  SYS_MSG_BUF filler{1, SYS_MSG_WATCHDOG, 0, 0, 0, 0};
  int sent = 0;
  while (Msg_SendFlags(qid, &filler, sizeof filler, IPC_NOWAIT) == 0 && sent < 1000000) ++sent;
  ASSERT_EQ(errno, EAGAIN) << "the queue should be full after " << sent;

  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(KVSetRestart(nullptr, 0), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
  SysDrvExit();
}

TEST_F(SysClient, the_quit_message_ends_the_server) {
  SendSysQuitCmd();
  EXPECT_EQ(kvsim::Sandbox::exitCode(board_.wait(server_, 5000ms)), 0);
  EXPECT_EQ(numberOf(last(), "cmd"), SYS_MSG_QUIT);
  EXPECT_EQ(numberOf(last(), "src"), 0);
}

TEST_F(SysClient, threads_of_one_process_never_mix_payloads_or_answers) {
  constexpr int kRounds = 100;
  auto worker = [](Wrapper setter, char fill, unsigned len, int *bad) {
    std::vector<char> payload(len, fill);
    for (int i = 0; i < kRounds; ++i)
      if (setter(payload.data(), len) != static_cast<int>(len)) ++*bad;
  };
  int bad_a = 0, bad_b = 0;
  std::thread a(worker, SetSysStr1X1, 'A', 8u, &bad_a);
  std::thread b(worker, SetSysStr1Y1, 'B', 12u, &bad_b);
  a.join();
  b.join();
  EXPECT_EQ(bad_a, 0);
  EXPECT_EQ(bad_b, 0);
  auto all = received();
  ASSERT_EQ(all.size(), 2u * kRounds);
  for (auto &r : all) {
    bool is_a = numberOf(r, "cmd") == SYS_MSG_SET_STR1X1;
    EXPECT_EQ(r["data"], is_a ? hexOf('A', 8) : hexOf('B', 12));
  }
}

}  // namespace
