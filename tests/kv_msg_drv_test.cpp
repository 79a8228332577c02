// SPDX-License-Identifier: MIT
// The event bus client against a server played by a thread of the test: set-up, the
// record each shape puts on the queue, the family of senders, bounds, full queues and
// threads sharing the bus.
// ctest-labels: threaded
#include "kv_msg_drv.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <string.h>
#include <sys/ipc.h>
#include <sys/msg.h>
#include <sys/shm.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "board_root.h"
#include "msg_util.h"
#include "sandbox.h"
#include "share_mem.h"

namespace {

using namespace std::chrono_literals;
using kvsim::Sandbox;

constexpr int kRecord = sizeof(KV_MSG_BUF);
constexpr int kStopServer = -4242;

struct Event {
  KV_MSG_BUF rec;
  std::vector<unsigned char> payload;  // the slot's bytes when the server read the message
};

// kv_server played by a thread: takes every type-1 message, notes it with its payload,
// and answers the blocking ones (src >= 2) with a reply shaped by `answer`. Like a real
// server it keeps the segment mapped; reading through a mapping of its own also keeps
// ThreadSanitizer, which cannot see the queue order writer and reader, from taking the
// slot for memory shared without a lock.
class FakeServer {
 public:
  using Answer = std::function<void(KV_MSG_BUF &reply)>;
  explicit FakeServer(Answer answer = {}) : answer_(std::move(answer)) {}
  ~FakeServer() {
    KV_MSG_BUF stop{1, kStopServer, 0, 0, 0, 0};
    Msg_Send(qid_, &stop, kRecord);
    thread_.join();
    if (segment_ != reinterpret_cast<void *>(-1)) shmdt(segment_);
  }
  std::vector<Event> events() {
    std::lock_guard<std::mutex> hold(mutex_);
    return events_;
  }
  bool waitForEvents(size_t n) {
    return Sandbox::waitUntil([&] { return events().size() >= n; }, 5000ms);
  }

 private:
  void run() {
    for (;;) {
      KV_MSG_BUF rec;
      if (Msg_Rsv(qid_, 1, &rec, kRecord) < 0) continue;
      if (rec.cmd == kStopServer) return;
      Event e{rec, {}};
      if (rec.length > 0 && rec.offset >= 0 &&
          static_cast<size_t>(rec.offset) + static_cast<size_t>(rec.length) <= segmentSize()) {
        auto *slot = static_cast<const unsigned char *>(segment_) + rec.offset;
        e.payload.assign(slot, slot + rec.length);
      }
      {
        std::lock_guard<std::mutex> hold(mutex_);
        events_.push_back(e);
      }
      if (rec.src < 2) continue;
      KV_MSG_BUF reply = rec;
      reply.Des = rec.src;
      reply.length = 0;
      if (answer_) answer_(reply);
      Msg_Send(qid_, &reply, kRecord);
    }
  }

  size_t segmentSize() const {
    struct shmid_ds ds;
    bool mapped = segment_ != reinterpret_cast<void *>(-1);
    return mapped && shmctl(shmid_, IPC_STAT, &ds) == 0 ? ds.shm_segsz : 0;
  }

  int qid_ = GetKVMsgId();
  int shmid_ = GetKVMemId();
  void *segment_ = shmat(shmid_, nullptr, SHM_RDONLY);
  Answer answer_;
  std::mutex mutex_;
  std::vector<Event> events_;
  std::thread thread_{[this] { run(); }};
};

// A bus in a fresh sandbox, joined as process `proc`.
class Bus : public ::testing::Test {
 protected:
  void join(int proc) {
    ASSERT_EQ(KVDrvInit(proc), 0);
    qid = GetKVMsgId();
    shmid = GetKVMemId();
  }
  void TearDown() override { KVDrvExit(); }

