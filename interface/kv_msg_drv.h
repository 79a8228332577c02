// SPDX-License-Identifier: MIT
/*
 * kv_msg_drv: the client side of the recorder's event bus.
 *
 * Programs report events to kv_server (the recorder's state machine) and ask it for data
 * through one System V queue and one shared segment, both of key 49601. Every message is
 * a KV_MSG_BUF whose first word is the message type: 1 addresses kv_server, a client's
 * process id (2..23) addresses the reply to that client. A payload travels in the
 * caller's 0x3000-byte slot of the segment (process id * 0x3000 - 0x6000).
 *
 * Senders come in four shapes:
 *  - blocking without payload: waits for kv_server's reply, returns the reply's `length`;
 *  - blocking with payload: the same, the payload first copied into the caller's slot;
 *  - blocking with reply data: copies the reply data into the caller's buffer, returns 0,
 *    or -1 (buffer untouched) when the reply's length is not the length asked for;
 *  - one-way: `src` 0, no reply read, never waits for room in the queue (a message that
 *    finds the queue full is dropped); returns the payload length sent.
 * All senders of a program share one lock: a blocking request holds it until its reply
 * arrives, so the program's other bus messages wait meanwhile.
 *
 * A payload that does not fit the caller's slot (negative, more than 0x3000 bytes, or
 * past the end of the segment, as for ids 11..23 with a 0x1B000-byte segment) is not
 * copied and not announced: the sender returns -1 without sending.
 */
#ifndef KV_MSG_DRV_H
#define KV_MSG_DRV_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Queue and segment key of the event bus. */
#define KV_MSG_KEY 49601

/* The record on the bus: 24 bytes, of which the 20 after `Des` reach the kernel. */
typedef struct KV_MSG_BUF {
  int32_t Des;    /* 1 to kv_server; the caller's process id in the reply */
  int32_t cmd;    /* a KV_MSG_* id */
  int32_t src;    /* the caller's process id; 0 in one-way messages */
  int32_t shmid;  /* reply: segment that holds the reply data */
  int32_t length; /* payload length; reply: the result, or the length of the reply data */
  int32_t offset; /* the caller's slot; reply: offset of the reply data in `shmid` */
} KV_MSG_BUF;

/* One G-sensor sample, 40 bytes. kv_server keeps its history in this layout and returns
 * its last 50 items (2000 bytes) for KV_MSG_GET_PREVIOUS_GSENSOR. */
typedef struct GSENSOR_ITEM {
  int64_t llTick;    /* monotonic milliseconds of the sample; 0: empty item */
  int64_t llTick2;   /* second time value, not used in computations */
  int32_t nAxis1;    /* second number of the sensor token */
  int32_t nAxis2;    /* third number of the sensor token */
  int32_t nAxis3;    /* first number of the sensor token */
  int32_t nReserved; /* 0 for own samples; copied through for kv_server's items */
  int32_t nSensor4;  /* fourth number of the sensor token */
  int32_t nBattery;  /* internal battery level in millivolts */
} GSENSOR_ITEM;

/* Items in kv_server's answer to KV_MSG_GET_PREVIOUS_GSENSOR, oldest first. */
#define KV_PREVIOUS_GSENSOR_ITEMS 50
#define KV_PREVIOUS_GSENSOR_LENGTH (KV_PREVIOUS_GSENSOR_ITEMS * 40)

