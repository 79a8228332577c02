// SPDX-License-Identifier: MIT
// The serial link between a rear and a front camera unit: two real kv_navlink daemons,
// each on a simulated board of its own with its settings manager and kv_server, their
// "/dev/ttyS1" joined by a 9600-baud cable (sim/sandbox/sandbox_link.h). What a person would see:
// the bytes on the wire, the events the front's kv_server receives with their records,
// the front's sign of life of the rear, the rear's GPS port. Each case runs in parallel
// with the others; the waits the system prescribes (2 s keep-alive) are real.
// ctest-labels: threaded
// test-links: kvnavlink
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdint.h>
#include <string.h>
#include <sys/ipc.h>
#include <unistd.h>

#include <algorithm>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "kv_gps_msg_drv.h"
#include "kv_msg_drv.h"
#include "kv_server_gps.h"
#include "msg_util.h"
#include "nmea_feed.h"
#include "sandbox.h"
#include "sandbox_link.h"

namespace {

using namespace std::chrono_literals;
using kvsim::contains;
using kvsim::kRearToFront;
using kvsim::RecorderUnit;
using kvsim::Sandbox;
using BusEvent = RecorderUnit::BusEvent;

constexpr int kFileNameTime = 1700000123;

int64_t tick() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// ---- reading what kv_server got --------------------------------------------------------

std::vector<unsigned char> bytesOf(const std::string &hex) {
  std::vector<unsigned char> out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

// The 104-byte record of a command with data, read at the offsets kv_server reads.
struct Record {
  int32_t code = 0, value = 0;
  int64_t tick = 0;
  std::string text;
  bool terminated = false;
};

Record recordOf(const BusEvent &e) {
  Record r;
  auto b = bytesOf(e.payload);
  if (b.size() != 104) return r;
  memcpy(&r.code, &b[0], 4);
  memcpy(&r.value, &b[8], 4);
  memcpy(&r.tick, &b[16], 8);
  auto text = b.begin() + 24;
  auto nul = std::find(text, b.end(), 0);
  r.terminated = nul != b.end();
  r.text.assign(text, nul);
  return r;
}

int32_t codeOf(const BusEvent &e) {
  auto b = bytesOf(e.payload);
  int32_t code = -1;
  if (b.size() == 4) memcpy(&code, b.data(), 4);
  return code;
}

// Events of the serial link (400 to 499) the unit's kv_server received.
std::vector<BusEvent> linkEvents(const RecorderUnit &unit) {
  std::vector<BusEvent> out;
  for (const auto &e : unit.busEvents())
    if (e.id > 400 && e.id < 500) out.push_back(e);
  return out;
}

std::vector<int> idsOf(const std::vector<BusEvent> &events) {
  std::vector<int> ids;
  for (const auto &e : events) ids.push_back(e.id);
  return ids;
}

std::string show(const std::vector<int> &v) {
  std::string s;
  for (int x : v) s += std::to_string(x) + " ";
  return s;
}

std::vector<std::string> textsOf(const std::vector<kvsim::WireLine> &lines) {
  std::vector<std::string> out;
  for (const auto &l : lines) out.push_back(l.text);
  return out;
}

// Takes the messages for kv_server from a unit's event bus, in its place.
class BusTaker {
 public:
  explicit BusTaker(const RecorderUnit &unit) {
    kvsim::OnBoard here(unit.board);
    qid_ = Msg_Init(KV_MSG_KEY);
  }
  // Everything taken so far, after taking what waits now.
  std::vector<KV_MSG_BUF> all() {
    KV_MSG_BUF m = {};
    while (Msg_RsvFlags(qid_, MSG_TYPE_MSG1, &m, sizeof m, IPC_NOWAIT) >= 0) taken_.push_back(m);
    return taken_;
  }
  int count(int id) {
    auto msgs = all();
    return static_cast<int>(
        std::count_if(msgs.begin(), msgs.end(), [id](auto &m) { return m.cmd == id; }));
  }

 private:
  int qid_ = -1;
  std::vector<KV_MSG_BUF> taken_;
};

// ---- the two units ---------------------------------------------------------------------

void rearSettings(KV_Config_Data &c, int role) {
  if (role != 2) return;
  c.file_name_tmp_time = kFileNameTime;
  c.park_shutdown_voltage_2ch = 11.5;
  c.park_voltage_2ch = 12.09;
  strcpy(c.wifi_ap_ssid, "RearCam 2");
  strcpy(c.wifi_ap_pwd, "secret99");
  strcpy(c.mac_address, "00:11:22:33:44:55");
  c.use_rec_parking_always_2ch = 1;
  c.recording_interval_drive_2ch = 2;
  c.button_control_2ch = 3;
  c.gps_sync_time = 1;
  c.gps_timezone = -330;
  c.is_sdxc = 1;
}

struct Units : kvsim::TwoUnits {
  explicit Units(const RecorderUnit::Prepare &prepare = rearSettings) : TwoUnits(prepare) {
    rear.board.write("/mnt/nand/version", "1.0.3:77\n");
  }
  ~Units() {
    for (RecorderUnit *u : {&front, &rear}) {
      if (u->navlink <= 0) continue;
      std::string err = u->board.stderrOf(u->navlink);
      EXPECT_FALSE(contains(err, "Sanitizer") || contains(err, "runtime error")) << err;
    }
  }
  void start() {
    ASSERT_TRUE(rear.startNavlink()) << rear.board.stdoutOf(rear.navlink);
    ASSERT_TRUE(front.startNavlink()) << front.board.stdoutOf(front.navlink);
  }
  // What the rear's kv_server asks for on its GPS channel.
  void relay(const std::vector<int> &codes) {
    std::string lines;
    for (int code : codes) lines += "relay code=" + std::to_string(code) + "\n";
    ASSERT_TRUE(kvsim::sendGpsRequests(rear.board, lines)) << lines;
  }
  bool frontGot(size_t n, std::chrono::milliseconds timeout = 5s) {
    return Sandbox::waitUntil([&] { return linkEvents(front).size() >= n; }, timeout);
  }
};

// ---- relay requests --------------------------------------------------------------------

TEST(SerialLinkRelay, every_relay_request_arrives_at_the_front_as_its_event_in_order) {
  Units units;
  units.start();
  const std::vector<int> codes = {2,  3,  4,  7,  8,  9,  10, 11, 12, 13, 14, 15, 16,
                                  20, 21, 70, 71, 72, 73, 74, 75, 76, 79, 90, 91};
  int64_t sent = tick();
  units.relay(codes);
  // 20, the keep-alive code, is sent but makes no event.
  const std::vector<int> want = {402, 403, 404, 407, 408, 409, 410, 411, 412, 413, 414, 415,
                                 416, 421, 470, 471, 472, 473, 474, 475, 476, 479, 490, 491};
  ASSERT_TRUE(units.frontGot(want.size())) << show(idsOf(linkEvents(units.front)));
  std::this_thread::sleep_for(300ms);  // nothing more comes
  auto events = linkEvents(units.front);
  ASSERT_EQ(idsOf(events), want) << show(idsOf(events));
  for (const auto &e : events) {
    SCOPED_TRACE("event " + std::to_string(e.id));
    int code = e.id - 400;
    if (e.id == 411 || e.id == 412 || e.id == 413 || (e.id >= 470 && e.id <= 476)) {
      Record r = recordOf(e);
      EXPECT_EQ(e.length, 104);
      EXPECT_EQ(r.code, code);
      EXPECT_GE(r.tick, sent);
      EXPECT_LE(r.tick, tick());
      EXPECT_TRUE(r.terminated);
      if (e.id == 411) {
        EXPECT_NEAR(r.value, time(nullptr), 5) << "the rear's clock";
      }
      if (e.id >= 470) {
        EXPECT_EQ(r.value, kFileNameTime) << "the recording's name time";
      }
      if (e.id == 412 || e.id == 413) {
        EXPECT_EQ(r.text, "") << "alone, no text";
      }
      // Only "#CMINW" and "#CMVER" wait for kv_server's answer.
      EXPECT_EQ(e.src, e.id == 412 || e.id == 413 ? 6 : 0);
    } else {
      EXPECT_EQ(e.length, 4);
      EXPECT_EQ(codeOf(e), code);
      EXPECT_EQ(e.src, 0);
    }
  }
  const std::vector<std::string> wire = {"#CMSTP",
                                         "#CMRPA",
                                         "#CMRRE",
                                         "#CMWIS",
                                         "#CMWIX",
                                         "#CMDDS",
                                         "#CMDDX",
                                         "#CMDTM=" /* prefix */,
                                         "#CMINW=",
                                         "#CMVER=",
                                         "#CMIND",
                                         "#CMVON",
                                         "#CMVOF",
                                         "#CMLIV",
                                         "#CMLIC",
                                         "#CMAND=1700000123",
                                         "#CMAID=1700000123",
                                         "#CMAIP=1700000123",
                                         "#CMAED=1700000123",
                                         "#CMAEP=1700000123",
                                         "#CMAMP=1700000123",
                                         "#CMANP=1700000123",
                                         "#CMAVX",
                                         "#CMD2P",
                                         "#CMP2D"};
  auto lines = textsOf(units.cable.lines(kRearToFront));
  ASSERT_EQ(lines.size(), wire.size());
  for (size_t i = 0; i < wire.size(); ++i) {
    if (wire[i] == "#CMDTM=")
      EXPECT_EQ(lines[i].rfind("#CMDTM=17", 0), 0u) << lines[i];
    else
      EXPECT_EQ(lines[i], wire[i]);
  }
  EXPECT_EQ(units.cable.delivered(kRearToFront).substr(0, 20), "\r\n#CMSTP\r\n\r\n#CMRPA\r\n");
}

TEST(SerialLinkRelay, request_1_sends_version_wifi_and_start_and_the_front_waits_for_each_answer) {
  Units units;
  units.start();
  // kv_server answers every blocking event half a second late: its own `delay_ms`
  // control, and the same in the `reply` defaults of the stand-ins' shared vocabulary.
  units.front.board.setControl("kv_server", "delay_ms", "500");
  units.front.board.setControl("kv_server", "reply", "delay_ms=500\n");
  units.relay({1});
  ASSERT_TRUE(units.frontGot(3, 10s)) << show(idsOf(linkEvents(units.front)));
  auto lines = units.cable.lines(kRearToFront);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].text, "#CMVER=1.0.3;77;115;120");
  EXPECT_EQ(lines[1].text, "#CMINW=RearCam 2;secret99");
  std::string start = lines[2].text;
  std::string now = std::to_string(time(nullptr)).substr(0, 8);
  EXPECT_EQ(start.rfind("#CMSTA=00:11:22:33:44:55;" + now, 0), 0u) << start;
  const std::string settings = ";1;2;3;1;-330;1";
  EXPECT_EQ(start.substr(start.size() - settings.size()), settings) << start;

