// kv_demo: the whole two-unit recorder on simulated boards, in about a minute and a half.
//
// A front and a rear camera unit, each a sandboxed board with the stand-ins of the
// recorder's servers, the real kv_sentinel and kv_navlink, their serial ports joined by a
// simulated cable. The front's GPS port is fed a generated drive through a town, its
// G-sensor moves with the road. On that, as it happens on a timeline:
//   - the front's access point switched on and off (kv_wifi_switch, stand-in tools);
//   - the rear's keep-alive, and the rear announcing a saved recording ("#CMAND=...")
//     that reaches the front's kv_server as event 470;
//   - a hard braking, and the event recording kv_server makes of it: a name by the
//     recording name rule, kv_shocklog started with it, a track with the 10 s before;
//     stopped with SIGINT to kv_shocklog and the track stop;
//   - a second recording called off within 6 s (SIGUSR2): no track file, no data file;
//   - the real kv_export turning the front's recordings folder into GPX, CSV, SVG, HTML;
//   - finally kv_server made to hang, and kv_sentinel restarting the unit.
//
// Exit status 0 only when every promise of the summary was seen. Both boards are kept for
// a look, in one folder whose path is printed; the folders of earlier demos are removed,
// so at most one is left behind. Needs no GoogleTest.
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "dm368_zt5_util.h"
#include "kv_common_util.h"
#include "kv_demo_files.h"
#include "kv_demo_timeline.h"
#include "kv_server_record.h"
#include "nmea_feed.h"
#include "sandbox_link.h"
#include "sandbox_wifi.h"
#include "standin.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using kvdemo::Clock;
using kvsim::RecorderUnit;

constexpr const char *kDemoName = "kv-demo";
constexpr const char *kOwnerFile = "demo.pid";  // marks a folder as a demo's
constexpr const char *kRecordings = "/mnt/mmc/Recordings";
// The GPS start record holds a stem of 79 characters: the board's root may take this many
// (the folder and the 23-character name take the rest).
constexpr size_t kMaxBoardRoot = 79 - 19 - 24;

// The drive: the generator's town (standing, accelerating, cruising, braking for the
// lights, a faster stretch), fed from its 12th second on, with a tunnel without fix.
constexpr int kDriveFrom = 12;
constexpr int kDriveSeconds = 160;
constexpr kvsim::Span kTunnel = {19, 23};
// The script, in seconds after the feed began (the drive brakes for the lights at its
// 27th second).
constexpr auto kWifiOnAt = 1s;
constexpr auto kWifiOffAt = 4s;
constexpr auto kRearRecordAt = 6s;
constexpr auto kRearRecordFor = 3s;
constexpr auto kBrakeAt = 15s;
constexpr int kPreEventMs = 10000;
constexpr auto kEventRunsFor = 9s;
constexpr auto kCalledOffAfter = 3s;
constexpr auto kGiveUpAfterHang = 75s;  // the restart comes 40 to 50 s after the hang
constexpr int kSecondsBetweenProgress = 5;

std::string baseName(const std::string &path) { return fs::path(path).filename().string(); }

// Removes the folders earlier demos left in the temporary folder, except one whose demo
// still runs. Only folders that carry the demo's mark are touched (the mark of the demo's
// single-board days, sim/demo.pid, too).
void removeOldDemos() {
  std::error_code ec;
  for (const auto &entry : fs::directory_iterator(fs::temp_directory_path(), ec)) {
    std::string name = entry.path().filename().string();
    if (name.rfind(std::string(kDemoName) + ".", 0) != 0 || !entry.is_directory(ec)) continue;
    std::string owner;
    if (!kvsim::readFile(entry.path().string() + "/" + kOwnerFile, owner) &&
        !kvsim::readFile(entry.path().string() + "/sim/demo.pid", owner))
      continue;
    pid_t pid = static_cast<pid_t>(atoi(owner.c_str()));
    if (pid > 0 && kill(pid, 0) == 0) continue;
    fs::remove_all(entry.path(), ec);
  }
}

// The demo's own folder; the two boards are made inside it.
std::string makeDemoFolder() {
  std::string tmpl = fs::temp_directory_path().string() + "/" + kDemoName + ".XXXXXX";
  if (!mkdtemp(tmpl.data())) return "";
  FILE *f = fopen((tmpl + "/" + kOwnerFile).c_str(), "w");
  if (f) {
    fprintf(f, "%d\n", getpid());
    fclose(f);
  }
  return tmpl;
}

