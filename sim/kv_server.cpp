// kv_server: stands in for the recorder's event hub on a simulated board.
//
// It serves the event bus (queue and segment of key 49601, derived from the sandbox like
// every key): it reads the messages of type 1, logs each one, and answers every blocking
// request (src 2..23) with one reply of type src. Replies carry `length` 0, except
// KV_MSG_GET_PREVIOUS_GSENSOR (280), answered with `length` 2000 and the shmid/offset of
// the requester's own slot, where the last 50 G-sensor items of the feed now lie (oldest
// first; missing ones empty, tick 0). One-way messages (src 0) get no reply.
//
// Usage in a test:
//   kvsim::Sandbox board;
//   board.startServer("kv_server");                 // returns once the queue is open
//   board.setControl("kv_server", "hang", "");      // from now on no request is answered
//   auto lines = board.serverLog("kv_server");     // one line per event received
//
// Log, sim/log/kv_server.log, one line per message received, in order:
//   id=<cmd> src=<src> length=<length> offset=<offset> payload=<hex bytes of the slot>
// (payload is empty without one, "?" when it lies outside the segment).
//
// Control files, sim/ctl/kv_server/<name>, read anew whenever one of them changes:
//   hang            present: the server stops reading the queue (a stuck state machine);
//                   requests wait in the queue and are answered once the file is removed
//   delay_ms        N: every answer goes out N ms late
//   length.<id>     N: requests of event <id> are answered with `length` N instead
//   exit            present: the server exits at once, with the status written in it
//   quiet           present: no event log (the benchmark's setting: a log line costs a
//                   write() as dear as the exchange it records)
//   gps             requests to send on kv_navlink's GPS channel (see kv_server_gps.h)
//   gsensor_items   the G-sensor feed, one item per line, oldest first:
//                     llTick llTick2 nAxis1 nAxis2 nAxis3 nReserved nSensor4 nBattery
//                   decimal, separated by blanks; missing trailing fields are 0; blank
//                   lines and lines starting with '#' are skipped. The last 50 are served.
// SIGTERM or SIGINT end the server with status 0.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <thread>

#include "kv_msg_drv.h"
#include "kv_server_gps.h"
#include "msg_util.h"
#include "share_mem.h"
#include "standin.h"

namespace {

constexpr const char *kName = "kv_server";
constexpr int kRecordSize = sizeof(KV_MSG_BUF);
constexpr int kFirstClient = MSG_TYPE_MSG2;  // type 1 is the server itself

using GsensorItems = std::array<GSENSOR_ITEM, KV_PREVIOUS_GSENSOR_ITEMS>;

volatile sig_atomic_t g_quit = 0;

void on_quit_signal(int) { g_quit = 1; }

// What the test has told the server to do; reloaded when a control file changes.
struct Controls {
  bool hang = false;
  bool quiet = false;
  int delay_ms = 0;
  std::map<int, int> length_by_id;
};

// Changes in the control folder, seen through inotify so that the loop pays one
// non-blocking read per message instead of a look at every control file.
class ControlWatch {
 public:
  explicit ControlWatch(const std::string &dir) : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
    if (fd_ >= 0)
      inotify_add_watch(
          fd_, dir.c_str(),
          IN_CREATE | IN_DELETE | IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM);
  }
  ~ControlWatch() {
    if (fd_ >= 0) close(fd_);
  }
  ControlWatch(const ControlWatch &) = delete;
  ControlWatch &operator=(const ControlWatch &) = delete;

  // True when something changed since the last call (or the watch is unusable).
  bool changed() {
    if (fd_ < 0) return true;
    bool any = false;
    alignas(inotify_event) char buf[4096];
    while (read(fd_, buf, sizeof buf) > 0) any = true;
    return any;
  }
  // Sleeps until a control file changes or a signal arrives.
  void wait() {
    if (fd_ < 0) {
      usleep(20000);
      return;
    }
    struct pollfd p = {fd_, POLLIN, 0};
    poll(&p, 1, -1);
  }

 private:
  int fd_;
};

std::string control_dir() { return kvsim::simPath(std::string("/sim/ctl/") + kName); }

