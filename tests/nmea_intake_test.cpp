// SPDX-License-Identifier: MIT
// The GPS reader's sentence intake on its own: which lines pass, and what "$GPRMC" does to
// the OSD speed, the clock fields and the signal notice, with synthetic ticks for every
// timing rule (5 s, 800 ms, 3 h). The allocation count of the hot path (intake and track
// write) is here too.
// test-links: kvnavlink
#include "nmea_intake.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "gps_track.h"
#include "kv_common_util.h"
#include "kv_sysinfo_util.h"
#include "local_time.h"
#include "nmea_drive.h"
#include "sandbox.h"

using namespace navlink;  // the daemon's own types under test

namespace {

using kvsim::withChecksum;

constexpr int64_t kT0 = 5'000'000;  // a tick well past 0, which means "never"

// The board's cable probes, as a test sets them.
int g_interch = 0, g_av = 0;
int interch() { return g_interch; }
int avCable() { return g_av; }

// A "$GPRMC" with the given fields; knots as written.
std::string rmc(const std::string &time, const std::string &status, const std::string &knots,
                const std::string &date) {
  return withChecksum("GPRMC," + time + "," + status + ",4807.038,N,01131.000,E," + knots +
                      ",084.4," + date + ",003.1,W");
}
std::string fix(const std::string &knots) { return rmc("123519.000", "A", knots, "070524"); }
const std::string kGga =
    withChecksum("GPGGA,123520.000,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,");

// Knots whose km/h (or mph) truncates to exactly `v`.
std::string knotsFor(int v, bool mph = false) {
  double unit = mph ? 1000.0 / 0.621371 : 1000.0;
  char text[32];
  snprintf(text, sizeof text, "%.4f", (v + 0.5) * unit / 1852.0);
  return text;
}

class Intake : public testing::Test {
 protected:
  void SetUp() override {
    memset(info.get(), 0, sizeof *info);
    cfg().gps_speed = -1;
    cfg().gps_speed_display = 1;
    cfg().gps_sync_time = 1;
    cfg().front_rear_type = 1;
    cfg().gps_cable_connected = 1;
    g_interch = g_av = 0;
    GpsStateInit(st, GpsProbes{interch, avCable});
    // A build of 2024-01-01, whatever this build's date: the dates below stay as they are.
    st.llEarliestDay = kvsim::utcSeconds(2024, 1, 1, 0, 0, 0) / 86400;
  }
  KV_Config_Data &cfg() { return info->kv_config; }
  IntakeEffects run(const std::string &line, int64_t at = kT0) {
    IntakeEffects fx;
    NmeaIntake(st, info.get(), line.c_str(), at, fx);
    return fx;
  }
  // The intake as the reader runs it for a clock setting: the reader clears these.
  void clockApplied() { ClearSyncTime(info.get()); }