/* The event vocabulary of the bus. */
enum {
  /* test, voltage, network and Wi-Fi */
  KV_MSG_GET_TEST = 10,
  KV_MSG_SET_TEST = 11,
  KV_MSG_PRINT_STATE = 12,
  KV_MSG_TEST_CHECKSD = 13,
  KV_MSG_TEST_FORAMTSD = 14,
  KV_MSG_TEST_PLAY_SOUND = 15,
  KV_MSG_TEST_GSENSOR_SAVE_START = 16,
  KV_MSG_TEST_GSENSOR_SAVE_STOP = 17,
  KV_MSG_TEST_FULL_POWER = 18,
  KV_MSG_TEST_MOTION_ENABLE = 19,
  KV_MSG_TEST_MOTION_DISABLE = 20,
  KV_MSG_TEST_STOP_RECORD = 21,
  KV_MSG_TEST_NONBLOCKING = 22,
  KV_MSG_TEST_WIFI_ON = 23,
  KV_MSG_TEST_WIFI_OFF = 24,
  KV_MSG_TEST_SET_LED = 25,
  KV_MSG_UPDATE_PARK_VOLTAGE = 30,
  KV_MSG_UPDATE_SHUTDOWN_VOLTAGE = 31,
  KV_MSG_DNSMASQ_USER_CONNECTED = 40,
  KV_MSG_NET_USER_DISCONNECTED = 41,
  KV_MSG_DNSMASQ_REAR_CONNECTED = 42,
  KV_MSG_SET_WIFI = 50,
  /* server life */
  KV_MSG_KV_SERVER_STARTED = 100,
  KV_MSG_KV_SERVER_STOPPED = 101,
  KV_MSG_SYSTEM_SERVER_STARTED = 102,
  KV_MSG_SYSTEM_SERVER_STOPPED = 103,
  /* recording, buttons, storage, power and termination */
  KV_MSG_START_RECORD = 200,
  KV_MSG_RESTART_RECORD = 201,
  KV_MSG_STOP_RECORD = 202,
  KV_MSG_ALWAYS_RECORD = 203,
  KV_MSG_IMPACT_EVENT_RECORD = 204,
  KV_MSG_MANUAL_EVENT_RECORD = 205,
  KV_MSG_PARKING_MOTION_RECORD = 206,
  KV_MSG_PARKING_ALWAYS_RECORD = 207,
  KV_MSG_BUTTON_DOWN = 220,
  KV_MSG_BUTTON_CLICK = 221,
  KV_MSG_BUTTON_LONG_CLICK = 222,
  KV_MSG_BUTTON_DBL_CLICK = 223,
  KV_MSG_GSENSOR_START_MOVE = 224,
  KV_MSG_GSENSOR_STOP_MOVE = 225,
  KV_MSG_BUTTON_TRIPLE_CLICK = 226,
  KV_MSG_NOTIFY_RECORD_STARTED = 230,
  KV_MSG_NOTIFY_RECORD_ENDED = 231,
  KV_MSG_NOTIFY_EVENT_RECORD_ENDED = 232,
  KV_MSG_NO_SDCARD = 240,
  KV_MSG_ERROR_SDCARD = 241,
  KV_MSG_STORAGE_FULL = 242,
  KV_MSG_FORMAT_NOTI = 243,
  KV_MSG_FORMAT_START = 244,
  KV_MSG_START_DATA_FILE_WRITE_EVENT = 245,
  KV_MSG_START_DATA_FILE_WRITE = 246,
  KV_MSG_STOP_DATA_FILE_WRITE = 247,
  KV_MSG_REMOTE_FORMAT = 248,
  KV_MSG_POWER_STATE_PARK = 260,
  KV_MSG_POWER_STATE_NORMAL = 261,
  KV_MSG_BLACKBOX_TERMINATE = 270,
  KV_MSG_TEMPERATURE_WARNING = 271,
  KV_MSG_PARK_TIMER_TERMINATE = 272,
  KV_MSG_SHUTDOWN_VOLTAGE_TERMINATE = 273,
  KV_MSG_SDCARD_SAFE_UNMOUNT = 274,
  KV_MSG_DC_CABLE_CONNECT = 275,
  KV_MSG_GET_PREVIOUS_GSENSOR = 280,
  KV_MSG_GET_PREVIOUS_GPS = 281,
  /* liveness, display, GPS, saver and synchronisation */
  KV_MSG_WATCHDOG = 300,
  KV_MSG_UPDATE_OSD = 301,
  KV_MSG_GPS_SIGNAL_ONOFF = 302,
  KV_MSG_CMD_FROM_REAR = 303,
  KV_MSG_CMD_FROM_REAR_DATA = 304,
  KV_MSG_ORVEL_AVI_SAVE_STARTED = 310,
  KV_MSG_ORVEL_AVI_SAVE_ENDED = 311,
  KV_MSG_SYNC_INIT_DATA = 320,
  KV_MSG_SYNC_TYPE = 321,
  KV_MSG_SYNC_WIFI_SSID_PWD = 322,
  KV_MSG_SYNC_DATETIME = 323,
  KV_MSG_SYNC_VOLTAGE = 324,
  KV_MSG_SYNC_GPS = 325,
  /* commands relayed from the other camera unit: 400 + the serial link's code */
  KV_MSG_CMD_FROM_REAR_START = 400,
  KV_MSG_SEND_TO_FRONT_SYSTEM_START = 401,
  KV_MSG_SEND_TO_FRONT_SYSTEM_END = 402,
  KV_MSG_SEND_TO_FRONT_PAUSE_RECORDING = 403,
  KV_MSG_SEND_TO_FRONT_RESUME_RECORDING = 404,
  KV_MSG_SEND_TO_FRONT_GPS_START = 405,
  KV_MSG_SEND_TO_FRONT_GPS_END = 406,
  KV_MSG_SEND_TO_FRONT_WIFI_START = 407,
  KV_MSG_SEND_TO_FRONT_WIFI_END = 408,
  KV_MSG_SEND_TO_FRONT_DDNS_START = 409,
  KV_MSG_SEND_TO_FRONT_DDNS_END = 410,
  KV_MSG_SEND_TO_FRONT_DATE_TIME = 411,
  KV_MSG_SEND_TO_FRONT_INIT_WIFI = 412,
  KV_MSG_SEND_TO_FRONT_INIT_VERSION = 413,
  KV_MSG_SEND_TO_FRONT_INIT_VALUE_DONE = 414,
  KV_MSG_SEND_TO_FRONT_VOICE_ON = 415,
  KV_MSG_SEND_TO_FRONT_VOICE_OFF = 416,
  KV_MSG_SEND_TO_FRONT_ALIVE = 420,
  KV_MSG_SEND_TO_FRONT_ALIVE_CONFIRM = 421,
  KV_MSG_SEND_TO_FRONT_AVI_SAVE_NOR_D = 470,
  KV_MSG_SEND_TO_FRONT_AVI_SAVE_EVT_I_D = 471,
  KV_MSG_SEND_TO_FRONT_AVI_SAVE_EVT_I_P = 472,
  KV_MSG_SEND_TO_FRONT_AVI_SAVE_EVT_M_D = 473,
  KV_MSG_SEND_TO_FRONT_AVI_SAVE_EVT_M_P = 474,
  KV_MSG_SEND_TO_FRONT_AVI_SAVE_MOT_P = 475,
  KV_MSG_SEND_TO_FRONT_AVI_SAVE_NOR_P = 476,
  KV_MSG_SEND_TO_FRONT_AVI_STOP = 479,
  KV_MSG_SEND_TO_FRONT_DRIVE_TO_PARK = 490,
  KV_MSG_SEND_TO_FRONT_PARK_TO_DRIVE = 491,
  KV_MSG_CMD_FROM_REAR_END = 600,
  KV_MSG_MAX = 601
};

