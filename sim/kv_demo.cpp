// kv_demo: the supervisor at work on a simulated front camera unit.
//
// Starts a sandboxed board with the stand-ins of the recorder's servers, runs the real
// kv_sentinel, lets the servers answer for a while, then makes kv_server hang and shows,
// as it happens, how the supervisor notices and restarts the unit. About a minute.
//
// Exit status 0 only when it saw what it promises: every server answering the supervisor,
// the supervisor reporting kv_server as not responding, and the board controller told to
// restart the unit. The board is kept for a look (its path is printed); the boards of
// earlier runs are removed, so at most one is left behind.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "dm368_zt5_util.h"
#include "sandbox.h"
#include "sandbox_settings.h"
#include "standin.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr auto kHangAt = 12s;     // after the first round of answers
constexpr auto kGiveUpAt = 100s;  // the restart comes near 62 s
constexpr const char *kBoardName = "kv-demo";
constexpr const char *kOwnerFile = "/sim/demo.pid";  // marks a board as a demo's

// Removes the boards earlier demos left in the temporary folder, except one whose demo
// is still running. Only folders that carry the demo's mark are touched.
void removeOldBoards() {
  std::error_code ec;
  for (const auto &entry :
       std::filesystem::directory_iterator(std::filesystem::temp_directory_path(), ec)) {
    std::string name = entry.path().filename().string();
    if (name.rfind(std::string(kBoardName) + ".", 0) != 0 || !entry.is_directory(ec)) continue;
    std::string owner;
    if (!kvsim::readFile(entry.path().string() + kOwnerFile, owner)) continue;
    pid_t pid = static_cast<pid_t>(atoi(owner.c_str()));
    if (pid > 0 && kill(pid, 0) == 0) continue;
    std::filesystem::remove_all(entry.path(), ec);
  }
}

// New lines of a growing text, remembered by how much was already shown.
class Tail {
 public:
  std::vector<std::string> fresh(const std::string &text) {
    std::vector<std::string> lines;
    size_t end = text.rfind('\n');
    if (end == std::string::npos || end + 1 <= shown_) return lines;
    lines = kvsim::splitLines(text.substr(shown_, end + 1 - shown_));
    shown_ = end + 1;
    return lines;
  }

 private:
  size_t shown_ = 0;
};

class Demo {
 public:
  // True when the demo saw everything it promises.
  bool run() {
    setUp();
    while (Clock::now() - start_ < kGiveUpAt && !restarted_) {
      step();
      if (!board_.running(sentinel_)) {
        say("kv_sentinel", "ended early: " + board_.stderrOf(sentinel_));
        break;
      }
      std::this_thread::sleep_for(100ms);
    }
    // Let the last lines of the sequence land.
    for (int i = 0; i < 15; ++i) {
      step();
      std::this_thread::sleep_for(100ms);
    }
    board_.kill(sentinel_);
    return summary();
  }

 private:
  void say(const std::string &who, const std::string &what) {
    double t = std::chrono::duration<double>(Clock::now() - start_).count();
    printf("[%5.1f s] %-14s %s\n", t, who.c_str(), what.c_str());
    fflush(stdout);
  }

  void setUp() {
    printf("kv_sentinel demo: a front camera unit on a simulated board\n");
    printf("board root: %s\n\n", board_.root().c_str());
    board_.write(kOwnerFile, std::to_string(getpid()) + "\n");
    SysInfo rec = kvsim::defaultSettings();
    rec.kv_config.front_rear_type = 1;  // front unit of a two-channel set
    rec.kv_config.bRunning = 1;         // the recorder is up
    kvsim::saveSettingsStore(rec);
    board_.write("/mnt/nand/lang", "EN\n");
    board_.append("/proc/mounts", "/dev/mmcblk0p1 /mnt/mmc vfat rw,relatime 0 0\n");
    link_ = board_.openPty("/dev/ttyS1");
    fcntl(link_, F_SETFL, fcntl(link_, F_GETFL) | O_NONBLOCK);
    start_ = Clock::now();
    for (const char *server : {"file_manager", "system_server", "av_server.out", "kv_server"}) {
      board_.startServer(server);
      say("board", std::string(server) + " is up (stand-in)");
    }
    sentinel_ = board_.start({"kv_sentinel"});
    say("board", "kv_sentinel started; it gives the servers 10 s to come up");
  }

