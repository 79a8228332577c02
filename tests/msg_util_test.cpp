// SPDX-License-Identifier: MIT
// Message queues: the size arithmetic, the type word on 64-bit hosts, request/reply.
// ctest-labels: threaded
#include "msg_util.h"

#include <gtest/gtest.h>
#include <stdint.h>
#include <sys/ipc.h>
#include <sys/msg.h>
#include <sys/stat.h>

#include <thread>

#include "board_root.h"
#include "sandbox.h"

namespace {

struct Record24 {
  int32_t Des, cmd, src, shmid, length, offset;
};
static_assert(sizeof(Record24) == 24);

constexpr int kKey = 0x4B560010;

TEST(MsgInit, creates_with_mode_0666_and_reuses_an_existing_queue) {
  kvsim::Sandbox board;
  board.trackIpcKey(kKey);
  int qid = Msg_Init(kKey);
  ASSERT_GE(qid, 0);
  struct msqid_ds ds;
  ASSERT_EQ(msgctl(qid, IPC_STAT, &ds), 0);
  EXPECT_EQ(ds.msg_perm.mode & 0777, 0666);

  ds.msg_perm.mode = 0600;
  ASSERT_EQ(msgctl(qid, IPC_SET, &ds), 0);
  EXPECT_EQ(Msg_Init(kKey), qid);
  ASSERT_EQ(msgctl(qid, IPC_STAT, &ds), 0);
  EXPECT_EQ(ds.msg_perm.mode & 0777, 0600) << "opening must not change permissions";
}

TEST(MsgSend, hands_the_kernel_the_record_less_its_type_word) {
  kvsim::Sandbox board;
  board.trackIpcKey(kKey);
  int qid = Msg_Init(kKey);
  for (int size : {24, 32, 96}) {
    char rec[96] = {};
    int32_t type = 7;
    memcpy(rec, &type, 4);
    for (int i = 4; i < size; ++i) rec[i] = static_cast<char>(i);
    ASSERT_EQ(Msg_Send(qid, rec, size), 0);
    struct msqid_ds ds;
    ASSERT_EQ(msgctl(qid, IPC_STAT, &ds), 0);
    EXPECT_EQ(ds.__msg_cbytes, static_cast<unsigned long>(size - 4)) << size;

    char back[96] = {};
    ASSERT_EQ(Msg_Rsv(qid, 7, back, size), size - 4);
    EXPECT_EQ(memcmp(rec, back, static_cast<size_t>(size)), 0) << size;
  }
}

TEST(MsgSendRsv, each_thread_gets_the_reply_addressed_to_its_type) {
  kvsim::Sandbox board;
  board.trackIpcKey(kKey);
  int qid = Msg_Init(kKey);
  // A server that answers every request of type 1 to its `src`, echoing `cmd` * 10.
  std::thread server([qid] {
    for (int i = 0; i < 2 * 50; ++i) {
      Record24 r{};
      Msg_Rsv(qid, 1, &r, sizeof r);
      r.Des = r.src;
      r.length = r.cmd * 10;
      Msg_Send(qid, &r, sizeof r);
    }
  });
  auto client = [qid](int proc, int *bad) {
    for (int i = 0; i < 50; ++i) {
      Record24 r{1, proc * 1000 + i, proc, 0, 0, 0};
      Msg_Send_Rsv(qid, proc, &r, sizeof r);
      if (r.Des != proc || r.length != (proc * 1000 + i) * 10) ++*bad;
    }
  };
  int bad2 = 0, bad3 = 0;
  std::thread a(client, 2, &bad2), b(client, 3, &bad3);
  a.join();
  b.join();
  server.join();
  EXPECT_EQ(bad2, 0);
  EXPECT_EQ(bad3, 0);
}

TEST(MsgSendRsv, a_failed_send_is_returned_without_waiting_for_a_reply) {
  Record24 r{1, 0, 2, 0, 0, 0};
  EXPECT_EQ(Msg_Send_Rsv(-1, 2, &r, sizeof r), -1);
}

TEST(MsgUtil, oversized_records_are_refused) {
  kvsim::Sandbox board;
  board.trackIpcKey(kKey);
  int qid = Msg_Init(kKey);
  std::vector<char> big(MSG_UTIL_MAX_RECORD + 4, 0);
  big[0] = 1;
  EXPECT_EQ(Msg_Send(qid, big.data(), static_cast<int>(big.size())), -1);
  EXPECT_EQ(Msg_Send(qid, big.data(), 3), -1);
}

TEST(MsgRsv, a_message_longer_than_the_record_is_cut_and_taken_off_the_queue) {
  // A peer that answers with a longer record must not leave it in the queue, where it
  // would block the receiver's type for good.
  kvsim::Sandbox board;
  board.trackIpcKey(kKey);
  int qid = Msg_Init(kKey);
  char longer[96];
  for (int i = 0; i < 96; ++i) longer[i] = static_cast<char>(i);
  int32_t type = 7;
  memcpy(longer, &type, 4);
  ASSERT_EQ(Msg_Send(qid, longer, sizeof longer), 0);
  Record24 r{};
  EXPECT_EQ(Msg_RsvFlags(qid, 7, &r, sizeof r, IPC_NOWAIT), 20);
  EXPECT_EQ(memcmp(&r, longer, sizeof r), 0) << "the first 24 bytes";
  struct msqid_ds ds;
  ASSERT_EQ(msgctl(qid, IPC_STAT, &ds), 0);
  EXPECT_EQ(ds.msg_qnum, 0u);
}

TEST(MsgKill, removes_the_queue) {
  kvsim::Sandbox board;
  int qid = Msg_Init(kKey);
  EXPECT_EQ(Msg_Kill(qid), 0);
  EXPECT_LT(msgget(kv_ipc_key(kKey), 0), 0);
  EXPECT_EQ(Msg_Kill(qid), 0) << "always 0";
}

}  // namespace
