// SPDX-License-Identifier: MIT
#include "sys_msg_drv.h"

#include <stddef.h>
#include <stdio.h>
#include <sys/ipc.h>
#include <sys/msg.h>

#include <atomic>
#include <string_view>

#include "msg_util.h"
#include "sem_util.h"
#include "share_mem.h"

// The system server reads these words; the board's build of the server is a C program.
static_assert(sizeof(SYS_MSG_BUF) == 24);
static_assert(offsetof(SYS_MSG_BUF, Des) == 0);
static_assert(offsetof(SYS_MSG_BUF, cmd) == 4);
static_assert(offsetof(SYS_MSG_BUF, src) == 8);
static_assert(offsetof(SYS_MSG_BUF, shmid) == 12);
static_assert(offsetof(SYS_MSG_BUF, length) == 16);
static_assert(offsetof(SYS_MSG_BUF, offset) == 20);

// Anchors of the request ids that the server and the supervisor depend on: an id dropped
// or added in the middle of the enumeration shifts every later one.
static_assert(SYS_MSG_GET_DHCP_CONFIG == 32);
static_assert(SYS_MSG_SET_MOTIONENABLE == 190);
static_assert(SYS_MSG_DO_LOGIN == 264);
static_assert(SYS_MSG_QUIT == 271);
static_assert(SYS_MSG_KV_SET_RESTART == 308);
static_assert(SYS_MSG_WATCHDOG == 312);
static_assert(SYS_MSG_MAX == 321);

