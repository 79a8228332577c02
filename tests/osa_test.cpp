// SPDX-License-Identifier: MIT
// The I2C tool's OS layer: the print lock every line goes through, and the texts its
// failures print.
// ctest-labels: threaded
#include "osa.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

using namespace std::chrono_literals;

TEST(OsaMutex, a_create_that_fails_says_so_on_standard_error) {
  testing::internal::CaptureStderr();
  EXPECT_EQ(OSA_mutexCreate(nullptr), OSA_EFAIL);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            " ERROR  (osa_mutex.c|OSA_mutexCreate|14): OSA_mutexCreate() = 22 \r\n");
}

TEST(OsaPrint, a_line_waits_while_another_thread_holds_the_print_lock) {
  ASSERT_EQ(OSA_init(), OSA_SOK);
  testing::internal::CaptureStdout();
  ASSERT_EQ(OSA_mutexLock(&gOSA_printfLock), OSA_SOK);
  std::atomic<bool> printed{false};
  std::thread printer([&] {
    OSA_printf(" I2C: 0x%02x = 0x%02x \n", 0x10, 0xAB);
    printed = true;
  });
  std::this_thread::sleep_for(100ms);
  EXPECT_FALSE(printed) << "printed past the lock";
  OSA_mutexUnlock(&gOSA_printfLock);
  printer.join();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), " I2C: 0x10 = 0xab \n");
}

TEST(OsaTime, a_sleep_lasts_at_least_as_long_as_asked_on_the_layer_clock) {
  uint32_t start = OSA_getCurTimeInMsec();
  EXPECT_EQ(OSA_waitMsecs(30), OSA_SOK);
  EXPECT_GE(OSA_getCurTimeInMsec() - start, 30u);
}

TEST(OsaHost, a_name_cut_to_the_buffer_is_still_terminated) {
  char name[2] = {'x', 'x'};
  OSA_getHostName(name, sizeof name);
  EXPECT_EQ(name[1], '\0');
  EXPECT_EQ(OSA_getHostName(nullptr, 8), OSA_EFAIL);
}

}  // namespace
