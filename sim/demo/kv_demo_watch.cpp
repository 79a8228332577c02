// SPDX-License-Identifier: MIT
#include "kv_demo_watch.h"

#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include <filesystem>
#include <vector>

#include "OrvelDrvMsg.h"
#include "dm368_zt5_util.h"
#include "kv_common_util.h"
#include "kv_msg_drv.h"
#include "standin.h"
#include "sys_msg_drv.h"

namespace kvdemo {
namespace {

namespace fs = std::filesystem;

// The processes whose requests the watch recognises in the servers' logs.
constexpr int kSentinelProcess = 16;
constexpr int kShocklogProcess = 8;

bool startsWith(const std::string &s, const std::string &prefix) { return s.rfind(prefix, 0) == 0; }

// How the stand-ins begin a request's log line: "id=<n> " (kv_server) or "cmd=<n> ".
std::string logged(const char *key, int id) {
  return std::string(key) + "=" + std::to_string(id) + " ";
}

// A liveness request of the supervisor in a server's log.
bool isLiveness(const std::string &server, const std::string &line) {
  std::string prefix = server == "kv_server"       ? logged("id", KV_MSG_WATCHDOG)
                       : server == "system_server" ? logged("cmd", SYS_MSG_WATCHDOG)
                                                   : logged("cmd", MSG_CMD_WATCHDOG);
  return startsWith(line, prefix) &&
         kvsim::contains(line, "src=" + std::to_string(kSentinelProcess));
}

// The 32-bit word at `offset` of a payload the stand-in logged as hex (little-endian).
int32_t payloadWord(const std::string &hex, size_t offset) {
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i)
    value = value * 256 +
            static_cast<uint32_t>(
                strtoul(hex.substr(2 * (offset + static_cast<size_t>(i)), 2).c_str(), nullptr, 16));
  return static_cast<int32_t>(value);
}

// An event that a command line from the rear made: 400 + the command's code.
bool isFromRear(const std::string &line) {
  if (!startsWith(line, "id=")) return false;
  int id = atoi(line.c_str() + 3);
  return id >= KV_MSG_CMD_FROM_REAR_START && id < KV_MSG_CMD_FROM_REAR_START + 100;
}

std::string clockTime(time_t t) {
  struct tm tm;
  localtime_r(&t, &tm);
  char text[32];
  strftime(text, sizeof text, "%H:%M:%S", &tm);
  return text;
}

}  // namespace

std::string baseName(const std::string &path) { return fs::path(path).filename().string(); }

std::string wordAfter(const std::string &line, const std::string &key) {
  return kvsim::wordOf(line, key);
}

// The link first: an event on the front's bus follows the line that made it.
void BoardWatch::look() {
  link();
  servers();
  sentinel();
  commands();
  gps();
  gsensor();
  card();
  controller();
}

std::string BoardWatch::shortPaths(const std::string &text) const {
  std::string out = text;
  for (const auto &[root, name] : {std::pair{units_.front.board.root(), "<front>"},
                                   std::pair{units_.rear.board.root(), "<rear>"}})
    for (size_t at; (at = out.find(root)) != std::string::npos;) out.replace(at, root.size(), name);
  return out;
}

// ---- the servers ---------------------------------------------------------------------

std::string BoardWatch::serverLog(const kvsim::RecorderUnit &unit, const std::string &server) {
  return unit.board.read("/sim/log/" + server + ".log");
}

void BoardWatch::servers() {
  auto &front = units_.front, &rear = units_.rear;
  for (const auto &line : tails_["front kv_server"].fresh(serverLog(front, "kv_server")))
    frontKvServer(line);
  for (const auto &line : tails_["rear kv_server"].fresh(serverLog(rear, "kv_server")))
    rearKvServer(line);
  for (const std::string server : {"system_server", "av_server.out"}) {
    for (const auto &line : tails_["front " + server].fresh(serverLog(front, server)))
      if (isLiveness(server, line)) liveness(server);
    for (const auto &line : tails_["rear " + server].fresh(serverLog(rear, server)))
      if (isLiveness(server, line)) rearLiveness(server);
  }
}