  std::unique_ptr<SysInfo> info = std::make_unique<SysInfo>();
  GpsState st;
};

// ---- which lines pass --------------------------------------------------------------------

TEST_F(Intake, lines_pass_or_drop_by_talker_length_and_checksum) {
  // The classic receiver example, with its published checksum.
  const std::string classic =
      "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A";
  struct Case {
    std::string line;
    bool accepted;
  } cases[] = {
      {classic, true},
      {"$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6a", true},
      {"$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6B", false},
      {"$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6G", false},
      {"$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*", false},
      {"$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W", false},
      // Leading zeros fill the 19 characters the checksum field holds; one more drops it.
      {"$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*" + std::string(17, '0') +
           "6A",
       true},
      {"$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*" + std::string(18, '0') +
           "6A",
       false},
      {withChecksum("GNRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W"), false},
      {withChecksum("GLGSV,1,1,01,65,40,120,30"), false},
      {"x" + classic, false},
      {"$GP", false},
      {"$GP*", false},
      {withChecksum("G"), false},  // "$G*47": not "$GP"
      {withChecksum("GP"), true},  // "$GP*17": 6 characters, talker GP, sum right
      {"", false},
  };
  for (const auto &c : cases) EXPECT_EQ(run(c.line).accepted, c.accepted) << c.line;
}

TEST_F(Intake, the_sum_stops_at_the_first_star_and_the_text_is_read_after_the_last) {
  unsigned sum = 0;
  for (char ch : std::string("GPTXT,01,01,02,A")) sum ^= static_cast<unsigned char>(ch);
  char line[64];
  snprintf(line, sizeof line, "$GPTXT,01,01,02,A*B*%02X", sum);
  EXPECT_TRUE(run(line).accepted) << line;
  snprintf(line, sizeof line, "$GPTXT,01,01,02,A*B*%02X", sum ^ 'B');
  EXPECT_FALSE(run(line).accepted) << line;
}

TEST_F(Intake, every_dollar_sign_is_left_out_of_the_sum_not_only_the_first) {
  // Summed by hand over "GPTXT,01,01,02,PRICE 5": 0x15. With the body's '$' counted: 0x31.
  EXPECT_TRUE(run("$GPTXT,01,01,02,PRICE $5*15").accepted);
  EXPECT_FALSE(run("$GPTXT,01,01,02,PRICE $5*31").accepted);
}

TEST_F(Intake, lines_up_to_1023_characters_pass_longer_ones_do_not) {
  std::string pad(1023 - 10, 'x');  // "$GPTXT," + pad + "*hh" = 1023
  std::string longest = withChecksum("GPTXT," + pad);
  ASSERT_EQ(longest.size(), 1023u);
  EXPECT_TRUE(run(longest).accepted);
  EXPECT_FALSE(run(withChecksum("GPTXT," + pad + "x")).accepted);
}

// ---- "$GPRMC": speed ---------------------------------------------------------------------

TEST_F(Intake, the_example_fix_shows_41_kmh_or_25_mph) {
  const std::string example = fix("022.4");
  IntakeEffects fx = run(example);
  EXPECT_TRUE(fx.accepted);
  EXPECT_EQ(cfg().gps_speed, 41);
  EXPECT_TRUE(fx.update_osd);
  cfg().osd_speed_display_type = 1;
  run(example, kT0 + 1000);
  EXPECT_EQ(cfg().gps_speed, 25);
}

TEST_F(Intake, high_speeds_just_above_a_whole_number_use_1852_metres_per_knot) {
  // 102.6 kn is 190.0152 km/h and 118.07 mph; 127.0 kn is 235.204 km/h and 146.149 mph.
  // A knot of 1850 m would show 189 km/h, 117 mph, 234 km/h and 145 mph.
  const struct {
    const char *knots;
    int kmh, mph;
  } cases[] = {{"102.6", 190, 118}, {"127.0", 235, 146}};
  int64_t at = kT0;
  for (const auto &c : cases) {
    cfg().osd_speed_display_type = 0;
    run(fix(c.knots), at += 1000);
    EXPECT_EQ(cfg().gps_speed, c.kmh) << c.knots;
    cfg().osd_speed_display_type = 1;
    run(fix(c.knots), at += 1000);
    EXPECT_EQ(cfg().gps_speed, c.mph) << c.knots;
  }
}

TEST_F(Intake, low_speeds_are_smoothed_by_the_rules_of_unit_and_parking) {
  struct Case {
    const char *name;
    int type, park, stop_count;
    int previous, reading, shown;
  } cases[] = {
      {"kmh rise of 3", 0, 0, 0, 8, 11, 8},
      {"kmh rise of 6", 0, 0, 0, 8, 14, 14},
      {"kmh above the limit 15", 0, 0, 0, 8, 16, 16},
      {"kmh fall shows at once", 0, 0, 0, 8, 5, 5},
      {"kmh parked: tolerance 7", 0, 200, 0, 8, 15, 8},
      {"kmh driving: tolerance 5", 0, 100, 0, 8, 14, 14},
      {"kmh drive_stop_count 1: no smoothing", 0, 0, 1, 8, 11, 11},
      {"mph rise of 3", 1, 0, 0, 4, 7, 4},
      {"mph rise of 4", 1, 0, 0, 4, 8, 8},
      {"mph parked: rise of 5", 1, 200, 0, 4, 9, 4},
      {"mph above the limit 10", 1, 0, 0, 9, 11, 11},
  };
  for (const auto &c : cases) {
    SetUp();
    cfg().osd_speed_display_type = c.type;
    cfg().system_drive_park_state = static_cast<uint8_t>(c.park);
    cfg().drive_stop_count = c.stop_count;
    run(fix(knotsFor(c.previous, c.type == 1)), kT0);
    ASSERT_EQ(cfg().gps_speed, c.previous) << c.name;
    run(fix(knotsFor(c.reading, c.type == 1)), kT0 + 1000);
    EXPECT_EQ(cfg().gps_speed, c.shown) << c.name;
  }
}

TEST_F(Intake, the_first_value_after_a_unit_switch_is_not_smoothed) {
  run(fix(knotsFor(8)), kT0);
  cfg().osd_speed_display_type = 1;
  run(fix(knotsFor(9, true)), kT0 + 1000);  // 9 mph: within 3 of 8, but a new unit
  EXPECT_EQ(cfg().gps_speed, 9);
}

TEST_F(Intake, no_fix_clears_the_speed_with_one_osd_refresh) {
  run(fix(knotsFor(30)), kT0);
  ASSERT_EQ(cfg().gps_speed, 30);
  for (const char *status : {"V", "AA", ""}) {
    SCOPED_TRACE(std::string("status '") + status + "'");
    run(fix(knotsFor(30)), kT0);
    IntakeEffects first = run(rmc("123520.000", status, "030.0", "070524"), kT0 + 100);
    EXPECT_TRUE(first.accepted);
    EXPECT_EQ(cfg().gps_speed, -1);
    EXPECT_TRUE(first.update_osd);
    EXPECT_FALSE(first.set_clock);
    EXPECT_FALSE(run(rmc("123521.000", status, "", "070524"), kT0 + 200).update_osd);
    EXPECT_EQ(cfg().gps_speed, -1);
  }
}

TEST_F(Intake, other_sentences_clear_the_speed_5_s_after_the_last_rmc) {
  // Before any "$GPRMC" nothing is cleared.
  cfg().gps_speed = 12;
  EXPECT_FALSE(run(kGga, kT0).update_osd);
  EXPECT_EQ(cfg().gps_speed, 12);
  run(fix(knotsFor(30)), kT0);
  EXPECT_FALSE(run(kGga, kT0 + 5000).update_osd);
  EXPECT_EQ(cfg().gps_speed, 30);
  EXPECT_TRUE(run(kGga, kT0 + 5001).update_osd);
  EXPECT_EQ(cfg().gps_speed, -1);
  EXPECT_FALSE(run(kGga, kT0 + 6000).update_osd) << "one refresh only";
}

TEST_F(Intake, fixes_at_5_hz_refresh_the_osd_at_most_once_per_800_ms) {
  std::vector<int64_t> refreshes;
  for (int64_t at = kT0; at < kT0 + 5000; at += 200)
    if (run(fix(knotsFor(20 + static_cast<int>((at - kT0) / 200) % 7)), at).update_osd)
      refreshes.push_back(at);
  ASSERT_EQ(refreshes.size(), 5u);
  for (size_t i = 1; i < refreshes.size(); ++i) EXPECT_GT(refreshes[i] - refreshes[i - 1], 800);
}

TEST_F(Intake, a_restarting_recorder_gets_no_osd_refresh_but_the_speed_is_kept) {
  cfg().restart_state = 1;
  EXPECT_FALSE(run(fix(knotsFor(30)), kT0).update_osd);
  EXPECT_EQ(cfg().gps_speed, 30);
  EXPECT_FALSE(run(rmc("123520.000", "V", "", "070524"), kT0 + 100).update_osd);
  EXPECT_EQ(cfg().gps_speed, -1);
}

TEST_F(Intake, speed_texts_that_are_no_number_give_a_finite_speed) {
  for (const char *knots : {"nan", "inf", "-inf", "1e999", "0x1p4", "12abc", "99999999999999999999",
                            "1.0000000000000000001", "-5", "."}) {
    run(fix(knots), kT0);
    EXPECT_GE(cfg().gps_speed, -10) << knots;
    EXPECT_LE(cfg().gps_speed, 2147483647) << knots;
  }
  // A fix that ends at its status: no speed field at all, speed 0.
  run(withChecksum("GPRMC,123519.000,A"), kT0);
  EXPECT_EQ(cfg().gps_speed, 0);
  run(fix("0x1p4"), kT0);  // strtod's hexadecimal: 16 knots
  EXPECT_EQ(cfg().gps_speed, 29);
  run(fix("99999999999999999999"), kT0);
  EXPECT_EQ(cfg().gps_speed, 2147483647);
}

// ---- "$GPRMC": clock -----------------------------------------------------------------------

TEST_F(Intake, the_first_valid_fix_sets_the_clock_from_utc_plus_the_zone) {
  struct Case {
    int zone;
    int64_t offset;
  } cases[] = {{900, 9 * 3600}, {-330, -(3 * 3600 + 30 * 60)}, {545, 5 * 3600 + 45 * 60}, {0, 0}};
  for (const auto &c : cases) {
    SetUp();
    cfg().gps_timezone = c.zone;
    IntakeEffects fx = run(fix("022.4"), kT0);
    ASSERT_TRUE(fx.set_clock) << c.zone;
    int64_t expected = localTime(2024, 5, 7, 12, 35, 19) + c.offset;
    EXPECT_EQ(fx.clock_value, expected) << c.zone;
    EXPECT_EQ(cfg().gps_sync_time_time, static_cast<int32_t>(expected)) << c.zone;
    EXPECT_EQ(cfg().gps_sync_time_counter, kT0);
    EXPECT_EQ(cfg().gps_sync_time_activate, 1);
  }
}

TEST_F(Intake, the_clock_is_set_at_most_once_per_3_hours_and_again_after_a_track_edge) {
  auto sets = [&](int64_t at) {
    bool set = run(fix("010.0"), at).set_clock;
    if (set) clockApplied();
    return set;
  };
  EXPECT_TRUE(sets(kT0));
  EXPECT_FALSE(sets(kT0 + 1000));
  EXPECT_FALSE(sets(kT0 + 10'800'000));
  EXPECT_TRUE(sets(kT0 + 10'800'001));
  EXPECT_FALSE(sets(kT0 + 10'801'000));
  st.bFirstTimeSynced = 0;  // a track started or closed
  EXPECT_TRUE(sets(kT0 + 10'802'000));
  cfg().gps_sync_time_counter = 0;  // the reader restarted
  EXPECT_TRUE(sets(kT0 + 10'803'000));
  cfg().gps_sync_time = 0;
  st.bFirstTimeSynced = 0;
  EXPECT_FALSE(sets(kT0 + 20'000'000));
}

TEST_F(Intake, only_exact_and_real_time_and_date_fields_set_the_clock) {
  struct Case {
    const char *time, *date;
    bool sets;
  } cases[] = {
      {"123519.000", "070524", true},  {"123519", "070524", false},
      {"123519.00", "070524", false},  {"123519.0000", "070524", false},
      {"123519.000", "07052", false},  {"123519.000", "0705240", false},
      {"123519.000", "", false},       {"ab3519.000", "070524", false},
      {"253519.000", "070524", false}, {"123519.000", "310224", false},
      {"123519.000", "290224", true},  {"123519.000", "071324", false},
      {"123519.000", "000524", false},
  };
  for (const auto &c : cases) {
    SetUp();
    IntakeEffects fx = run(rmc(c.time, "A", "022.4", c.date), kT0);
    EXPECT_EQ(fx.set_clock, c.sets) << c.time << " " << c.date;
    EXPECT_EQ(cfg().gps_speed, 41) << "the speed is shown anyway: " << c.time << " " << c.date;
    if (!c.sets) {
      EXPECT_EQ(cfg().gps_sync_time_counter, 0) << "the next good fix sets it";
    }
  }
}

TEST_F(Intake, only_dates_more_than_512_weeks_before_the_build_move_forward_by_1024_weeks) {
  // The receiver's real date is 2024-05-07 unless it says otherwise.
  struct Case {
    int build_year, build_month, build_day;
    const char *date;
    int year, month, day;
  } cases[] = {
      {2024, 1, 1, "070524", 2024, 5, 7},    // a receiver that knows the rollover
      {2024, 1, 1, "210904", 2024, 5, 7},    // 1024 weeks early: 2004-09-21
      {2024, 1, 1, "311223", 2023, 12, 31},  // a day before the build: real
      {2024, 1, 1, "100314", 2014, 3, 10},   // exactly 512 weeks before: real
      {2024, 1, 1, "090314", 2033, 10, 23},  // a day more: a missed rollover
      {2024, 1, 1, "230394", 2094, 3, 23},   // after the build date: as it is
      {2026, 12, 8, "070524", 2024, 5, 7},   // the recording of 2024 on a later firmware
      {2026, 12, 8, "210904", 2024, 5, 7},
      {2030, 1, 1, "050100", 2039, 4, 6},  // two periods: 2000-01-05, 2019-08-21, 2039-04-06
  };
  for (const auto &c : cases) {
    SetUp();
    st.llEarliestDay = kvsim::utcSeconds(c.build_year, c.build_month, c.build_day, 0, 0, 0) / 86400;
    IntakeEffects fx = run(rmc("123519.000", "A", "1.0", c.date), kT0);
    ASSERT_TRUE(fx.set_clock) << c.date;
    EXPECT_EQ(fx.clock_value, localTime(c.year, c.month, c.day, 12, 35, 19))
        << c.date << " built " << c.build_year << "-" << c.build_month << "-" << c.build_day;
  }
}

TEST_F(Intake, with_this_builds_date_the_example_fix_and_the_rollover_capture_name_2024_05_07) {
  GpsStateInit(st, GpsProbes{interch, avCable});  // the build date compiled in
  EXPECT_EQ(run(fix("022.4")).clock_value, localTime(2024, 5, 7, 12, 35, 19));
  GpsStateInit(st, GpsProbes{interch, avCable});
  int64_t clock = 0;
  for (const auto &l : kvsim::readCapture(KV_TEST_DATA_DIR "/rollover_1hz.nmea")) {
    IntakeEffects fx = run(l.text, kT0 + l.at_ms);
    if (fx.set_clock && clock == 0) clock = fx.clock_value;
  }
  // The header: --start 2024-05-07T12:35:19 --rollover.
  EXPECT_EQ(clock, localTime(2024, 5, 7, 12, 35, 19));
}

TEST_F(Intake, the_build_date_comes_from_the_build) {
  // Not before the first commit of this code, not after the day the test runs.
  EXPECT_GE(GpsBuildDay(), kvsim::utcSeconds(2024, 1, 1, 0, 0, 0) / 86400);
  EXPECT_LE(GpsBuildDay(), time(nullptr) / 86400 + 1);
}

// ---- the signal notice, roles, no SysInfo -------------------------------------------------

TEST_F(Intake, the_signal_notice_goes_out_once_at_the_next_valid_fix) {
  cfg().gps_need_alert = 1;
  EXPECT_FALSE(run(rmc("123519.000", "V", "", "070524"), kT0).signal_on);
  EXPECT_EQ(cfg().gps_need_alert, 1);
  EXPECT_TRUE(run(fix("1.0"), kT0 + 1000).signal_on);
  EXPECT_EQ(cfg().gps_need_alert, 0);
  EXPECT_FALSE(run(fix("1.0"), kT0 + 2000).signal_on);
}

TEST_F(Intake, a_rear_unit_echoes_rmc_and_keeps_no_sign_of_life) {
  cfg().front_rear_type = 2;
  EXPECT_TRUE(run(fix("1.0"), kT0).echo_to_port);
  EXPECT_FALSE(run(kGga, kT0).echo_to_port);
  EXPECT_EQ(cfg().last_rear_alive_received, 0);
  cfg().front_rear_type = 1;
  EXPECT_FALSE(run(fix("1.0"), kT0 + 7).echo_to_port);
  EXPECT_EQ(cfg().last_rear_alive_received, kT0 + 7);
}

TEST_F(Intake, a_gps_source_on_the_interconnect_is_announced_every_other_line) {
  cfg().gps_cable_connected = 0;
  g_interch = 1;
  std::vector<bool> announced;
  for (int i = 0; i < 4; ++i) announced.push_back(run(kGga, kT0 + i).announce_source);
  EXPECT_EQ(announced, (std::vector<bool>{true, false, true, false}));
  g_av = 1;
  EXPECT_FALSE(run(kGga, kT0 + 5).announce_source) << "an AV cable is in";
  g_av = 0;
  cfg().gps_cable_connected = 1;
  EXPECT_FALSE(run(kGga, kT0 + 6).announce_source) << "the recorder knows the cable";
  EXPECT_FALSE(run(withChecksum("GNGGA,1"), kT0 + 7).announce_source) << "dropped line";
}

TEST_F(Intake, without_the_settings_record_lines_are_only_checked) {
  IntakeEffects fx;
  NmeaIntake(st, nullptr, fix("022.4").c_str(), kT0, fx);
  EXPECT_TRUE(fx.accepted);
  EXPECT_FALSE(fx.set_clock || fx.update_osd || fx.echo_to_port || fx.announce_source);
  NmeaIntake(st, info.get(), nullptr, kT0, fx);
  EXPECT_FALSE(fx.accepted);
}

// ---- the hot path allocates nothing -------------------------------------------------------

// The sanitizer runtimes (ASan, TSan) call these for every malloc and free of the process.
extern "C" void __sanitizer_install_malloc_and_free_hooks(void (*)(const volatile void *, size_t),
                                                          void (*)(const volatile void *))
    __attribute__((weak));
std::atomic<long> g_allocations{0};
void countMalloc(const volatile void *, size_t) { ++g_allocations; }
void ignoreFree(const volatile void *) {}

int64_t g_fake_tick = kT0;
int64_t fakeTick() { return g_fake_tick; }
bool readerRuns() { return true; }
void noFatal(const char *, const char *) { ADD_FAILURE() << "fatal track failure"; }

TEST(IntakeHotPath, ten_thousand_sentences_with_a_track_open_allocate_nothing) {
  if (!__sanitizer_install_malloc_and_free_hooks)
    GTEST_SKIP() << "counting needs a sanitizer runtime (dev or tsan preset)";
  kvsim::Sandbox board;
  auto info = std::make_unique<SysInfo>();
  memset(info.get(), 0, sizeof *info);
  info->kv_config.gps_speed_display = 1;
  info->kv_config.gps_sync_time = 1;
  info->kv_config.front_rear_type = 1;
  info->kv_config.gps_cable_connected = 1;
  GpsState st;
  GpsStateInit(st, GpsProbes{interch, avCable});
  TrackSetUp(TrackHooks{fakeTick, readerRuns, &st.bFirstTimeSynced, noFatal}, nullptr);
  ASSERT_EQ(TrackCreateLock(), 0);
  board.mkdir("/mnt/mmc/Recordings");
  std::string stem = board.path("/mnt/mmc/Recordings/hot");
  StartGpsFileWrite(stem.c_str(), 0, 0, 2147483647);
  ASSERT_TRUE(TrackIsOpen());

  kvsim::DriveOptions drive;
  drive.seconds = 300;
  drive.no_fix = {{100, 110}};
  std::vector<std::string> lines;
  for (const auto &s : kvsim::generateDrive(drive)) lines.push_back(s.text);
  auto feed = [&](size_t count) {
    int accepted = 0;
    for (size_t i = 0; i < count; ++i) {
      g_fake_tick += 143;
      IntakeEffects fx;
      NmeaIntake(st, info.get(), lines[i % lines.size()].c_str(), g_fake_tick, fx);
      if (fx.set_clock) ClearSyncTime(info.get());
      if (fx.accepted) accepted += ProcessGpsData(lines[i % lines.size()].c_str());
    }
    return accepted;
  };
  feed(200);  // the first clock setting reads the zone files once
  __sanitizer_install_malloc_and_free_hooks(countMalloc, ignoreFree);
  int accepted = feed(10000);
  __sanitizer_install_malloc_and_free_hooks(nullptr, nullptr);
  long counted = g_allocations.load();
  EXPECT_EQ(accepted, 10000);
  EXPECT_EQ(counted, 0) << "allocations while 10,000 sentences went through";
  EXPECT_EQ(CloseGpsFd(), 0);
  TrackDestroyLock();
}

}  // namespace
