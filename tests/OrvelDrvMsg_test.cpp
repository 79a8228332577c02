// SPDX-License-Identifier: MIT
// The AV server client against the stand-in av_server.out of a sandbox.
// ctest-labels: threaded
#include "OrvelDrvMsg.h"

#include <gtest/gtest.h>
#include <string.h>
#include <sys/ipc.h>
#include <sys/msg.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "msg_util.h"
#include "sandbox.h"
#include "server_log.h"
#include "standin_test.h"

namespace {

using namespace std::chrono_literals;
using kvsim::numberOf;

constexpr const char *kServer = "av_server.out";
constexpr int kProc = 16;

std::string hexOf(const void *data, size_t len) {
  static const char kDigits[] = "0123456789abcdef";
  const auto *p = static_cast<const unsigned char *>(data);
  while (len > 0 && p[len - 1] == 0) --len;  // as the stand-in logs a payload
  std::string out;
  for (size_t i = 0; i < len; ++i) out += {kDigits[p[i] >> 4], kDigits[p[i] & 15]};
  return out;
}

// The lowest free descriptor: equal before and after, nothing was left open.
int lowestFreeFd() {
  int fd = dup(2);
  close(fd);
  return fd;
}

class AvClient : public StandInTest {
 protected:
  AvClient() : StandInTest(kServer) {}
  void SetUp() override {
    startServer();
    ASSERT_EQ(OrvelDrvInit(kProc), 0);
  }
  void TearDown() override { OrvelDrvExit(); }

