// SPDX-License-Identifier: MIT
// The serial link's command lines: what the rear unit writes for each code, and what the
// front unit makes of each line it receives (event, record, sign of life).
// test-links: kvnavlink
#include "rear_command.h"

#include <gtest/gtest.h>
#include <math.h>
#include <stdint.h>
#include <string.h>

#include <memory>
#include <string>
#include <vector>

using namespace navlink;  // the daemon's own types under test

namespace {

// ---- receiving -------------------------------------------------------------------------

struct Received {
  const char *line;
  bool alive;
  RearEvent event;
  int code;
  int32_t value;
  const char *text;
};

constexpr RearEvent kNone = RearEvent::None, kCode = RearEvent::Code, kRec = RearEvent::Record,
                    kBlock = RearEvent::RecordBlocking;

const Received kReceived[] = {
    {"#CMSTP", true, kCode, 2, 0, ""},
    {"#CMRPA", true, kCode, 3, 0, ""},
    {"#CMRRE", true, kCode, 4, 0, ""},
    {"#CMGPS", true, kCode, 5, 0, ""},
    {"#CMGPX", true, kCode, 6, 0, ""},
    {"#CMWIS", true, kCode, 7, 0, ""},
    {"#CMWIX", true, kCode, 8, 0, ""},
    {"#CMDDS", true, kCode, 9, 0, ""},
    {"#CMDDX", true, kCode, 10, 0, ""},
    {"#CMIND", true, kCode, 14, 0, ""},
    {"#CMVON", true, kCode, 15, 0, ""},
    {"#CMVOF", true, kCode, 16, 0, ""},
    {"#CMLIC", true, kCode, 21, 0, ""},
    {"#CMAVX", true, kCode, 79, 0, ""},
    {"#CMD2P", true, kCode, 90, 0, ""},
    {"#CMP2D", true, kCode, 91, 0, ""},
    {"#CMSTA=00:11:22:33:44:55;1715085319;1;2;0;1;900;0", true, kRec, 1, 0,
     "00:11:22:33:44:55;1715085319;1;2;0;1;900;0"},
    {"#CMSTA", true, kRec, 1, 0, ""},
    {"#CMSTA=", true, kRec, 1, 0, ""},
    {"#CMINW=RearCam;secret99", true, kBlock, 12, 0, "RearCam;secret99"},
    {"#CMVER=1.0.3;B77;115;120", true, kBlock, 13, 0, "1.0.3;B77;115;120"},
    {"#CMDTM=1715085319", true, kRec, 11, 1715085319, ""},
    {"#CMAND=1700000000", true, kRec, 70, 1700000000, ""},
    {"#CMAID=1700000001", true, kRec, 71, 1700000001, ""},
    {"#CMAIP=1700000002", true, kRec, 72, 1700000002, ""},
    {"#CMAED=1700000003", true, kRec, 73, 1700000003, ""},
    {"#CMAEP=1700000004", true, kRec, 74, 1700000004, ""},
    {"#CMAMP=1700000005", true, kRec, 75, 1700000005, ""},
    {"#CMANP=1700000006", true, kRec, 76, 1700000006, ""},
    // numbers as the board's 32-bit atoi reads them, held at the ends beyond 32 bits
    {"#CMDTM", true, kRec, 11, 0, ""},
    {"#CMDTM=", true, kRec, 11, 0, ""},
    {"#CMDTM=12ab", true, kRec, 11, 12, ""},
    {"#CMDTM= +42", true, kRec, 11, 42, ""},
    {"#CMDTM=-7", true, kRec, 11, -7, ""},
    {"#CMDTM=2147483647", true, kRec, 11, INT32_MAX, ""},
    {"#CMDTM=2147483648", true, kRec, 11, INT32_MAX, ""},
    {"#CMDTM=-2147483648", true, kRec, 11, INT32_MIN, ""},
    {"#CMDTM=-2147483649", true, kRec, 11, INT32_MIN, ""},
    {"#CMAND=99999999999999999999999999", true, kRec, 70, INT32_MAX, ""},
    {"#CMDTM:1715085319", true, kRec, 11, 1715085319, ""},  // the '=' is not tested
    // alive, but no event
    {"#CMLIV", true, kNone, 20, 0, ""},
    {"#CMXYZ", true, kNone, 0, 0, ""},
    {"#CMAN", true, kNone, 0, 0, ""},
    {"#CMS", true, kNone, 0, 0, ""},
    {"#cmSTP", false, kNone, 0, 0, ""},
    // not a command
    {"#CM", false, kNone, 0, 0, ""},
    {"", false, kNone, 0, 0, ""},
    {"CMSTP", false, kNone, 0, 0, ""},
    {" #CMSTP", false, kNone, 0, 0, ""},
    {"$GPRMC,123519.000,A", false, kNone, 0, 0, ""},
};

TEST(RearCommandDecode, every_line_gives_its_event_code_and_record) {
  for (const Received &r : kReceived) {
    SCOPED_TRACE(std::string("line '") + r.line + "'");
    RearCommand c;
    DecodeRearLine(r.line, 12345, c);
    EXPECT_EQ(c.alive, r.alive);
    EXPECT_EQ(static_cast<int>(c.event), static_cast<int>(r.event));
    if (r.event == kNone) continue;
    EXPECT_EQ(c.code, r.code);
    EXPECT_EQ(c.record.nCommand, r.code);
    EXPECT_EQ(c.record.llTick, 12345);
    EXPECT_EQ(c.record.nValue, r.value);
    EXPECT_STREQ(c.record.szText, r.text);
  }
}

// Every byte of the record the command does not carry is zero: kv_server gets no stale
// stack bytes, and a text is always terminated within its 80 bytes.
TEST(RearCommandDecode, a_text_longer_than_the_record_is_cut_to_79_characters) {
  std::string text(200, 'x');
  RearCommand c;
  DecodeRearLine(("#CMINW=" + text).c_str(), 7, c);
  EXPECT_EQ(std::string(c.record.szText), text.substr(0, 79));
  EXPECT_EQ(c.record.szText[79], '\0');
  EXPECT_EQ(c.record.nReserved0, 0);
  EXPECT_EQ(c.record.nReserved1, 0);

  DecodeRearLine("#CMVER=1.2", 7, c);
  const auto *bytes = reinterpret_cast<const unsigned char *>(c.record.szText);
  for (size_t i = 3; i < sizeof c.record.szText; ++i) ASSERT_EQ(bytes[i], 0) << "byte " << i;
}

// ---- ParseRearCommand ------------------------------------------------------------------

struct Seen {
  std::unique_ptr<SysInfo> info = std::make_unique<SysInfo>();
  std::vector<RearCommand> delivered;
  int64_t tick = 1000;
};
Seen *g_seen = nullptr;

TEST(RearCommandParse, any_cm_line_is_a_sign_of_life_and_only_commands_make_events) {
  Seen seen;
  memset(seen.info.get(), 0, sizeof(SysInfo));
  g_seen = &seen;
  RearLinkSetUp(RearLinkHooks{[] { return g_seen->info.get(); }, [] { return g_seen->tick; },
                              [](const RearCommand &c) { g_seen->delivered.push_back(c); }});
  int64_t &alive = seen.info->kv_config.last_rear_alive_received;
  ParseRearCommand("#CM");
  ParseRearCommand("GPS,#CMSTP");
  EXPECT_EQ(alive, 0) << "not a command: no sign of life";
  seen.tick = 2000;
  ParseRearCommand("#CMLIV");
  EXPECT_EQ(alive, 2000);
  seen.tick = 3000;
  ParseRearCommand("#CMXYZ");
  EXPECT_EQ(alive, 3000) << "unknown commands count as alive";
  EXPECT_TRUE(seen.delivered.empty());
  seen.tick = 4000;
  ParseRearCommand("#CMRPA");
  ASSERT_EQ(seen.delivered.size(), 1u);
  EXPECT_EQ(seen.delivered[0].code, 3);
  EXPECT_EQ(alive, 4000);
  g_seen = nullptr;
  RearLinkSetUp(RearLinkHooks{nullptr, nullptr, nullptr});
  ParseRearCommand("#CMRRE");  // no settings record, no bus: nothing to do, no crash
}

// ---- sending ---------------------------------------------------------------------------

std::string composed(int code, const char *data, long now = 0) {
  CommandLine line;
  if (!ComposeCommandLine(code, data, now, line)) return "(refused)";
  if (line.shape == LineShape::None) return "(none)";
  std::string text(line.text, line.len);
  return line.shape == LineShape::Fixed ? text : "framed:" + text;
}

TEST(RearCommandCompose, each_code_has_its_line) {
  const std::pair<int, const char *> fixed[] = {
      {2, "\r\n#CMSTP\r\n"},  {3, "\r\n#CMRPA\r\n"},  {4, "\r\n#CMRRE\r\n"},
      {5, "\r\n#CMGPS\r\n"},  {6, "\r\n#CMGPX\r\n"},  {7, "\r\n#CMWIS\r\n"},
      {8, "\r\n#CMWIX\r\n"},  {9, "\r\n#CMDDS\r\n"},  {10, "\r\n#CMDDX\r\n"},
      {14, "\r\n#CMIND\r\n"}, {15, "\r\n#CMVON\r\n"}, {16, "\r\n#CMVOF\r\n"},
      {20, "\r\n#CMLIV\r\n"}, {21, "\r\n#CMLIC\r\n"}, {79, "\r\n#CMAVX\r\n"},
      {90, "\r\n#CMD2P\r\n"}, {91, "\r\n#CMP2D\r\n"},
  };
  for (auto [code, line] : fixed) EXPECT_EQ(composed(code, "ignored"), line) << "code " << code;
  EXPECT_EQ(composed(1, "aa;1"), "framed:#CMSTA=aa;1");
  EXPECT_EQ(composed(12, "ssid;pw"), "framed:#CMINW=ssid;pw");
  EXPECT_EQ(composed(13, ""), "framed:#CMVER=");
  EXPECT_EQ(composed(13, nullptr), "framed:#CMVER=");
  EXPECT_EQ(composed(11, "ignored", 1715085319), "framed:#CMDTM=1715085319");
  EXPECT_EQ(composed(70, "1700000000"), "framed:#CMAND=1700000000");
  EXPECT_EQ(composed(76, "1700000000"), "framed:#CMANP=1700000000");
  for (int code : {0, 17, 19, 22, 69, 77, 78, 80, 89, 92, 200, -1})
    EXPECT_EQ(composed(code, "x"), "(none)") << "code " << code;
}

TEST(RearCommandCompose, a_text_that_does_not_fit_or_holds_a_line_end_is_refused) {
  std::string fits(72, 'v');  // "#CMVER=" and 72 characters: 79
  EXPECT_EQ(composed(13, fits.c_str()), "framed:#CMVER=" + fits);
  EXPECT_EQ(composed(13, (fits + "v").c_str()), "(refused)");
  EXPECT_EQ(composed(1, std::string(500, 's').c_str()), "(refused)");
  EXPECT_EQ(composed(12, "RearCam\r\n#CMSTP"), "(refused)");
  EXPECT_EQ(composed(12, "Rear\nCam"), "(refused)");
  EXPECT_EQ(composed(70, "17\r"), "(refused)");
}

TEST(RearCommandCompose, request_1_texts_come_from_the_rear_units_settings) {
  auto info = std::make_unique<SysInfo>();
  memset(info.get(), 0, sizeof(SysInfo));
  KV_Config_Data &c = info->kv_config;
  c.park_shutdown_voltage_2ch = 11.5;
  c.park_voltage_2ch = 12.09;  // tenths are truncated
  strcpy(c.wifi_ap_ssid, "RearCam");
  strcpy(c.wifi_ap_pwd, "secret99");
  strcpy(c.mac_address, "00:11:22:33:44:55");
  c.use_rec_parking_always_2ch = 1;
  c.recording_interval_drive_2ch = 2;
  c.button_control_2ch = 3;
  c.gps_sync_time = 1;
  c.gps_timezone = -330;
  c.is_sdxc = 1;
  StartTexts t;
  FormatStartTexts(c, "1.0.3", "B77", 1715085319, t);
  EXPECT_STREQ(t.version, "1.0.3;B77;115;120");
  EXPECT_STREQ(t.wifi, "RearCam;secret99");
  EXPECT_STREQ(t.start, "00:11:22:33:44:55;1715085319;1;2;3;1;-330;1");

  // Fields of a record never written: unterminated texts, voltages that are no number.
  memset(c.wifi_ap_ssid, 'S', sizeof c.wifi_ap_ssid);
  memset(c.wifi_ap_pwd, 'P', sizeof c.wifi_ap_pwd);
  c.park_shutdown_voltage_2ch = NAN;
  c.park_voltage_2ch = 1e300;
  FormatStartTexts(c, nullptr, nullptr, 0, t);
  EXPECT_EQ(std::string(t.wifi), std::string(32, 'S') + ";" + std::string(20, 'P'));
  EXPECT_STREQ(t.version, ";;0;0");
}

}  // namespace