int localZoneHhmm() {
  time_t now = time(nullptr);
  struct tm tm;
  localtime_r(&now, &tm);
  long minutes = tm.tm_gmtoff / 60;
  return static_cast<int>(minutes / 60 * 100 + minutes % 60);
}

void prepareUnit(KV_Config_Data &c, int role) {
  c.bRunning = 1;  // the recorder is up: the supervisors watch the servers
  if (role == DEVICE_2CH_FRONT) {
    c.gps_speed_display = 1;
    c.gps_sync_time = 1;
    c.gps_timezone = localZoneHhmm();
    c.gps_cable_connected = 1;
  } else {
    c.remote_device_on = 1;  // the rear says it is alive every 2 s
  }
}

// The drive, from its kDriveFrom-th second, its first fix at the workstation's now.
std::vector<kvsim::Sentence> demoDrive() {
  kvsim::DriveOptions o;
  o.rate_hz = 1;
  o.seconds = kDriveSeconds;
  o.start_utc = time(nullptr) - kDriveFrom;
  o.no_fix = {kTunnel};
  std::vector<kvsim::Sentence> out;
  for (auto &s : kvsim::generateDrive(o))
    if (s.at_ms >= kDriveFrom * 1000) out.push_back({s.at_ms - kDriveFrom * 1000, s.text});
  return out;
}

std::string wordAfter(const std::string &line, const std::string &key) {
  size_t at = line.find(" " + key + "=");
  if (at == std::string::npos) return "";
  at += key.size() + 2;
  return line.substr(at, line.find(' ', at) - at);
}

class Demo {
 public:
  bool run() {
    if (setUp()) {
      drive();
      wifi();
      rearRecording();
      eventRecording();
      calledOffRecording();
      exportViews();
      hangAndRestart();
    }
    stopEverything();
    return summary();
  }

 private:
  RecorderUnit &front() { return units_->front; }
  RecorderUnit &rear() { return units_->rear; }
  void say(const std::string &who, const std::string &what) { timeline_.say(who, what); }

  // ---- waiting, while the timeline shows what happens ----------------------------------

  // The link first: an event on the front's bus follows the line that made it.
  void pump() {
    watchLink();
    watchServers();
    watchSentinel();
    watchCommands();
    watchGps();
    watchFeeder();
    watchCard();
    watchController();
  }
  void waitUntil(Clock::time_point when) {
    while (Clock::now() < when) {
      pump();
      std::this_thread::sleep_for(100ms);
    }
    pump();
  }
  void waitFor(std::chrono::milliseconds d) { waitUntil(Clock::now() + d); }
  bool waitFor(const std::function<bool()> &done, std::chrono::milliseconds timeout) {
    auto end = Clock::now() + timeout;
    while (!done()) {
      if (Clock::now() >= end) return false;
      pump();
      std::this_thread::sleep_for(100ms);
    }
    pump();
    return true;
  }
  // Until `at` after the feed began.
  void waitForDrive(std::chrono::milliseconds at) { waitUntil(drive_start_ + at); }

  // ---- the units -------------------------------------------------------------------

  bool setUp() {
    printf("kv_demo: a front and a rear camera unit of the recorder on simulated boards\n");
    folder_ = makeDemoFolder();
    if (folder_.empty()) {
      printf("kv_demo: cannot make a folder in %s\n", fs::temp_directory_path().c_str());
      return false;
    }
    printf("Both boards are kept in %s\n", folder_.c_str());
    // A board's folder is made in the temporary folder: the demo's folder for now.
    const char *tmpdir = getenv("TMPDIR");
    std::string saved = tmpdir ? tmpdir : "";
    setenv("TMPDIR", folder_.c_str(), 1);
    units_ = std::make_unique<kvsim::TwoUnits>(prepareUnit, "front", "rear");
    tmpdir ? setenv("TMPDIR", saved.c_str(), 1) : unsetenv("TMPDIR");
    if (front().board.root().size() > kMaxBoardRoot) {
      printf(
          "kv_demo: the board's folder %s is too long for a recording's name stem in the GPS "
          "start record (80 bytes); set TMPDIR to a shorter folder\n",
          front().board.root().c_str());
      return false;
    }
    timeline_.act("Two camera units come up");
    bool up = true;
    for (RecorderUnit *u : {&front(), &rear()}) up = startUnit(*u) && up;
    if (up) promises_.see("up");
    return up;
  }