  // Polls the server has taken from the queue (it logs a request once it has read it).
  int pollsServed() const {
    int n = 0;
    for (const auto &r : received()) n += numberOf(r, "cmd") == MSG_CMD_POLLING;
    return n;
  }
  // Messages in the queue: answers of our type once the server has taken every request.
  int waitingAnswers() const {
    struct msqid_ds ds;
    return msgctl(Msg_Init(ORVEL_MSG_KEY), IPC_STAT, &ds) == 0 ? static_cast<int>(ds.msg_qnum) : -1;
  }
};

TEST(OrvelDrvInit, accepts_1_to_24_and_refuses_others_silently) {
  kvsim::Sandbox board;
  testing::internal::CaptureStderr();
  for (int id : {25, 0, -1}) {
    EXPECT_EQ(OrvelDrvInit(id), -1) << id;
    EXPECT_EQ(OrvelDrv_GetProcId(), 1) << id;
  }
  EXPECT_EQ(OrvelDrvInit(24), 0);
  EXPECT_EQ(OrvelDrv_GetProcId(), 24);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  OrvelDrv_SetProcId(24);
  EXPECT_EQ(OrvelDrv_GetProcId(), 1) << "24 is a set-up id only";
  OrvelDrv_SetProcId(23);
  EXPECT_EQ(OrvelDrv_GetProcId(), 23);
  EXPECT_EQ(OrvelDrvExit(), 0);
  EXPECT_EQ(OrvelDrv_GetProcId(), 1);
}

TEST(OrvelDrvInit, opens_the_cmem_node_once_for_two_set_ups_and_closes_it_at_exit) {
  kvsim::Sandbox board;
  const int free_before = lowestFreeFd();
  ASSERT_EQ(OrvelDrvInit(5), 0);
  board.remove("/dev/cmem");
  EXPECT_EQ(OrvelDrvInit(6), 0) << "the second set-up must not open the node again";
  EXPECT_EQ(OrvelDrvExit(), 0);
  EXPECT_EQ(lowestFreeFd(), free_before) << "the node stays open after tear-down";

  testing::internal::CaptureStderr();
  EXPECT_EQ(OrvelDrvInit(5), -1) << "after tear-down set-up opens the node anew";
  EXPECT_NE(testing::internal::GetCapturedStderr().find("/dev/cmem"), std::string::npos);
  EXPECT_EQ(OrvelDrv_GetProcId(), 1);
  EXPECT_EQ(lowestFreeFd(), free_before);
}

TEST_F(AvClient, requests_before_set_up_send_nothing_and_fail) {
  OrvelDrvExit();
  EXPECT_EQ(SetBrightness(3), -1);
  EXPECT_EQ(GetCurrentFrame(FMT_MPEG4).serial_no, -1);
  EXPECT_EQ(GetPhyMem().addr, 0u);
  std::this_thread::sleep_for(50ms);
  EXPECT_TRUE(received().empty());
}

TEST_F(AvClient, value_setters_send_their_id_and_the_value_at_offset_16) {
  struct Row {
    const char *name;
    std::function<int(int)> call;
    int id;
  };
  auto u = [](int v) { return static_cast<unsigned>(v); };
  const Row rows[] = {
      {"SetDayNight", [&](int v) { return SetDayNight(u(v)); }, 12},
      {"SetWhiteBalance", [&](int v) { return SetWhiteBalance(u(v)); }, 13},
      {"SetBacklight", [&](int v) { return SetBacklight(u(v)); }, 14},
      {"SetBrightness", [&](int v) { return SetBrightness(u(v)); }, 15},
      {"SetContrast", [&](int v) { return SetContrast(u(v)); }, 16},
      {"SetSaturation", [&](int v) { return SetSaturation(u(v)); }, 17},
      {"SetSharpness", [&](int v) { return SetSharpness(u(v)); }, 18},
      {"SetAACBitrate", SetAACBitrate, 19},
      {"SetJpgQuality", SetJpgQuality, 22},
      {"SetMirr", SetMirr, 24},
      {"SetOSDWindow", SetOSDWindow, 25},
      {"SetImage2AType", [&](int v) { return SetImage2AType(u(v)); }, 30},
      {"Set2APriority", [&](int v) { return Set2APriority(u(v)); }, 31},
      {"SetTvSystem", [&](int v) { return SetTvSystem(u(v)); }, 32},
      {"SetBinningSkip", [&](int v) { return SetBinningSkip(u(v)); }, 33},
      {"SetTStamp", [&](int v) { return SetTStamp(u(v)); }, 34},
      {"SetPtz", SetPtz, 36},
      {"SetROIConfig", [&](int v) { return SetROIConfig(u(v)); }, 43},
      {"SetAvOsdTextEnable", SetAvOsdTextEnable, 44},
      {"SetHistEnable", SetHistEnable, 45},
      {"SetAvOsdLogoEnable", SetAvOsdLogoEnable, 46},
      {"SetDisplayValue", [&](int v) { return SetDisplayValue(u(v)); }, 51},
      {"SetClipSnapLocation", [&](int v) { return SetClipSnapLocation(u(v)); }, 53},
      {"SetOSDEnable", [&](int v) { return SetOSDEnable(u(v)); }, 60},
      {"SendForceIFrameMsg", [&](int v) { return SendForceIFrameMsg(u(v)); }, 61},
      {"SetAudioAlarmValue", [&](int v) { return SetAudioAlarmValue(u(v)); }, 65},
      {"SetAudioAlarmFlag", [&](int v) { return SetAudioAlarmFlag(u(v)); }, 66},
      {"SetWDTResetMsg", [&](int v) { return SetWDTResetMsg(u(v)); }, 69},
      {"SetAudioInputEnable", SetAudioInputEnable, 71},
      {"SetAVSStartDetectActivate", SetAVSStartDetectActivate, 72},
  };
  int value = 100;
  for (const Row &row : rows) {
    EXPECT_EQ(row.call(++value), 0) << row.name;
    auto got = last();
    EXPECT_EQ(numberOf(got, "cmd"), row.id) << row.name;
    EXPECT_EQ(numberOf(got, "value"), value) << row.name;
    EXPECT_EQ(numberOf(got, "src"), kProc) << row.name;
  }
  reply(MSG_CMD_SET_BRIGHTNESS, "ret=-3");
  EXPECT_EQ(SetBrightness(1), -3) << "the server's ret is the result";
  reply(MSG_CMD_WATCHDOG, "ret=4");
  EXPECT_EQ(OrvelWatchDog(), 4);
  EXPECT_EQ(numberOf(last(), "cmd"), MSG_CMD_WATCHDOG);
  EXPECT_EQ(numberOf(last(), "value"), 0);
}

TEST_F(AvClient, stream_setters_pick_the_request_of_the_stream) {
  struct Row {
    const char *call;
    std::function<int()> send;
    int id;
  };
  const Row rows[] = {
      {"SetStreamFramerate(0)", [] { return SetStreamFramerate(0, 30); }, MSG_CMD_SET_FRAMERATE1},
      {"SetStreamFramerate(1)", [] { return SetStreamFramerate(1, 30); }, MSG_CMD_SET_FRAMERATE2},
      {"SetStreamFramerate(5)", [] { return SetStreamFramerate(5, 30); }, MSG_CMD_SET_FRAMERATE3},
      {"SetEncBitrate(0)", [] { return SetEncBitrate(0, 30); }, MSG_CMD_SET_BITRATE1},
      {"SetEncBitrate(7)", [] { return SetEncBitrate(7, 30); }, MSG_CMD_SET_BITRATE2},
      {"SetVNFStatus(2)", [] { return SetVNFStatus(2, 30); }, MSG_CMD_SET_VNFSTATUS3},
      {"SetVNFStatus(3)", [] { return SetVNFStatus(3, 30); }, 0},
  };
  for (const Row &row : rows) {
    EXPECT_EQ(row.send(), 0) << row.call;
    EXPECT_EQ(numberOf(last(), "cmd"), row.id) << row.call;
    EXPECT_EQ(numberOf(last(), "value"), 30) << row.call;
  }
}

TEST_F(AvClient, texts_go_as_length_and_bytes_and_never_past_the_record) {
  char text[ORVEL_TEXT_MAX + 1];
  memset(text, 'a', sizeof text);
  EXPECT_EQ(SetAvOsdText(text, 5), 0);
  EXPECT_EQ(numberOf(last(), "cmd"), MSG_CMD_SET_OSDTEXT);
  EXPECT_EQ(last()["payload"], "05000000" + hexOf("aaaaa", 5));

  EXPECT_EQ(SetClipSnapName(text, ORVEL_TEXT_MAX), 0);
  EXPECT_EQ(numberOf(last(), "cmd"), MSG_CMD_SET_CLICKNAME);
  EXPECT_EQ(last()["payload"].size(), 2u * (4 + ORVEL_TEXT_MAX));

  const size_t before = received().size();
  EXPECT_EQ(SetAvOsdText(text, ORVEL_TEXT_MAX + 1), -1);
  EXPECT_EQ(SetClipSnapName(text, -1), -1);
  EXPECT_EQ(received().size(), before) << "a refused text is not sent";
}

TEST_F(AvClient, parameter_records_are_sent_whole_from_offset_16) {
  OSDPrm osd{};
  osd.dateEnable = 1;
  osd.logoPos = 3;
  strcpy(osd.text, "FRONT");
  osd.speedDisplayType = 2;
  EXPECT_EQ(SetOSDPrmMsg(1, &osd), 0);
  EXPECT_EQ(numberOf(last(), "cmd"), MSG_CMD_SET_OSDPRM2);
  EXPECT_EQ(last()["payload"], hexOf(&osd, sizeof osd));
  EXPECT_EQ(SetOSDPrmMsg(3, &osd), 0);
  EXPECT_EQ(numberOf(last(), "cmd"), 0) << "an unknown stream leaves id 0";

  CodecROIPrm roi{};
  roi.numROI = 2;
  roi.roi[2].height = 480;
  EXPECT_EQ(SetCodecROIMsg(2, &roi), 0);
  EXPECT_EQ(numberOf(last(), "cmd"), MSG_CMD_SET_ROIPRM3);
  EXPECT_EQ(last()["payload"], hexOf(&roi, sizeof roi));

  CodecAdvPrm adv{30, 0, 28, 10, 51, 0, 100};
  EXPECT_EQ(SetCodecAdvPrmMsg(0, &adv), 0);
  EXPECT_EQ(numberOf(last(), "cmd"), MSG_CMD_SET_ADVCODECPRM1);
  DateTimePrm dt{1, 2, 3, 4};
  EXPECT_EQ(SetDateTimeFormat(&dt), 0);
  EXPECT_EQ(last()["payload"], "01000000020000000300000004");
  FaceDetectParam face{};
  face.maskoption = 9;
  EXPECT_EQ(SendFaceDetectMsg(&face), 0);
  EXPECT_EQ(last()["payload"], hexOf(&face, sizeof face));
  OrvelMotionPrm motion{1, 0, 2, 3, 4};
  EXPECT_EQ(OrvelSetMotion(&motion), 0);
  EXPECT_EQ(numberOf(last(), "cmd"), MSG_CMD_SET_MOTION);
  DynRangePrm dyn{1, 2, 3};
  EXPECT_EQ(SetDynRangePrmMsg(&dyn), 0);
  EXPECT_EQ(numberOf(last(), "cmd"), MSG_CMD_SET_DYNRANGE);

  const size_t before = received().size();
  EXPECT_EQ(SetDynRangePrmMsg(nullptr), -1);
  EXPECT_EQ(received().size(), before);
}

TEST_F(AvClient, a_poll_takes_only_an_answer_already_there_and_drains_late_ones) {
  // The answers are late by far more than a loaded machine can stall this test between
  // a poll's send and its look at the queue.
  reply(MSG_CMD_POLLING, "ret=7\ndelay_ms=1500");
  EXPECT_EQ(OrvelPollingMsg(), -1) << "the server has not answered yet";
  // Until the server has read the poll, the one message in the queue is the poll itself.
  ASSERT_TRUE(kvsim::Sandbox::waitUntil([&] { return pollsServed() == 1 && waitingAnswers() == 1; },
                                        5000ms));

  reply(MSG_CMD_POLLING, "ret=9\ndelay_ms=1500");
  EXPECT_EQ(OrvelPollingMsg(), 7) << "the late answer of the first poll";
  ASSERT_TRUE(kvsim::Sandbox::waitUntil([&] { return pollsServed() == 2 && waitingAnswers() == 1; },
                                        5000ms));

  reply(MSG_CMD_POLLING, "ret=11\ndelay_ms=1500");
  EXPECT_EQ(OrvelPollingMsg(), 9);
  // The third poll's answer comes late too; a blocking request meanwhile gets its own.
  reply(MSG_CMD_WATCHDOG, "ret=5");
  EXPECT_EQ(OrvelWatchDog(), 5);
  EXPECT_EQ(waitingAnswers(), 0);
}

TEST_F(AvClient, frame_requests_carry_format_and_event_and_return_the_servers_descriptor) {
  reply(MSG_CMD_GET_CUR_FRAME, "serial_no=42\nsize=1000\nwidth=1280\neventframe=6");
  FrameInfo_t f = GetCurrentFrame(FMT_MPEG4);
  EXPECT_EQ(numberOf(last(), "format"), FMT_MPEG4);
  EXPECT_EQ(f.serial_no, 42);
  EXPECT_EQ(f.size, 1000);
  EXPECT_EQ(f.width, 1280);

  GetEventFrame(FMT_MJPEG, 3);
  EXPECT_EQ(numberOf(last(), "eventframe"), 3);
  EXPECT_EQ(SetEventFrame(f), 6);

  reply(MSG_CMD_GET_CUR_FRAME, "ret=1\nserial_no=42");
  EXPECT_EQ(GetCurrentFrame(FMT_MPEG4).serial_no, -1);
  reply(MSG_CMD_GET_NEW_FRAME, "ret=2");
  EXPECT_EQ(WaitNewFrame(FMT_AUDIO).serial_no, -1);
  EXPECT_EQ(numberOf(last(), "cmd"), MSG_CMD_GET_NEW_FRAME);

  reply(MSG_CMD_GET_MEM, "addr=4096\nmemsize=131072");
  MSG_MEM mem = GetPhyMem();
  EXPECT_EQ(mem.addr, 4096u);
  EXPECT_EQ(mem.size, 131072u);
  reply(MSG_CMD_GET_MEM, "ret=1\naddr=4096");
  EXPECT_EQ(GetPhyMem().addr, 0u);
}

TEST_F(AvClient, locking_copies_the_answer_but_keeps_the_callers_keys) {
  FrameInfo_t f{};
  f.serial_no = 9;
  f.format = FMT_MPEG4;
  f.eventframe = 4;
  reply(MSG_CMD_LOCK_FRAME, "ret=0\nserial_no=77\nformat=2\neventframe=8\nsize=500\nheight=720");
  EXPECT_EQ(LockFrame(&f), 0);
  EXPECT_EQ(numberOf(last(), "serial_no"), 9);
  EXPECT_EQ(numberOf(last(), "format"), FMT_MPEG4);
  EXPECT_EQ(f.serial_no, 9);
  EXPECT_EQ(f.format, FMT_MPEG4);
  EXPECT_EQ(f.eventframe, 4);
  EXPECT_EQ(f.size, 500);
  EXPECT_EQ(f.height, 720);

  struct Case {
    int ret, serial;
  };
  for (Case c : {Case{0, 55}, Case{-1, -1}, Case{5, -2}}) {
    reply(MSG_CMD_GET_AND_LOCK_IFRAME,
          "ret=" + std::to_string(c.ret) + "\nserial_no=55\nformat=3\nsize=64");
    FrameInfo_t i{};
    i.format = FMT_MPEG4;
    LockMpeg4IFrame(&i, FMT_MPEG4_EXT);
    EXPECT_EQ(numberOf(last(), "format"), FMT_MPEG4_EXT) << c.ret;
    EXPECT_EQ(i.serial_no, c.serial) << c.ret;
    EXPECT_EQ(i.format, FMT_MPEG4) << c.ret;
    EXPECT_EQ(i.size, 64) << c.ret;
  }
}

TEST_F(AvClient, media_and_vol_info_take_only_their_fields) {
  reply(MSG_CMD_GET_MEDIA_INFO, "format=2\nsize=99");
  reply(MSG_CMD_GET_VOL, "size=24\noffset=4096\nformat=3");
  FrameInfo_t f{};
  GetMediaInfo(&f);
  EXPECT_EQ(f.format, 2);
  EXPECT_EQ(f.size, 0);
  GetVolInfo(&f, FMT_MPEG4);
  EXPECT_EQ(numberOf(last(), "format"), FMT_MPEG4);
  EXPECT_EQ(f.size, 24);
  EXPECT_EQ(f.offset, 4096);
  EXPECT_EQ(f.format, 2);
}

TEST_F(AvClient, one_way_messages_come_from_src_0_and_quit_ends_the_server) {
  FrameInfo_t f{};
  f.serial_no = 12;
  f.format = FMT_MJPEG;
  EXPECT_EQ(UnlockFrame(&f), 0);
  ASSERT_TRUE(kvsim::Sandbox::waitUntil([&] { return !received().empty(); }, 5000ms));
  EXPECT_EQ(numberOf(last(), "cmd"), MSG_CMD_UNLOCK_FRAME);
  EXPECT_EQ(numberOf(last(), "src"), 0);
  EXPECT_EQ(numberOf(last(), "serial_no"), 12);

  EXPECT_EQ(SendQuitCmd(), 0);
  EXPECT_EQ(kvsim::Sandbox::exitCode(board_.wait(server_, 5000ms)), 0);
  EXPECT_EQ(numberOf(last(), "cmd"), MSG_CMD_QUIT);
  EXPECT_EQ(waitingAnswers(), 0) << "one-way messages get no answer";
}

TEST_F(AvClient, threads_of_one_program_each_get_the_answer_to_their_own_request) {
  // All threads share one reply type: only the lock keeps each answer with its asker.
  struct Asker {
    int (*setter)(unsigned);
    int id;
    int bad;
  };
  Asker askers[] = {{SetBrightness, MSG_CMD_SET_BRIGHTNESS, 0},
                    {SetContrast, MSG_CMD_SET_CONTRAST, 0},
                    {SetSaturation, MSG_CMD_SET_SATURATION, 0}};
  for (const Asker &a : askers) reply(a.id, "ret=" + std::to_string(a.id));
  std::vector<std::thread> threads;
  for (Asker &a : askers)
    threads.emplace_back([&a] {
      for (int i = 0; i < 300; ++i)
        if (a.setter(1) != a.id) ++a.bad;
    });
  for (auto &t : threads) t.join();
  for (const Asker &a : askers) EXPECT_EQ(a.bad, 0) << a.id;
}

}  // namespace
