// SPDX-License-Identifier: MIT
// Board access: status nodes, controller and G-sensor records, LED patterns, CRC-8 and the
// ADC conversions, on the sandbox's driver nodes.
#include "dm368_zt5_util.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "sandbox.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

// The bytes of one fixed-size record: the text, then zeros.
std::string record(const std::string &text, size_t size) {
  std::string r = text;
  r.resize(size, '\0');
  return r;
}
std::string micom(const std::string &text) { return record(text, KV_MICOM_RECORD_SIZE); }
std::string led(const std::string &text) { return record(text, KV_LEDS_RECORD_SIZE); }

// Turns a node into a pipe the test holds both ends of, so every record the library
// writes is kept in order (a plain file would keep only the last one), and what the
// library reads is what the test fed.
class NodeTap {
 public:
  NodeTap(const kvsim::Sandbox &board, const char *node) {
    std::string file = board.path(node);
    unlink(file.c_str());
    EXPECT_EQ(mkfifo(file.c_str(), 0600), 0) << file;
    rd_ = open(file.c_str(), O_RDONLY | O_NONBLOCK);
    wr_ = open(file.c_str(), O_WRONLY | O_NONBLOCK);
    EXPECT_GE(rd_, 0);
    EXPECT_GE(wr_, 0);
  }
  ~NodeTap() {
    close(rd_);
    close(wr_);
  }
  NodeTap(const NodeTap &) = delete;
  NodeTap &operator=(const NodeTap &) = delete;

