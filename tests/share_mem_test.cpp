// SPDX-License-Identifier: MIT
// Shared segments: create or reuse, and copies bounded by the segment.
#include "share_mem.h"

#include <gtest/gtest.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include "board_root.h"
#include "sandbox.h"

namespace {

constexpr int kKey = 0x4B560020;

TEST(ShareMemInit, creates_a_segment_of_0x1B000_bytes_mode_0660) {
  kvsim::Sandbox board;
  board.trackIpcKey(kKey);
  int id = ShareMemInit(kKey);
  ASSERT_GE(id, 0);
  struct shmid_ds ds;
  ASSERT_EQ(shmctl(id, IPC_STAT, &ds), 0);
  EXPECT_EQ(ds.shm_segsz, 0x1B000u);
  EXPECT_EQ(ds.shm_perm.mode & 0777, 0660);
  EXPECT_EQ(pShareMemInit(kKey), id);
}

TEST(ShareMemInit, takes_an_existing_smaller_segment) {
  kvsim::Sandbox board;
  board.trackIpcKey(kKey);
  int small = shmget(kv_ipc_key(kKey), 4096, IPC_CREAT | 0660);
  ASSERT_GE(small, 0);
  EXPECT_EQ(ShareMemInit(kKey), small);
}

TEST(ShareMem, a_slot_written_is_read_back) {
  kvsim::Sandbox board;
  board.trackIpcKey(kKey);
  ShareMemInit(kKey);
  char out[16] = "slot of proc 5";
  ShareMemWrite(PROC_SLOT_OFFSET(5), out, sizeof out);
  char in[16] = {};
  ShareMemRead(PROC_SLOT_OFFSET(5), in, sizeof in);
  EXPECT_STREQ(in, out);
  EXPECT_EQ(PROC_SLOT_OFFSET(2), 0);
  EXPECT_EQ(PROC_SLOT_OFFSET(16), 14 * 0x3000);
}

TEST(ShareMem, copies_past_the_segment_end_or_negative_are_refused) {
  kvsim::Sandbox board;
  board.trackIpcKey(kKey);
  int small = shmget(kv_ipc_key(kKey), 4096, IPC_CREAT | 0660);
  ShareMemInit(kKey);
  char buf[64];
  memset(buf, 'x', sizeof buf);
  // Process 16's slot lies beyond a 4 KiB segment: nothing may be written anywhere.
  ShareMemWrite(PROC_SLOT_OFFSET(16), buf, sizeof buf);
  EXPECT_EQ(kv::segment_copy_in(small, 4096 - 10, buf, 64), -1);
  EXPECT_EQ(kv::segment_copy_out(small, -4, buf, 8), -1);
  EXPECT_EQ(kv::segment_copy_out(small, 0, buf, -1), -1);
  EXPECT_EQ(kv::segment_copy_in(small, 4096 - 64, buf, 64), 0);
  EXPECT_EQ(kv::segment_copy_out(small, 0, nullptr, 4), -1);
}

TEST(ShareMem, unknown_segment_copies_nothing) {
  char buf[8] = "abcdefg";
  EXPECT_EQ(kv::segment_copy_out(-1, 0, buf, 8), -1);
  EXPECT_STREQ(buf, "abcdefg");
}

}  // namespace