  bool startUnit(RecorderUnit &u) {
    const char *name = u.role == DEVICE_2CH_FRONT ? "front" : "rear";
    u.board.write("/mnt/nand/lang", "EN\n");
    u.board.append("/proc/mounts", "/dev/mmcblk0p1 /mnt/mmc vfat rw,relatime 0 0\n");
    for (const char *server : {"system_server", "av_server.out"}) u.board.startServer(server);
    u.board.startServer("gsensor_feeder");
    say(name,
        "file_manager, kv_server, system_server, av_server.out (stand-ins) and the "
        "G-sensor are up");
    if (!u.startNavlink()) {
      say(name, "kv_navlink did not come up: " + u.board.stdoutOf(u.navlink));
      return false;
    }
    say(name, "kv_navlink serves its GPS channel" +
                  std::string(u.role == DEVICE_2CH_FRONT ? " and reads the GPS port and the link"
                                                         : "; its keep-alive runs"));
    sentinel_[u.role] = u.board.start({"kv_sentinel"});
    say(name, "kv_sentinel started; it gives the servers 10 s to come up");
    return true;
  }

  void drive() {
    drive_ = demoDrive();
    drive_start_ = Clock::now();
    feeder_ = std::thread([this] {
      kvsim::NmeaFeeder feeder(front().gps);
      feeder.play(drive_, {}, &stop_feed_);
    });
    say("GPS receiver",
        "drives through town from the front's GPS port (1 fix a second; a "
        "tunnel without fix ahead)");
  }

  void stopEverything() {
    stop_feed_ = true;
    if (feeder_.joinable()) feeder_.join();
    for (auto &[role, pid] : sentinel_) {
      RecorderUnit &u = role == DEVICE_2CH_FRONT ? front() : rear();
      if (pid > 0) u.board.kill(pid);
    }
  }

  // ---- the acts --------------------------------------------------------------------

  void wifi() {
    waitForDrive(kWifiOnAt);
    timeline_.act("The front's Wi-Fi access point, on and off");
    kvsim::writeWifiDefaults(front().board);
    int on = runToEnd({"kv_wifi_switch", "on", "KV-Front 0815", "demo-pass-1234", "6"});
    say("kv_wifi_switch", "on: exit status " + std::to_string(on));
    bool started = hasToolCall("hostapd") && hasToolCall("dnsmasq");
    if (on == 0 && started) promises_.see("wifi-on", "hostapd and dnsmasq started");
    waitForDrive(kWifiOffAt);
    int off = runToEnd({"kv_wifi_switch", "off"});
    say("kv_wifi_switch", "off: exit status " + std::to_string(off));
    bool unloaded = !kvsim::contains(front().board.read("/proc/modules"), "8189es");
    if (off == 0 && unloaded) promises_.see("wifi-off", "driver 8189es unloaded");
  }

  bool hasToolCall(const std::string &tool) {
    return !kvsim::toolCalls(front().board, tool).empty();
  }

  int runToEnd(const std::vector<std::string> &argv) {
    pid_t pid = front().board.start(argv);
    waitFor([&] { return !front().board.running(pid); }, 60s);
    int status = front().board.wait(pid, 1000ms);
    return status == -1 ? -1 : kvsim::Sandbox::exitCode(status);
  }

  void rearRecording() {
    waitForDrive(kRearRecordAt);
    timeline_.act("The rear unit saves a recording and tells the front");
    kvsim::sendRecordRequests(rear().board, "start kind=always length=60000\n");
    waitFor(kRearRecordFor);
    kvsim::sendRecordRequests(rear().board, "stop\n");
    waitFor([&] { return promises_.seen("announce"); }, 5s);
  }

