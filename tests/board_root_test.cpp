// SPDX-License-Identifier: MIT
// The board root: exact system paths and keys without a sysroot, rooted ones inside.
#include "board_root.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/ipc.h>
#include <sys/msg.h>

#include "msg_util.h"
#include "sandbox.h"

namespace {

using namespace std::chrono_literals;

class NoSysroot : public ::testing::Test {
 protected:
  void SetUp() override {
    const char *r = getenv("KV_SYSROOT");
    had_ = r != nullptr;
    if (r) saved_ = r;
    unsetenv("KV_SYSROOT");
  }
  void TearDown() override {
    if (had_) setenv("KV_SYSROOT", saved_.c_str(), 1);
  }
  bool had_ = false;
  std::string saved_;
};

TEST_F(NoSysroot, paths_and_keys_are_the_systems_own) {
  char out[256];
  ASSERT_EQ(kv_path("/sys/devices/platform/dm368_zt5/cd_status", out, sizeof out), 0);
  EXPECT_STREQ(out, "/sys/devices/platform/dm368_zt5/cd_status");
  EXPECT_EQ(kv::rooted("/mnt/mmc"), "/mnt/mmc");
  EXPECT_STREQ(kv_sysroot(), "");
  for (int key : {12930021, 14073, 49601, 74565, 49609}) EXPECT_EQ(kv_ipc_key(key), key) << key;
}

TEST(BoardRoot, paths_are_taken_below_the_sandbox) {
  kvsim::Sandbox board;
  char out[512];
  ASSERT_EQ(kv_path("/dev/ttyS1", out, sizeof out), 0);
  EXPECT_EQ(std::string(out), board.root() + "/dev/ttyS1");
  EXPECT_EQ(kv::rooted("/proc/mounts"), board.root() + "/proc/mounts");
}

TEST(BoardRoot, a_path_that_does_not_fit_is_refused_not_cut) {
  kvsim::Sandbox board;
  char out[8];
  EXPECT_EQ(kv_path("/sys/devices/platform/long", out, sizeof out), -1);
  EXPECT_STREQ(out, "");
}

TEST(BoardRoot, keys_differ_between_sandboxes_and_from_the_system) {
  int first, second;
  {
    kvsim::Sandbox a;
    first = kv_ipc_key(49601);
    EXPECT_EQ(first, kv_ipc_key(49601)) << "stable within one sandbox";
    EXPECT_NE(first, kv_ipc_key(14073));
  }
  {
    kvsim::Sandbox b;
    second = kv_ipc_key(49601);
  }
  EXPECT_NE(first, 49601);
  EXPECT_NE(first, second);
  EXPECT_GT(first, 0);
}

TEST(BoardRoot, clock_and_modules_act_on_sandbox_files) {
  kvsim::Sandbox board;
  struct timespec ts = {1700000000, 5};
  ASSERT_EQ(kv_set_clock(&ts), 0);
  EXPECT_EQ(board.read("/sim/clock"), "1700000000 5\n");

  ASSERT_EQ(kv_init_module(nullptr, 0, "", "dhd"), 0);
  EXPECT_TRUE(kvsim::contains(board.read("/proc/modules"), "dhd "));
  ASSERT_EQ(kv_delete_module("dhd", 0), 0);
  EXPECT_FALSE(kvsim::contains(board.read("/proc/modules"), "dhd"));
}

TEST(Sandbox, removes_its_queues_when_it_ends) {
  int key;
  {
    kvsim::Sandbox board;
    ASSERT_GE(Msg_Init(kvsim::kEventBusKey), 0);
    key = kv_ipc_key(kvsim::kEventBusKey);
  }
  EXPECT_LT(msgget(key, 0), 0);
}

TEST(Sandbox, stand_in_tools_log_and_answer_as_scripted) {
  kvsim::Sandbox board;
  board.scriptTool("fsck_msdos", {8, "checked", 0}, 2);
  EXPECT_EQ(WEXITSTATUS(kv_system("fsck_msdos -p /dev/mmcblk0p1 >/dev/null")), 0);
  EXPECT_EQ(WEXITSTATUS(kv_system("fsck_msdos -y /dev/mmcblk0p1 >/dev/null")), 8);
  auto calls = board.commandsOf("fsck_msdos");
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[1], "fsck_msdos -y /dev/mmcblk0p1");
}

TEST(Sandbox, ends_processes_it_started_even_when_they_hang) {
  pid_t pid;
  {
    kvsim::Sandbox board;
    board.scriptTool("aplay", {0, "", -1});
    pid = board.start({"/bin/sh", "-c", "aplay prompt.wav"});
    EXPECT_TRUE(
        kvsim::Sandbox::waitUntil([&] { return !board.commandsOf("aplay").empty(); }, 5000ms));
    EXPECT_TRUE(board.running(pid));
  }
  EXPECT_NE(kill(pid, 0), 0);
}

TEST(Sandbox, killall_signals_only_the_processes_of_its_own_sandbox) {
  kvsim::Sandbox outer;
  pid_t outside = outer.start({"/bin/sleep", "30"});
  {
    kvsim::Sandbox inner;
    pid_t inside = inner.start({"/bin/sleep", "30"});
    // Until it has run exec, the child is still a copy of this test program.
    auto execed = [](pid_t pid) {
      std::string cmdline;
      FILE *f = fopen(("/proc/" + std::to_string(pid) + "/cmdline").c_str(), "r");
      if (!f) return false;
      char buf[64] = {};
      size_t n = fread(buf, 1, sizeof buf - 1, f);
      fclose(f);
      return n > 0 && std::string(buf) == "/bin/sleep";
    };
    ASSERT_TRUE(
        kvsim::Sandbox::waitUntil([&] { return execed(inside) && execed(outside); }, 5000ms));
    EXPECT_EQ(WEXITSTATUS(kv_system("killall -9 sleep 2>/dev/null")), 0);
    int status = inner.wait(inside, 5000ms);
    ASSERT_NE(status, -1) << "the sandbox's own process was not signalled";
    EXPECT_EQ(kvsim::Sandbox::exitCode(status), 128 + SIGKILL);
    EXPECT_EQ(WEXITSTATUS(kv_system("killall -9 no_such_program 2>/dev/null")), 1);
  }
  EXPECT_TRUE(outer.running(outside)) << "killall reached another sandbox";
}

}  // namespace