  auto events = linkEvents(units.front);
  ASSERT_EQ(idsOf(events), (std::vector<int>{413, 412, 401}));
  EXPECT_EQ(recordOf(events[0]).text, "1.0.3;77;115;120");
  EXPECT_EQ(recordOf(events[1]).text, "RearCam 2;secret99");
  EXPECT_EQ(recordOf(events[2]).text, start.substr(7));
  EXPECT_EQ(events[0].src, 6);
  EXPECT_EQ(events[1].src, 6);
  EXPECT_EQ(events[2].src, 0);
  // The lines came together; the reader took "#CMSTA" only after both answers.
  int64_t last = units.front.cfg().last_rear_alive_received;
  EXPECT_GE(last - lines[0].tick, 1000);
  EXPECT_EQ(recordOf(events[2]).tick, last);
}

TEST(SerialLinkRelay, twenty_requests_from_two_rear_processes_at_once_all_arrive_whole) {
  Units units([](KV_Config_Data &c, int role) {
    rearSettings(c, role);
    c.remote_device_on = 1;  // the keep-alive writes in between
  });
  units.start();
  const std::vector<int> first = {3, 4, 7, 8, 9, 10, 14, 15, 16, 21};
  const std::vector<int> second = {79, 90, 91, 2, 3, 4, 7, 8, 9, 10};
  std::string at = std::to_string(tick() + 800);
  std::vector<pid_t> senders;
  for (auto [proc, codes] : {std::pair{"4", first}, std::pair{"5", second}}) {
    std::vector<std::string> argv = {"gps_relay", proc, "--at", at};
    for (int c : codes) argv.push_back(std::to_string(c));
    senders.push_back(units.rear.board.start(argv));
  }
  for (pid_t p : senders) EXPECT_EQ(Sandbox::exitCode(units.rear.board.wait(p, 10s)), 0);
  ASSERT_TRUE(units.frontGot(20)) << show(idsOf(linkEvents(units.front)));
  std::this_thread::sleep_for(300ms);
  auto ids = idsOf(linkEvents(units.front));
  ASSERT_EQ(ids.size(), 20u) << show(ids);
  // Each sender's requests arrive in its order, whatever came between them.
  for (const auto &codes : {first, second}) {
    auto it = ids.begin();
    for (int c : codes) {
      it = std::find(it, ids.end(), 400 + c);
      ASSERT_NE(it, ids.end()) << "code " << c << " of " << show(codes) << " in " << show(ids);
      ++it;
    }
  }
  // None torn: every piece on the wire is a whole command.
  for (const auto &line : units.cable.lines(kRearToFront))
    EXPECT_TRUE(line.text.size() == 6 && line.text.rfind("#CM", 0) == 0) << line.text;
}