  void eventRecording() {
    waitForDrive(kBrakeAt);
    timeline_.act("A hard braking: the front records the event with the 10 s before it");
    front().board.setControl("gsensor_feeder", "brake", "");
    waitFor([&] { return promises_.seen("brake"); }, 3s);
    say("kv_server", "a jolt like that is an impact: an event recording, " +
                         std::to_string(kPreEventMs / 1000) + " s of it before the jolt");
    event_stem_ =
        startRecording("start kind=impact pre=" + std::to_string(kPreEventMs) + " length=60000\n");
    waitFor(kEventRunsFor);
    say("kv_server", "the event recording ends");
    kvsim::sendRecordRequests(front().board, "stop\n");
    checkEventFiles();
  }

  // The front's kv_server starts a recording; its stem, once the timeline has shown it.
  std::string startRecording(const std::string &request) {
    stem_.clear();
    kvsim::sendRecordRequests(front().board, request);
    pump();
    return stem_;
  }

  void checkEventFiles() {
    if (event_stem_.empty()) return;
    std::string name = baseName(event_stem_);
    static const std::regex kRule("[0-9]{8}-[0-9]{6}_EVT_D_F");
    if (std::regex_match(name, kRule)) promises_.see("name", name);
    auto track = kvdemo::readTrack(event_stem_ + ".gps", kPreEventMs);
    say("card", name + ".gps: " + std::to_string(track.lines) + " lines from +" +
                    std::to_string(track.first_ms) + " ms to +" + std::to_string(track.last_ms) +
                    " ms; " + std::to_string(track.before) + " of them before the jolt; " +
                    std::to_string(track.fixes) + " fixes, " + std::to_string(track.no_fix) +
                    " without (the tunnel)");
    if (track.readable && track.ends_whole && track.first_ms >= 0 && track.first_ms < 1500 &&
        track.before > 0 && track.fixes > 0 && track.no_fix > 0 && track.own_name == name + ".gps")
      promises_.see("track", "first line at +" + std::to_string(track.first_ms) + " ms, " +
                                 std::to_string(track.before) + " lines before the jolt");
    auto g = kvdemo::readGSensor(event_stem_ + ".gsf");
    say("card", name + ".gsf: " + std::to_string(g.records) + " records from +" +
                    std::to_string(g.first_ms) + " ms to +" + std::to_string(g.last_ms) +
                    " ms; the first " + std::to_string(g.from_history) +
                    " from kv_server's history (up to +" + std::to_string(g.last_history_ms) +
                    " ms); strongest pull on x " + std::to_string(g.min_x) + " mg at +" +
                    std::to_string(g.min_x_ms) + " ms");
    // Four samples a second: the 10 s before are about 40 of kv_server's.
    bool before = g.from_history >= 30 && g.first_ms >= 0 && g.first_ms < 500;
    bool jolt =
        g.min_x <= -400 && g.min_x_ms > kPreEventMs - 2000 && g.min_x_ms < kPreEventMs + 3000;
    if (g.closed && before && jolt)
      promises_.see("gsf", std::to_string(g.records) + " records, count and end marker");
    track_fixes_ = track.fixes;
  }

  void calledOffRecording() {
    waitFor(2s);
    timeline_.act("A second recording, called off within 6 s");
    std::string stem =
        startRecording("start kind=manual pre=" + std::to_string(kPreEventMs) + " length=60000\n");
    bool made = waitFor([&] { return fs::exists(stem + ".gps") && fs::exists(stem + ".gsf"); }, 3s);
    waitFor(kCalledOffAfter);
    say("kv_server", "the recording is called off " + std::to_string(kCalledOffAfter.count()) +
                         " s after its start");
    kvsim::sendRecordRequests(front().board, "cancel\n");
    bool gone =
        waitFor([&] { return !fs::exists(stem + ".gps") && !fs::exists(stem + ".gsf"); }, 3s);
    say("card", baseName(stem) + (gone ? ": neither .gps nor .gsf is left" : ": files are left"));
    if (made && gone) promises_.see("called-off", baseName(stem));
  }