Controls load_controls(const kvsim::Control &ctl) {
  Controls c;
  c.hang = ctl.has("hang");
  c.quiet = ctl.has("quiet");
  c.delay_ms = ctl.number("delay_ms", 0);
  std::error_code ec;
  for (const auto &entry : std::filesystem::directory_iterator(control_dir(), ec)) {
    std::string name = entry.path().filename().string();
    if (name.rfind("length.", 0) != 0 || name.find(".new") != std::string::npos) continue;
    c.length_by_id[atoi(name.c_str() + 7)] = ctl.number(name, 0);
  }
  return c;
}

[[noreturn]] void exit_as_told(const kvsim::Control &ctl) { _exit(ctl.number("exit", 0)); }

// Watches for the `exit` control while the loop sleeps in the queue. Runs with the
// signals blocked, so SIGTERM/SIGINT always reach the loop.
void exit_watcher() {
  kvsim::Control ctl(kName);
  ControlWatch watch(control_dir());
  for (;;) {
    if (ctl.has("exit")) exit_as_told(ctl);
    kvsim::serveGpsRequests();  // hook: GPS channel requests (kv_server_gps.h)
    watch.wait();
    watch.changed();
  }
}

void start_exit_watcher() {
  sigset_t all, old;
  sigfillset(&all);
  pthread_sigmask(SIG_BLOCK, &all, &old);
  std::thread(exit_watcher).detach();
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
}

void install_signals() {
  struct sigaction sa;
  memset(&sa, 0, sizeof sa);
  sa.sa_handler = on_quit_signal;  // no SA_RESTART: the queue wait must end
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
}

// ---- the G-sensor feed -------------------------------------------------------------------

// The last 50 items of the feed, oldest first; the places of missing ones stay empty
// (tick 0) at the front, so the newest item is always the last.
GsensorItems load_gsensor_items(const kvsim::Control &ctl) {
  std::vector<GSENSOR_ITEM> fed;
  std::istringstream in(ctl.text("gsensor_items"));
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    long long v[8] = {};
    int n = sscanf(line.c_str(), "%lld %lld %lld %lld %lld %lld %lld %lld", &v[0], &v[1], &v[2],
                   &v[3], &v[4], &v[5], &v[6], &v[7]);
    if (n < 1) continue;
    GSENSOR_ITEM item{};
    item.llTick = v[0];
    item.llTick2 = v[1];
    item.nAxis1 = static_cast<int32_t>(v[2]);
    item.nAxis2 = static_cast<int32_t>(v[3]);
    item.nAxis3 = static_cast<int32_t>(v[4]);
    item.nReserved = static_cast<int32_t>(v[5]);
    item.nSensor4 = static_cast<int32_t>(v[6]);
    item.nBattery = static_cast<int32_t>(v[7]);
    fed.push_back(item);
  }
  GsensorItems items{};
  size_t n = std::min(fed.size(), items.size());
  std::copy(fed.end() - static_cast<std::ptrdiff_t>(n), fed.end(), items.end() - n);
  return items;
}

// ---- serving the bus ---------------------------------------------------------------------

struct Bus {
  int qid = -1;
  int shmid = -1;
};

// The log of received events, sim/log/kv_server.log, the file kvsim::Control::log
// appends to. Held open, because opening it per line would cost more than the exchange
// the benchmark measures; reopened when a test has removed it. One write() per line, so
// lines never mix with another writer's.
class EventLog {
 public:
  explicit EventLog(const kvsim::Control &ctl)
      : path_(kvsim::simPath("/sim/log/" + ctl.server() + ".log")) {}
  ~EventLog() {
    if (fd_ >= 0) close(fd_);
  }
  EventLog(const EventLog &) = delete;
  EventLog &operator=(const EventLog &) = delete;