TEST(SerialLinkRelay, latency_from_the_rears_request_to_the_fronts_event) {
  Units units;
  units.start();
  // The test stands in for both kv_servers: it sends on the rear's GPS channel and takes
  // the front's events from its bus itself, each at the moment it is there.
  units.front.board.kill(units.front.kv_server);
  int bus;
  {
    kvsim::OnBoard here(units.front.board);
    bus = Msg_Init(KV_MSG_KEY);
  }
  kvsim::OnBoard here(units.rear.board);
  ASSERT_EQ(KVGpsDrvInit(4), 0);
  std::mt19937 rng(12);
  std::vector<int64_t> ms;
  for (int i = 0; i < 200; ++i) {
    int code = i % 2 ? 3 : 4;  // pause and resume recording
    // Off the reader's 50 ms rhythm, or every request would meet it at the same point.
    std::this_thread::sleep_for(std::chrono::milliseconds(rng() % 50));
    int64_t sent = tick();
    ASSERT_EQ(KVGpsMSG_SendToFront(code), 4);
    KV_MSG_BUF ev = {};
    while (Msg_RsvFlags(bus, MSG_TYPE_MSG1, &ev, sizeof ev, IPC_NOWAIT) < 0) {
      ASSERT_LT(tick() - sent, 5000) << "request " << i << " never arrived";
      std::this_thread::sleep_for(500us);
    }
    ASSERT_EQ(ev.cmd, 400 + code) << "request " << i;
    ms.push_back(tick() - sent);
  }
  KVGpsDrvExit();
  std::sort(ms.begin(), ms.end());
  printf("serial link latency over %zu requests: median %lld ms, worst %lld ms\n", ms.size(),
         static_cast<long long>(ms[ms.size() / 2]), static_cast<long long>(ms.back()));
  // 10 bytes at 9600 baud take 10.4 ms; the reader looks every 50 ms.
  EXPECT_LT(ms[ms.size() / 2], 150);
  EXPECT_LT(ms.back(), 1000);
}