// The stand-ins log a request as it arrives; a hung kv_server then holds it unanswered.
void BoardWatch::liveness(const std::string &server) {
  if (hung_ && server == "kv_server") {
    if (kvServerHoldsRequest()) return;
    held_since_ = Clock::now();
    return say(server, "gets kv_sentinel's liveness request and does not answer it");
  }
  say(server, "answers kv_sentinel's liveness request");
  if (!hung_) answered_.insert(server);
}

void BoardWatch::rearLiveness(const std::string &server) {
  if (rear_answered_.insert(server).second && rear_answered_.size() == 3)
    say("rear", "its three servers answer its own kv_sentinel too");
}

void BoardWatch::frontKvServer(const std::string &line) {
  if (isLiveness("kv_server", line)) return liveness("kv_server");
  if (startsWith(line, logged("id", KV_MSG_GET_PREVIOUS_GSENSOR) +
                           "src=" + std::to_string(kShocklogProcess) + " ")) {
    say("kv_server",
        "kv_shocklog asks for the last 50 G-sensor samples (id 280): answered "
        "from kv_server's history");
    promises_.see("previous");
  } else if (isFromRear(line)) {
    eventFromRear(line);
  } else if (startsWith(line, "record ")) {
    recordLine("kv_server", line);
  }
}

void BoardWatch::rearKvServer(const std::string &line) {
  if (isLiveness("kv_server", line)) return rearLiveness("kv_server");
  if (startsWith(line, "record ")) recordLine("rear kv_server", line);
}

// The recording controller's lines (sim/standins/kv_server_record.h), told as the recorder's steps.
void BoardWatch::recordLine(const std::string &who, const std::string &line) {
  if (startsWith(line, "record start ")) {
    if (who == "kv_server") last_start_ = line;
    std::string args = line.substr(line.find(" args=") + 6);
    args = args.substr(0, args.rfind(" track="));
    say(who, "names the recording " + baseName(wordAfter(line, "stem")) +
                 " (its first moment's time, kind, unit)");
    say(who, "starts kv_shocklog " + shortPaths(args));
    say(who, "asks kv_navlink for the track (GPS channel, start id 202): result " +
                 wordAfter(line, "track"));
    return;
  }
  bool cancel = startsWith(line, "record cancel ");
  if (!cancel && !startsWith(line, "record stop ")) return say(who, line);
  if (cancel) say(who, "SIGUSR2 to kv_shocklog and kv_navlink: the recording is not to be kept");
  say(who, "SIGINT to kv_shocklog (it ended with status " + wordAfter(line, "shocklog_exit") +
               "), track stop (id 204): result " + wordAfter(line, "track"));
  std::string code = wordAfter(line, "announce");
  if (!code.empty()) say(who, "announces the saved recording to the front: relay request " + code);
}

// 400 + the code of a command from the rear; a saved recording's record carries the
// recording's name time at offset 8.
void BoardWatch::eventFromRear(const std::string &line) {
  int id = atoi(line.c_str() + 3);
  std::string payload = wordAfter(line, "payload");
  if (id != KV_MSG_SEND_TO_FRONT_AVI_SAVE_NOR_D || payload.size() < 24)
    return say("kv_server", "event " + std::to_string(id));
  int32_t named = payloadWord(payload, 8);
  say("kv_server", "event 470 from the rear: a recording saved, named at " + clockTime(named) +
                       " (" + std::to_string(named) + ")");
  if (std::to_string(named) == announced_) promises_.see("announce", "#CMAND=" + announced_);
}

// ---- the supervisor, the commands, the link -------------------------------------------