  void exportViews() {
    timeline_.act("kv_export turns the front's recordings into views");
    export_dir_ = folder_ + "/exported";
    std::string card = front().board.path(kRecordings);
    say("kv_export", "kv_export -o " + export_dir_ + " " + card);
    pid_t pid = front().board.start({"kv_export", "-o", export_dir_, card});
    waitFor([&] { return !front().board.running(pid); }, 60s);
    int status = front().board.wait(pid, 1000ms);
    for (const auto &line : kvsim::splitLines(front().board.stdoutOf(pid))) say("kv_export", line);
    for (const auto &line : kvsim::splitLines(front().board.stderrOf(pid)))
      say("kv_export", "! " + line);
    if (status == -1 || kvsim::Sandbox::exitCode(status) != 0) return;
    checkViews();
  }

  void checkViews() {
    std::string stem = export_dir_ + "/" + baseName(event_stem_);
    std::string gpx;
    kvsim::readFile(stem + ".gpx", gpx);
    size_t points = 0, segments = 0;
    for (size_t at = gpx.find("<trkpt "); at != std::string::npos; at = gpx.find("<trkpt ", at + 1))
      ++points;
    for (size_t at = gpx.find("<trkseg>"); at != std::string::npos;
         at = gpx.find("<trkseg>", at + 1))
      ++segments;
    bool all = points > 0 && points == track_fixes_ && segments == 2;
    for (const char *ext : {".track.csv", ".gsensor.csv", ".svg"})
      all = all && fs::exists(stem + ext);
    all = all && fs::exists(export_dir_ + "/Recordings.html");
    if (all)
      promises_.see("export", std::to_string(points) + " GPX points in " +
                                  std::to_string(segments) + " segments, one per stretch with fix");
  }

  void hangAndRestart() {
    timeline_.act("Finally kv_server hangs: kv_sentinel restarts the front unit");
    front().board.setControl("kv_server", "hang", "");
    hung_ = true;
    hung_at_s_ = timeline_.seconds();
    say(">>> demo", "kv_server is made to hang: it stops answering");
    waitFor(
        [&] {
          showProgress();
          return restarted_;
        },
        kGiveUpAfterHang);
    waitFor(1500ms);  // the last lines of the sequence
  }

  // The supervisor asks every 10 s; the first request after the hang is the one that
  // waits, and the unit is restarted once it has waited 40 s.
  void showProgress() {
    auto now = Clock::now();
    if (restarted_ || now - last_progress_ < std::chrono::seconds(kSecondsBetweenProgress)) return;
    last_progress_ = now;
    auto asked = last_kv_answer_ + 10s;
    if (now < asked) {
      say("...", "kv_server hangs; the supervisor's next request will find out");
      return;
    }
    auto waited = std::chrono::duration_cast<std::chrono::seconds>(now - asked).count();
    say("...", "the request to kv_server has waited " + std::to_string(waited) +
                   " s; the supervisor gives it 40 s");
  }

  // ---- what the boards show ----------------------------------------------------------

  void watchServers() {
    for (const auto &line :
         tails_["front kv_server"].fresh(front().board.read("/sim/log/kv_server.log")))
      frontKvServerLine(line);
    for (const auto &line :
         tails_["rear kv_server"].fresh(rear().board.read("/sim/log/kv_server.log")))
      rearKvServerLine(line);
    for (const char *server : {"system_server", "av_server.out"}) {
      for (const auto &line : tails_[std::string("front ") + server].fresh(
               front().board.read(std::string("/sim/log/") + server + ".log")))
        if (isLiveness(server, line)) liveness(server);
      for (const auto &line : tails_[std::string("rear ") + server].fresh(
               rear().board.read(std::string("/sim/log/") + server + ".log")))
        if (isLiveness(server, line)) rearLiveness(server);
    }
  }

  static bool isLiveness(const std::string &server, const std::string &line) {
    const char *prefix = server == "kv_server"       ? "id=300 "
                         : server == "system_server" ? "cmd=312 "
                                                     : "cmd=70 ";
    return line.rfind(prefix, 0) == 0 && kvsim::contains(line, "src=16");
  }

  void liveness(const std::string &server) {
    say(server, "answers kv_sentinel's liveness request");
    if (!hung_) answered_.insert(server);
    if (server == "kv_server") last_kv_answer_ = Clock::now();
  }

  void rearLiveness(const std::string &server) {
    if (!rear_answered_.insert(server).second) return;
    if (rear_answered_.size() == 3) say("rear", "its three servers answer its own kv_sentinel too");
  }