// ---- the keep-alive --------------------------------------------------------------------

TEST(SerialLinkKeepAlive, the_rear_says_alive_every_2_s_while_remote_device_on_is_set) {
  Units units;
  units.start();
  std::this_thread::sleep_for(1000ms);
  EXPECT_TRUE(units.cable.lines(kRearToFront).empty()) << "remote_device_on is 0";
  int64_t on = tick();
  units.rear.cfg().remote_device_on = 1;
  ASSERT_TRUE(Sandbox::waitUntil([&] { return units.cable.lines(kRearToFront).size() >= 4; }, 10s));
  auto lines = units.cable.lines(kRearToFront);
  // The keep-alive looks every 200 ms; a line takes 10.4 ms on the wire. The ticks are
  // those at which the test's cable passed the last byte on: a line the cable passed late
  // (a loaded machine) shortens the next gap by as much, so single gaps allow for that; over
  // the whole span those delays do not add up, so it may fall short by one of them only.
  constexpr int64_t kCableLateness = 150;
  EXPECT_LE(lines[0].tick - on, 200 + 200);
  for (size_t i = 0; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i].text, "#CMLIV");
    if (i > 0) {
      EXPECT_GE(lines[i].tick - lines[i - 1].tick, 2000 - kCableLateness) << "line " << i;
      EXPECT_LE(lines[i].tick - lines[i - 1].tick, 2000 + 200) << "line " << i;
    }
  }
  const int64_t gaps = static_cast<int64_t>(lines.size()) - 1;
  EXPECT_GE(lines.back().tick - lines.front().tick, gaps * 2000 - kCableLateness);
  // The front keeps the last sign of life (at its next pass), and tells kv_server nothing.
  int64_t arrived = lines.back().tick;
  auto &last = units.front.cfg().last_rear_alive_received;
  EXPECT_TRUE(Sandbox::waitUntil([&] { return last >= arrived; }, 1s));
  EXPECT_LE(last, arrived + 50 + 50);
  EXPECT_TRUE(linkEvents(units.front).empty());

  units.rear.cfg().remote_device_on = 0;
  int64_t off = tick();
  std::this_thread::sleep_for(3000ms);
  auto after = units.cable.lines(kRearToFront);
  for (size_t i = lines.size(); i < after.size(); ++i)
    EXPECT_LE(after[i].tick - off, 2000 + 200) << "only the pause under way ends";
  EXPECT_LE(after.size(), lines.size() + 1);
}