void BoardWatch::sentinel() {
  if (sentinel_ <= 0) return;
  const kvsim::Sandbox &board = units_.front.board;
  for (auto &line : tails_["sentinel out"].fresh(board.stdoutOf(sentinel_))) {
    say("kv_sentinel", line);
    if (!kvsim::contains(line, "kv_server not responding... restart")) continue;
    restart_begun_ = true;
    promises_.see("noticed");
  }
  for (auto &line : tails_["flash log"].fresh(board.flashLogs()))
    if (line.find("[watch_d]") != std::string::npos)
      say("log", line.substr(line.find("[watch_d]")));
}

void BoardWatch::commands() {
  for (auto &line : tails_["commands"].fresh(units_.front.board.read("/sim/commands.log"))) {
    // kv_navlink sets the clock again and again from the fixes: once is worth a line.
    if (line == "hwclock -uw" && hwclock_shown_) continue;
    hwclock_shown_ = hwclock_shown_ || line == "hwclock -uw";
    say("command", shortPaths(line));
  }
}

void BoardWatch::link() {
  auto lines = units_.cable.lines(kvsim::kRearToFront);
  for (; link_lines_ < lines.size(); ++link_lines_) {
    const std::string &text = lines[link_lines_].text;
    if (text == "#CMLIV") {
      if (++keep_alives_ == 1)
        say("serial link", "rear -> front: #CMLIV, the rear's keep-alive (every 2 s)");
      continue;
    }
    say("serial link", "rear -> front: " + text);
    if (startsWith(text, "#CMAND=")) announced_ = text.substr(7);
  }
  std::string back = units_.cable.delivered(kvsim::kFrontToRear);
  for (; link_back_ < back.size(); ++link_back_) {
    char hex[8];
    snprintf(hex, sizeof hex, "0x%02X", static_cast<unsigned char>(back[link_back_]));
    // The one byte the front sends: its supervisor's word to the rear before a restart.
    bool restart_word = back[link_back_] == '\\';
    say("serial link",
        std::string("front -> rear: ") + hex +
            (restart_word ? ", kv_sentinel tells the rear unit the front restarts" : ""));
  }
}

// ---- the front's GPS, G-sensor, card and board controller -----------------------------

void BoardWatch::gps() {
  int speed = units_.front.cfg().gps_speed;
  if (speed >= 0 && !had_fix_)
    say("kv_navlink", "fix: " + std::to_string(speed) + " km/h on the OSD");
  if (speed < 0 && had_fix_) say("kv_navlink", "no fix (the tunnel): the OSD speed is cleared");
  if (speed > 0) promises_.see("gps");
  had_fix_ = speed >= 0;
  if (!clock_shown_ && !units_.front.board.read("/sim/clock").empty()) {
    clock_shown_ = true;
    say("kv_navlink", "set the board's clock from the first fix");
  }
}

void BoardWatch::gsensor() {
  for (auto &line : tails_["feeder"].fresh(units_.front.board.read("/sim/log/gsensor_feeder.log")))
    if (startsWith(line, "brake ")) {
      say("G-sensor", "feels a hard braking at " + std::to_string(units_.front.cfg().gps_speed) +
                          " km/h: up to 0.95 g backwards");
      promises_.see("brake");
    }
}

void BoardWatch::card() {
  std::set<std::string> now;
  std::error_code ec;
  for (const auto &e : fs::directory_iterator(units_.front.board.path(kRecordings), ec))
    now.insert(e.path().filename().string());
  for (const auto &name : now)
    if (!card_.count(name)) say("card", name + " created");
  for (const auto &name : card_)
    if (!now.count(name)) say("card", name + " deleted");
  card_ = now;
}

void BoardWatch::controller() {
  std::string rec = units_.front.board.read(KV_NODE_MICOM_DATA);
  if (restarted_ || rec.size() != 20 || rec.compare(0, 4, std::string("1_0\0", 4)) != 0) return;
  restarted_ = true;
  restarted_at_ = timeline_.seconds();
  say("controller", "got \"1_0\": main power cut and restored, the unit restarts");
  promises_.see("restart");
}

}  // namespace kvdemo