  // What the kernel holds in the bus queue: messages and bytes.
  std::pair<unsigned long, unsigned long> queued() const {
    struct msqid_ds ds;
    if (msgctl(qid, IPC_STAT, &ds) != 0) return {0, 0};
    return {ds.msg_qnum, ds.__msg_cbytes};
  }
  // Takes the next message addressed to kv_server, if there is one.
  bool take(KV_MSG_BUF &rec) const {
    return Msg_RsvFlags(qid, 1, &rec, kRecord, IPC_NOWAIT) == kRecord - 4;
  }
  // Answers the waiting request of `proc` as kv_server would.
  void reply(int proc, int length) const {
    KV_MSG_BUF r{proc, 0, proc, 0, length, 0};
    ASSERT_EQ(Msg_Send(qid, &r, kRecord), 0);
  }
  int slotInt(int proc) const {
    int v = 0;
    kv::segment_copy_out(shmid, PROC_SLOT_OFFSET(proc), &v, sizeof v);
    return v;
  }

  Sandbox board;
  int qid = -1, shmid = -1;
};

std::vector<unsigned char> bytes(const void *p, size_t n) {
  auto *b = static_cast<const unsigned char *>(p);
  return {b, b + n};
}

// ---- set-up -------------------------------------------------------------------------------

TEST_F(Bus, set_up_accepts_process_ids_1_to_23_only) {
  for (int bad : {0, 24, -1, 1000}) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(KVDrvInit(bad), -1) << bad;
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error:Invalid Parameter\n") << bad;
    EXPECT_EQ(GetKVProcId(), 1) << bad;
  }
  for (int good : {1, 23, 8}) {
    EXPECT_EQ(KVDrvInit(good), 0) << good;
    EXPECT_EQ(GetKVProcId(), good);
  }
}

TEST_F(Bus, set_up_opens_queue_and_segment_of_key_49601_and_exit_leaves_them) {
  join(6);
  EXPECT_EQ(qid, msgget(kv_ipc_key(49601), 0));
  EXPECT_EQ(shmid, shmget(kv_ipc_key(49601), 0, 0));
  struct shmid_ds ds;
  ASSERT_EQ(shmctl(shmid, IPC_STAT, &ds), 0);
  EXPECT_EQ(ds.shm_segsz, 0x1B000u);
  EXPECT_EQ(KVDrvExit(), 0);
  EXPECT_EQ(GetKVProcId(), 1);
  EXPECT_EQ(msgget(kv_ipc_key(49601), 0), qid) << "a client never removes the queue";
  EXPECT_EQ(shmget(kv_ipc_key(49601), 0, 0), shmid);
}

TEST_F(Bus, share_mem_helpers_copy_inside_the_segment_only) {
  int mid = KVShareMemInit(49609);
  board.trackIpcKey(49609);
  ASSERT_GE(mid, 0);
  char out[8] = "gpsdata", in[8] = {};
  EXPECT_EQ(KVShareMemWrite(mid, 4 * 0x3000, out, 8), 0);
  EXPECT_EQ(KVShareMemRead(mid, 4 * 0x3000, in, 8), 0);
  EXPECT_STREQ(in, "gpsdata");
  EXPECT_EQ(KVShareMemWrite(mid, 0x1B000 - 4, out, 8), -1);
  EXPECT_EQ(KVShareMemRead(mid, 0, nullptr, 8), -1);
}

// ---- what goes on the queue ------------------------------------------------------------------

TEST_F(Bus, command_from_rear_20_is_one_way_id_420_with_the_int_20_in_the_slot) {
  join(6);
  EXPECT_EQ(KVMSG_CommandFromRear(20), 4) << "returns at once with no server reading";
  EXPECT_EQ(queued(), std::make_pair(1ul, 20ul)) << "20 bytes handed to the kernel";
  KV_MSG_BUF rec;
  ASSERT_TRUE(take(rec));
  EXPECT_EQ(rec.Des, 1);
  EXPECT_EQ(rec.cmd, 420);
  EXPECT_EQ(rec.src, 0);
  EXPECT_EQ(rec.length, 4);
  EXPECT_EQ(rec.offset, 4 * 0x3000);
  EXPECT_EQ(slotInt(6), 20);
}

