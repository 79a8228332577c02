// The stand-in servers as the supervisor's monitors will meet them: answering, hanging,
// dying and ending. Requests go over raw queue calls, so a test never blocks on a server
// that was told not to answer.
#include <errno.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ipc.h>
#include <sys/msg.h>
#include <sys/shm.h>

#include <chrono>
#include <thread>

#include "OrvelDrvMsg.h"
#include "board_root.h"
#include "msg_util.h"
#include "sandbox.h"
#include "server_log.h"
#include "share_mem.h"
#include "sys_msg_drv.h"

namespace {

using namespace std::chrono_literals;
using kvsim::Sandbox;

constexpr int kProc = 7;

bool answered(int qid, SYS_MSG_BUF &reply) {
  return Msg_RsvFlags(qid, kProc, &reply, sizeof reply, IPC_NOWAIT) >= 0;
}
bool answered(int qid, MSG_BUF &reply) {
  return Msg_RsvFlags(qid, kProc, &reply, sizeof reply, IPC_NOWAIT) >= 0;
}

TEST(StandInServers, end_with_status_0_on_sigterm_and_sigint) {
  Sandbox board;
  for (const char *name : {"system_server", "av_server.out"}) {
    for (int sig : {SIGTERM, SIGINT}) {
      pid_t pid = board.startServer(name);
      board.signal(pid, sig);
      EXPECT_EQ(Sandbox::exitCode(board.wait(pid, 5000ms)), 0) << name << " signal " << sig;
    }
  }
}

TEST(StandInServers, end_at_once_with_the_status_of_the_exit_control) {
  Sandbox board;
  for (const char *name : {"system_server", "av_server.out"}) {
    pid_t pid = board.startServer(name);
    board.setControl(name, "exit", "4");
    EXPECT_EQ(Sandbox::exitCode(board.wait(pid, 5000ms)), 4) << name;
  }
}

TEST(StandInServers, a_hung_system_server_answers_once_the_hang_is_lifted) {
  Sandbox board;
  board.startServer("system_server");
  board.setControl("system_server", "hang", "");
  int qid = Msg_Init(SYS_MSG_KEY);
  SYS_MSG_BUF request{1, SYS_MSG_WATCHDOG, kProc, 0, 0, 0}, reply{};
  ASSERT_EQ(Msg_Send(qid, &request, sizeof request), 0);
  ASSERT_TRUE(
      Sandbox::waitUntil([&] { return !board.serverLog("system_server").empty(); }, 5000ms));
  std::this_thread::sleep_for(200ms);
  EXPECT_FALSE(answered(qid, reply)) << "a hung server must not answer";

  board.clearControl("system_server", "hang");
  ASSERT_TRUE(Sandbox::waitUntil([&] { return answered(qid, reply); }, 5000ms));
  EXPECT_EQ(reply.Des, kProc);
  EXPECT_EQ(reply.cmd, SYS_MSG_WATCHDOG);
  EXPECT_EQ(reply.length, 0);
}

TEST(StandInServers, an_av_server_told_to_die_ends_with_that_status_unanswered) {
  Sandbox board;
  pid_t pid = board.startServer("av_server.out");
  board.setControl("av_server.out", "reply." + std::to_string(MSG_CMD_WATCHDOG), "die=3");
  int qid = Msg_Init(ORVEL_MSG_KEY);
  MSG_BUF request{}, reply{};
  request.Des = 1;
  request.cmd = MSG_CMD_WATCHDOG;
  request.Src = kProc;
  ASSERT_EQ(Msg_Send(qid, &request, sizeof request), 0);
  EXPECT_EQ(Sandbox::exitCode(board.wait(pid, 5000ms)), 3);
  EXPECT_FALSE(answered(qid, reply));
}

TEST(StandInServers, a_request_left_unanswered_does_not_stop_the_next) {
  Sandbox board;
  board.startServer("system_server");
  board.setControl("system_server", "reply." + std::to_string(SYS_MSG_WATCHDOG), "answer=0");
  int qid = Msg_Init(SYS_MSG_KEY);
  SYS_MSG_BUF watchdog{1, SYS_MSG_WATCHDOG, kProc, 0, 0, 0};
  SYS_MSG_BUF save{1, SYS_MSG_KV_SAVE_SETTING_TO_FILE, kProc, 0, 0, 0}, reply{};
  Msg_Send(qid, &watchdog, sizeof watchdog);
  Msg_Send(qid, &save, sizeof save);
  ASSERT_TRUE(Sandbox::waitUntil([&] { return answered(qid, reply); }, 5000ms));
  EXPECT_EQ(reply.cmd, SYS_MSG_KV_SAVE_SETTING_TO_FILE);
  EXPECT_EQ(kvsim::requestsTo(board, "system_server").size(), 2u);
  EXPECT_FALSE(answered(qid, reply));
}

TEST(StandInServers, the_system_server_makes_room_for_every_client_slot) {
  Sandbox board;
  board.startServer("system_server");
  struct shmid_ds ds;
  int shmid = shmget(kv_ipc_key(SYS_MSG_KEY), 0, 0);
  ASSERT_GE(shmid, 0);
  ASSERT_EQ(shmctl(shmid, IPC_STAT, &ds), 0);
  EXPECT_GE(ds.shm_segsz, static_cast<size_t>(PROC_SLOT_OFFSET(24)));
}

TEST(StandInServers, the_system_server_takes_a_segment_a_client_made_first) {
  Sandbox board;
  ASSERT_EQ(SysDrvInit(kProc), 0);  // the client creates the 0x1B000-byte segment
  board.startServer("system_server");
  char payload[4] = {'k', 'v', '0', '1'};
  EXPECT_EQ(SetSysRecordPeriod(payload, sizeof payload), 4);
  EXPECT_EQ(kvsim::requestsTo(board, "system_server").back()["data"], "6b763031");
  SysDrvExit();
}

}  // namespace