namespace {

enum class Shape { SETTER, EXACT, TRUNC, TRUNC_IP, LOGIN, AUTHORITY, PLAIN, RESTART, QUIT };

// ---- the naming rule, checked on the table at compile time ---------------------------

constexpr char fold(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Equal without regard to case and underscores.
constexpr bool same_words(std::string_view a, std::string_view b) {
  size_t i = 0, j = 0;
  for (;;) {
    while (i < a.size() && a[i] == '_') ++i;
    while (j < b.size() && b[j] == '_') ++j;
    if (i == a.size() || j == b.size()) return i == a.size() && j == b.size();
    if (fold(a[i++]) != fold(b[j++])) return false;
  }
}

// Set/SetSys + X sends SYS_MSG_SET_X; Get/GetSys + X sends SYS_MSG_GET_X.
constexpr bool named_after(std::string_view wrapper, std::string_view id) {
  struct Rule {
    std::string_view name_prefix, id_prefix;
  };
  constexpr Rule kRules[] = {{"SetSys", "SYS_MSG_SET_"},
                             {"Set", "SYS_MSG_SET_"},
                             {"GetSys", "SYS_MSG_GET_"},
                             {"Get", "SYS_MSG_GET_"}};
  for (const Rule &r : kRules)
    if (wrapper.starts_with(r.name_prefix) && id.starts_with(r.id_prefix) &&
        same_words(wrapper.substr(r.name_prefix.size()), id.substr(r.id_prefix.size())))
      return true;
  return false;
}

#define SYS_CHECK_BY_NAME(name, id, shape) \
  static_assert(named_after(#name, #id), #name " must send the request its name says");
#define SYS_CHECK_LISTED(name, id, shape) \
  static_assert(!named_after(#name, #id), #name " follows the naming rule: list it BY_NAME");
SYS_MSG_DRV_WRAPPERS(SYS_CHECK_BY_NAME, SYS_CHECK_LISTED)

#define SYS_COUNT(name, id, shape) +1
static_assert(0 SYS_MSG_DRV_WRAPPERS(SYS_COUNT, SYS_COUNT) == 285, "one wrapper per request id");

// ---- the unit's state -----------------------------------------------------------------

struct {
  // -1 until set up: queue id 0 may be some other program's queue.
  std::atomic<int> qid{-1};
  std::atomic<int> proc_id{0};
  // Our own copy of the segment id, so that another unit's ShareMemInit cannot redirect
  // this client's payloads.
  std::atomic<int> shmid{-1};
  SemHandl_t lock = nullptr;
} g_sys;

int fail_setup(const char *message) {
  fputs(message, stderr);
  g_sys.proc_id = 1;
  return -1;
}

// Replies are addressed by process id: 1 is the server's own type (the client would read
// back its own request) and 0 takes any message.
bool is_client_id(int proc) { return proc >= 2 && proc <= 23; }

bool send_and_receive(SYS_MSG_BUF &msg) {
  return kv::send_and_wait_reply(g_sys.qid, g_sys.proc_id, &msg, sizeof msg) == 0;
}

bool carries_payload(Shape s) {
  return s == Shape::SETTER || s == Shape::LOGIN || s == Shape::AUTHORITY;
}

// Reply data of exactly `len` bytes into `data`: 0, or -1 with `data` untouched.
int copy_exact(const SYS_MSG_BUF &reply, void *data, unsigned len) {
  if (reply.length < 0 || static_cast<unsigned>(reply.length) != len) return -1;
  if (len == 0) return 0;
  return kv::segment_copy_out(g_sys.shmid, reply.offset, data, static_cast<int>(len));
}

// Reply data of at most `len` bytes: the count copied, 0 or the server's negative result.
int copy_truncated(const SYS_MSG_BUF &reply, void *data, unsigned len) {
  long long n = reply.length;
  if (n > static_cast<long long>(len)) n = len;
  if (n <= 0) return static_cast<int>(n);
  if (kv::segment_copy_out(g_sys.shmid, reply.offset, data, static_cast<int>(n)) != 0) return -1;
  return static_cast<int>(n);
}

int result_of(Shape shape, const SYS_MSG_BUF &reply, void *data, unsigned len) {
  switch (shape) {
    case Shape::EXACT:
    case Shape::AUTHORITY:
      return copy_exact(reply, data, len);
    case Shape::TRUNC:
      return copy_truncated(reply, data, len);
    case Shape::TRUNC_IP:  // 0 whatever the server said, unless its data lay outside the segment
      return copy_truncated(reply, data, len) < 0 && reply.length > 0 ? -1 : 0;
    case Shape::LOGIN:
      return reply.length >= 0 && static_cast<unsigned>(reply.length) == len ? 0 : -1;
    default:
      return reply.length;
  }
}

// One-way messages: no reply is awaited.
int send_one_way(Shape shape, int cmd) {
  SYS_MSG_BUF msg{1, cmd, 0, 0, 0, 0};
  if (shape == Shape::QUIT) {
    kv::send_retrying(g_sys.qid, &msg, sizeof msg);
    return 0;
  }
  // The restart request must never stall its caller: a full queue drops it.
  msg.offset = PROC_SLOT_OFFSET(g_sys.proc_id.load());
  kv::SemHold held(g_sys.lock);
  Msg_SendFlags(g_sys.qid, &msg, sizeof msg, IPC_NOWAIT);
  return 0;
}

// The one body of every wrapper.
int exchange(Shape shape, int cmd, void *data, unsigned len) {
  if (shape == Shape::QUIT || shape == Shape::RESTART) return send_one_way(shape, cmd);
  const int proc = g_sys.proc_id;
  if (!is_client_id(proc)) return -1;
  SYS_MSG_BUF msg{1, cmd, proc, 0, 0, 0};
  const bool payload = carries_payload(shape);
  if (payload) {
    // The payload lives in the caller's slot; a longer one would overwrite the next
    // process's slot.
    if (len > PROC_MSG_SIZE || (len > 0 && !data)) return -1;
    msg.length = static_cast<int>(len);
  }
  // Getters send offset 0: the server decides where its reply data lies.
  if (payload || shape == Shape::PLAIN) msg.offset = PROC_SLOT_OFFSET(proc);

  kv::SemHold held(g_sys.lock);
  if (payload && len > 0 &&
      kv::segment_copy_in(g_sys.shmid, msg.offset, data, static_cast<int>(len)) != 0)
    return -1;
  if (!send_and_receive(msg)) return -1;
  return result_of(shape, msg, data, len);
}

}  // namespace

extern "C" {

int SysDrvInit(int proc_id) {
  if (proc_id < 1 || proc_id > 23) return fail_setup("Error:Invalid Parameter\n");
  g_sys.proc_id = proc_id;
  const int shmid = ShareMemInit(SYS_MSG_KEY);
  if (shmid < 0) return fail_setup("Error:Share Memory init fail\n");
  g_sys.shmid = shmid;
  if (!g_sys.lock) g_sys.lock = MakeSem();
  if (!g_sys.lock) return fail_setup("Error:No more memory to create semaphore\n");
  const int qid = Msg_Init(SYS_MSG_KEY);
  if (qid < 0) {
    DestroySem(g_sys.lock);
    g_sys.lock = nullptr;
    return fail_setup("Error:Msg_Init fail\n");
  }
  g_sys.qid = qid;
  return 0;
}

int SysDrvExit(void) {
  g_sys.proc_id = 1;
  if (g_sys.lock) DestroySem(g_sys.lock);
  g_sys.lock = nullptr;
  return 0;
}

void SetSysProcId(int iProcId) { g_sys.proc_id = iProcId; }
void SaveSysMsgId(int qid) { g_sys.qid = qid; }
int GetSysProcId(void) { return g_sys.proc_id; }

int SetSysCommon(void *data, unsigned int len, int cmd) {
  return exchange(Shape::SETTER, cmd, data, len);
}

#define SYS_BODY_SETTER(id) return exchange(Shape::SETTER, id, data, len)
#define SYS_BODY_EXACT(id) return exchange(Shape::EXACT, id, data, len)
#define SYS_BODY_TRUNC(id) return exchange(Shape::TRUNC, id, data, len)
#define SYS_BODY_TRUNC_IP(id) return exchange(Shape::TRUNC_IP, id, data, len)
#define SYS_BODY_LOGIN(id) return exchange(Shape::LOGIN, id, data, len)
#define SYS_BODY_AUTHORITY(id) return exchange(Shape::AUTHORITY, id, data, len)
#define SYS_BODY_RESTART(id) return exchange(Shape::RESTART, id, data, len)
#define SYS_BODY_PLAIN(id) return exchange(Shape::PLAIN, id, nullptr, 0)
#define SYS_BODY_QUIT(id) exchange(Shape::QUIT, id, nullptr, 0)
#define SYS_DEFINE(name, id, shape) \
  SYS_MSG_DRV_PROTO_##shape(name) { SYS_BODY_##shape(id); }

SYS_MSG_DRV_WRAPPERS(SYS_DEFINE, SYS_DEFINE)

}  // extern "C"