TEST_F(Bus, ids_0_and_1_send_their_slot_below_the_segment_and_no_payload) {
  join(6);
  struct Case {
    int id, offset;
  } cases[] = {{1, -12288}, {0, -24576}};
  for (const Case &c : cases) {
    SetKVProcId(c.id);
    EXPECT_EQ(KVMSG_UpdateOSD(), 0) << "id " << c.id;
    KV_MSG_BUF rec;
    ASSERT_TRUE(take(rec)) << "id " << c.id;
    EXPECT_EQ(rec.offset, c.offset) << "id " << c.id;
    EXPECT_EQ(KVMSG_CommandFromRear(20), -1) << "id " << c.id << ": a payload has no slot";
    EXPECT_EQ(queued().first, 0ul) << "id " << c.id;
  }
}

TEST_F(Bus, watchdog_asks_from_its_slot_and_returns_the_reply_length) {
  join(16);
  FakeServer server([](KV_MSG_BUF &r) { r.length = 7; });
  EXPECT_EQ(KVMSG_WatchDog(), 7);
  auto ev = server.events();
  ASSERT_EQ(ev.size(), 1u);
  const KV_MSG_BUF &rec = ev[0].rec;
  EXPECT_EQ(rec.cmd, KV_MSG_WATCHDOG);
  EXPECT_EQ(rec.src, 16);
  EXPECT_EQ(rec.shmid, 0);
  EXPECT_EQ(rec.length, 0);
  EXPECT_EQ(rec.offset, 14 * 0x3000) << "the slot is set even without payload";
}

TEST_F(Bus, quit_command_is_271_without_process_id_or_payload) {
  join(16);
  EXPECT_EQ(SendKVQuitCmd(), 0);
  EXPECT_EQ(queued().second, 20ul);
  KV_MSG_BUF rec;
  ASSERT_TRUE(take(rec));
  KV_MSG_BUF expected{1, 271, 0, 0, 0, 0};
  EXPECT_EQ(memcmp(&rec, &expected, sizeof rec), 0);
}

// Every member of the family, written out from the bus's own list (not from the code's
// table): the id, the mode, and the payload that must reach the slot. Blocking members
// return the reply's length (1000 + id here), one-way members the payload length, reply-data
// members -1 for a length other than the one asked for. Int arguments differ from member
// to member, so a member passing another's argument shows.
enum Mode { kOneWay, kBlocking, kReplyData };

struct Member {
  const char *name;
  std::function<int()> call;
  int id;
  Mode mode;
  std::vector<unsigned char> payload;
};

const unsigned char kOne[] = {1, 0, 0, 0};
const unsigned char kRecord104[104] = {'#', 'C', 'M', 'I', 'W', 'F'};
const char kMac[] = "00:11:22:33:44:55";
const char kStem[] = "/mnt/mmc/Recordings/20240101_120000_N_F.gsf";
unsigned char g_replyBuffer[2000];

std::vector<unsigned char> intBytes(int32_t v) { return bytes(&v, sizeof v); }

