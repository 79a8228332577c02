// SPDX-License-Identifier: MIT
/*
 * kv_gps_msg_drv: the client side of kv_navlink's own message channel.
 *
 * kv_server (and any program that must start or stop a GPS track, or relay a command to
 * the other camera unit) reaches kv_navlink through one System V queue and one shared
 * segment, both of key 49609. The record is the event bus's KV_MSG_BUF: `Des` 1 addresses
 * kv_navlink, the payload travels in the sender's 0x3000-byte slot of the segment
 * (process id * 0x3000 - 0x6000), and every sender here is one-way (`src` 0, no reply; a
 * message that finds the queue full is dropped and nothing reports it).
 *
 * The segment is 0x1B000 bytes, so only process ids 2 to 10 own a whole slot inside it. A
 * sender with another id (11 to 23 pass the set-up) cannot place a payload: the senders
 * that carry one refuse with -1 and send nothing, so kv_navlink never reads another
 * process's slot or bytes beyond the segment.
 *
 * kv_navlink itself links this unit only for its id accessors: it opens the queue and the
 * segment as their server and stores the ids with SetKVGpsMsgId / SetKVGpsMemId.
 */
#ifndef KV_GPS_MSG_DRV_H
#define KV_GPS_MSG_DRV_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Queue and segment key of the GPS channel (0xC1C9). */
#define KV_GPS_MSG_KEY 49609

/* Ids of the channel. Ids 1 to 199 are the serial link's SEND_TO_FRONT_* command codes
 * (kv_common_util.h); the daemon relays the ones its table knows. */
enum {
  KV_GPS_GET_TEST = 200,
  KV_GPS_SET_TEST = 201,
  KV_GPS_START_SAVE = 202,
  KV_GPS_START_EVENT_SAVE = 203, /* not handled by kv_navlink */
  KV_GPS_STOP_SAVE = 204,
  KV_GPS_SEND_TO_FRONT = 205, /* not handled by kv_navlink */
  KV_GPS_QUIT = 271           /* not handled: kv_navlink logs it and keeps running */
};

/* The start request's payload: 104 bytes, little-endian, in the sender's slot. */
#define KV_GPS_START_RECORD_SIZE 104
#define KV_GPS_STEM_SIZE 80
typedef struct GpsStartSaveRecord {
  char szStem[KV_GPS_STEM_SIZE]; /* recording's path stem, NUL-terminated; "" = no file */
  int32_t nReserved;             /* not used by kv_navlink */
  int32_t nPad0;
  int64_t llStartTick; /* monotonic ms of the recording's first moment; <= 0: now */
  int32_t nDuration;   /* ms after which kv_navlink closes the track by itself */
  int32_t nPad1;
} GpsStartSaveRecord;

/* Joins the channel as process `proc_id` (1..23): opens the segment and the queue of key
 * 49609 (creating them if needed) and makes the unit's lock. 0, or -1 with one line on
 * standard error ("Error:Invalid Parameter\n", "Error:Share Memory init fail\n",
 * "Error:No more memory to create semaphore\n", "Error:Msg_Init fail\n"); after a failure
 * the process id is 1. */
int KVGpsDrvInit(int proc_id);
/* Leaves the channel: process id 1, the lock destroyed. The queue and segment stay. 0. */
int KVGpsDrvExit(void);

/* Start a track (id 202). With `pFnt`, `len` bytes (when not 0) go into the sender's slot
 * and `length` is `len`; without, `length` is 0 (kv_navlink refuses anything but 104).
 * Returns the `length` sent, or -1 (nothing sent) when the payload does not fit the
 * sender's slot inside the segment. */
int KVGpsMSG_StartSave(void *pFnt, int len);
/* Stop the track (id 204, `length` 0). Returns 0. */
int KVGpsMSG_StopSave(void);
/* Relay a command code to the other unit: `cmd` is `command`, the 4-byte code goes into
 * the slot, `length` 4. Returns 4, or -1 (nothing sent) as KVGpsMSG_StartSave. */
int KVGpsMSG_SendToFront(int command);
/* One blocking 20-byte send of `cmd` 271 with every other field 0, without the lock. */
void SendKVGpsQuitCmd(void);

/* The unit's process id, queue id and segment id, set and read without any other set-up. */
void SetKVGpsProcId(int id);
int GetKVGpsProcId(void);
void SetKVGpsMsgId(int id);
int GetKVGpsMsgId(void);
void SetKVGpsMemId(int id);
int GetKVGpsMemId(void);

#ifdef __cplusplus
}
#endif

#ifdef __cplusplus
#include <cstddef>
/* The start record as kv_server lays it out on the board and on a workstation. */
static_assert(sizeof(GpsStartSaveRecord) == KV_GPS_START_RECORD_SIZE, "start record: 104 bytes");
static_assert(offsetof(GpsStartSaveRecord, szStem) == 0, "start record: stem");
static_assert(offsetof(GpsStartSaveRecord, nReserved) == 80, "start record: reserved word");
static_assert(offsetof(GpsStartSaveRecord, llStartTick) == 88, "start record: start tick");
static_assert(offsetof(GpsStartSaveRecord, nDuration) == 96, "start record: duration");
#endif

#endif