  void step() {
    auto now = Clock::now();
    if (!hung_ && now - start_ >= kHangAt) {
      board_.setControl("kv_server", "hang", "");
      hung_ = true;
      hungAt_ = now;
      say(">>> demo", "kv_server is made to hang: it stops answering");
    }
    showServer("kv_server", "id=300 ", "answers the liveness request (id 300)");
    showServer("system_server", "cmd=312 ", "answers the liveness request (312)");
    showServer("av_server.out", "cmd=70 ", "answers the liveness request (70)");
    for (auto &line : out_.fresh(board_.stdoutOf(sentinel_))) {
      say("kv_sentinel", line);
      if (line.find("kv_server not responding... restart") != std::string::npos) noticed_ = true;
    }
    for (auto &line : log_.fresh(hourlyLog()))
      if (line.find("[watch_d]") != std::string::npos)
        say("log", line.substr(line.find("[watch_d]")));
    for (auto &line : commands_.fresh(board_.read("/sim/commands.log"))) say("command", line);
    showSerial();
    showController();
    showProgress(now);
  }

  void showServer(const std::string &server, const std::string &prefix, const std::string &what) {
    for (auto &line : serverTails_[server].fresh(board_.read("/sim/log/" + server + ".log")))
      if (line.rfind(prefix, 0) == 0 && line.find("src=16") != std::string::npos) {
        say(server, what);
        if (!hung_) answeredBeforeHang_.insert(server);
        if (server == "kv_server") lastKvAnswer_ = Clock::now();
      }
  }

  void showSerial() {
    char buf[64];
    ssize_t n = read(link_, buf, sizeof buf);
    if (n <= 0) return;
    std::string shown;
    for (ssize_t i = 0; i < n; ++i) {
      char hex[8];
      snprintf(hex, sizeof hex, "0x%02X ", static_cast<unsigned char>(buf[i]));
      shown += hex;
    }
    say("serial link", "to the rear unit: " + shown);
  }

  void showController() {
    std::string rec = board_.read(KV_NODE_MICOM_DATA);
    if (rec.size() == 20 && rec.compare(0, 4, std::string("1_0\0", 4)) == 0 && !restarted_) {
      restarted_ = true;
      restartAt_ = Clock::now();
      say("controller", "got \"1_0\": main power cut and restored, the unit restarts");
    }
  }

  // The supervisor asks every 10 s; the first request after the hang is the one that
  // waits, and the unit is restarted once it has waited 40 s.
  void showProgress(Clock::time_point now) {
    if (!hung_ || restarted_ || now - lastProgress_ < 5s) return;
    lastProgress_ = now;
    auto asked = lastKvAnswer_ + 10s;
    if (now < asked) {
      say("...", "kv_server hangs; the supervisor's next request will find out");
      return;
    }
    auto waited = std::chrono::duration_cast<std::chrono::seconds>(now - asked).count();
    say("...", "the request to kv_server has waited " + std::to_string(waited) +
                   " s; the supervisor gives it 40 s");
  }

  std::string hourlyLog() const { return board_.flashLogs(); }

  // What the demo promised, each seen or not; true when all were.
  bool summary() {
    printf("\nSummary\n");
    bool all = true;
    auto check = [&](bool seen, const std::string &what) {
      printf("  %-8s %s\n", seen ? "seen" : "MISSING", what.c_str());
      all = all && seen;
    };
    for (const char *server : {"system_server", "av_server.out", "kv_server"})
      check(answeredBeforeHang_.count(server) != 0,
            std::string(server) + " answered the supervisor before the hang");
    check(noticed_, "kv_sentinel reported kv_server as not responding");
    check(restarted_, "the board controller was told to restart the unit (\"1_0\")");
    if (restarted_) {
      double at = std::chrono::duration<double>(restartAt_ - start_).count();
      printf("  kv_server hung at %.0f s; the unit was restarted at %.1f s.\n",
             std::chrono::duration<double>(hungAt_ - start_).count(), at);
    }
    printf("  The board is kept for a look (earlier demo boards were removed):\n");
    printf("    board root              %s\n", board_.root().c_str());
    printf("    supervisor's log lines  %s\n", board_.path("/mnt/nand/log/").c_str());
    printf("    commands it ran         %s\n", board_.path("/sim/commands.log").c_str());
    printf("    its standard output     %s/sim/out/%d.out\n", board_.root().c_str(), sentinel_);
    printf("    what each server got    %s\n", board_.path("/sim/log/").c_str());
    printf("%s\n", all ? "demo: everything promised was seen"
                       : "demo: FAILED, something promised was not seen");
    fflush(stdout);
    return all;
  }

  kvsim::Sandbox board_{kBoardName};
  pid_t sentinel_ = -1;
  int link_ = -1;
  Clock::time_point start_, hungAt_, restartAt_, lastProgress_, lastKvAnswer_;
  bool hung_ = false, restarted_ = false, noticed_ = false;
  std::set<std::string> answeredBeforeHang_;
  Tail out_, log_, commands_;
  std::map<std::string, Tail> serverTails_;
};

}  // namespace

int main() {
  removeOldBoards();
  setenv("KV_KEEP_SANDBOX", "1", 1);  // the user looks at the files afterwards
  Demo demo;
  return demo.run() ? 0 : 1;
}