const std::vector<Member> &family() {
  static const std::vector<Member> all = {
      {"UpdateSyncGps", [] { return KVMSG_UpdateSyncGps(); }, 325, kOneWay, {}},
      {"UpdateSyncVoltage", [] { return KVMSG_UpdateSyncVoltage(); }, 324, kOneWay, {}},
      {"UpdateSyncWifiSSIDAndPwd",
       [] { return KVMSG_UpdateSyncWifiSSIDAndPwd(); },
       322,
       kOneWay,
       {}},
      {"UpdateSyncType", [] { return KVMSG_UpdateSyncType(); }, 321, kOneWay, {}},
      {"SyncDateTime", [] { return KVMSG_SyncDateTime(); }, 323, kOneWay, {}},
      {"UpdateInitData", [] { return KVMSG_UpdateInitData(); }, 320, kOneWay, {}},
      {"RemoteFormat", [] { return KVMSG_RemoteFormat(); }, 248, kOneWay, {}},
      {"UpdateOSD", [] { return KVMSG_UpdateOSD(); }, 301, kOneWay, {}},
      {"UpdateShutdownVoltageNonBlocking",
       [] { return KVMSG_UpdateShutdownVoltageNonBlocking(); },
       31,
       kOneWay,
       {}},
      {"UpdateParkVoltageNonBlocking",
       [] { return KVMSG_UpdateParkVoltageNonBlocking(); },
       30,
       kOneWay,
       {}},
      {"PowerStateNormal", [] { return KVMSG_PowerStateNormal(); }, 261, kOneWay, {}},
      {"PowerStatePark", [] { return KVMSG_PowerStatePark(); }, 260, kOneWay, {}},
      {"StopDataFileWrite", [] { return KVMSG_StopDataFileWrite(); }, 247, kOneWay, {}},
      {"TestNonBlocking", [] { return KVMSG_TestNonBlocking(); }, 22, kOneWay, {}},
      {"SetWiFiNonBlocking", [] { return KVMSG_SetWiFiNonBlocking(); }, 50, kOneWay, {}},
      {"EventRecordEnded", [] { return KVMSG_EventRecordEnded(); }, 232, kOneWay, {}},
      {"GSensorStopMove", [] { return KVMSG_GSensorStopMove(); }, 225, kOneWay, {}},
      {"GSensorStartMove", [] { return KVMSG_GSensorStartMove(); }, 224, kOneWay, {}},
      {"StopRecord", [] { return KVMSG_StopRecord(); }, 202, kOneWay, {}},
      {"ImpactEventRecord", [] { return KVMSG_ImpactEventRecord(); }, 204, kOneWay, {}},
      {"ParkingAlwaysRecord", [] { return KVMSG_ParkingAlwaysRecord(); }, 207, kBlocking, {}},
      {"ParkingMotionRecord", [] { return KVMSG_ParkingMotionRecord(); }, 206, kBlocking, {}},
      {"WatchDog", [] { return KVMSG_WatchDog(); }, 300, kBlocking, {}},
      {"AlwaysRecord", [] { return KVMSG_AlwaysRecord(); }, 203, kBlocking, {}},
      {"ManualEventRecord", [] { return KVMSG_ManualEventRecord(); }, 205, kBlocking, {}},
      {"SdcardSafeUnmount", [] { return KVMSG_SdcardSafeUnmount(); }, 274, kBlocking, {}},
      {"TemperatureWarning", [] { return KVMSG_TemperatureWarning(); }, 271, kBlocking, {}},
      {"BlackBoxTerminate", [] { return KVMSG_BlackBoxTerminate(); }, 270, kBlocking, {}},
      {"TestStopRecord", [] { return KVMSG_TestStopRecord(); }, 21, kBlocking, {}},
      {"MotionDisable", [] { return KVMSG_MotionDisable(); }, 20, kBlocking, {}},
      {"MotionEnable", [] { return KVMSG_MotionEnable(); }, 19, kBlocking, {}},
      {"GSensorSaveStop", [] { return KVMSG_GSensorSaveStop(); }, 17, kBlocking, {}},
      {"GSensorSaveStart", [] { return KVMSG_GSensorSaveStart(); }, 16, kBlocking, {}},
      {"FormatSdcardTest", [] { return KVMSG_FormatSdcardTest(); }, 14, kBlocking, {}},
      {"CheckSdcardTest", [] { return KVMSG_CheckSdcardTest(); }, 13, kBlocking, {}},
      {"FormatNotification", [] { return KVMSG_FormatNotification(); }, 243, kBlocking, {}},
      {"PrintState", [] { return KVMSG_PrintState(); }, 12, kBlocking, {}},
      {"ErrorSdcard", [] { return KVMSG_ErrorSdcard(); }, 241, kBlocking, {}},
      {"NoSdcard", [] { return KVMSG_NoSdcard(); }, 240, kBlocking, {}},
      {"StartRecord", [] { return KVMSG_StartRecord(); }, 200, kBlocking, {}},
      {"GPSSignalOnOff(11)", [] { return KVMSG_GPSSignalOnOff(11); }, 302, kOneWay, intBytes(11)},
      {"ButtonTripleClick(12)", [] { return KVMSG_ButtonTripleClick(12); }, 226, kOneWay,
       intBytes(12)},
      {"ButtonDblClick(13)", [] { return KVMSG_ButtonDblClick(13); }, 223, kOneWay, intBytes(13)},
      {"ButtonLongClick(14)", [] { return KVMSG_ButtonLongClick(14); }, 222, kOneWay, intBytes(14)},
      {"ButtonClick(15)", [] { return KVMSG_ButtonClick(15); }, 221, kOneWay, intBytes(15)},
      {"ShutdownVoltageTerminate(21)", [] { return KVMSG_ShutdownVoltageTerminate(21); }, 273,
       kBlocking, intBytes(21)},
      {"ParkTimerTerminate(22)", [] { return KVMSG_ParkTimerTerminate(22); }, 272, kBlocking,
       intBytes(22)},
      {"SetWiFi(23)", [] { return KVMSG_SetWiFi(23); }, 50, kBlocking, intBytes(23)},
      {"SetLED(24)", [] { return KVMSG_SetLED(24); }, 25, kBlocking, intBytes(24)},
      {"PlaySound(25)", [] { return KVMSG_PlaySound(25); }, 15, kBlocking, intBytes(25)},
      {"RestartRecord(26)", [] { return KVMSG_RestartRecord(26); }, 201, kBlocking, intBytes(26)},
      {"OrvelAviSaveEnded", [] { return KVMSG_OrvelAviSaveEnded(kStem, 3); }, 311, kBlocking,
       bytes(kStem, 3)},
      {"OrvelAviSaveStarted", [] { return KVMSG_OrvelAviSaveStarted(kStem, 4); }, 310, kBlocking,
       bytes(kStem, 4)},
      {"SystemServerStopped", [] { return KVMSG_SystemServerStopped(kStem, 5); }, 103, kBlocking,
       bytes(kStem, 5)},
      {"SystemServerStarted", [] { return KVMSG_SystemServerStarted(kStem, 6); }, 102, kBlocking,
       bytes(kStem, 6)},
      {"KV_ServerStopped", [] { return KVMSG_KV_ServerStopped(kStem, 7); }, 101, kBlocking,
       bytes(kStem, 7)},
      {"KV_ServerStarted", [] { return KVMSG_KV_ServerStarted(kStem, 8); }, 100, kBlocking,
       bytes(kStem, 8)},
      {"RecordStarted", [] { return KVMSG_RecordStarted(kStem, 9); }, 230, kBlocking,
       bytes(kStem, 9)},
      {"SetKVTest", [] { return SetKVTest(kStem, 12); }, 11, kBlocking, bytes(kStem, 12)},
      {"StartDataFileWrite", [] { return KVMSG_StartDataFileWrite(kStem, sizeof kStem); }, 246,
       kOneWay, bytes(kStem, sizeof kStem)},
      {"StartDataFileWriteEvent", [] { return KVMSG_StartDataFileWriteEvent(kStem, 20); }, 245,
       kOneWay, bytes(kStem, 20)},
      {"SetDnsmasq_UserConnected", [] { return KVMSG_SetDnsmasq_UserConnected(kMac, 17); }, 40,
       kBlocking, bytes(kMac, 17)},
      {"SendNonBlockingBufferMessage(998)",
       [] { return KVMSG_SendNonBlockingBufferMessage(998, kMac, 5); }, 998, kOneWay,
       bytes(kMac, 5)},
      {"SendNonBlockingBufferMessage(997, null)",
       [] { return KVMSG_SendNonBlockingBufferMessage(997, nullptr, 4); },
       997,
       kOneWay,
       {}},
      {"SendBufferMessage(999)", [] { return KVMSG_SendBufferMessage(999, kOne, 4); }, 999,
       kBlocking, bytes(kOne, 4)},
      {"CommandFromRear(20)", [] { return KVMSG_CommandFromRear(20); }, 420, kOneWay, intBytes(20)},
      {"CommandFromRearData(13)", [] { return KVMSG_CommandFromRearData(13, kRecord104, 104); },
       413, kOneWay, bytes(kRecord104, 104)},
      {"CommandFromRearDataDirect(12)",
       [] { return KVMSG_CommandFromRearDataDirect(12, kRecord104, 104); }, 412, kBlocking,
       bytes(kRecord104, 104)},
      // Reply data of a length the server does not answer with: -1, the request as sent.
      {"GetPreviousGSensor",
       [] { return KVMSG_GetPreviousGSensor(g_replyBuffer, 4); },
       280,
       kReplyData,
       {}},
      {"GetKVTest", [] { return GetKVTest(g_replyBuffer, 4); }, 10, kReplyData, {}},
  };
  return all;
}

