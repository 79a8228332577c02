// SPDX-License-Identifier: MIT
#include "kv_msg_drv.h"

#include <stdint.h>
#include <stdio.h>
#include <sys/ipc.h>
#include <sys/msg.h>

#include <atomic>

#include "msg_util.h"
#include "sem_util.h"
#include "share_mem.h"

namespace {

// The unit's state, one copy per program. Atomic because the accessors and the senders
// may be called from different threads of a program.
struct {
  std::atomic<int> gKVProcId{0};
  std::atomic<int> gKVMsgId{0};
  std::atomic<int> gKVMemId{0};
  std::atomic<int> gKVAudioId{0};
  std::atomic<SemHandl_t> hndlDrvSem{nullptr};
} g_kv;

constexpr int kRecordSize = sizeof(KV_MSG_BUF);  // the kernel is handed 20 bytes
constexpr int kFirstProcId = 1;
constexpr int kLastProcId = 23;
// Relayed commands of the other camera unit land between these two ids.
constexpr int kLastRearCode = KV_MSG_CMD_FROM_REAR_END - KV_MSG_CMD_FROM_REAR_START;

// Holds the unit's lock for one exchange: from the slot write to the reply (or to the
// one-way send). The slot and the reply's message type belong to the process, not to the
// thread, so two threads of a program must never overlap here.
class BusLock : public kv::SemHold {
 public:
  BusLock() : kv::SemHold(g_kv.hndlDrvSem.load()) {}
};

// The caller's slot in the bus segment, process id * 0x3000 - 0x6000, sent in every
// message: for the 1 left after a failed set-up (or the 0 before any) that is negative, so
// kv_server sees where such a message came from, and no copy accepts it: such a process
// sends no payload. Only an id set by hand beyond any segment (SetKVProcId) has a slot
// that 32 bits cannot hold; it is sent as -1, refused the same way.
int slot_offset(int proc_id) {
  int64_t offset = int64_t{proc_id} * PROC_MSG_SIZE - 2 * PROC_MSG_SIZE;
  return offset < INT32_MIN || offset > INT32_MAX ? -1 : static_cast<int>(offset);
}

KV_MSG_BUF make_record(int cmd, int src, int length) {
  KV_MSG_BUF rec{};
  rec.Des = MSG_TYPE_MSG1;
  rec.cmd = cmd;
  rec.src = src;
  rec.length = length;
  // Always set, payload or not: kv_server finds the caller's slot here.
  rec.offset = slot_offset(g_kv.gKVProcId.load());
  return rec;
}

// Puts the payload into the caller's slot. A payload that cannot be placed whole (longer
// than the slot, or past the end of the segment the server made) is not copied at all,
// and the caller must not announce it: kv_server would read another process's slot or
// stale bytes.
bool place_payload(int offset, const void *data, int len) {
  if (!data || len == 0) return true;
  if (len < 0 || len > PROC_MSG_SIZE) return false;
  return kv::segment_copy_in(g_kv.gKVMemId.load(), offset, data, len) == 0;
}

// Request and reply of one blocking exchange. A signal that interrupts the wait does not
// end it: the reply would otherwise stay in the queue and be taken as the answer to this
// process's next request. 0, or -1 when the kernel refused the send or the receive.
int exchange(KV_MSG_BUF &rec, int proc_id) {
  return kv::send_and_wait_reply(g_kv.gKVMsgId.load(), proc_id, &rec, kRecordSize);
}

// ---- the four shapes -----------------------------------------------------------------

// Blocking, with or without payload: the reply's `length`, or -1.
int send_blocking(int cmd, const void *data, int len) {
  int proc_id = g_kv.gKVProcId.load();
  KV_MSG_BUF rec = make_record(cmd, proc_id, data ? len : 0);
  BusLock lock;
  if (!place_payload(rec.offset, data, len)) return -1;
  if (exchange(rec, proc_id) < 0) return -1;
  return rec.length;
}

// Blocking with reply data: `len` bytes at the reply's shmid/offset into `data`, taken
// only when the server answers with exactly that length and the bytes lie inside its
// segment. 0, or -1 with `data` untouched.
int request_data(int cmd, void *data, int len) {
  int proc_id = g_kv.gKVProcId.load();
  KV_MSG_BUF rec = make_record(cmd, proc_id, 0);
  BusLock lock;  // held until after the copy: the data may lie in this process's slot
  if (exchange(rec, proc_id) < 0 || rec.length != len) return -1;
  if (!data || len == 0) return 0;
  return kv::segment_copy_out(rec.shmid, rec.offset, data, len) == 0 ? 0 : -1;
}

// One-way: src 0, no reply, and never a wait for room in the queue: a message that
// finds the queue full is dropped, so an event source never stalls behind a busy
// server. The payload length sent, or -1 when the payload could not be placed.
int send_one_way(int cmd, const void *data, int len) {
  KV_MSG_BUF rec = make_record(cmd, 0, data ? len : 0);
  BusLock lock;
  if (!place_payload(rec.offset, data, len)) return -1;
  Msg_SendFlags(g_kv.gKVMsgId.load(), &rec, kRecordSize, IPC_NOWAIT);
  return rec.length;
}

// ---- the family of senders -------------------------------------------------------------

enum class Shape { Blocking, OneWay, Reply };

// Every member with a fixed id: name, id, shape, and the argument that becomes the
// payload (None; Int: the argument as one 4-byte value; Buffer/Text: `len` bytes;
// Out: the caller's buffer for the reply data).
#define KV_SENDERS(X)                                                                     \
  X(KVMSG_ImpactEventRecord, KV_MSG_IMPACT_EVENT_RECORD, OneWay, None)                    \
  X(KVMSG_ParkingAlwaysRecord, KV_MSG_PARKING_ALWAYS_RECORD, Blocking, None)              \
  X(SetKVTest, KV_MSG_SET_TEST, Blocking, Buffer)                                         \
  X(KVMSG_GetPreviousGSensor, KV_MSG_GET_PREVIOUS_GSENSOR, Reply, Out)                    \
  X(GetKVTest, KV_MSG_GET_TEST, Reply, Out)                                               \
  X(KVMSG_GPSSignalOnOff, KV_MSG_GPS_SIGNAL_ONOFF, OneWay, Int)                           \
  X(KVMSG_StartDataFileWrite, KV_MSG_START_DATA_FILE_WRITE, OneWay, Text)                 \
  X(KVMSG_StartDataFileWriteEvent, KV_MSG_START_DATA_FILE_WRITE_EVENT, OneWay, Text)      \
  X(KVMSG_ButtonTripleClick, KV_MSG_BUTTON_TRIPLE_CLICK, OneWay, Int)                     \
  X(KVMSG_ButtonDblClick, KV_MSG_BUTTON_DBL_CLICK, OneWay, Int)                           \
  X(KVMSG_ButtonLongClick, KV_MSG_BUTTON_LONG_CLICK, OneWay, Int)                         \
  X(KVMSG_ButtonClick, KV_MSG_BUTTON_CLICK, OneWay, Int)                                  \
  X(KVMSG_OrvelAviSaveEnded, KV_MSG_ORVEL_AVI_SAVE_ENDED, Blocking, Buffer)               \
  X(KVMSG_OrvelAviSaveStarted, KV_MSG_ORVEL_AVI_SAVE_STARTED, Blocking, Buffer)           \
  X(KVMSG_ShutdownVoltageTerminate, KV_MSG_SHUTDOWN_VOLTAGE_TERMINATE, Blocking, Int)     \
  X(KVMSG_ParkTimerTerminate, KV_MSG_PARK_TIMER_TERMINATE, Blocking, Int)                 \
  X(KVMSG_SetDnsmasq_UserConnected, KV_MSG_DNSMASQ_USER_CONNECTED, Blocking, Text)        \
  X(KVMSG_SetWiFi, KV_MSG_SET_WIFI, Blocking, Int)                                        \
  X(KVMSG_SetLED, KV_MSG_TEST_SET_LED, Blocking, Int)                                     \
  X(KVMSG_PlaySound, KV_MSG_TEST_PLAY_SOUND, Blocking, Int)                               \
  X(KVMSG_SystemServerStopped, KV_MSG_SYSTEM_SERVER_STOPPED, Blocking, Buffer)            \
  X(KVMSG_SystemServerStarted, KV_MSG_SYSTEM_SERVER_STARTED, Blocking, Buffer)            \
  X(KVMSG_KV_ServerStopped, KV_MSG_KV_SERVER_STOPPED, Blocking, Buffer)                   \
  X(KVMSG_KV_ServerStarted, KV_MSG_KV_SERVER_STARTED, Blocking, Buffer)                   \
  X(KVMSG_RecordStarted, KV_MSG_NOTIFY_RECORD_STARTED, Blocking, Buffer)                  \
  X(KVMSG_RestartRecord, KV_MSG_RESTART_RECORD, Blocking, Int)                            \
  X(KVMSG_UpdateSyncGps, KV_MSG_SYNC_GPS, OneWay, None)                                   \
  X(KVMSG_UpdateSyncVoltage, KV_MSG_SYNC_VOLTAGE, OneWay, None)                           \
  X(KVMSG_UpdateSyncWifiSSIDAndPwd, KV_MSG_SYNC_WIFI_SSID_PWD, OneWay, None)              \
  X(KVMSG_UpdateSyncType, KV_MSG_SYNC_TYPE, OneWay, None)                                 \
  X(KVMSG_SyncDateTime, KV_MSG_SYNC_DATETIME, OneWay, None)                               \
  X(KVMSG_UpdateInitData, KV_MSG_SYNC_INIT_DATA, OneWay, None)                            \
  X(KVMSG_RemoteFormat, KV_MSG_REMOTE_FORMAT, OneWay, None)                               \
  X(KVMSG_UpdateOSD, KV_MSG_UPDATE_OSD, OneWay, None)                                     \
  X(KVMSG_UpdateShutdownVoltageNonBlocking, KV_MSG_UPDATE_SHUTDOWN_VOLTAGE, OneWay, None) \
  X(KVMSG_UpdateParkVoltageNonBlocking, KV_MSG_UPDATE_PARK_VOLTAGE, OneWay, None)         \
  X(KVMSG_PowerStateNormal, KV_MSG_POWER_STATE_NORMAL, OneWay, None)                      \
  X(KVMSG_PowerStatePark, KV_MSG_POWER_STATE_PARK, OneWay, None)                          \
  X(KVMSG_StopDataFileWrite, KV_MSG_STOP_DATA_FILE_WRITE, OneWay, None)                   \
  X(KVMSG_TestNonBlocking, KV_MSG_TEST_NONBLOCKING, OneWay, None)                         \
  X(KVMSG_SetWiFiNonBlocking, KV_MSG_SET_WIFI, OneWay, None)                              \
  X(KVMSG_EventRecordEnded, KV_MSG_NOTIFY_EVENT_RECORD_ENDED, OneWay, None)               \
  X(KVMSG_GSensorStopMove, KV_MSG_GSENSOR_STOP_MOVE, OneWay, None)                        \
  X(KVMSG_GSensorStartMove, KV_MSG_GSENSOR_START_MOVE, OneWay, None)                      \
  X(KVMSG_StopRecord, KV_MSG_STOP_RECORD, OneWay, None)                                   \
  X(KVMSG_ParkingMotionRecord, KV_MSG_PARKING_MOTION_RECORD, Blocking, None)              \
  X(KVMSG_WatchDog, KV_MSG_WATCHDOG, Blocking, None)                                      \
  X(KVMSG_AlwaysRecord, KV_MSG_ALWAYS_RECORD, Blocking, None)                             \
  X(KVMSG_ManualEventRecord, KV_MSG_MANUAL_EVENT_RECORD, Blocking, None)                  \
  X(KVMSG_SdcardSafeUnmount, KV_MSG_SDCARD_SAFE_UNMOUNT, Blocking, None)                  \
  X(KVMSG_TemperatureWarning, KV_MSG_TEMPERATURE_WARNING, Blocking, None)                 \
  X(KVMSG_BlackBoxTerminate, KV_MSG_BLACKBOX_TERMINATE, Blocking, None)                   \
  X(KVMSG_TestStopRecord, KV_MSG_TEST_STOP_RECORD, Blocking, None)                        \
  X(KVMSG_MotionDisable, KV_MSG_TEST_MOTION_DISABLE, Blocking, None)                      \
  X(KVMSG_MotionEnable, KV_MSG_TEST_MOTION_ENABLE, Blocking, None)                        \
  X(KVMSG_GSensorSaveStop, KV_MSG_TEST_GSENSOR_SAVE_STOP, Blocking, None)                 \
  X(KVMSG_GSensorSaveStart, KV_MSG_TEST_GSENSOR_SAVE_START, Blocking, None)               \
  X(KVMSG_FormatSdcardTest, KV_MSG_TEST_FORAMTSD, Blocking, None)                         \
  X(KVMSG_CheckSdcardTest, KV_MSG_TEST_CHECKSD, Blocking, None)                           \
  X(KVMSG_FormatNotification, KV_MSG_FORMAT_NOTI, Blocking, None)                         \
  X(KVMSG_PrintState, KV_MSG_PRINT_STATE, Blocking, None)                                 \
  X(KVMSG_ErrorSdcard, KV_MSG_ERROR_SDCARD, Blocking, None)                               \
  X(KVMSG_NoSdcard, KV_MSG_NO_SDCARD, Blocking, None)                                     \
  X(KVMSG_StartRecord, KV_MSG_START_RECORD, Blocking, None)

enum class Arg { None, Int, Buffer, Text, Out };

struct Sender {
  int id;
  Shape shape;
  Arg arg;
};

#define KV_SENDER_ENTRY(fn, id, shape, arg) Sender{id, Shape::shape, Arg::arg},
constexpr Sender kSenders[] = {KV_SENDERS(KV_SENDER_ENTRY)};
#undef KV_SENDER_ENTRY

#define KV_SENDER_INDEX(fn, id, shape, arg) k_##fn,
enum SenderIndex { KV_SENDERS(KV_SENDER_INDEX) kSenderCount };
#undef KV_SENDER_INDEX

// The table is checked when it is compiled: every id is one of the bus, and exactly the
// members that take an output buffer ask for reply data.
constexpr bool table_is_sound() {
  for (const Sender &s : kSenders) {
    if (s.id <= 0 || s.id >= KV_MSG_MAX) return false;
    if ((s.shape == Shape::Reply) != (s.arg == Arg::Out)) return false;
  }
  return true;
}
static_assert(sizeof kSenders / sizeof kSenders[0] == kSenderCount, "one entry per member");
static_assert(table_is_sound(), "ids of the bus; reply data only into an output buffer");

// The one body of every fixed member that sends (a payload or none).
int send_member(SenderIndex index, const void *data, int len) {
  const Sender &s = kSenders[index];
  return s.shape == Shape::OneWay ? send_one_way(s.id, data, len) : send_blocking(s.id, data, len);
}

// The one body of every fixed member that asks for reply data.
int request_member(SenderIndex index, void *data, int len) {
  return request_data(kSenders[index].id, data, len);
}

// 400 + the code of a command relayed from the other camera unit, or -1 for a code
// outside the relayed range.
int rear_id(int command) {
  return command < 0 || command > kLastRearCode ? -1 : KV_MSG_CMD_FROM_REAR_START + command;
}

int fail(const char *message) {
  fputs(message, stderr);
  g_kv.gKVProcId = 1;
  return -1;
}

}  // namespace

