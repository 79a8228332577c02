// SPDX-License-Identifier: MIT
// file_manager: stands in for the recorder's settings file manager in a sandbox.
//
// It creates (or takes) the segment and the queue of key 12930021, puts SysInfo at byte 0
// of the segment, loaded from the sandbox's store (sandbox_settings.h; the defaults when
// there is none), says it is ready and serves requests of type 1 until FILE_MSG_QUIT:
//
//   FILE_MSG_READ             part 0: the record is live, nothing to do; part 1: log entry
//                             (page, item) into tCurLog, failing when there is none
//   FILE_MSG_WRITE(_I)        part 0: the record is saved to the store; part 1: tCurLog is
//                             added to the system log
//   FILE_MSG_RESET            the defaults, saved
//   FILE_MSG_CLEAR_SYSLOG     the system log is emptied (CLEAR_ACCESSLOG: no access log kept)
//   FILE_MSG_START/STOP_FILE_WRITE   one-way, logged only
//   FILE_MSG_QUIT             ends the manager (the queue and segment stay)
//
// A reply goes to the sender's process id with length 12600 on success, 0 on failure.
// Each request is logged to sim/log/file_manager.log before it is answered:
// "cmd=N src=N shmid=N shmidx=N page=N item=N". Control: the shared vocabulary of
// standin_server.h (hang, die, exit, quiet, reply and reply.<id> with delay_ms, answer, die
// and length: answer with this length whatever happened). SIGTERM and SIGINT end it with
// status 0.
#include <stdio.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <string>
#include <vector>

#include "file_msg_drv.h"
#include "msg_util.h"
#include "sandbox_settings.h"
#include "share_mem.h"
#include "standin_server.h"

namespace {

constexpr int kLogItemsPerPage = 20;

class Manager {
 public:
  using Record = FILE_MSG_BUF;

  explicit Manager(SysInfo *rec) : rec_(rec) {}

  static int sender(const Record &msg) { return msg.src; }
  bool quits(const Record &msg) const { return msg.cmd == FILE_MSG_QUIT; }

  void describe(const Record &msg, std::string &line) {
    char text[160];
    snprintf(text, sizeof text, "cmd=%d src=%d shmid=%d shmidx=%d page=%d item=%d", msg.cmd,
             msg.src, msg.shmid, msg.shmidx, msg.nPageNum, msg.nItemNum);
    line = text;
  }

  void answer(Record &msg, const kvsim::ReplyPlan &plan) {
    msg.length = static_cast<int32_t>(plan.number("length", handle(msg) ? SYSINFO_SIZE : 0));
  }

 private:
  bool readLog(int page, int item) {
    long index = static_cast<long>(page) * kLogItemsPerPage + item;
    if (page < 0 || item < 0 || item >= kLogItemsPerPage ||
        index >= static_cast<long>(syslog_.size()))
      return false;
    rec_->tCurLog = syslog_[static_cast<size_t>(index)];
    return true;
  }

  bool write(int part) {
    if (part == FILE_MSG_PART_LOG) {
      syslog_.push_back(rec_->tCurLog);
      return true;
    }
    return part == FILE_MSG_PART_SYSINFO && kvsim::saveSettingsStore(*rec_);
  }

  // The request's effect; whether it succeeded.
  bool handle(const Record &msg) {
    switch (msg.cmd) {
      case FILE_MSG_READ:
        return msg.shmidx == FILE_MSG_PART_LOG ? readLog(msg.nPageNum, msg.nItemNum)
                                               : msg.shmidx == FILE_MSG_PART_SYSINFO;
      case FILE_MSG_WRITE:
      case FILE_MSG_WRITE_I:
        return write(msg.shmidx);
      case FILE_MSG_RESET:
        *rec_ = kvsim::defaultSettings();
        return kvsim::saveSettingsStore(*rec_);
      case FILE_MSG_CLEAR_SYSLOG:
        syslog_.clear();
        return true;
      case FILE_MSG_CLEAR_ACCESSLOG:
        return true;
      default:
        return false;
    }
  }

  SysInfo *rec_;
  std::vector<LogEntry_t> syslog_;
};

SysInfo *attach(int shmid) {
  struct shmid_ds ds;
  if (shmctl(shmid, IPC_STAT, &ds) != 0 || ds.shm_segsz < sizeof(SysInfo)) return nullptr;
  void *addr = shmat(shmid, nullptr, 0);
  return addr == reinterpret_cast<void *>(-1) ? nullptr : static_cast<SysInfo *>(addr);
}

}  // namespace

int main() {
  kvsim::Control control("file_manager");
  kvsim::beginStandIn(control);
  const int qid = Msg_Init(FILE_MSG_KEY);
  const int shmid = pShareMemInit(FILE_MSG_KEY);
  SysInfo *rec = shmid < 0 ? nullptr : attach(shmid);
  if (qid < 0 || !rec) {
    fprintf(stderr, "file_manager: cannot open the queue or map the record\n");
    return 1;
  }
  if (!kvsim::loadSettingsStore(*rec)) *rec = kvsim::defaultSettings();
  control.ready();
  Manager manager(rec);
  int status = kvsim::serve(manager, control, qid);
  shmdt(rec);
  return status;
}