TEST_F(Bus, every_member_of_the_family_sends_its_id_mode_and_payload) {
  EXPECT_EQ(family().size(), 70u) << "69 members, one of them with and without data";
  join(6);
  FakeServer server([](KV_MSG_BUF &r) { r.length = 1000 + r.cmd; });
  size_t n = 0;
  for (const Member &m : family()) {
    int expected = m.mode == kBlocking ? 1000 + m.id
                   : m.mode == kOneWay ? static_cast<int>(m.payload.size())
                                       : -1;
    EXPECT_EQ(m.call(), expected) << m.name;
    // One-way payloads share the slot with the next message: let the server read first.
    ASSERT_TRUE(server.waitForEvents(++n)) << m.name;
    Event e = server.events().back();
    EXPECT_EQ(e.rec.cmd, m.id) << m.name;
    EXPECT_EQ(e.rec.src, m.mode == kOneWay ? 0 : 6) << m.name;
    EXPECT_EQ(e.rec.length, static_cast<int>(m.payload.size())) << m.name;
    EXPECT_EQ(e.rec.offset, 4 * 0x3000) << m.name;
    EXPECT_EQ(e.payload, m.payload) << m.name;
  }
}

// ---- reply data ----------------------------------------------------------------------------

TEST_F(Bus, previous_gsensor_data_are_copied_only_when_the_reply_matches_and_fits) {
  join(8);
  std::vector<GSENSOR_ITEM> items(50);
  for (int i = 0; i < 50; ++i)
    items[static_cast<size_t>(i)] = {1000 + i, i, i, -i, 2 * i, 0, 7, 3900};
  const int slot = PROC_SLOT_OFFSET(8);
  ASSERT_EQ(kv::segment_copy_in(shmid, slot, items.data(), 2000), 0);
  struct Case {
    const char *name;
    int length, shmid, offset, result;
  } cases[] = {
      {"the 2000 bytes asked for", 2000, shmid, slot, 0},
      {"another length", 1999, shmid, slot, -1},
      {"a longer answer", 4000, shmid, slot, -1},
      {"an offset past the segment's end", 2000, shmid, 0x1B000 - 1000, -1},
      {"a negative offset", 2000, shmid, -40, -1},
      {"a segment that does not exist", 2000, -1, slot, -1},
  };
  for (const Case &c : cases) {
    FakeServer server([&](KV_MSG_BUF &r) {
      r.length = c.length;
      r.shmid = c.shmid;
      r.offset = c.offset;
    });
    std::vector<unsigned char> buf(2000, 0xAB);
    EXPECT_EQ(KVMSG_GetPreviousGSensor(buf.data(), 2000), c.result) << c.name;
    EXPECT_EQ(server.events().at(0).rec.cmd, 280) << c.name;
    if (c.result == 0)
      EXPECT_EQ(memcmp(buf.data(), items.data(), 2000), 0) << c.name;
    else
      EXPECT_EQ(buf, std::vector<unsigned char>(2000, 0xAB)) << c.name << ": buffer touched";
  }
}

