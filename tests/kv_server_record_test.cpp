// SPDX-License-Identifier: MIT
// The kv_server stand-in's recording controller, as the recorder's programs meet it: the
// real kv_shocklog and kv_navlink on a simulated unit get the recorder's command line,
// track requests and signals, and leave the files a recording leaves; a rear unit's saved
// recording reaches the front's kv_server.
// ctest-labels: threaded
// board-test: host only (the controller starts kv_shocklog as a workstation process does;
// an emulated kv_server cannot start another emulated program)
#include "kv_server_record.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "gps_track_reader.h"
#include "gsensor_motion.h"
#include "gsf_reader.h"
#include "kv_common_util.h"
#include "nmea_feed.h"
#include "sandbox_link.h"
#include "standin.h"

namespace {

using namespace std::chrono_literals;
using kvsim::RecorderUnit;
using kvsim::Sandbox;

int64_t tick() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

using kvsim::wordOf;

// "YYYYMMDD-hhmmss" of local time `t`, as the recording name rule writes it.
std::string nameTime(time_t t) {
  struct tm tm;
  localtime_r(&t, &tm);
  char text[32];
  strftime(text, sizeof text, "%Y%m%d-%H%M%S", &tm);
  return text;
}

// A front unit with kv_navlink, its G-sensor moving and its GPS port fed a drive at twice
// the receiver's pace in the background.
struct FrontUnit {
  FrontUnit() {
    unit.board.startServer("gsensor_feeder");
    EXPECT_TRUE(unit.startNavlink());
    kvsim::DriveOptions o;
    o.seconds = 60;
    drive = kvsim::generateDrive(o);
    feeder = std::thread([this] { kvsim::NmeaFeeder(unit.gps).play(drive, {.speed = 2}, &stop); });
  }
  ~FrontUnit() {
    stop = true;
    feeder.join();
  }
  std::vector<std::string> records() const {
    std::vector<std::string> lines;
    for (const auto &line : unit.board.serverLog("kv_server"))
      if (line.rfind("record ", 0) == 0) lines.push_back(line);
    return lines;
  }
  void request(const std::string &lines) {
    ASSERT_TRUE(kvsim::sendRecordRequests(unit.board, lines)) << lines;
  }