// ---- the rear's GPS reader -------------------------------------------------------------

TEST(SerialLinkGps, requests_5_and_6_start_and_stop_the_rears_gps_reader_and_tell_the_front) {
  Units units;
  units.start();
  kvsim::NmeaFeeder receiver(units.rear.gps);
  const std::string rmc =
      kvsim::withChecksum("GPRMC,101500.000,A,4807.038,N,01131.000,E,19.7,084.4,070524,,,A");
  auto echoed = [&] {
    std::string got;
    char buf[512];
    for (int i = 0; i < 10; ++i) {
      ssize_t n = read(units.rear.gps, buf, sizeof buf);
      if (n > 0) got.append(buf, static_cast<size_t>(n));
      std::this_thread::sleep_for(50ms);
    }
    return got;
  };
  units.relay({5});
  ASSERT_TRUE(units.frontGot(1));
  ASSERT_TRUE(
      Sandbox::waitUntil([&] { return contains(units.rear.board.flashLogs(), "CreateGpsT"); }, 3s));
  receiver.sendLine(rmc);
  EXPECT_EQ(echoed(), rmc + "\r\n") << "the rear carries RMC on to the front's receiver port";
  units.relay({6});
  ASSERT_TRUE(units.frontGot(2));
  ASSERT_TRUE(
      Sandbox::waitUntil([&] { return contains(units.rear.board.flashLogs(), "CloseGpsd"); }, 3s));
  receiver.sendLine(rmc);
  EXPECT_EQ(echoed(), "");
  EXPECT_EQ(idsOf(linkEvents(units.front)), (std::vector<int>{405, 406}));
}

// ---- failures --------------------------------------------------------------------------

