// SPDX-License-Identifier: MIT
/*
 * msg_util: System V message queues towards the recorder's servers.
 *
 * Records are fixed layouts whose first 4-byte word is the message type; `size` always
 * counts that word, the kernel is handed size - 4 bytes. On a 64-bit host the queue layer
 * widens the type to the kernel's `long` and back, so the bytes after the type are the
 * same on the board and on a workstation.
 */
#ifndef KV_MSG_UTIL_H
#define KV_MSG_UTIL_H

#ifdef __cplusplus
extern "C" {
#endif

/* Message types double as process ids: 1 addresses a queue's server, 2..23 clients. */
enum {
  MSG_TYPE_START = 0,
  MSG_TYPE_MSG1,
  MSG_TYPE_MSG2,
  MSG_TYPE_MSG3,
  MSG_TYPE_MSG4,
  MSG_TYPE_MSG5,
  MSG_TYPE_MSG6,
  MSG_TYPE_MSG7,
  MSG_TYPE_MSG8,
  MSG_TYPE_MSG9,
  MSG_TYPE_MSG10,
  MSG_TYPE_MSG11,
  MSG_TYPE_MSG12,
  MSG_TYPE_MSG13,
  MSG_TYPE_MSG14,
  MSG_TYPE_MSG15,
  MSG_TYPE_MSG16,
  MSG_TYPE_MSG17,
  MSG_TYPE_MSG18,
  MSG_TYPE_MSG19,
  MSG_TYPE_MSG20,
  MSG_TYPE_MSG21,
  MSG_TYPE_MSG22,
  MSG_TYPE_MSG23,
  MSG_TYPE_END
};

/* Largest record a queue carries, type word included. */
#define MSG_UTIL_MAX_RECORD 8192

/* msgget(key, 0), else creates the queue with mode 0666. Returns its id or -1. */
int Msg_Init(int msgKey);
/* Sends `size` - 4 bytes after the type word; blocks while the queue is full. */
int Msg_Send(int qid, void *pdata, int size);
/* Receives a message of type `msg_type` into the record; blocks until one arrives. */
int Msg_Rsv(int qid, int msg_type, void *pdata, int size);
/* Msg_Send, then Msg_Rsv into the same record; the send's failure is returned as is. */
int Msg_Send_Rsv(int qid, int msg_type, void *pdata, int size);
/* Removes the queue; always 0. */
int Msg_Kill(int qid);

/* The same with msgsnd/msgrcv flags (IPC_NOWAIT ...), for one-way and polling callers. */
int Msg_SendFlags(int qid, void *pdata, int size, int flags);
int Msg_RsvFlags(int qid, int msg_type, void *pdata, int size, int flags);

#ifdef __cplusplus
}
#endif

#ifdef __cplusplus
namespace kv {
/* Msg_Send / Msg_Rsv again after a signal: an interrupted wait must not end an exchange,
 * or the reply would be left in the queue and taken as the answer to the caller's next
 * request. The call's result, -1 when the kernel refused. */
int send_retrying(int qid, void *pdata, int size);
int receive_retrying(int qid, int msg_type, void *pdata, int size);
/* Takes every message of type `msg_type` that is waiting, without waiting for one. A reply
 * waiting for a client before it has asked anything belongs to an exchange that gave up: a
 * program stopped while its server had not answered yet, whose successor got the same
 * process id, or a peer that answered twice. */
void drop_stale_replies(int qid, int msg_type);
/* One request and its reply into the same record, stale replies of the caller's type
 * dropped first so that the answer read is the one to this request; 0, or -1 as soon as
 * the send or the receive fails. The caller holds its client unit's lock. */
int send_and_wait_reply(int qid, int msg_type, void *pdata, int size);
}  // namespace kv
#endif

#endif
