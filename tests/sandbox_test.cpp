// SPDX-License-Identifier: MIT
// The simulated board's own promises that the other tests rely on.
#include "sandbox.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ipc.h>
#include <sys/msg.h>
#include <sys/shm.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>

#include "board_root.h"

#if defined(__SANITIZE_ADDRESS__)
// The sanitizer runtime's allocation hooks (GCC ships no header for them).
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*malloc_hook)(const volatile void *,
                                                                             size_t),
                                                         void (*free_hook)(const volatile void *));
#endif

namespace {

using namespace std::chrono_literals;
using kvsim::Sandbox;

// The sandbox signals a program's whole process group when it stops it; the group's
// number must still be the sandbox's own then, never one handed to an outside process.
TEST(SandboxProcesses, an_ended_program_keeps_its_number_until_the_sandbox_stops_its_group) {
  pid_t pid;
  {
    Sandbox board;
    pid = board.start({"sh", "-c", "exit 3"});
    int status = board.wait(pid, 5000ms);
    ASSERT_NE(status, -1);
    EXPECT_EQ(Sandbox::exitCode(status), 3);
    EXPECT_EQ(kill(pid, 0), 0) << "the number was given back while the sandbox still uses it";
    EXPECT_FALSE(board.running(pid));
    board.signal(pid, SIGTERM);
    EXPECT_EQ(Sandbox::exitCode(board.wait(pid)), 3);
  }
  errno = 0;
  EXPECT_EQ(waitpid(pid, nullptr, WNOHANG), -1) << "not collected when the sandbox ended";
  EXPECT_EQ(errno, ECHILD);
}

#if defined(__SANITIZE_ADDRESS__)
// Set in the child of every fork of this process, before it runs anything else.
volatile sig_atomic_t g_forked_child = 0;
void markForkedChild() { g_forked_child = 1; }
void endIfChildAllocates(const volatile void *, size_t) {
  if (g_forked_child) _exit(99);
}
void endIfChildFrees(const volatile void *) {
  if (g_forked_child) _exit(99);
}
#endif

// The tests have threads: a child that allocated (or took the environment's lock) between
// fork and exec could wait for good on a lock another thread held at the fork. Every
// allocation in such a child ends it with status 99 here.
TEST(SandboxProcesses, a_started_program_gets_its_environment_without_allocating_before_exec) {
#if !defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "needs AddressSanitizer's allocation hooks";
#else
  __sanitizer_install_malloc_and_free_hooks(endIfChildAllocates, endIfChildFrees);
  pthread_atfork(nullptr, nullptr, markForkedChild);
  Sandbox board;
  pid_t pid = board.start({"sh", "-c", "echo \"$KV_EXTRA $KV_SYSROOT\""}, {"KV_EXTRA=given"});
  int status = board.wait(pid, 5000ms);
  ASSERT_NE(status, -1);
  EXPECT_EQ(Sandbox::exitCode(status), 0) << "99: the child allocated between fork and exec";
  EXPECT_EQ(board.stdoutOf(pid), "given " + board.root() + "\n");
#endif
}

// Two boards one after the other in one test process: each must leave the environment as
// it found it, or the second would derive the first one's IPC keys.
TEST(SandboxEnvironment, a_scoped_variable_comes_back_as_it_was_set_or_unset) {
  setenv("KV_TEST_WAS_SET", "before", 1);
  unsetenv("KV_TEST_WAS_UNSET");
  {
    kvsim::ScopedEnv set("KV_TEST_WAS_SET", "during");
    kvsim::ScopedEnv unset("KV_TEST_WAS_UNSET", "during");
    EXPECT_STREQ(getenv("KV_TEST_WAS_SET"), "during");
    EXPECT_STREQ(getenv("KV_TEST_WAS_UNSET"), "during");
    set.unset();
  }
  EXPECT_STREQ(getenv("KV_TEST_WAS_SET"), "before");
  EXPECT_EQ(getenv("KV_TEST_WAS_UNSET"), nullptr);
  unsetenv("KV_TEST_WAS_SET");
}

// A test that aborts never runs its sandbox's destructor: the folder and the queues stay
// until a later sandbox finds that their process is gone.
TEST(SandboxLeftovers, an_aborted_tests_sandbox_goes_with_its_own_queues_and_nothing_else) {
  namespace fs = std::filesystem;
  Sandbox here;
  const std::string folder = here.path("/tmp");
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
#if defined(__SANITIZE_ADDRESS__)
    g_forked_child = 0;  // this child is the aborting test itself: it may allocate
#endif
    setenv("TMPDIR", folder.c_str(), 1);
    auto *left = new Sandbox("aborted");  // never destroyed, as in an abort
    left->trackIpcKey(4242);
    bool made = msgget(kv_ipc_key(kvsim::kSettingsKey), IPC_CREAT | 0600) >= 0 &&
                shmget(kv_ipc_key(4242), 4096, IPC_CREAT | 0600) >= 0;
    _exit(made ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
  std::string left;
  for (const auto &entry : fs::directory_iterator(folder)) left = entry.path().string();
  ASSERT_NE(left, "");
  const int queue = msgget(kv::ipc_key_for(left, kvsim::kSettingsKey), 0);
  const int segment = shmget(kv::ipc_key_for(left, 4242), 0, 0);
  ASSERT_GE(queue, 0);
  ASSERT_GE(segment, 0);
  // Beside it: a living sandbox, and a folder that is no sandbox.
  std::unique_ptr<Sandbox> alive;
  {
    kvsim::ScopedEnv tmpdir("TMPDIR", folder);
    alive = std::make_unique<Sandbox>("alive");
  }
  fs::create_directories(folder + "/stranger/sim");

  EXPECT_EQ(kvsim::removeLeftoverSandboxes(folder), 1);
  EXPECT_FALSE(fs::exists(left));
  struct msqid_ds queue_state;
  EXPECT_EQ(msgctl(queue, IPC_STAT, &queue_state), -1) << "the queue is gone";
  struct shmid_ds segment_state;
  EXPECT_EQ(shmctl(segment, IPC_STAT, &segment_state), -1) << "the segment is gone";
  EXPECT_TRUE(fs::exists(alive->root()));
  EXPECT_TRUE(fs::exists(folder + "/stranger"));
}

}  // namespace