TEST(SerialLinkFailure, a_front_kv_server_that_never_answers_holds_up_only_the_serial_reader) {
  Units units([](KV_Config_Data &c, int role) {
    rearSettings(c, role);
    c.gps_speed_display = 1;
  });
  units.start();
  // The test is the front's kv_server: it takes every event and answers none.
  units.front.board.kill(units.front.kv_server);
  BusTaker bus(units.front);
  std::atomic<bool> stop{false};
  std::thread receiver([&] {
    kvsim::NmeaFeeder feeder(units.front.gps);
    for (int i = 0; !stop; ++i) {
      char fix[96];
      snprintf(fix, sizeof fix, "GPRMC,1015%02d.000,A,4807.038,N,01131.000,E,%d.0,084.4,070524,,,A",
               i % 60, 10 + i % 40);
      feeder.sendLine(kvsim::withChecksum(fix));
      std::this_thread::sleep_for(200ms);
    }
  });
  ASSERT_TRUE(Sandbox::waitUntil([&] { return bus.count(KV_MSG_UPDATE_OSD) > 0; }, 3s));
  units.relay({13, 3});
  ASSERT_TRUE(Sandbox::waitUntil([&] { return bus.count(413) > 0; }, 3s));
  // The reader waits for the answer; the GPS side and the channel go on: a track starts
  // and fills, and the speed follows the receiver.
  {
    kvsim::OnBoard here(units.front.board);
    ASSERT_EQ(KVGpsDrvInit(3), 0);
  }
  GpsStartSaveRecord track = {};
  snprintf(track.szStem, sizeof track.szStem, "%s",
           units.front.board.path("/mnt/mmc/Recordings/20240507_101500_N_F").c_str());
  track.nDuration = 60000;
  ASSERT_EQ(KVGpsMSG_StartSave(&track, sizeof track), 104);
  int speed = units.front.cfg().gps_speed;
  std::this_thread::sleep_for(1500ms);
  EXPECT_NE(units.front.cfg().gps_speed, speed) << "the GPS reader goes on";
  KVGpsMSG_StopSave();
  ASSERT_TRUE(
      Sandbox::waitUntil([&] { return !units.front.board.commandsOf("sync").empty(); }, 3s));
  std::string text = units.front.board.read("/mnt/mmc/Recordings/20240507_101500_N_F.gps");
  EXPECT_GE(std::count(text.begin(), text.end(), '\n'), 2 + 5) << text;
  // Nothing came after the request: the reader has not gone on to "#CMRPA", and the GPS
  // reader keeps its OSD notices until the bus is free.
  auto taken = bus.all();
  auto request = std::find_if(taken.begin(), taken.end(), [](auto &m) { return m.cmd == 413; });
  EXPECT_EQ(request->src, 6);
  EXPECT_EQ(request->length, 104);
  EXPECT_EQ(request + 1, taken.end()) << "after the request: id " << (request + 1)->cmd;
  // SIGINT still ends the daemon in order.
  units.front.board.signal(units.front.navlink, SIGINT);
  int status = units.front.board.wait(units.front.navlink, 3s);
  stop = true;
  receiver.join();
  ASSERT_NE(status, -1) << "the daemon did not end";
  EXPECT_EQ(Sandbox::exitCode(status), 0);
  EXPECT_EQ(units.front.cfg().gps_proc_alive, 0);
  EXPECT_TRUE(contains(units.front.board.flashLogs(), "stop process\n"));
  KVGpsDrvExit();
}