extern "C" {

// ---- set-up and unit state -------------------------------------------------------------

int KVDrvInit(int proc_id) {
  if (proc_id < kFirstProcId || proc_id > kLastProcId) return fail("Error:Invalid Parameter\n");
  g_kv.gKVProcId = proc_id;
  g_kv.gKVMemId = KVShareMemInit(KV_MSG_KEY);
  if (g_kv.gKVMemId < 0) return fail("Error:Share Memory init fail\n");
  if (!g_kv.hndlDrvSem.load()) {
    g_kv.hndlDrvSem = MakeSem();
    if (!g_kv.hndlDrvSem.load()) return fail("Error:No more memory to create semaphore\n");
  }
  g_kv.gKVMsgId = Msg_Init(KV_MSG_KEY);
  if (g_kv.gKVMsgId < 0) {
    DestroySem(g_kv.hndlDrvSem.exchange(nullptr));
    return fail("Error:Msg_Init fail\n");
  }
  return 0;
}

int KVDrvExit(void) {
  g_kv.gKVProcId = 1;
  if (SemHandl_t lock = g_kv.hndlDrvSem.exchange(nullptr)) DestroySem(lock);
  return 0;
}

void SetKVProcId(int id) { g_kv.gKVProcId = id; }
int GetKVProcId(void) { return g_kv.gKVProcId; }
void SetKVMsgId(int id) { g_kv.gKVMsgId = id; }
int GetKVMsgId(void) { return g_kv.gKVMsgId; }
void SetKVMemId(int id) { g_kv.gKVMemId = id; }
int GetKVMemId(void) { return g_kv.gKVMemId; }
void SetKVAudioId(int id) { g_kv.gKVAudioId = id; }
int GetKVAudioId(void) { return g_kv.gKVAudioId; }

int KVShareMemInit(int key) { return pShareMemInit(key); }

int KVShareMemWrite(int mid, int offset, void *buf, int length) {
  return kv::segment_copy_in(mid, offset, buf, length);
}

int KVShareMemRead(int mid, int offset, void *buf, int length) {
  return kv::segment_copy_out(mid, offset, buf, length);
}

int SendKVQuitCmd(void) {
  KV_MSG_BUF rec{};
  rec.Des = MSG_TYPE_MSG1;
  rec.cmd = KV_MSG_TEMPERATURE_WARNING;  // 271: the servers' quit id
  return Msg_Send(g_kv.gKVMsgId.load(), &rec, kRecordSize);
}

// ---- senders with an id of the caller's -------------------------------------------------

int KVMSG_SendBufferMessage(int cmd, const void *data, int len) {
  return send_blocking(cmd, data, len);
}

int KVMSG_SendNonBlockingBufferMessage(int cmd, const void *data, int len) {
  return send_one_way(cmd, data, len);
}

int KVMSG_CommandFromRearData(int command, const void *data, int len) {
  int id = rear_id(command);
  return id < 0 ? -1 : send_one_way(id, data, len);
}

int KVMSG_CommandFromRear(int command) {
  int id = rear_id(command);
  return id < 0 ? -1 : send_one_way(id, &command, sizeof command);
}

int KVMSG_CommandFromRearDataDirect(int command, const void *data, int len) {
  int id = rear_id(command);
  return id < 0 ? -1 : send_blocking(id, data, len);
}

// ---- the fixed members: one line each, from the table -----------------------------------

#define KV_ARG_None(fn) \
  int fn(void) { return send_member(k_##fn, nullptr, 0); }
#define KV_ARG_Int(fn) \
  int fn(int value) { return send_member(k_##fn, &value, sizeof value); }
#define KV_ARG_Buffer(fn) \
  int fn(const void *data, int len) { return send_member(k_##fn, data, len); }
#define KV_ARG_Text(fn) \
  int fn(const char *text, int len) { return send_member(k_##fn, text, len); }
#define KV_ARG_Out(fn) \
  int fn(void *data, int len) { return request_member(k_##fn, data, len); }
#define KV_SENDER_FUNCTION(fn, id, shape, arg) KV_ARG_##arg(fn)

KV_SENDERS(KV_SENDER_FUNCTION)

}  // extern "C"