/* ---- set-up and unit state ----------------------------------------------------------- */

/* Joins the bus as process `proc_id` (1..23): opens the segment and the queue of key
 * 49601 (creating them if needed) and makes the unit's lock. 0, or -1 with one line on
 * standard error; after a failure the process id is 1. */
int KVDrvInit(int proc_id);
/* Leaves the bus: process id 1, the lock destroyed. The queue and segment stay. 0. */
int KVDrvExit(void);

/* The unit's process id, queue id, segment id and audio id, set and read without any
 * other set-up. */
void SetKVProcId(int id);
int GetKVProcId(void);
void SetKVMsgId(int id);
int GetKVMsgId(void);
void SetKVMemId(int id);
int GetKVMemId(void);
void SetKVAudioId(int id);
int GetKVAudioId(void);

/* Creates (0x1B000 bytes, mode 0660) or opens the segment of `key`; its id or -1. */
int KVShareMemInit(int key);
/* Copy `length` bytes into / out of segment `mid` at `offset`. 0, or -1 when nothing was
 * copied (null buffer, failed attach, or a range outside the segment). */
int KVShareMemWrite(int mid, int offset, void *buf, int length);
int KVShareMemRead(int mid, int offset, void *buf, int length);

/* One blocking 20-byte send of `cmd` 271 with no process id, lock or payload (the quit
 * request of the servers' request/reply frame). The send's result. */