  void write_line(char *line, int n) {
    struct stat st;
    if (fd_ >= 0 && (fstat(fd_, &st) != 0 || st.st_nlink == 0)) {
      close(fd_);
      fd_ = -1;
    }
    if (fd_ < 0) fd_ = open(path_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    line[n] = '\n';
    if (fd_ >= 0 && write(fd_, line, static_cast<size_t>(n) + 1) < 0) perror("kv_server: log");
  }

 private:
  std::string path_;
  int fd_ = -1;
};

// "id=.. src=.. length=.. offset=.. payload=<hex>", the payload read from the slot.
void log_event(EventLog &log, const Bus &bus, const KV_MSG_BUF &rec) {
  static char line[128 + 2 * PROC_MSG_SIZE + 2];
  int n = snprintf(line, 128, "id=%d src=%d length=%d offset=%d payload=", rec.cmd, rec.src,
                   rec.length, rec.offset);
  if (rec.length > 0) {
    static unsigned char payload[PROC_MSG_SIZE];
    if (rec.length <= PROC_MSG_SIZE &&
        kv::segment_copy_out(bus.shmid, rec.offset, payload, rec.length) == 0) {
      for (int i = 0; i < rec.length; ++i) n += snprintf(line + n, 3, "%02x", payload[i]);
    } else {
      n += snprintf(line + n, 2, "?");
    }
  }
  log.write_line(line, n);
}

// The previous G-sensor data go into the requester's own slot, which it does not touch
// while it waits for this reply. A slot outside the segment gets no data (length 0).
void answer_previous_gsensor(const kvsim::Control &ctl, const Bus &bus, KV_MSG_BUF &reply) {
  GsensorItems items = load_gsensor_items(ctl);
  int offset = PROC_SLOT_OFFSET(reply.src);
  if (kv::segment_copy_in(bus.shmid, offset, items.data(), KV_PREVIOUS_GSENSOR_LENGTH) != 0) {
    reply.length = 0;
    return;
  }
  reply.shmid = bus.shmid;
  reply.offset = offset;
  reply.length = KV_PREVIOUS_GSENSOR_LENGTH;
}

void sleep_ms(int ms) {
  struct timespec ts = {ms / 1000, (ms % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) < 0 && errno == EINTR && !g_quit) {
  }
}

void answer(const kvsim::Control &ctl, const Controls &c, const Bus &bus, KV_MSG_BUF rec) {
  if (c.delay_ms > 0) sleep_ms(c.delay_ms);
  KV_MSG_BUF reply = rec;
  reply.Des = rec.src;
  reply.length = 0;
  if (rec.cmd == KV_MSG_GET_PREVIOUS_GSENSOR) answer_previous_gsensor(ctl, bus, reply);
  auto told = c.length_by_id.find(rec.cmd);
  if (told != c.length_by_id.end()) reply.length = told->second;
  while (Msg_Send(bus.qid, &reply, kRecordSize) < 0 && errno == EINTR && !g_quit) {
  }
}

// Waits out a `hang`; false when the server is to stop meanwhile.
bool refresh_controls(const kvsim::Control &ctl, ControlWatch &watch, Controls &c) {
  while (watch.changed() || c.hang) {
    if (ctl.has("exit")) exit_as_told(ctl);
    c = load_controls(ctl);
    if (!c.hang) break;
    watch.wait();
    if (g_quit) return false;
  }
  return true;
}

int serve(const kvsim::Control &ctl, const Bus &bus) {
  ControlWatch watch(control_dir());
  Controls c = load_controls(ctl);
  EventLog log(ctl);
  while (!g_quit) {
    KV_MSG_BUF rec;
    if (Msg_Rsv(bus.qid, MSG_TYPE_MSG1, &rec, kRecordSize) < 0) {
      if (errno == EINTR) continue;
      perror("kv_server: queue");
      return 1;
    }
    if (!refresh_controls(ctl, watch, c)) break;
    if (!c.quiet) log_event(log, bus, rec);
    // One-way messages carry src 0; a reply of type 1 would come back to this server.
    if (rec.src >= kFirstClient) answer(ctl, c, bus, rec);
  }
  return 0;
}

}  // namespace

int main() {
  kvsim::Control ctl(kName);
  std::error_code ec;
  std::filesystem::create_directories(control_dir(), ec);
  install_signals();
  start_exit_watcher();
  Bus bus{Msg_Init(KV_MSG_KEY), ShareMemInit(KV_MSG_KEY)};
  if (bus.qid < 0 || bus.shmid < 0) {
    perror("kv_server: cannot open the event bus");
    return 1;
  }
  ctl.ready();
  return serve(ctl, bus);
}