  void frontKvServerLine(const std::string &line) {
    if (isLiveness("kv_server", line)) return liveness("kv_server");
    if (line.rfind("id=280 src=8 ", 0) == 0) {
      say("kv_server",
          "kv_shocklog asks for the last 50 G-sensor samples (id 280): answered "
          "from kv_server's history");
      promises_.see("previous");
      return;
    }
    if (line.rfind("id=4", 0) == 0) return eventFromRear(line);
    if (line.rfind("record ", 0) == 0) recordLine("kv_server", line);
  }

  void rearKvServerLine(const std::string &line) {
    if (isLiveness("kv_server", line)) return rearLiveness("kv_server");
    if (line.rfind("record ", 0) == 0) recordLine("rear kv_server", line);
  }

  void recordLine(const std::string &who, const std::string &line) {
    std::string stem = wordAfter(line, "stem");
    if (line.rfind("record start ", 0) == 0) {
      if (who == "kv_server") stem_ = stem;
      say(who, "names the recording " + baseName(stem) + " (its first moment's time, kind, unit)");
      std::string args = line.substr(line.find(" args=") + 6);
      args = args.substr(0, args.rfind(" track="));
      say(who, "starts kv_shocklog " + shortPaths(args));
      say(who, "asks kv_navlink for the track (GPS channel, start id 202): result " +
                   wordAfter(line, "track"));
      if (who == "kv_server") checkShocklogLine(stem, args);
      return;
    }
    bool cancel = line.rfind("record cancel ", 0) == 0;
    if (cancel || line.rfind("record stop ", 0) == 0) {
      if (cancel)
        say(who, "SIGUSR2 to kv_shocklog and kv_navlink: the recording is not to be kept");
      say(who, "SIGINT to kv_shocklog (it ended with status " + wordAfter(line, "shocklog_exit") +
                   "), track stop (id 204): result " + wordAfter(line, "track"));
      std::string code = wordAfter(line, "announce");
      if (!code.empty())
        say(who, "announces the saved recording to the front: relay request " + code);
      return;
    }
    say(who, line);
  }

  // kv_shocklog <stem> <pre> <start tick> 0 <length>: the start tick 10 s back.
  void checkShocklogLine(const std::string &stem, const std::string &args) {
    std::vector<std::string> w;
    std::istringstream in(args);
    for (std::string word; in >> word;) w.push_back(word);
    bool right = w.size() == 5 && w[0] == stem && w[1] == std::to_string(kPreEventMs) &&
                 atoll(w[2].c_str()) > 0 && w[3] == "0" && atoll(w[4].c_str()) > 0;
    if (right) promises_.see("shocklog", "start tick " + w[2]);
  }

  std::string shortPaths(const std::string &text) const {
    std::string out = text;
    for (const auto &[root, name] : {std::pair{units_->front.board.root(), "<front>"},
                                     std::pair{units_->rear.board.root(), "<rear>"}})
      for (size_t at; (at = out.find(root)) != std::string::npos;)
        out.replace(at, root.size(), name);
    return out;
  }

  void eventFromRear(const std::string &line) {
    int id = atoi(line.c_str() + 3);
    std::string payload = wordAfter(line, "payload");
    if (id == 470 && payload.size() >= 24) {
      // The 104-byte record: code, -, the number, ... (little-endian hex)
      uint32_t value = 0;
      for (int i = 3; i >= 0; --i)
        value = value * 256 +
                static_cast<uint32_t>(strtoul(payload.substr(16 + 2 * i, 2).c_str(), nullptr, 16));
      time_t t = static_cast<time_t>(static_cast<int32_t>(value));
      char when[32];
      struct tm tm;
      localtime_r(&t, &tm);
      strftime(when, sizeof when, "%H:%M:%S", &tm);
      say("kv_server", "event 470 from the rear: a recording saved, named at " + std::string(when) +
                           " (" + std::to_string(static_cast<int32_t>(value)) + ")");
      if (std::to_string(static_cast<int32_t>(value)) == announced_)
        promises_.see("announce", "#CMAND=" + announced_);
      return;
    }
    say("kv_server", "event " + std::to_string(id) + " from the rear unit");
  }