// ---- bounds --------------------------------------------------------------------------------

TEST_F(Bus, a_payload_that_would_pass_its_slot_or_the_segment_is_neither_copied_nor_sent) {
  join(10);  // the last slot inside a 0x1B000-byte segment
  std::vector<char> big(0x3001, 'x');
  EXPECT_EQ(KVMSG_SendNonBlockingBufferMessage(500, big.data(), 0x3000), 0x3000)
      << "a whole slot fits";
  KV_MSG_BUF rec;
  ASSERT_TRUE(take(rec));
  EXPECT_EQ(KVMSG_SendNonBlockingBufferMessage(501, big.data(), 0x3001), -1);
  EXPECT_EQ(KVMSG_SendNonBlockingBufferMessage(502, big.data(), -1), -1);
  EXPECT_EQ(KVMSG_SendBufferMessage(503, big.data(), 0x3001), -1) << "does not wait for a reply";
  EXPECT_EQ(KVMSG_CommandFromRear(-1), -1);
  EXPECT_EQ(KVMSG_CommandFromRear(201), -1) << "past KV_MSG_CMD_FROM_REAR_END";
  EXPECT_EQ(queued().first, 0ul);
}

TEST_F(Bus, ids_whose_slot_lies_past_the_segment_send_no_payload) {
  // Process 11's slot begins where a 0x1B000-byte segment ends: a copy there would write
  // past the mapping.
  join(11);
  EXPECT_EQ(KVMSG_SetWiFi(1), -1);
  EXPECT_EQ(KVMSG_GPSSignalOnOff(1), -1);
  EXPECT_EQ(queued().first, 0ul);
  EXPECT_EQ(KVMSG_UpdateOSD(), 0) << "messages without payload still go";
  EXPECT_EQ(queued().first, 1ul);
}

