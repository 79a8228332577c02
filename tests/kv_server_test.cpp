// SPDX-License-Identifier: MIT
// The kv_server stand-in as the recorder's programs meet it: the event bus client of
// this test process against the real stand-in process in a sandbox.
// ctest-labels: threaded
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "kv_msg_drv.h"
#include "sandbox.h"

namespace {

using namespace std::chrono_literals;
using kvsim::Sandbox;

class KvServer : public ::testing::Test {
 protected:
  void SetUp() override {
    server = board.startServer("kv_server");
    ASSERT_EQ(KVDrvInit(proc), 0);
  }
  void TearDown() override { KVDrvExit(); }

  std::vector<std::string> log() const { return board.serverLog("kv_server"); }
  bool waitForLog(size_t lines) const {
    return Sandbox::waitUntil([&] { return log().size() >= lines; }, 5000ms);
  }
  // One item line of the feed: tick tick2 axis1 axis2 axis3 reserved sensor4 battery.
  static std::string feedLine(int i) {
    return std::to_string(5000 + i * 250) + " 0 " + std::to_string(i) + " " + std::to_string(-i) +
           " 512 3 " + std::to_string(i * 10) + " 3800\n";
  }

  Sandbox board;
  pid_t server = -1;
  int proc = 16;
};

TEST_F(KvServer, answers_the_watchdog_and_logs_every_event_with_its_payload) {
  EXPECT_EQ(KVMSG_WatchDog(), 0);
  ASSERT_EQ(KVDrvInit(6), 0);  // kv_navlink
  EXPECT_EQ(KVMSG_CommandFromRear(20), 4);
  // The next payload reuses the slot: the server must have read this one first.
  ASSERT_TRUE(waitForLog(2));
  const char mac[] = "00:1a";
  EXPECT_EQ(KVMSG_SetDnsmasq_UserConnected(mac, 5), 0);
  ASSERT_TRUE(waitForLog(3));
  auto lines = log();
  EXPECT_EQ(lines[0], "id=300 src=16 length=0 offset=172032 payload=");
  EXPECT_EQ(lines[1], "id=420 src=0 length=4 offset=49152 payload=14000000");
  EXPECT_EQ(lines[2], "id=40 src=6 length=5 offset=49152 payload=30303a3161");
}

TEST_F(KvServer, serves_the_last_50_gsensor_items_oldest_first) {
  ASSERT_EQ(KVDrvInit(8), 0);
  struct Case {
    const char *name;
    int fed;
  } cases[] = {{"three items", 3}, {"sixty items", 60}, {"none", 0}};
  for (const Case &c : cases) {
    std::string feed = "# tick tick2 axis1 axis2 axis3 reserved sensor4 battery\n";
    for (int i = 0; i < c.fed; ++i) feed += feedLine(i);
    board.setControl("kv_server", "gsensor_items", feed);
    GSENSOR_ITEM items[50];
    ASSERT_EQ(KVMSG_GetPreviousGSensor(items, 2000), 0) << c.name;
    int kept = std::min(c.fed, 50), empty = 50 - kept;
    for (int k = 0; k < 50; ++k) {
      if (k < empty) {
        EXPECT_EQ(items[k].llTick, 0) << c.name << " item " << k << " is empty";
        continue;
      }
      int i = c.fed - kept + (k - empty);  // the feed line this item came from
      EXPECT_EQ(items[k].llTick, 5000 + i * 250) << c.name << " item " << k;
      EXPECT_EQ(items[k].nAxis1, i) << c.name << " item " << k;
      EXPECT_EQ(items[k].nAxis2, -i) << c.name << " item " << k;
      EXPECT_EQ(items[k].nAxis3, 512) << c.name << " item " << k;
      EXPECT_EQ(items[k].nReserved, 3) << c.name << " item " << k;
      EXPECT_EQ(items[k].nSensor4, i * 10) << c.name << " item " << k;
      EXPECT_EQ(items[k].nBattery, 3800) << c.name << " item " << k;
    }
  }
}

TEST_F(KvServer, a_wrong_length_answer_leaves_the_recorder_without_previous_data) {
  ASSERT_EQ(KVDrvInit(8), 0);
  board.setControl("kv_server", "gsensor_items", feedLine(1));
  std::vector<unsigned char> buf(2000, 0xAB);
  EXPECT_EQ(KVMSG_GetPreviousGSensor(buf.data(), 1000), -1) << "the server answers 2000";
  board.setControl("kv_server", "reply.280", "length=1000");
  EXPECT_EQ(KVMSG_GetPreviousGSensor(buf.data(), 2000), -1);
  EXPECT_EQ(buf, std::vector<unsigned char>(2000, 0xAB));
  board.setControl("kv_server", "reply.300", "length=5");
  EXPECT_EQ(KVMSG_WatchDog(), 5) << "the told length is the watchdog's result";
  board.clearControl("kv_server", "reply.280");
  EXPECT_EQ(KVMSG_GetPreviousGSensor(buf.data(), 2000), 0);
}

TEST_F(KvServer, a_hung_server_logs_the_request_and_answers_once_released) {
  board.setControl("kv_server", "hang", "");
  std::atomic<bool> answered{false};
  std::thread watchdog([&] {
    KVMSG_WatchDog();
    answered = true;
  });
  ASSERT_TRUE(waitForLog(1)) << "the request in hand is logged";
  std::this_thread::sleep_for(300ms);
  EXPECT_FALSE(answered);
  board.clearControl("kv_server", "hang");
  EXPECT_TRUE(Sandbox::waitUntil([&] { return answered.load(); }, 5000ms));
  watchdog.join();
  EXPECT_EQ(log().size(), 1u);
}

TEST_F(KvServer, a_slow_server_answers_late) {
  board.setControl("kv_server", "reply", "delay_ms=300");
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(KVMSG_WatchDog(), 0);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 300ms);
}

TEST_F(KvServer, exits_when_told_with_the_status_given) {
  board.setControl("kv_server", "exit", "3");
  int status = board.wait(server, 5000ms);
  ASSERT_NE(status, -1) << "still running";
  EXPECT_EQ(Sandbox::exitCode(status), 3);
}

TEST_F(KvServer, sigterm_ends_it_cleanly) {
  EXPECT_EQ(KVMSG_WatchDog(), 0);
  board.signal(server, SIGTERM);
  int status = board.wait(server, 5000ms);
  ASSERT_NE(status, -1) << "still running";
  EXPECT_EQ(Sandbox::exitCode(status), 0);
  EXPECT_EQ(board.stderrOf(server), "");
}

}  // namespace