  RecorderUnit unit{DEVICE_2CH_FRONT, nullptr};
  std::vector<kvsim::Sentence> drive;
  std::atomic<bool> stop{false};
  std::thread feeder;
};

TEST(KvServerRecording,
     an_event_gets_the_recorders_command_line_a_track_from_its_start_and_closed_files) {
  FrontUnit front;
  std::this_thread::sleep_for(3s);  // the receiver's ring and kv_server's history fill
  front.unit.board.setControl("gsensor_feeder", "brake", "");
  int64_t before = tick();
  front.request("start kind=impact pre=2000 length=60000\n");
  int64_t after = tick();
  std::this_thread::sleep_for(1500ms);
  front.request("stop\n");

  auto lines = front.records();
  ASSERT_EQ(lines.size(), 2u);
  std::string stem = wordOf(lines[0], "stem");
  time_t named = atol(wordOf(lines[0], "time").c_str());
  EXPECT_EQ(stem, front.unit.board.path("/mnt/mmc/Recordings/") + nameTime(named) + "_EVT_D_F");
  EXPECT_NEAR(static_cast<double>(named), static_cast<double>(time(nullptr) - 2 - 1.5), 2.0)
      << "the name tells the recording's first moment, 2 s before the request";
  // kv_shocklog <stem> <pre> <start tick> 0 <length>, the start tick 2 s before the request.
  std::smatch m;
  std::string args = lines[0].substr(lines[0].find(" args=") + 6);
  ASSERT_TRUE(std::regex_search(args, m, std::regex("^(\\S+) 2000 ([0-9]+) 0 60000 track=104$")))
      << lines[0];
  EXPECT_EQ(m[1], stem);
  int64_t start_tick = atoll(m[2].str().c_str());
  EXPECT_GE(start_tick, before - 2000);
  EXPECT_LE(start_tick, after - 2000);
  EXPECT_EQ(lines[1], "record stop stem=" + stem + " shocklog_exit=0 track=0");

  std::string text;
  // The track's stop is one-way: the daemon writes its last block and syncs a moment after.
  Sandbox::waitUntil(
      [&] { return kvsim::readFile(stem + ".gps", text) && gpstrack::parse(text).complete; }, 3s);
  ASSERT_TRUE(kvsim::readFile(stem + ".gps", text));
  auto track = gpstrack::parse(text);
  EXPECT_TRUE(track.valid && track.complete) << track.bad_line;
  EXPECT_EQ(track.name, stem.substr(stem.rfind('/') + 1) + ".gps");
  ASSERT_FALSE(track.lines.empty());
  EXPECT_GE(track.lines.front().offset, 0);
  EXPECT_LT(track.lines.front().offset, 1000) << "the ring's sentences since the start tick";

  auto gsf = gsf::read(stem + ".gsf");
  ASSERT_TRUE(gsf.has_value());
  EXPECT_TRUE(gsf->complete());
  size_t history = 0;
  int32_t pull = 0;
  for (const auto &r : gsf->records) {
    history += r.reserved == kvsim::kServerItemMark;
    pull = std::min(pull, r.axis1);
  }
  EXPECT_GE(history, 6u) << "four of kv_server's samples a second since the start tick";
  EXPECT_LE(pull, -450) << "the hard braking the feeder was told to feel";
  EXPECT_TRUE(
      kvsim::contains(front.unit.board.read("/sim/log/gsensor_feeder.log"), "brake sample="));
}

TEST(KvServerRecording, one_called_off_within_6_s_keeps_neither_its_track_nor_its_data_file) {
  FrontUnit front;
  std::this_thread::sleep_for(1s);
  front.request("start kind=manual pre=0 length=60000\n");
  std::string stem = wordOf(front.records().at(0), "stem");
  EXPECT_TRUE(Sandbox::waitUntil([&] { return access((stem + ".gps").c_str(), F_OK) == 0; }, 3s));
  EXPECT_TRUE(Sandbox::waitUntil([&] { return access((stem + ".gsf").c_str(), F_OK) == 0; }, 3s));
  std::this_thread::sleep_for(1s);
  front.request("cancel\n");

  EXPECT_EQ(front.records().at(1), "record cancel stem=" + stem + " shocklog_exit=0 track=0");
  EXPECT_EQ(front.unit.board.commandsOf("killall"),
            std::vector<std::string>{"killall -USR2 kv_navlink"});
  EXPECT_TRUE(Sandbox::waitUntil([&] { return access((stem + ".gps").c_str(), F_OK) != 0; }, 3s));
  EXPECT_NE(access((stem + ".gsf").c_str(), F_OK), 0) << "kv_shocklog removes it before it ends";
}

TEST(KvServerRecording, a_rear_units_saved_recording_reaches_the_front_with_its_names_time) {
  kvsim::TwoUnits units;
  ASSERT_TRUE(units.rear.startNavlink());
  ASSERT_TRUE(units.front.startNavlink());
  ASSERT_TRUE(kvsim::sendRecordRequests(units.rear.board, "start kind=always\nstop\n"));

  std::vector<std::string> lines;
  for (const auto &line : units.rear.board.serverLog("kv_server"))
    if (line.rfind("record ", 0) == 0) lines.push_back(line);
  ASSERT_EQ(lines.size(), 2u);
  std::string stem = wordOf(lines[0], "stem");
  time_t named = atol(wordOf(lines[0], "time").c_str());
  EXPECT_EQ(stem.substr(stem.rfind('/') + 1), nameTime(named) + "_NOR_D_R");
  EXPECT_TRUE(kvsim::contains(lines[1], " announce=70 result=4")) << lines[1];

  auto saved = [&] {
    for (const auto &e : units.front.busEvents())
      if (e.id == 470) return e;
    return RecorderUnit::BusEvent{};
  };
  ASSERT_TRUE(Sandbox::waitUntil([&] { return saved().id == 470; }, 5s));
  auto wire = units.cable.lines(kvsim::kRearToFront);
  ASSERT_FALSE(wire.empty());
  EXPECT_EQ(wire.back().text, "#CMAND=" + std::to_string(named));
  // The received-command record: the code, then the number at offset 8 (hex, little-endian).
  std::string payload = saved().payload;
  ASSERT_GE(payload.size(), 24u);
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i)
    value =
        value * 256 + static_cast<uint32_t>(std::stoul(payload.substr(16 + 2 * i, 2), nullptr, 16));
  EXPECT_EQ(static_cast<time_t>(value), named);
}

}  // namespace