TEST(SerialLinkFailure, units_without_a_link_port_run_on_and_end_in_order) {
  Units units([](KV_Config_Data &c, int role) {
    rearSettings(c, role);
    c.remote_device_on = 1;
    c.gps_speed_display = 1;
  });
  units.front.board.remove("/dev/ttyS1");
  units.rear.board.remove("/dev/ttyS1");
  units.start();
  units.relay({1, 3, 70, 20});
  auto results = units.rear.board.serverLog("kv_server");
  EXPECT_EQ(std::count_if(results.begin(), results.end(),
                          [](const std::string &l) { return contains(l, "result=4"); }),
            4);
  // The front's GPS side works without the link.
  kvsim::NmeaFeeder(units.front.gps)
      .sendLine(
          kvsim::withChecksum("GPRMC,101500.000,A,4807.038,N,01131.000,E,19.7,084.4,070524,,,A"));
  EXPECT_TRUE(Sandbox::waitUntil([&] { return units.front.cfg().gps_speed == 36; }, 3s));
  std::this_thread::sleep_for(500ms);
  for (RecorderUnit *u : {&units.front, &units.rear}) {
    ASSERT_TRUE(u->board.running(u->navlink));
    u->board.signal(u->navlink, SIGINT);
    EXPECT_EQ(Sandbox::exitCode(u->board.wait(u->navlink, 3s)), 0);
    EXPECT_EQ(u->cfg().gps_proc_alive, 0);
  }
  EXPECT_TRUE(units.cable.delivered(kRearToFront).empty());
  EXPECT_TRUE(contains(units.rear.board.flashLogs(), "R Consta\n"));
  EXPECT_TRUE(contains(units.rear.board.flashLogs(), "R Constp\n"));
}

TEST(SerialLinkFailure,
     a_pulled_cable_loses_what_was_sent_meanwhile_and_damaged_frames_make_no_wrong_event) {
  Units units;
  units.start();
  units.cable.pull();
  units.relay({3, 4, 7});
  std::this_thread::sleep_for(300ms);
  units.cable.plug();
  units.relay({8, 9});
  ASSERT_TRUE(units.frontGot(2));
  // Every 7th byte lost: frames arrive damaged, and a damaged frame is no command.
  units.cable.setFaults(kRearToFront, {.baud = 9600, .drop_every = 7});
  const std::vector<int> codes = {2, 3, 4, 7, 8, 9, 10, 14, 15, 16, 21, 79, 90, 91};
  units.relay(codes);
  std::this_thread::sleep_for(1000ms);
  auto ids = idsOf(linkEvents(units.front));
  ASSERT_GE(ids.size(), 2u);
  EXPECT_EQ(ids[0], 408);
  EXPECT_EQ(ids[1], 409);
  std::vector<int> later(ids.begin() + 2, ids.end());
  EXPECT_LT(later.size(), codes.size()) << show(later);
  auto it = codes.begin();
  for (int id : later) {
    it = std::find(it, codes.end(), id - 400);
    ASSERT_NE(it, codes.end()) << id << " was not sent, or not in this order: " << show(later);
    ++it;
  }
}

// ---- what arrives on the front's port --------------------------------------------------