  // What the driver will answer to the next read.
  void feed(const std::string &text) {
    EXPECT_EQ(write(wr_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }
  // Everything written to the node since the last call.
  std::string written() {
    std::string all;
    char buf[256];
    ssize_t n;
    while ((n = read(rd_, buf, sizeof buf)) > 0) all.append(buf, static_cast<size_t>(n));
    return all;
  }

 private:
  int rd_ = -1, wr_ = -1;
};

long long elapsed_ms(Clock::time_point since) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count();
}

// ---- CRC-8 ------------------------------------------------------------------------------

TEST(Crc8, gives_the_published_check_value) {
  const unsigned char digits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  EXPECT_EQ(crc8(digits, 9), 0xA1);
}

TEST(Crc8, empty_negative_or_null_input_gives_zero) {
  const unsigned char byte = 0x5A;
  EXPECT_EQ(crc8(&byte, 0), 0);
  EXPECT_EQ(crc8(&byte, -3), 0);
  EXPECT_EQ(crc8(nullptr, 6), 0);
}

TEST(Crc8, a_string_followed_by_its_own_crc_gives_zero) {
  const std::vector<std::vector<unsigned char>> inputs = {
      {0x00},
      {0xFF},
      {'1', '2', '3', '4', '5', '6', '7', '8', '9'},
      {0x00, 0x90, 0x4C, 0x12, 0x34, 0x56},  // a MAC address
      {0x80, 0x01, 0x7E, 0xE7, 0x18, 0x81, 0x42}};
  for (auto bytes : inputs) {
    unsigned char crc = crc8(bytes.data(), static_cast<int>(bytes.size()));
    bytes.push_back(crc);
    EXPECT_EQ(crc8(bytes.data(), static_cast<int>(bytes.size())), 0)
        << "input of " << bytes.size() - 1 << " bytes, crc " << int(crc);
  }
}

// ---- ADC conversions --------------------------------------------------------------------

struct AdcCase {
  int adc, table;
  const char *board, *interch;  // node texts; nullptr: node missing
  double volts;
};

TEST(AdcConversion, counts_to_volts_in_tenth_steps_plus_the_board_offset) {
  const AdcCase cases[] = {
      {1030, 0, "0\n", "0\n", 0.5},
      {1171, 0, "0\n", "0\n", 1.5},  // 141 / 14.045 = 10.04 -> 1.0 V
      {500, 0, "0\n", "0\n", 0.5},   // below 1030: only the offset
      {-2147483647 - 1, 0, "0\n", "0\n", 0.5},
      {2715, 0, "2\n", "1\n", 12.4},   // 1685 / 14.045 = 119.97 -> 11.9 V
      {1000, 1, "0\n", "0\n", 6.6},    // 1092.427 / 17.649 = 61.9 -> 6.1 V
      {-93, 1, "0\n", "0\n", 0.5},     // negative raw value: 0 steps
      {1171, 0, "1\n", "1\n", 1.4},    // front unit, interch jack in
      {1171, 0, "1\n", "0\n", 1.1},    // front unit, interch jack out
      {1171, 0, "1\n", nullptr, 1.1},  // front unit, interch node missing
  };
  for (const auto &c : cases) {
    kvsim::Sandbox board;
    board.write(KV_NODE_BOARD_INFO, c.board);
    if (c.interch)
      board.write(KV_NODE_INTERCH_STATUS, c.interch);
    else
      board.remove(KV_NODE_INTERCH_STATUS);
    CaptureStderr();
    double v = micom_ADC_to_Voltage(c.adc, c.table);
    std::string err = GetCapturedStderr();
    EXPECT_NEAR(v, c.volts, 1e-9) << "ADC " << c.adc << " table " << c.table << " board "
                                  << c.board;
    EXPECT_EQ(err, c.interch ? "" : "Error: can't open device\n") << "ADC " << c.adc;
  }
}

TEST(AdcConversion, volts_to_counts_truncates_and_never_goes_negative) {
  EXPECT_EQ(micom_Voltage_to_ADC(12.0, 0), 2715u);  // 2715.4
  EXPECT_EQ(micom_Voltage_to_ADC(12.0, 1), 2025u);  // 2025.45
  EXPECT_EQ(micom_Voltage_to_ADC(0.0, 1), 0u);      // -92.427
  EXPECT_EQ(micom_Voltage_to_ADC(-20.0, 0), 0u);
  EXPECT_EQ(micom_Voltage_to_ADC(1e12, 0), UINT_MAX);
}

// ---- status readers ---------------------------------------------------------------------

struct Reader {
  const char *name;
  int (*read)();
  const char *node;
  int failed;  // result when the node cannot be opened or read
};

const Reader kReaders[] = {
    {"is_interch_inserted", is_interch_inserted, KV_NODE_INTERCH_STATUS, 0},
    {"is_av_cable_inserted", is_av_cable_inserted, KV_NODE_CABLE_STATUS, 0},
    {"is_dc_cable_inserted", is_dc_cable_inserted, KV_NODE_DC_STATUS, 0},
    {"check_cd_status", check_cd_status, KV_NODE_CD_STATUS, -1},
    {"is_sdcard_inserted", is_sdcard_inserted, KV_NODE_CD_STATUS, -1},
};

TEST(StatusReaders, a_detect_node_counts_only_a_leading_one) {
  const std::pair<const char *, int> texts[] = {{"1\n", 1},  {"1", 1},    {"0\n", 0},
                                                {"x1\n", 0}, {"10\n", 1}, {" 1\n", 0}};
  for (const auto &r : kReaders)
    for (const auto &[text, expected] : texts) {
      kvsim::Sandbox board;
      board.write(r.node, text);
      EXPECT_EQ(r.read(), expected) << r.name << " on \"" << text << "\"";
    }
}

TEST(StatusReaders, a_missing_or_empty_node_is_reported_with_the_failure_result) {
  for (const auto &r : kReaders) {
    kvsim::Sandbox board;
    board.remove(r.node);
    CaptureStderr();
    EXPECT_EQ(r.read(), r.failed) << r.name << " on a missing node";
    EXPECT_EQ(GetCapturedStderr(), "Error: can't open device\n") << r.name;

    board.write(r.node, "");
    CaptureStderr();
    EXPECT_EQ(r.read(), r.failed) << r.name << " on an empty node";
    EXPECT_EQ(GetCapturedStderr(), "Error: can't read data\n") << r.name;
  }
}

TEST(StatusReaders, a_new_sandbox_is_a_front_unit_on_dc_with_a_card) {
  kvsim::Sandbox board;
  EXPECT_EQ(kv_device_get_board_info(), KV_BOARD_FRONT);
  EXPECT_EQ(check_cd_status(), 1);
  EXPECT_EQ(is_dc_cable_inserted(), 1);
  EXPECT_EQ(is_interch_inserted(), 0);
  EXPECT_EQ(get_internal_battery_level(), 3900);
}

TEST(StatusReaders, card_detection_debounces_a_present_card_only) {
  kvsim::Sandbox board;
  board.write(KV_NODE_CD_STATUS, "1\n");
  auto t0 = Clock::now();
  EXPECT_EQ(is_sdcard_inserted(), 1);
  EXPECT_GE(elapsed_ms(t0), 100);

  board.write(KV_NODE_CD_STATUS, "0\n");
  t0 = Clock::now();
  EXPECT_EQ(is_sdcard_inserted(), 0);
  EXPECT_LT(elapsed_ms(t0), 50);
}

TEST(StatusReaders, a_card_pulled_during_the_debounce_counts_as_absent) {
  kvsim::Sandbox board;
  board.write(KV_NODE_CD_STATUS, "1\n");
  std::thread pull([&] {
    std::this_thread::sleep_for(30ms);
    board.write(KV_NODE_CD_STATUS, "0\n");
  });
  EXPECT_EQ(is_sdcard_inserted(), 0);
  pull.join();
}

TEST(StatusReaders, battery_level_is_given_in_millivolts) {
  kvsim::Sandbox board;
  const std::pair<const char *, int> texts[] = {
      {"3700000\n", 3700},
      {"3700999", 3700},
      {"12\n", 0},
      {"volts\n", 0},
      {"1234567890123456789", 2147483}};  // 16 bytes read, saturated at 2^31 - 1 uV
  for (const auto &[text, mv] : texts) {
    board.write(KV_NODE_BATTERY_LEVEL, text);
    EXPECT_EQ(get_internal_battery_level(), mv) << text;
  }
  board.remove(KV_NODE_BATTERY_LEVEL);
  CaptureStderr();
  EXPECT_EQ(get_internal_battery_level(), -1);
  EXPECT_EQ(GetCapturedStderr(), "Error: can't open device\n");
}

TEST(StatusReaders, the_internal_battery_is_switched_on_with_three_bytes) {
  kvsim::Sandbox board;
  EXPECT_EQ(enable_internal_battery(), 0);
  EXPECT_EQ(board.read(KV_NODE_BATTERY_LEVEL), "100");
  board.remove(KV_NODE_BATTERY_LEVEL);
  CaptureStderr();
  EXPECT_EQ(enable_internal_battery(), -1);
  EXPECT_EQ(GetCapturedStderr(), "Error: can't open device\n");
}

// ---- white LED --------------------------------------------------------------------------

TEST(WhiteLed, writes_a_sixteen_byte_record_and_never_a_cut_one) {
  kvsim::Sandbox board;
  {
    NodeTap tap(board, KV_NODE_WHITE_LED);
    EXPECT_EQ(set_white_led(500, 250), 0);
    CaptureStderr();
    EXPECT_EQ(set_white_led(INT_MIN, 1000000), -1);  // "-2147483648_1000000": 18 characters
    EXPECT_EQ(GetCapturedStderr(), "Error: can't write data\n");
    EXPECT_EQ(tap.written(), record("500_250", 16));
  }
  board.remove(KV_NODE_WHITE_LED);
  CaptureStderr();
  EXPECT_EQ(set_white_led(1, 1), -1);
  EXPECT_EQ(GetCapturedStderr(), "Error: can't open device\n");
  EXPECT_FALSE(board.exists(KV_NODE_WHITE_LED)) << "a driver node is never created";
}

// ---- controller -------------------------------------------------------------------------

TEST(Controller, each_command_is_one_twenty_byte_record) {
  struct Command {
    const char *name;
    std::function<int()> send;
    const char *text;
  };
  const Command commands[] = {
      {"main_buck_restart", micom_main_buck_restart, "1_0"},
      {"main_buck_off", micom_main_buck_off, "2_0"},
      {"wakeup_level", [] { return micom_set_new_wakeup_level(-2147483647 - 1); }, "3_-2147483648"},
      {"adc_stop", micom_adc_data_stop, "4_0"},
      {"adc_start", micom_adc_data_start, "4_1"},
      {"monitoring 0", [] { return micom_set_system_monitoring(0); }, "5_0"},
      {"monitoring 1", [] { return micom_set_system_monitoring(1); }, "5_1"},
      {"emergency_off", micom_emergency_off, "6_0"},
      {"echo of a short literal", [] { return micom_echo("1_0"); }, "1_0"},
  };
  kvsim::Sandbox board;
  NodeTap tap(board, KV_NODE_MICOM_DATA);
  for (const auto &c : commands) {
    EXPECT_EQ(c.send(), 0) << c.name;
    EXPECT_EQ(tap.written(), micom(c.text)) << c.name;
  }
}

TEST(Controller, an_unknown_monitoring_status_sends_nothing) {
  kvsim::Sandbox board;
  NodeTap tap(board, KV_NODE_MICOM_DATA);
  EXPECT_EQ(micom_set_system_monitoring(2), 0);
  EXPECT_EQ(micom_set_system_monitoring(-1), 0);
  EXPECT_EQ(tap.written(), "");
}

TEST(Controller, the_malfunction_counter_is_followed_by_a_100_ms_pause) {
  kvsim::Sandbox board;
  NodeTap tap(board, KV_NODE_MICOM_DATA);
  auto t0 = Clock::now();
  EXPECT_EQ(micom_set_new_malfunction_counter(), 0);
  EXPECT_GE(elapsed_ms(t0), 100);
  EXPECT_EQ(tap.written(), micom("7_5"));
}

TEST(Controller, a_missing_controller_loses_the_command_silently) {
  kvsim::Sandbox board;
  board.remove(KV_NODE_MICOM_DATA);
  CaptureStderr();
  EXPECT_EQ(micom_main_buck_off(), 0);
  EXPECT_EQ(micom_echo("6_0"), 0);
  EXPECT_EQ(GetCapturedStderr(), "");
  EXPECT_FALSE(board.exists(KV_NODE_MICOM_DATA));
}

TEST(Controller, status_fields_that_do_not_parse_keep_the_callers_values) {
  struct Case {
    const char *node;
    std::vector<int> expected;
  };
  const Case cases[] = {
      {"12_34_-56_78\n", {12, 34, -56, 78}},
      {"5_x_7_8\n", {5, -1, -1, -1}},
      {"garbage\n", {-1, -1, -1, -1}},
      {"1_2_99999999999_4\n", {1, 2, -1, -1}},  // out of range: not a value
      {"", {-1, -1, -1, -1}},
  };
  kvsim::Sandbox board;
  for (const auto &c : cases) {
    board.write(KV_NODE_MICOM_DATA, c.node);
    std::vector<int> status(4, -1);
    CaptureStderr();
    EXPECT_EQ(micom_status(status.data()), 0) << c.node;
    GetCapturedStderr();
    EXPECT_EQ(status, c.expected) << "node \"" << c.node << "\"";
  }
  board.remove(KV_NODE_MICOM_DATA);
  std::vector<int> status(4, 9);
  EXPECT_EQ(micom_status(status.data()), 0);
  EXPECT_EQ(status, std::vector<int>(4, 9));
}

TEST(Controller, cat_reads_one_token_and_leaves_the_buffer_when_there_is_none) {
  kvsim::Sandbox board;
  char buf[KV_NODE_TOKEN_SIZE];
  board.write(KV_NODE_MICOM_DATA, "  1_2_3_4\nrest\n");
  EXPECT_EQ(micom_cat(buf), 0);
  EXPECT_STREQ(buf, "1_2_3_4");

  board.write(KV_NODE_MICOM_DATA, std::string(300, '7'));  // longer than any buffer
  EXPECT_EQ(micom_cat(buf), 0);
  EXPECT_EQ(std::string(buf), std::string(KV_NODE_TOKEN_SIZE - 1, '7'));

  strcpy(buf, "untouched");
  board.write(KV_NODE_MICOM_DATA, "\n");
  EXPECT_EQ(micom_cat(buf), 0);
  board.remove(KV_NODE_MICOM_DATA);
  EXPECT_EQ(micom_cat(buf), 0);
  EXPECT_STREQ(buf, "untouched");
}

// ---- G-sensor ---------------------------------------------------------------------------

TEST(GSensor, a_sample_fills_five_values) {
  kvsim::Sandbox board;
  board.write(KV_NODE_GSENSOR_DATA, "10_-20_30_40_50\n");
  int v[5] = {0, 0, 0, 0, 0};
  EXPECT_EQ(gsensor_data_grabber(v), 0);
  EXPECT_EQ(std::vector<int>(v, v + 5), (std::vector<int>{10, -20, 30, 40, 50}));
}

TEST(GSensor, a_token_that_does_not_parse_leaves_the_callers_values) {
  kvsim::Sandbox board;
  for (const char *text : {"none\n", "_1_2_3_4_5\n", "\n"}) {
    board.write(KV_NODE_GSENSOR_DATA, text);
    int v[5] = {7, 7, 7, 7, 7};
    EXPECT_EQ(gsensor_data_grabber(v), 0) << text;
    EXPECT_EQ(std::vector<int>(v, v + 5), std::vector<int>(5, 7)) << text;
  }
  board.remove(KV_NODE_GSENSOR_DATA);
  int v[5] = {7, 7, 7, 7, 7};
  EXPECT_EQ(gsensor_data_grabber(v), -1);
  EXPECT_EQ(v[0], 7);
}

TEST(GSensor, commands_are_thirty_byte_records_echoed_on_standard_output) {
  kvsim::Sandbox board;
  NodeTap tap(board, KV_NODE_GSENSOR_DATA);
  CaptureStdout();
  EXPECT_EQ(gsensor_set_threshold(5), 0);
  EXPECT_EQ(gsensor_wifi_on_off(1), 0);
  EXPECT_EQ(GetCapturedStdout(), "0_5\n1_1\n");
  EXPECT_EQ(tap.written(), record("0_5", 30) + record("1_1", 30));
}

TEST(GSensor, a_missing_sensor_node_fails_the_commands) {
  kvsim::Sandbox board;
  board.remove(KV_NODE_GSENSOR_DATA);
  CaptureStdout();
  EXPECT_EQ(gsensor_set_threshold(5), -1);
  EXPECT_EQ(gsensor_wifi_on_off(0), -1);
  EXPECT_EQ(GetCapturedStdout(), "");
}

// ---- LED patterns -----------------------------------------------------------------------

struct LedCase {
  const char *name;
  std::function<int()> call;
  const char *state;  // what the node reads before the call
  std::vector<std::string> records;
  const char *out;
  int result;
};

TEST(Leds, each_pattern_switches_off_then_writes_its_record) {
  const char *lit = "0_42_0_0_0\n";
  const char *dark = "-1_0_0_0_0\n";
  const std::string off = "-1_0_0_0_0";
  const LedCase cases[] = {
      {"RED steady", [] { return LEDs_RED(0, 0); }, lit, {off, "0_21_0_0_0"}, "", 0},
      {"RED from dark", [] { return LEDs_RED(0, 0); }, dark, {"0_21_0_0_0"}, "Already off!", 0},
      {"BLUE blink", [] { return LEDs_BLUE(500, 500); }, lit, {off, "1_42_0_500_500"}, "", 0},
      {"PURPLE blink", [] { return LEDs_PURPLE(1, 2); }, lit, {off, "1_63_0_1_2"}, "", 0},
      {"general half delay", [] { return LEDs_general(7, 100, 0); }, lit, {off}, "Error!", -1},
      {"general other half", [] { return LEDs_general(7, 0, 100); }, lit, {off}, "Error!", -1},
      {"rotational",
       [] { return LEDs_rotational_toggle(23, 200, 200); },
       lit,
       {off, "4_3_0_200_200"},
       "",
       0},
      {"rotational negative",
       [] { return LEDs_rotational_toggle(-23, 200, 200); },
       lit,
       {off, "4_-3_0_200_200"},
       "",
       0},
      {"general rotational",
       [] { return LEDs_general_rotational_toggle(23, 200, 200); },
       lit,
       {off, "4_23_0_200_200"},
       "",
       0},
      {"rotational no on delay",
       [] { return LEDs_general_rotational_toggle(23, 0, 200); },
       lit,
       {off},
       "Error!",
       -1},
      {"bi toggle",
       [] { return LEDs_bi_toggle(21, 42, 100, 300); },
       lit,
       {off, "2_21_42_100_300"},
       "",
       0},
      {"bi toggle no on delay",
       [] { return LEDs_bi_toggle(21, 42, 0, 300); },
       lit,
       {off},
       "Error!",
       -1},
      {"bi toggle from dark, no on delay",
       [] { return LEDs_bi_toggle(21, 42, 0, 300); },
       dark,
       {},
       "Already off!Error!",
       -1},
      {"tri toggle", [] { return LEDs_tri_toggle(100, 0); }, lit, {off, "3_0_0_100_0"}, "", 0},
      {"tri toggle no on delay", [] { return LEDs_tri_toggle(0, 5); }, lit, {off}, "Error!", -1},
      {"record too long", [] { return LEDs_BLUE(INT_MIN, INT_MIN); }, lit, {off}, "Error!", -1},
      {"off", LEDs_off, lit, {off}, "", 0},
      {"off when off", LEDs_off, dark, {}, "Already off!", -1},
      {"off on a silent node", LEDs_off, "\n", {off}, "", 0},
  };
  for (const auto &c : cases) {
    kvsim::Sandbox board;
    NodeTap tap(board, KV_NODE_LEDS_CONTROL);
    tap.feed(c.state);
    CaptureStdout();
    EXPECT_EQ(c.call(), c.result) << c.name;
    EXPECT_EQ(GetCapturedStdout(), c.out) << c.name;
    std::string expected;
    for (const auto &r : c.records) expected += led(r);
    EXPECT_EQ(tap.written(), expected) << c.name;
  }
}

TEST(Leds, a_missing_led_driver_writes_nothing_and_does_not_fail_the_pattern) {
  kvsim::Sandbox board;
  board.remove(KV_NODE_LEDS_CONTROL);
  CaptureStdout();
  EXPECT_EQ(LEDs_RED(0, 0), 0);
  EXPECT_EQ(LEDs_off(), 0);
  EXPECT_EQ(GetCapturedStdout(), "");
  EXPECT_FALSE(board.exists(KV_NODE_LEDS_CONTROL));
}

TEST(Leds, echo_and_cat_pass_records_through) {
  kvsim::Sandbox board;
  EXPECT_EQ(LEDs_echo("2_21_42_5_5"), 0);
  EXPECT_EQ(board.read(KV_NODE_LEDS_CONTROL), led("2_21_42_5_5"));
  char buf[KV_NODE_TOKEN_SIZE];
  EXPECT_EQ(LEDs_cat(buf), 0);
  EXPECT_STREQ(buf, "2_21_42_5_5");
}

}  // namespace