TEST_F(Bus, a_larger_segment_made_by_the_server_carries_the_payload_of_high_ids) {
  // kv_server made the segment before the client came: big enough for process 16.
  int big = shmget(kv_ipc_key(49601), 16 * 0x3000, IPC_CREAT | 0660);
  ASSERT_GE(big, 0);
  join(16);
  EXPECT_EQ(shmid, big);
  EXPECT_EQ(KVMSG_GPSSignalOnOff(1), 4);
  EXPECT_EQ(slotInt(16), 1);
}

// ---- full queue, threads, a server that never answers -------------------------------------

TEST_F(Bus, one_way_messages_are_dropped_on_a_full_queue_while_blocking_ones_wait) {
  join(16);
  struct msqid_ds ds;
  ASSERT_EQ(msgctl(qid, IPC_STAT, &ds), 0);
  ds.msg_qbytes = 40;  // room for two messages
  ASSERT_EQ(msgctl(qid, IPC_SET, &ds), 0);
  EXPECT_EQ(KVMSG_UpdateOSD(), 0);
  EXPECT_EQ(KVMSG_StopRecord(), 0);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(KVMSG_UpdateSyncGps(), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s) << "a one-way message never waits";
  EXPECT_EQ(queued().first, 2ul) << "the third was dropped";

  std::atomic<int> result{-100};
  std::thread watchdog([&] { result = KVMSG_WatchDog(); });
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(result, -100) << "a blocking message waits for room";

  KV_MSG_BUF rec;
  ASSERT_TRUE(take(rec));
  EXPECT_EQ(rec.cmd, KV_MSG_UPDATE_OSD);
  ASSERT_TRUE(take(rec));
  EXPECT_EQ(rec.cmd, KV_MSG_STOP_RECORD);
  ASSERT_TRUE(Sandbox::waitUntil([&] { return take(rec); }, 5000ms));
  EXPECT_EQ(rec.cmd, KV_MSG_WATCHDOG) << "the dropped message is gone for good";
  reply(16, 3);
  watchdog.join();
  EXPECT_EQ(result, 3);
}

