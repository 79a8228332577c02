// SPDX-License-Identifier: MIT
#include "msg_util.h"

#include <errno.h>
#include <stdint.h>
#include <string.h>
#include <sys/ipc.h>
#include <sys/msg.h>

#include "board_root.h"

namespace {

// What the kernel sees: its own `long` type, then the record's bytes after the 4-byte
// type word. On the 32-bit board this is the record itself.
struct KernelMessage {
  long mtype;
  char text[MSG_UTIL_MAX_RECORD - 4];
};

bool size_fits(int size) { return size >= 4 && size <= MSG_UTIL_MAX_RECORD; }

}  // namespace

extern "C" {

int Msg_Init(int msgKey) {
  key_t key = kv_ipc_key(msgKey);
  int qid = msgget(key, 0);
  if (qid < 0) qid = msgget(key, IPC_CREAT | 0666);
  return qid;
}

int Msg_SendFlags(int qid, void *pdata, int size, int flags) {
  if (!pdata || !size_fits(size)) return -1;
  KernelMessage msg;
  int32_t type;
  memcpy(&type, pdata, 4);
  msg.mtype = type;
  memcpy(msg.text, static_cast<const char *>(pdata) + 4, static_cast<size_t>(size - 4));
  return msgsnd(qid, &msg, static_cast<size_t>(size - 4), flags);
}

int Msg_RsvFlags(int qid, int msg_type, void *pdata, int size, int flags) {
  if (!pdata || !size_fits(size)) return -1;
  KernelMessage msg;
  // MSG_NOERROR: a longer message than the caller's record is cut, not left in the queue
  // to block the caller's type for good.
  ssize_t got = msgrcv(qid, &msg, static_cast<size_t>(size - 4), msg_type, flags | MSG_NOERROR);
  if (got < 0) return -1;
  auto type = static_cast<int32_t>(msg.mtype);
  memcpy(pdata, &type, 4);
  memcpy(static_cast<char *>(pdata) + 4, msg.text, static_cast<size_t>(got));
  return static_cast<int>(got);
}

int Msg_Send(int qid, void *pdata, int size) { return Msg_SendFlags(qid, pdata, size, 0); }

int Msg_Rsv(int qid, int msg_type, void *pdata, int size) {
  return Msg_RsvFlags(qid, msg_type, pdata, size, 0);
}

int Msg_Send_Rsv(int qid, int msg_type, void *pdata, int size) {
  int ret = Msg_Send(qid, pdata, size);
  if (ret < 0) return ret;
  return Msg_Rsv(qid, msg_type, pdata, size);
}

int Msg_Kill(int qid) {
  msgctl(qid, IPC_RMID, nullptr);
  return 0;
}

}  // extern "C"

namespace kv {

int send_retrying(int qid, void *pdata, int size) {
  int ret;
  do ret = Msg_Send(qid, pdata, size);
  while (ret < 0 && errno == EINTR);
  return ret;
}

int receive_retrying(int qid, int msg_type, void *pdata, int size) {
  int ret;
  do ret = Msg_Rsv(qid, msg_type, pdata, size);
  while (ret < 0 && errno == EINTR);
  return ret;
}

void drop_stale_replies(int qid, int msg_type) {
  int32_t type_only;
  while (Msg_RsvFlags(qid, msg_type, &type_only, sizeof type_only, IPC_NOWAIT) >= 0) {
  }
}

int send_and_wait_reply(int qid, int msg_type, void *pdata, int size) {
  drop_stale_replies(qid, msg_type);
  if (send_retrying(qid, pdata, size) < 0) return -1;
  return receive_retrying(qid, msg_type, pdata, size) < 0 ? -1 : 0;
}

}  // namespace kv