  void watchSentinel() {
    auto it = sentinel_.find(DEVICE_2CH_FRONT);
    if (it == sentinel_.end()) return;
    for (auto &line : tails_["sentinel out"].fresh(front().board.stdoutOf(it->second))) {
      say("kv_sentinel", line);
      if (kvsim::contains(line, "kv_server not responding... restart")) promises_.see("noticed");
    }
    for (auto &line : tails_["flash log"].fresh(front().board.flashLogs()))
      if (line.find("[watch_d]") != std::string::npos)
        say("log", line.substr(line.find("[watch_d]")));
  }

  void watchCommands() {
    for (auto &line : tails_["commands"].fresh(front().board.read("/sim/commands.log"))) {
      // kv_navlink sets the clock again and again from the fixes: once is worth a line.
      if (line == "hwclock -uw" && hwclock_shown_) continue;
      hwclock_shown_ = hwclock_shown_ || line == "hwclock -uw";
      say("command", shortPaths(line));
    }
  }

  void watchLink() {
    auto lines = units_->cable.lines(kvsim::kRearToFront);
    for (; link_lines_ < lines.size(); ++link_lines_) {
      const std::string &text = lines[link_lines_].text;
      if (text == "#CMLIV") {
        if (++keep_alives_ == 1)
          say("serial link", "rear -> front: #CMLIV, the rear's keep-alive (every 2 s)");
        continue;
      }
      say("serial link", "rear -> front: " + text);
      if (text.rfind("#CMAND=", 0) == 0) announced_ = text.substr(7);
    }
    std::string back = units_->cable.delivered(kvsim::kFrontToRear);
    for (; link_back_ < back.size(); ++link_back_) {
      char hex[8];
      snprintf(hex, sizeof hex, "0x%02X", static_cast<unsigned char>(back[link_back_]));
      say("serial link", std::string("front -> rear: ") + hex);
    }
  }

  void watchGps() {
    int speed = front().cfg().gps_speed;
    if (speed >= 0 && !had_fix_)
      say("kv_navlink", "fix: " + std::to_string(speed) + " km/h on the OSD");
    if (speed < 0 && had_fix_) say("kv_navlink", "no fix (the tunnel): the OSD speed is cleared");
    if (speed > 0) promises_.see("gps");
    had_fix_ = speed >= 0;
    std::string clock = front().board.read("/sim/clock");
    if (!clock.empty() && !clock_shown_) {
      clock_shown_ = true;
      say("kv_navlink", "set the board's clock from the first fix");
    }
  }

  void watchFeeder() {
    for (auto &line : tails_["feeder"].fresh(front().board.read("/sim/log/gsensor_feeder.log")))
      if (line.rfind("brake ", 0) == 0) {
        say("G-sensor", "feels a hard braking at " + std::to_string(front().cfg().gps_speed) +
                            " km/h: up to 0.95 g backwards");
        promises_.see("brake");
      }
  }

  void watchCard() {
    std::set<std::string> now;
    std::error_code ec;
    for (const auto &e : fs::directory_iterator(front().board.path(kRecordings), ec))
      now.insert(e.path().filename().string());
    for (const auto &name : now)
      if (!card_.count(name)) say("card", name + " created");
    for (const auto &name : card_)
      if (!now.count(name)) say("card", name + " deleted");
    card_ = now;
  }

  void watchController() {
    std::string rec = front().board.read(KV_NODE_MICOM_DATA);
    if (rec.size() == 20 && rec.compare(0, 4, std::string("1_0\0", 4)) == 0 && !restarted_) {
      restarted_ = true;
      restart_at_s_ = timeline_.seconds();
      say("controller", "got \"1_0\": main power cut and restored, the unit restarts");
      promises_.see("restart");
    }
  }

  // ---- the end -----------------------------------------------------------------------

  bool summary() {
    printf("\nSummary\n");
    for (const char *server : {"system_server", "av_server.out", "kv_server"})
      if (answered_.count(server)) promises_.see(std::string("answered ") + server);
    if (keep_alives_ >= 3)
      promises_.see("keep-alive", std::to_string(keep_alives_) + " of them, one every 2 s");
    bool all = promises_.report();
    if (restarted_)
      printf("  kv_server hung at %.0f s; the unit was restarted at %.1f s.\n", hung_at_s_,
             restart_at_s_);
    listFiles();
    printf("%s\n", all ? "demo: everything promised was seen"
                       : "demo: FAILED, something promised was not seen");
    fflush(stdout);
    return all;
  }

