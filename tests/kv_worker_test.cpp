// SPDX-License-Identifier: MIT
// The programs' worker thread: started once with every signal blocked, stopped by its
// quit request, and cancelled out of a blocking call or left when it will not end.
// ctest-labels: threaded
#include "kv_worker.hpp"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>

namespace {

using namespace std::chrono_literals;

struct Seen {
  std::atomic<int> runs{0};
  std::atomic<int> unblocked{0};  // signals the body's thread could take
  kv::Worker *self = nullptr;
};

void *pollUntilQuit(void *arg) {
  auto *seen = static_cast<Seen *>(arg);
  sigset_t mask;
  pthread_sigmask(SIG_BLOCK, nullptr, &mask);
  for (int sig : {SIGINT, SIGTERM, SIGUSR1, SIGUSR2, SIGALRM, SIGCHLD})
    if (!sigismember(&mask, sig)) ++seen->unblocked;
  ++seen->runs;
  while (!seen->self->quitRequested()) usleep(1000);
  return nullptr;
}

TEST(Worker, runs_once_with_every_signal_blocked_until_its_quit_request) {
  sigset_t before, after;
  pthread_sigmask(SIG_BLOCK, nullptr, &before);
  kv::Worker worker;
  Seen seen;
  seen.self = &worker;
  ASSERT_TRUE(worker.start(pollUntilQuit, &seen));
  EXPECT_TRUE(worker.start(pollUntilQuit, &seen)) << "a second start while it runs";
  pthread_sigmask(SIG_BLOCK, nullptr, &after);
  EXPECT_EQ(sigismember(&after, SIGINT), sigismember(&before, SIGINT)) << "the caller's mask";
  EXPECT_TRUE(worker.running());
  worker.stop();
  EXPECT_FALSE(worker.running());
  EXPECT_EQ(seen.runs, 1);
  EXPECT_EQ(seen.unblocked, 0);
  // A new start clears the earlier quit request.
  ASSERT_TRUE(worker.start(pollUntilQuit, &seen));
  usleep(20000);
  EXPECT_EQ(seen.runs, 2);
  EXPECT_TRUE(worker.running()) << "still polling";
}

// The byte is static: a cancelled thread's frames keep their sanitizer poison.
void *blockInRead(void *arg) {
  static char byte;
  ssize_t n = read(*static_cast<int *>(arg), &byte, 1);  // a cancellation point
  (void)n;
  return nullptr;
}

void *refuseCancel(void *arg) {
  pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, nullptr);
  auto *release = static_cast<std::atomic<bool> *>(arg);
  while (!*release) usleep(1000);
  return nullptr;
}

TEST(Worker, cancel_ends_a_blocked_body_and_leaves_one_that_will_not_end) {
  int pipefd[2];
  ASSERT_EQ(pipe(pipefd), 0);
  kv::Worker blocked;
  ASSERT_TRUE(blocked.start(blockInRead, &pipefd[0]));
  EXPECT_TRUE(blocked.cancel(1000));
  EXPECT_FALSE(blocked.running());

  static std::atomic<bool> release{false};  // outlives the thread left behind
  kv::Worker stubborn;
  ASSERT_TRUE(stubborn.start(refuseCancel, &release));
  auto begin = std::chrono::steady_clock::now();
  EXPECT_FALSE(stubborn.cancel(200));
  EXPECT_LT(std::chrono::steady_clock::now() - begin, 2s);
  EXPECT_FALSE(stubborn.running()) << "left to end by itself";
  release = true;
  close(pipefd[0]);
  close(pipefd[1]);
}

}  // namespace
