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
// "cmd=N src=N shmid=N shmidx=N page=N item=N". Control files sim/ctl/file_manager/<key>,
// read on every request: "hang" (take requests and never answer), "length" (answer with
// this length whatever happened), "delay_ms" (answer this much later).
#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "file_msg_drv.h"
#include "msg_util.h"
#include "sandbox_settings.h"
#include "share_mem.h"
#include "standin.h"

namespace {

constexpr int kLogItemsPerPage = 20;

struct Manager {
  kvsim::Control ctl{"file_manager"};
  int qid = -1;
  SysInfo *rec = nullptr;
  std::vector<LogEntry_t> syslog;
};

SysInfo *attach(int shmid) {
  struct shmid_ds ds;
  if (shmctl(shmid, IPC_STAT, &ds) != 0 || ds.shm_segsz < sizeof(SysInfo)) return nullptr;
  void *addr = shmat(shmid, nullptr, 0);
  return addr == reinterpret_cast<void *>(-1) ? nullptr : static_cast<SysInfo *>(addr);
}

bool read_log(Manager &m, int page, int item) {
  long index = static_cast<long>(page) * kLogItemsPerPage + item;
  if (page < 0 || item < 0 || item >= kLogItemsPerPage ||
      index >= static_cast<long>(m.syslog.size()))
    return false;
  m.rec->tCurLog = m.syslog[static_cast<size_t>(index)];
  return true;
}

bool write(Manager &m, int part) {
  if (part == FILE_MSG_PART_LOG) {
    m.syslog.push_back(m.rec->tCurLog);
    return true;
  }
  return part == FILE_MSG_PART_SYSINFO && kvsim::saveSettingsStore(*m.rec);
}

// The request's effect; whether it succeeded.
bool handle(Manager &m, const FILE_MSG_BUF &msg) {
  switch (msg.cmd) {
    case FILE_MSG_READ:
      return msg.shmidx == FILE_MSG_PART_LOG ? read_log(m, msg.nPageNum, msg.nItemNum)
                                             : msg.shmidx == FILE_MSG_PART_SYSINFO;
    case FILE_MSG_WRITE:
    case FILE_MSG_WRITE_I:
      return write(m, msg.shmidx);
    case FILE_MSG_RESET:
      *m.rec = kvsim::defaultSettings();
      return kvsim::saveSettingsStore(*m.rec);
    case FILE_MSG_CLEAR_SYSLOG:
      m.syslog.clear();
      return true;
    case FILE_MSG_CLEAR_ACCESSLOG:
      return true;
    default:
      return false;
  }
}

void log_request(const Manager &m, const FILE_MSG_BUF &msg) {
  char line[160];
  snprintf(line, sizeof line, "cmd=%d src=%d shmid=%d shmidx=%d page=%d item=%d", msg.cmd, msg.src,
           msg.shmid, msg.shmidx, msg.nPageNum, msg.nItemNum);
  m.ctl.log(line);
}

bool one_way(int cmd) {
  return cmd == FILE_MSG_START_FILE_WRITE || cmd == FILE_MSG_STOP_FILE_WRITE;
}

void answer(Manager &m, FILE_MSG_BUF &msg, bool ok) {
  if (m.ctl.has("hang")) return;
  int delay = m.ctl.number("delay_ms", 0);
  if (delay > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delay));
  msg.length = m.ctl.number("length", ok ? SYSINFO_SIZE : 0);
  if (msg.src < MSG_TYPE_MSG2 || msg.src > MSG_TYPE_MSG23) return;  // nobody to answer
  msg.Des = msg.src;
  Msg_Send(m.qid, &msg, sizeof msg);
}

int serve(Manager &m) {
  for (;;) {
    FILE_MSG_BUF msg{};
    if (Msg_Rsv(m.qid, MSG_TYPE_MSG1, &msg, sizeof msg) < 0) {
      if (errno == EINTR) continue;
      fprintf(stderr, "file_manager: queue gone\n");
      return 1;
    }
    log_request(m, msg);
    if (msg.cmd == FILE_MSG_QUIT) return 0;
    if (one_way(msg.cmd)) continue;
    answer(m, msg, handle(m, msg));
  }
}

}  // namespace

int main() {
  Manager m;
  m.qid = Msg_Init(FILE_MSG_KEY);
  int shmid = pShareMemInit(FILE_MSG_KEY);
  m.rec = shmid < 0 ? nullptr : attach(shmid);
  if (m.qid < 0 || !m.rec) {
    fprintf(stderr, "file_manager: cannot open the queue or map the record\n");
    return 1;
  }
  if (!kvsim::loadSettingsStore(*m.rec)) *m.rec = kvsim::defaultSettings();
  m.ctl.ready();
  int status = serve(m);
  shmdt(m.rec);
  return status;
}