int SendKVQuitCmd(void);

/* ---- generic senders -------------------------------------------------------------------- */

int KVMSG_SendBufferMessage(int cmd, const void *data, int len);
int KVMSG_SendNonBlockingBufferMessage(int cmd, const void *data, int len);

/* ---- blocking requests with reply data ------------------------------------------------ */

/* The last 50 G-sensor items of kv_server into `data`; `len` must be the 2000 bytes the
 * server answers with, else -1 and `data` untouched. */
int KVMSG_GetPreviousGSensor(void *data, int len);
int GetKVTest(void *data, int len);

/* ---- blocking, with payload ------------------------------------------------------------- */

int SetKVTest(const void *data, int len);
int KVMSG_CommandFromRearDataDirect(int command, const void *data, int len);
int KVMSG_OrvelAviSaveEnded(const void *data, int len);
int KVMSG_OrvelAviSaveStarted(const void *data, int len);
int KVMSG_ShutdownVoltageTerminate(int bRemoteRequest);
int KVMSG_ParkTimerTerminate(int bRemoteRequest);
int KVMSG_SetDnsmasq_UserConnected(const char *strMacAddress, int len);
int KVMSG_SetWiFi(int bOn);
int KVMSG_SetLED(int value);
int KVMSG_PlaySound(int value);
int KVMSG_SystemServerStopped(const void *data, int len);
int KVMSG_SystemServerStarted(const void *data, int len);
int KVMSG_KV_ServerStopped(const void *data, int len);
int KVMSG_KV_ServerStarted(const void *data, int len);
int KVMSG_RecordStarted(const void *data, int len);
int KVMSG_RestartRecord(int nPlaySound);

/* ---- blocking, without payload ---------------------------------------------------------- */

int KVMSG_ParkingAlwaysRecord(void);
int KVMSG_ParkingMotionRecord(void);
/* The liveness request of the supervisor. */
int KVMSG_WatchDog(void);
int KVMSG_AlwaysRecord(void);
int KVMSG_ManualEventRecord(void);
int KVMSG_SdcardSafeUnmount(void);
int KVMSG_TemperatureWarning(void);
int KVMSG_BlackBoxTerminate(void);
int KVMSG_TestStopRecord(void);
int KVMSG_MotionDisable(void);
int KVMSG_MotionEnable(void);
int KVMSG_GSensorSaveStop(void);
int KVMSG_GSensorSaveStart(void);
int KVMSG_FormatSdcardTest(void);
int KVMSG_CheckSdcardTest(void);
int KVMSG_FormatNotification(void);
int KVMSG_PrintState(void);
int KVMSG_ErrorSdcard(void);
int KVMSG_NoSdcard(void);
int KVMSG_StartRecord(void);

/* ---- one-way, with payload -------------------------------------------------------------- */

