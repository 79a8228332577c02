// SPDX-License-Identifier: MIT
// kv_demo: the whole two-unit recorder on simulated boards, in about 75 seconds.
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
//   - the real kv_export turning the front's recordings folder into GPX, CSV, subtitles and
//     the viewer's pages (the event recording has a video where ffmpeg is installed);
//   - finally kv_server made to hang, and kv_sentinel restarting the unit.
//
// Exit status 0 only when every promise of the summary was seen. Both boards are kept for
// a look, in one folder whose path is printed; the folders of this user's earlier demos
// are removed, so at most one is left behind. Needs no GoogleTest.
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <exception>
#include <filesystem>
#include <functional>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "kv_common_util.h"
#include "kv_demo_files.h"
#include "kv_demo_folder.h"
#include "kv_demo_timeline.h"
#include "kv_demo_watch.h"
#include "kv_server_record.h"
#include "nmea_feed.h"
#include "sandbox_card.h"
#include "sandbox_link.h"
#include "sandbox_wifi.h"
#include "standin.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using kvdemo::baseName;
using kvdemo::Clock;
using kvsim::RecorderUnit;

using kvdemo::kMaxBoardRoot;

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
constexpr auto kPowerGoesAfter = 3s;    // after the jolt of the crash
constexpr auto kGiveUpAfterHang = 75s;  // the restart comes 40 to 50 s after the hang
constexpr int kSecondsBetweenProgress = 5;

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

// What the demo promises, in the order the summary tells it.
kvdemo::Promises demoPromises() {
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
  p.promise("gsf",
            "the .gsf file holds kv_server's history of the 10 s before, the jolt, and is closed");
  p.promise("called-off", "the recording called off within 6 s left no .gps and no .gsf");
  p.promise("export", "kv_export made GPX (every fix), CSV, subtitles, the overview and the page");
  for (const std::string server : {"system_server", "av_server.out", "kv_server"})
    p.promise("answered " + server, server + " answered the front's supervisor before the hang");
  p.promise("noticed", "kv_sentinel reported kv_server as not responding");
  p.promise("restart", "the board controller was told to restart the unit (\"1_0\")");
  return p;
}