TEST_F(Bus, two_threads_of_one_process_each_get_their_own_reply) {
  join(6);
  FakeServer server([](KV_MSG_BUF &r) {
    std::this_thread::sleep_for(100us);  // let the other thread try to cut in
    r.length = 2 * r.cmd;
  });
  constexpr int kRounds = 100;
  auto client = [](int base, int *wrong) {
    for (int i = 0; i < kRounds; ++i) {
      int cmd = base + i;
      if (KVMSG_SendBufferMessage(cmd, &cmd, sizeof cmd) != 2 * cmd) ++*wrong;
    }
  };
  int wrong_a = 0, wrong_b = 0;
  std::thread a(client, 1000, &wrong_a), b(client, 2000, &wrong_b);
  a.join();
  b.join();
  EXPECT_EQ(wrong_a, 0);
  EXPECT_EQ(wrong_b, 0);
  // The slot write and the request are one step: each request found its own payload.
  auto ev = server.events();
  ASSERT_EQ(ev.size(), 2u * kRounds);
  for (const Event &e : ev) {
    int payload = 0;
    ASSERT_EQ(e.payload.size(), 4u);
    memcpy(&payload, e.payload.data(), 4);
    EXPECT_EQ(payload, e.rec.cmd);
  }
}

TEST_F(Bus, a_server_that_never_answers_blocks_only_the_calling_thread) {
  join(16);
  std::atomic<bool> returned{false};
  std::thread stuck([&] {
    KVMSG_WatchDog();
    returned = true;
  });

  // Another channel of the same program, served meanwhile.
  constexpr int kOtherKey = 14073;
  int other = Msg_Init(kOtherKey);
  ASSERT_GE(other, 0);
  std::thread system_server([other] {
    KV_MSG_BUF r;
    Msg_Rsv(other, 1, &r, kRecord);
    r.Des = r.src;
    r.length = 55;
    Msg_Send(other, &r, kRecord);
  });
  KV_MSG_BUF req{1, 123, 16, 0, 0, 0};
  EXPECT_EQ(Msg_Send_Rsv(other, 16, &req, kRecord), kRecord - 4);
  EXPECT_EQ(req.length, 55);
  system_server.join();
  EXPECT_FALSE(returned) << "the watchdog is still waiting for kv_server";

  KV_MSG_BUF rec;
  ASSERT_TRUE(Sandbox::waitUntil([&] { return take(rec); }, 5000ms));
  reply(16, 0);
  stuck.join();
  EXPECT_TRUE(returned);
}

void onSignal(int) {}

TEST_F(Bus, a_signal_does_not_end_the_wait_for_the_reply) {
  // Were the wait cut short, the late reply would stay queued and answer the next request.
  join(16);
  struct sigaction sa = {}, old = {};
  sa.sa_handler = onSignal;
  sigaction(SIGUSR1, &sa, &old);
  std::atomic<int> result{-100};
  std::thread waiting([&] { result = KVMSG_WatchDog(); });
  KV_MSG_BUF rec;
  ASSERT_TRUE(Sandbox::waitUntil([&] { return take(rec); }, 5000ms));
  pthread_kill(waiting.native_handle(), SIGUSR1);
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(result, -100);
  reply(16, 9);
  waiting.join();
  EXPECT_EQ(result, 9);
  sigaction(SIGUSR1, &old, nullptr);
}

}  // namespace
