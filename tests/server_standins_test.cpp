// SPDX-License-Identifier: MIT
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
#include "file_msg_drv.h"
#include "kv_msg_drv.h"
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

// The four stand-ins and one request each that asks for an answer. Every record starts
// with Des, cmd and src.
struct Server {
  const char *name;
  int key;
  int record_size;
  int request;
};
const Server kServers[] = {
    {"file_manager", FILE_MSG_KEY, sizeof(FILE_MSG_BUF), FILE_MSG_READ},
    {"system_server", SYS_MSG_KEY, sizeof(SYS_MSG_BUF), SYS_MSG_WATCHDOG},
    {"av_server.out", ORVEL_MSG_KEY, sizeof(MSG_BUF), MSG_CMD_WATCHDOG},
    {"kv_server", KV_MSG_KEY, sizeof(KV_MSG_BUF), KV_MSG_WATCHDOG},
};

struct RawRecord {
  int32_t words[MSG_UTIL_MAX_RECORD / 4];
};

void ask(const Server &s) {
  RawRecord rec{};
  rec.words[0] = 1;
  rec.words[1] = s.request;
  rec.words[2] = kProc;
  ASSERT_EQ(Msg_Send(Msg_Init(s.key), &rec, s.record_size), 0) << s.name;
}

bool answered(const Server &s) {
  RawRecord rec{};
  return Msg_RsvFlags(Msg_Init(s.key), kProc, &rec, s.record_size, IPC_NOWAIT) >= 0;
}

TEST(StandInServers, end_with_status_0_on_sigterm_and_sigint) {
  Sandbox board;
  for (const Server &s : kServers) {
    for (int sig : {SIGTERM, SIGINT}) {
      pid_t pid = board.startServer(s.name);
      board.signal(pid, sig);
      EXPECT_EQ(Sandbox::exitCode(board.wait(pid, 5000ms)), 0) << s.name << " signal " << sig;
    }
  }
}

TEST(StandInServers, end_at_once_with_the_status_of_the_exit_control) {
  Sandbox board;
  for (const Server &s : kServers) {
    pid_t pid = board.startServer(s.name);
    board.setControl(s.name, "exit", "4");
    EXPECT_EQ(Sandbox::exitCode(board.wait(pid, 5000ms)), 4) << s.name;
    board.clearControl(s.name, "exit");
  }
}

TEST(StandInServers, a_server_told_to_die_ends_with_that_status_unanswered) {
  Sandbox board;
  for (const Server &s : kServers) {
    pid_t pid = board.startServer(s.name);
    board.setControl(s.name, "die", "3");
    ask(s);
    EXPECT_EQ(Sandbox::exitCode(board.wait(pid, 5000ms)), 3) << s.name;
    EXPECT_FALSE(answered(s)) << s.name;
    board.clearControl(s.name, "die");
  }
}

TEST(StandInServers, a_hung_server_logs_the_request_and_answers_once_the_hang_is_lifted) {
  Sandbox board;
  for (const Server &s : kServers) {
    board.startServer(s.name);
    board.setControl(s.name, "hang", "");
    ask(s);
    ASSERT_TRUE(Sandbox::waitUntil([&] { return !board.serverLog(s.name).empty(); }, 5000ms))
        << s.name << " did not log the request";
    std::this_thread::sleep_for(200ms);
    EXPECT_FALSE(answered(s)) << s.name << ": a hung server must not answer";
    board.clearControl(s.name, "hang");
    EXPECT_TRUE(Sandbox::waitUntil([&] { return answered(s); }, 5000ms)) << s.name;
  }
}

TEST(StandInServers, a_reply_delay_holds_the_answer_back) {
  Sandbox board;
  for (const Server &s : kServers) {
    board.startServer(s.name);
    board.setControl(s.name, "reply", "delay_ms=300");
    auto asked = std::chrono::steady_clock::now();
    ask(s);
    ASSERT_TRUE(Sandbox::waitUntil([&] { return answered(s); }, 5000ms)) << s.name;
    EXPECT_GE(std::chrono::steady_clock::now() - asked, 300ms) << s.name;
  }
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