// The start tick of kv_shocklog's command line when it is the recorder's for an event,
// "<stem> <pre> <start tick> 0 <length>"; "" when it is not.
std::string eventCommandLineTick(const std::string &start_line) {
  std::istringstream in(start_line.substr(start_line.find(" args=") + 6));
  std::vector<std::string> w;
  for (std::string word; in >> word && word.rfind("track=", 0) != 0;) w.push_back(word);
  bool right = w.size() == 5 && w[0] == kvdemo::wordAfter(start_line, "stem") &&
               w[1] == std::to_string(kPreEventMs) && atoll(w[2].c_str()) > 0 && w[3] == "0" &&
               atoll(w[4].c_str()) > 0;
  return right ? w[2] : "";
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
      powerCut();
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

  void look() {
    if (watch_) watch_->look();
  }
  bool waitFor(const std::function<bool()> &done, std::chrono::milliseconds timeout) {
    auto end = Clock::now() + timeout;
    for (look(); !done(); look()) {
      if (Clock::now() >= end) return false;
      std::this_thread::sleep_for(100ms);
    }
    return true;
  }
  void waitUntil(Clock::time_point when) {
    waitFor([&] { return Clock::now() >= when; }, 24h);
  }
  void waitFor(std::chrono::milliseconds d) { waitUntil(Clock::now() + d); }
  // Until `at` after the feed began.
  void waitForDrive(std::chrono::milliseconds at) { waitUntil(drive_start_ + at); }

  // ---- the units -------------------------------------------------------------------

  bool setUp() {
    printf("kv_demo: a front and a rear camera unit of the recorder on simulated boards\n");
    printf("Each line: seconds since the start, who shows it, what happened.\n");
    folder_ = kvdemo::makeDemoFolder(kvdemo::demoParents());
    if (folder_.empty()) {
      printf("kv_demo: cannot make a short folder in %s, /tmp or /var/tmp\n",
             fs::temp_directory_path().c_str());
      return false;
    }
    // A board's folder is made in the temporary folder: the demo's folder for now.
    {
      kvsim::ScopedEnv tmpdir("TMPDIR", folder_);
      units_ = std::make_unique<kvsim::TwoUnits>(prepareUnit, "front", "rear");
    }
    roots_ = {front().board.root(), rear().board.root()};
    if (roots_[0].size() > kMaxBoardRoot) {
      printf(
          "kv_demo: the board's folder %s is too long for a recording's name stem in the GPS "
          "start record (80 bytes); set TMPDIR to a shorter folder\n",
          roots_[0].c_str());
      return false;
    }
    mountFailingCard();
    watch_ = std::make_unique<kvdemo::BoardWatch>(*units_, timeline_, promises_);
    timeline_.act("Two camera units come up");
    bool up = startUnit(front()) && startUnit(rear());
    if (up) promises_.see("up");
    return up;
  }

  bool startUnit(RecorderUnit &u) {
    bool is_front = u.role == DEVICE_2CH_FRONT;
    const char *name = is_front ? "front" : "rear";
    u.board.write("/mnt/nand/lang", "EN\n");
    u.board.append("/proc/mounts", "/dev/mmcblk0p1 /mnt/mmc vfat rw,relatime 0 0\n");
    for (const char *server : {"system_server", "av_server.out", "gsensor_feeder"})
      u.board.startServer(server);
    say(name,
        "file_manager, kv_server, system_server, av_server.out (stand-ins) and the "
        "G-sensor are up");
    if (!u.startNavlink()) {
      say(name, "kv_navlink did not come up: " + u.board.stdoutOf(u.navlink));
      return false;
    }
    say(name, std::string("kv_navlink serves its GPS channel") +
                  (is_front ? " and reads the GPS port and the link" : "; its keep-alive runs"));
    pid_t sentinel = u.board.start({"kv_sentinel"});
    sentinels_.push_back({&u, sentinel});
    if (is_front) watch_->watchSentinel(sentinel);
    say(name, "kv_sentinel started; it gives the servers 10 s to come up");
    return true;
  }

  void drive() {
    drive_ = demoDrive();
    drive_start_ = Clock::now();
    feeder_ = std::thread([this] { kvsim::NmeaFeeder(front().gps).play(drive_, {}, &stop_feed_); });
    say("GPS receiver",
        "drives through town from the front's GPS port (1 fix a second; a "
        "tunnel without fix ahead)");
  }

  void stopEverything() {
    stop_feed_ = true;
    if (feeder_.joinable()) feeder_.join();
    for (auto &[unit, pid] : sentinels_) unit->board.kill(pid);
    if (watch_) takeWatchFindings();
    watch_.reset();
    card_.reset();   // the front's card folder then holds what the card held
    units_.reset();  // the boards stay (KV_KEEP_SANDBOX), each says so
  }

  // ---- the acts --------------------------------------------------------------------

  void wifi() {
    waitForDrive(kWifiOnAt);
    timeline_.act("The front's Wi-Fi access point, on and off");
    kvsim::writeWifiDefaults(front().board);
    int on = runToEnd({"kv_wifi_switch", "on", "KV-Front 0815", "demo-pass-1234", "6"});
    say("kv_wifi_switch", "on: exit status " + std::to_string(on));
    if (on == 0 && hasToolCall("hostapd") && hasToolCall("dnsmasq"))
      promises_.see("wifi-on", "hostapd and dnsmasq started");
    waitForDrive(kWifiOffAt);
    int off = runToEnd({"kv_wifi_switch", "off"});
    say("kv_wifi_switch", "off: exit status " + std::to_string(off));
    if (off == 0 && !kvsim::contains(front().board.read("/proc/modules"), "8189es"))
      promises_.see("wifi-off", "driver 8189es unloaded");
  }

  bool hasToolCall(const std::string &tool) {
    return !kvsim::toolCalls(front().board, tool).empty();
  }

  // Runs a program on the front board to its end; its exit status, -1 when it did not end.
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

  // The front's kv_server starts a recording; its stem, once the timeline has shown it.
  std::string startRecording(const std::string &request) {
    kvsim::sendRecordRequests(front().board, request);
    look();
    return watch_ ? kvdemo::wordAfter(watch_->lastStart(), "stem") : "";
  }

  void eventRecording() {
    waitForDrive(kBrakeAt);
    timeline_.act("A hard braking: the front records the event with the 10 s before it");
    front().board.setControl("gsensor_feeder", "brake", "");
    waitFor([&] { return promises_.seen("brake"); }, 3s);
    say("kv_server", "a jolt like that is an impact: an event recording, " +
                         std::to_string(kPreEventMs / 1000) + " s of it before the jolt");
    event_stem_ = startRecording("start kind=impact pre=" + std::to_string(kPreEventMs) +
                                 " length=60000 video=1\n");
    std::string start_tick = eventCommandLineTick(watch_->lastStart());
    if (!start_tick.empty()) promises_.see("shocklog", "start tick " + start_tick);
    waitFor(kEventRunsFor);
    say("kv_server", "the event recording ends");
    kvsim::sendRecordRequests(front().board, "stop\n");
    look();
    checkEventFiles();
  }

  void checkEventFiles() {
    if (event_stem_.empty()) return;
    std::string name = baseName(event_stem_);
    static const std::regex kRule("[0-9]{8}-[0-9]{6}_EVT_D_F");
    if (std::regex_match(name, kRule)) promises_.see("name", name);
    checkTrack(name);
    checkGSensor(name);
  }

  void checkTrack(const std::string &name) {
    auto t = kvdemo::readTrack(event_stem_ + ".gps", kPreEventMs);
    say("card", name + ".gps: " + std::to_string(t.lines) + " lines from +" +
                    std::to_string(t.first_ms) + " ms to +" + std::to_string(t.last_ms) + " ms; " +
                    std::to_string(t.before) + " of them before the jolt; " +
                    std::to_string(t.fixes) + " fixes, " + std::to_string(t.no_fix) +
                    " without (the tunnel)");
    // Seven sentences a second: the 10 s before are about 70 lines.
    if (t.readable && t.ends_whole && t.own_name == name + ".gps" && t.first_ms >= 0 &&
        t.first_ms < 1500 && t.before >= 50 && t.fixes > 0 && t.no_fix > 0)
      promises_.see("track", "first line at +" + std::to_string(t.first_ms) + " ms, " +
                                 std::to_string(t.before) + " lines before the jolt");
    track_fixes_ = t.fixes;
  }

  void checkGSensor(const std::string &name) {
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
  }

  void calledOffRecording() {
    waitFor(2s);
    timeline_.act("A second recording, called off within 6 s");
    std::string stem =
        startRecording("start kind=manual pre=" + std::to_string(kPreEventMs) + " length=60000\n");
    auto both = [&](bool there) {
      return fs::exists(stem + ".gps") == there && fs::exists(stem + ".gsf") == there;
    };
    bool made = !stem.empty() && waitFor([&] { return both(true); }, 3s);
    waitFor(kCalledOffAfter);
    say("kv_server", "the recording is called off " + std::to_string(kCalledOffAfter.count()) +
                         " s after its start");
    kvsim::sendRecordRequests(front().board, "cancel\n");
    bool gone = waitFor([&] { return both(false); }, 3s);
    say("card", baseName(stem) + (gone ? ": neither .gps nor .gsf is left" : ": files are left"));
    if (made && gone) promises_.see("called-off", baseName(stem));
  }

  // Where the machine has root and /dev/fuse, the front's card is one that keeps only
  // what was synced, so that the demo can cut the power.
  void mountFailingCard() {
    std::string why = kvsim::Card::unavailable();
    if (why.empty()) card_ = std::make_unique<kvsim::Card>(front().board);
    if (!card_ || !card_->mounted()) {
      printf("(no power cut in this demo: %s)\n",
             why.empty() ? "the card did not mount" : why.c_str());
      card_.reset();
      return;
    }
    promises_.promise("power-cut",
                      "a power cut 3 s after a crash's jolt left the event's track and G-forces "
                      "up to the last second");
  }

  // A crash: the jolt, an event recording, and a few seconds later the power is gone. The
  // card keeps what was synced; the programs are gone with the power.
  void powerCut() {
    if (!card_) return;
    waitFor(2s);
    timeline_.act("A crash: a jolt, and 3 s later the front's power is gone");
    front().board.setControl("gsensor_feeder", "brake", "");
    std::string stem =
        startRecording("start kind=impact pre=" + std::to_string(kPreEventMs) + " length=60000\n");
    std::string start_line = watch_ ? watch_->lastStart() : "";
    waitFor(kPowerGoesAfter);
    int64_t cut = kv::tick_ms();
    card_->powerCut();
    pid_t shocklog = static_cast<pid_t>(atoi(kvdemo::wordAfter(start_line, "shocklog").c_str()));
    if (shocklog > 0) kill(shocklog, SIGKILL);
    front().board.kill(front().navlink);
    card_->powerOn();
    say("power", "gone " + std::to_string(kPowerGoesAfter.count()) +
                     " s after the jolt; kv_shocklog and kv_navlink with it");
    int64_t cut_at = cut - atoll(eventCommandLineTick(start_line).c_str());
    auto t = kvdemo::readTrack(stem + ".gps", kPreEventMs);
    auto g = kvdemo::readGSensor(stem + ".gsf");
    std::string kept = "track " + std::to_string(t.lines) + " lines up to +" +
                       std::to_string(t.last_ms) + " ms, G-forces " + std::to_string(g.records) +
                       " records up to +" + std::to_string(g.last_ms) + " ms, of +" +
                       std::to_string(cut_at) + " ms recorded";
    say("card", baseName(stem) + " after the cut: " + kept);
    bool whole = t.lines > 0 && t.first_ms < 1500 && t.last_ms >= cut_at - 2000 && g.records > 0 &&
                 g.first_ms < 500 && g.last_ms >= cut_at - 1500;
    if (!stem.empty() && whole) promises_.see("power-cut", kept);
    kvsim::sendRecordRequests(front().board, "stop\n");
    front().startNavlink();  // the unit is back
  }

  void exportViews() {
    timeline_.act("kv_export turns the front's recordings into views");
    export_dir_ = folder_ + "/exported";
    std::string card = front().board.path(kvdemo::kRecordings);
    // The simulated G-sensor reports milli-g.
    say("kv_export", "kv_export --counts-per-g 1000 -o " + export_dir_ + " " + card);
    pid_t pid =
        front().board.start({"kv_export", "--counts-per-g", "1000", "-o", export_dir_, card});
    waitFor([&] { return !front().board.running(pid); }, 60s);
    int status = front().board.wait(pid, 1000ms);
    for (const auto &line : kvsim::splitLines(front().board.stdoutOf(pid))) say("kv_export", line);
    for (const auto &line : kvsim::splitLines(front().board.stderrOf(pid)))
      say("kv_export", "! " + line);
    if (status != -1 && kvsim::Sandbox::exitCode(status) == 0 && !event_stem_.empty()) checkViews();
  }

  static size_t occurrences(const std::string &text, const std::string &what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
  }

  // Every fix of the track a point of the GPX, the tunnel between two segments.
  void checkViews() {
    std::string stem = export_dir_ + "/" + baseName(event_stem_);
    std::string gpx;
    kvsim::readFile(stem + ".gpx", gpx);
    size_t points = occurrences(gpx, "<trkpt "), segments = occurrences(gpx, "<trkseg>");
    bool all = points > 0 && points == track_fixes_ && segments == 2 &&
               fs::exists(export_dir_ + "/index.html");
    for (const char *ext : {".track.csv", ".gsensor.csv", ".srt", ".html"})
      all = all && fs::exists(stem + ext);
    if (all)
      promises_.see("export", std::to_string(points) + " GPX points in " +
                                  std::to_string(segments) + " segments, one per stretch with fix");
  }

  void hangAndRestart() {
    timeline_.act("Finally kv_server hangs: kv_sentinel restarts the front unit");
    front().board.setControl("kv_server", "hang", "");
    watch_->hangBegins();
    hung_at_ = timeline_.seconds();
    say(">>> demo", "kv_server is made to hang: it stops answering");
    waitFor(
        [&] {
          showProgress();
          return watch_->restarted();
        },
        kGiveUpAfterHang);
    waitFor(1500ms);  // the last lines of the sequence
  }

  // The supervisor asks every 10 s; the first request after the hang is the one that
  // waits, and the unit is restarted once it has waited 40 s. The GPS side goes on
  // meanwhile: kv_navlink has no need of kv_server to show the speed.
  void showProgress() {
    auto now = Clock::now();
    if (watch_->restartBegun() ||
        now - last_progress_ < std::chrono::seconds(kSecondsBetweenProgress))
      return;
    last_progress_ = now;
    int speed = front().cfg().gps_speed;
    std::string car = speed < 0 ? " (the car drives on, no fix)"
                                : " (the car drives on: " + std::to_string(speed) + " km/h)";
    if (!watch_->kvServerHoldsRequest())
      return say("...", "kv_server hangs; the supervisor's next request will find out" + car);
    auto waited =
        std::chrono::duration_cast<std::chrono::seconds>(now - watch_->kvServerHeldSince()).count();
    say("...", "the request to kv_server has waited " + std::to_string(waited) +
                   " s; the supervisor gives it 40 s" + car);
  }

  // ---- the end -----------------------------------------------------------------------

  bool summary() {
    printf("\nSummary\n");
    bool all = promises_.report();
    if (restarted_at_ > 0)
      printf("  kv_server hung at %.0f s; the unit was restarted at %.1f s.\n", hung_at_,
             restarted_at_);
    listFiles();
    printf("%s\n", all ? "demo: everything promised was seen"
                       : "demo: FAILED, something promised was not seen");
    std::string page = export_dir_ + "/" + baseName(event_stem_) + ".html";
    if (!event_stem_.empty() && fs::exists(page))
      printf("Open in a browser: file://%s\n  (the drive on a map, in step with the video%s)\n",
             page.c_str(),
             fs::exists(event_stem_ + ".mp4") ? "" : "; no video: ffmpeg is not installed");
    fflush(stdout);
    return all;
  }

  void listFiles() const {
    if (!event_stem_.empty()) {
      printf("\nThe event recording, on the front unit's card:\n");
      for (const char *ext : {".mp4", ".gps", ".gsf"})
        if (fs::exists(event_stem_ + ext)) printf("  %s%s\n", event_stem_.c_str(), ext);
    }
    std::error_code ec;
    std::vector<std::string> views;
    for (const auto &e : fs::directory_iterator(export_dir_, ec)) views.push_back(e.path());
    std::sort(views.begin(), views.end());
    if (!views.empty())
      printf("The views kv_export made of it (index.html: the overview of the card):\n");
    for (const auto &v : views) printf("  %s\n", v.c_str());
    if (roots_.empty()) return;
    printf("Both boards are kept for a look (earlier demos were removed):\n");
    printf("  front board  %s\n  rear board   %s\n", roots_[0].c_str(), roots_[1].c_str());
    printf(
        "  on each: the servers' requests in sim/log/, the commands run in sim/commands.log,\n"
        "  the programs' output in sim/out/, their log lines in mnt/nand/log/\n");
  }

  // What the watch saw that the summary tells, taken before the boards are let go.
  void takeWatchFindings() {
    for (const std::string server : {"system_server", "av_server.out", "kv_server"})
      if (watch_->answeredBeforeHang(server)) promises_.see("answered " + server);
    if (watch_->keepAlives() >= 3)
      promises_.see("keep-alive", std::to_string(watch_->keepAlives()) + " of them, one every 2 s");
    if (watch_->restarted()) restarted_at_ = watch_->restartedAt();
  }

  kvdemo::Timeline timeline_;
  kvdemo::Promises promises_ = demoPromises();
  std::string folder_, export_dir_, event_stem_;
  std::vector<std::string> roots_;
  std::unique_ptr<kvsim::TwoUnits> units_;
  std::unique_ptr<kvdemo::BoardWatch> watch_;
  std::unique_ptr<kvsim::Card> card_;
  std::vector<std::pair<RecorderUnit *, pid_t>> sentinels_;
  std::vector<kvsim::Sentence> drive_;
  std::thread feeder_;
  std::atomic<bool> stop_feed_{false};
  Clock::time_point drive_start_, last_progress_;
  double hung_at_ = 0, restarted_at_ = 0;
  size_t track_fixes_ = 0;
};

}  // namespace

int main() {
  kvdemo::removeOldDemos(kvdemo::demoParents());
  setenv("KV_KEEP_SANDBOX", "1", 1);  // the user looks at the files afterwards
  try {
    Demo demo;
    return demo.run() ? 0 : 1;
  } catch (const std::exception &e) {
    printf("demo: FAILED, the boards could not be set up: %s\n", e.what());
    return 1;
  }
}
