// SPDX-License-Identifier: MIT
// In-process locks.
// ctest-labels: threaded
#include "sem_util.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

TEST(Sem, null_handles_are_reported_and_refused) {
  testing::internal::CaptureStderr();
  EXPECT_EQ(SemWait(nullptr), -1);
  EXPECT_EQ(SemRelease(nullptr), -1);
  EXPECT_EQ(DestroySem(nullptr), -1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Error: SemWait: Invalid Semaphore handler\n"
            "Error: SemRelease: Invalid Semaphore handler\n"
            "Error: DestroySem: Invalid Semaphore handler\n");
}

TEST(Sem, serialises_threads) {
  SemHandl_t lock = MakeSem();
  ASSERT_NE(lock, nullptr);
  long counter = 0;
  auto work = [&] {
    for (int i = 0; i < 10000; ++i) {
      SemWait(lock);
      ++counter;
      SemRelease(lock);
    }
  };
  std::thread a(work), b(work);
  a.join();
  b.join();
  EXPECT_EQ(counter, 20000);
  EXPECT_EQ(DestroySem(lock), 0);
}

TEST(Sem, destroy_waits_for_the_current_holder) {
  SemHandl_t lock = MakeSem();
  std::atomic<bool> holding{false}, released{false};
  std::thread holder([&] {
    SemWait(lock);
    holding = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    released = true;
    SemRelease(lock);
  });
  while (!holding) std::this_thread::yield();
  EXPECT_EQ(DestroySem(lock), 0);
  EXPECT_TRUE(released.load()) << "destroyed while another thread held it";
  holder.join();
}

}  // namespace