// The front alone, with bytes written straight into its link port.
struct FrontPort {
  explicit FrontPort(bool receiver = true) : front(1, nullptr) {
    fcntl(front.link, F_SETFL, fcntl(front.link, F_GETFL) | O_NONBLOCK);
    if (!receiver) front.board.remove("/dev/ttyS0");
    EXPECT_TRUE(front.startNavlink());
  }
  ~FrontPort() {
    std::string err = front.board.stderrOf(front.navlink);
    EXPECT_FALSE(contains(err, "Sanitizer") || contains(err, "runtime error")) << err;
  }
  void send(const std::string &bytes) {
    ASSERT_EQ(write(front.link, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  // Byte by byte, every byte in a read of its own.
  void trickle(const std::string &bytes) {
    for (char c : bytes) {
      send(std::string(1, c));
      std::this_thread::sleep_for(60ms);
    }
  }
  int64_t alive() const { return front.cfg().last_rear_alive_received; }
  RecorderUnit front;
};

TEST(SerialLinkReceive, garbage_partial_and_unknown_lines_make_no_event_and_commands_arrive_once) {
  FrontPort port;
  port.send("noise \x01\x02\xff without a line end, then one\r\n#CM\r\n\r\nCMSTP\r\n");
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(port.alive(), 0) << "nothing there came from the rear unit";
  port.send("\r\n#CMXYZ\r\n");
  ASSERT_TRUE(Sandbox::waitUntil([&] { return port.alive() != 0; }, 2s)) << "unknown, but alive";
  port.trickle("\r\n#CMSTP\r\n");
  port.send("\r\n#CMRPA\r\n\r\n#CMRRE\r\n");
  port.send("\r\n#CMDTM=99999999999\r\n\r\n#CMAND=-99999999999\r\n");
  port.send("\r\n#CMSTA=" + std::string(150, 'x') + "\r\n");
  // More than the reader's buffer without a line end: the partial line is dropped whole,
  // even though it began like a command.
  port.send("\r\n#CMSTP" + std::string(3000, 's'));
  std::this_thread::sleep_for(300ms);
  port.send("\r\n#CMVON\r\n");
  // A frame whose end was lost runs into the next: taken as an unknown command.
  port.send("\r\n#CMW\r\n#CMVOF\r\n");
  ASSERT_TRUE(Sandbox::waitUntil([&] { return linkEvents(port.front).size() >= 8; }, 5s));
  std::this_thread::sleep_for(300ms);
  auto events = linkEvents(port.front);
  ASSERT_EQ(idsOf(events), (std::vector<int>{402, 403, 404, 411, 470, 401, 415, 416}))
      << show(idsOf(events));
  EXPECT_EQ(recordOf(events[3]).value, INT32_MAX) << "held at the end, as the board's atoi";
  EXPECT_EQ(recordOf(events[4]).value, INT32_MIN);
  Record text = recordOf(events[5]);
  EXPECT_EQ(text.text, std::string(79, 'x')) << "cut to the record's 79 characters";
  EXPECT_TRUE(text.terminated);
  EXPECT_TRUE(port.front.board.running(port.front.navlink));
}

// The GPS reader, which cannot open its port, ends and leaves the bus; the serial reader
// still has its own hold on it.
TEST(SerialLinkReceive, a_front_without_its_gps_port_still_delivers_the_rears_commands) {
  FrontPort port(false);
  std::this_thread::sleep_for(500ms);  // the GPS reader has given up meanwhile
  port.send("\r\n#CMRPA\r\n\r\n#CMAND=1700000000\r\n");
  ASSERT_TRUE(Sandbox::waitUntil([&] { return linkEvents(port.front).size() >= 2; }, 3s));
  auto events = linkEvents(port.front);
  EXPECT_EQ(idsOf(events), (std::vector<int>{403, 470}));
  EXPECT_EQ(recordOf(events[1]).value, 1700000000);
  port.front.board.signal(port.front.navlink, SIGINT);
  EXPECT_EQ(Sandbox::exitCode(port.front.board.wait(port.front.navlink, 3s)), 0);
  EXPECT_TRUE(contains(port.front.board.stdoutOf(port.front.navlink), "can't open device"));
}

// A line that cannot go whole is not sent cut: the front would take wrong settings.
TEST(SerialLinkRelay, a_start_text_too_long_for_the_line_is_not_sent_and_the_others_are) {
  Units units([](KV_Config_Data &c, int role) {
    rearSettings(c, role);
    if (role != 2) return;
    // A MAC text that fills its field, and settings at their widest: 85 characters.
    snprintf(c.mac_address, sizeof c.mac_address, "%s", std::string(39, 'm').c_str());
    c.use_rec_parking_always_2ch = c.recording_interval_drive_2ch = c.button_control_2ch = 255;
    c.gps_timezone = INT32_MIN;
  });
  units.start();
  units.relay({1});
  ASSERT_TRUE(units.frontGot(2));
  std::this_thread::sleep_for(500ms);
  EXPECT_EQ(idsOf(linkEvents(units.front)), (std::vector<int>{413, 412}));
  EXPECT_EQ(textsOf(units.cable.lines(kRearToFront)),
            (std::vector<std::string>{"#CMVER=1.0.3;77;115;120", "#CMINW=RearCam 2;secret99"}));
  std::string wire = units.cable.delivered(kRearToFront);
  EXPECT_EQ(wire.substr(wire.size() - 4), "99\r\n") << "not even the CR LF of the refused line";
}

}  // namespace