/* A command received from the other camera unit: id 400 + `command`. */
int KVMSG_CommandFromRearData(int command, const void *data, int len);
int KVMSG_CommandFromRear(int command);
int KVMSG_GPSSignalOnOff(int bOn);
int KVMSG_StartDataFileWrite(const char *pFileName, int len);
int KVMSG_StartDataFileWriteEvent(const char *pFileName, int len);
int KVMSG_ButtonTripleClick(int value);
int KVMSG_ButtonDblClick(int value);
int KVMSG_ButtonLongClick(int value);
int KVMSG_ButtonClick(int value);

/* ---- one-way, without payload ----------------------------------------------------------- */

int KVMSG_ImpactEventRecord(void);
int KVMSG_UpdateSyncGps(void);
int KVMSG_UpdateSyncVoltage(void);
int KVMSG_UpdateSyncWifiSSIDAndPwd(void);
int KVMSG_UpdateSyncType(void);
int KVMSG_SyncDateTime(void);
int KVMSG_UpdateInitData(void);
int KVMSG_RemoteFormat(void);
/* The speed on the display changed (kv_server reads it from the settings record). */
int KVMSG_UpdateOSD(void);
int KVMSG_UpdateShutdownVoltageNonBlocking(void);
int KVMSG_UpdateParkVoltageNonBlocking(void);
int KVMSG_PowerStateNormal(void);
int KVMSG_PowerStatePark(void);
int KVMSG_StopDataFileWrite(void);
int KVMSG_TestNonBlocking(void);
int KVMSG_SetWiFiNonBlocking(void);
int KVMSG_EventRecordEnded(void);
int KVMSG_GSensorStopMove(void);
int KVMSG_GSensorStartMove(void);
int KVMSG_StopRecord(void);

#ifdef __cplusplus
}
#endif

#ifdef __cplusplus
#include <cstddef>
/* The layouts kv_server and the recorder's C programs read, byte for byte. */
static_assert(sizeof(KV_MSG_BUF) == 24, "KV_MSG_BUF is 24 bytes on the bus");
static_assert(offsetof(KV_MSG_BUF, Des) == 0, "KV_MSG_BUF.Des");
static_assert(offsetof(KV_MSG_BUF, cmd) == 4, "KV_MSG_BUF.cmd");
static_assert(offsetof(KV_MSG_BUF, src) == 8, "KV_MSG_BUF.src");
static_assert(offsetof(KV_MSG_BUF, shmid) == 12, "KV_MSG_BUF.shmid");
static_assert(offsetof(KV_MSG_BUF, length) == 16, "KV_MSG_BUF.length");
static_assert(offsetof(KV_MSG_BUF, offset) == 20, "KV_MSG_BUF.offset");

static_assert(sizeof(GSENSOR_ITEM) == 40, "GSENSOR_ITEM is 40 bytes");
static_assert(offsetof(GSENSOR_ITEM, llTick) == 0, "GSENSOR_ITEM.llTick");
static_assert(offsetof(GSENSOR_ITEM, llTick2) == 8, "GSENSOR_ITEM.llTick2");
static_assert(offsetof(GSENSOR_ITEM, nAxis1) == 16, "GSENSOR_ITEM.nAxis1");
static_assert(offsetof(GSENSOR_ITEM, nAxis2) == 20, "GSENSOR_ITEM.nAxis2");
static_assert(offsetof(GSENSOR_ITEM, nAxis3) == 24, "GSENSOR_ITEM.nAxis3");
static_assert(offsetof(GSENSOR_ITEM, nReserved) == 28, "GSENSOR_ITEM.nReserved");
static_assert(offsetof(GSENSOR_ITEM, nSensor4) == 32, "GSENSOR_ITEM.nSensor4");
static_assert(offsetof(GSENSOR_ITEM, nBattery) == 36, "GSENSOR_ITEM.nBattery");
static_assert(KV_PREVIOUS_GSENSOR_LENGTH == 2000, "the previous-data reply is 2000 bytes");
#endif

#endif