  void listFiles() {
    if (!units_) return;
    printf("\nThe event recording, on the front unit's card:\n");
    for (const char *ext : {".gps", ".gsf"})
      if (!event_stem_.empty() && fs::exists(event_stem_ + ext))
        printf("  %s%s\n", event_stem_.c_str(), ext);
    printf("The views kv_export made of it (open the .html page in a browser):\n");
    std::error_code ec;
    std::vector<std::string> views;
    for (const auto &e : fs::directory_iterator(export_dir_, ec))
      views.push_back(e.path().string());
    std::sort(views.begin(), views.end());
    for (const auto &v : views) printf("  %s\n", v.c_str());
    printf("Both boards are kept for a look (earlier demos were removed):\n");
    for (RecorderUnit *u : {&front(), &rear()}) {
      const char *name = u->role == DEVICE_2CH_FRONT ? "front" : "rear ";
      printf("  %s board         %s\n", name, u->board.root().c_str());
    }
    printf(
        "  on each: the servers' requests in sim/log/, the commands run in sim/commands.log,\n"
        "  the programs' output in sim/out/, their log lines in mnt/nand/log/\n");
  }

  kvdemo::Timeline timeline_;
  kvdemo::Promises promises_ = makePromises();
  std::string folder_, export_dir_;
  std::unique_ptr<kvsim::TwoUnits> units_;
  std::map<int, pid_t> sentinel_;
  std::vector<kvsim::Sentence> drive_;
  std::thread feeder_;
  std::atomic<bool> stop_feed_{false};
  Clock::time_point drive_start_, last_progress_, last_kv_answer_;
  double hung_at_s_ = 0, restart_at_s_ = 0;
  bool hung_ = false, restarted_ = false, had_fix_ = false, clock_shown_ = false;
  bool hwclock_shown_ = false;
  std::string stem_, event_stem_, announced_;
  size_t track_fixes_ = 0, link_lines_ = 0, link_back_ = 0;
  int keep_alives_ = 0;
  std::set<std::string> answered_, rear_answered_, card_;
  std::map<std::string, kvdemo::Tail> tails_;

  static kvdemo::Promises makePromises() {
    kvdemo::Promises p;
    p.promise("up",
              "both units up: stand-in servers, kv_navlink serving its GPS channel, kv_sentinel");
    p.promise("gps", "the front's kv_navlink reads the drive (speed on the OSD)");
    p.promise("wifi-on", "kv_wifi_switch on: the access point started");
    p.promise("wifi-off", "kv_wifi_switch off: the access point stopped, the driver unloaded");
    p.promise("keep-alive", "the rear's keep-alive #CMLIV over the serial link");
    p.promise("announce",
              "the rear's saved recording (#CMAND=...) reached the front's kv_server as event 470");
    p.promise("brake", "the G-sensor felt a hard braking");
    p.promise("name", "the event recording named by the recording name rule (..._EVT_D_F)");
    p.promise("shocklog",
              "kv_shocklog started with the stem, 10000, the start tick 10 s back, 0, the length");
    p.promise("previous", "kv_shocklog got kv_server's G-sensor history (id 280)");
    p.promise("track",
              "the .gps track holds the 10 s before the jolt, the tunnel, and is closed whole");
    p.promise(
        "gsf",
        "the .gsf file holds kv_server's history of the 10 s before, the jolt, and is closed");
    p.promise("called-off", "the recording called off within 6 s left no .gps and no .gsf");
    p.promise("export", "kv_export made GPX (every fix), CSV, SVG and the HTML page");
    for (const char *server : {"system_server", "av_server.out", "kv_server"})
      p.promise(std::string("answered ") + server,
                std::string(server) + " answered the front's supervisor before the hang");
    p.promise("noticed", "kv_sentinel reported kv_server as not responding");
    p.promise("restart", "the board controller was told to restart the unit (\"1_0\")");
    return p;
  }
};

}  // namespace

int main() {
  removeOldDemos();
  setenv("KV_KEEP_SANDBOX", "1", 1);  // the user looks at the files afterwards
  Demo demo;
  return demo.run() ? 0 : 1;
}
