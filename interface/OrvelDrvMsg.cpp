// SPDX-License-Identifier: MIT
#include "OrvelDrvMsg.h"

#include <errno.h>
#include <fcntl.h>
#include <stddef.h>
#include <stdio.h>
#include <string.h>
#include <sys/ipc.h>
#include <sys/msg.h>
#include <unistd.h>

#include <atomic>

#include "board_root.h"
#include "kv_owners.hpp"
#include "msg_util.h"
#include "sem_util.h"

// The AV server is a C program on the board: every word it reads sits where it expects.
static_assert(sizeof(MSG_MEM) == 8);
static_assert(offsetof(MSG_MEM, addr) == 0 && offsetof(MSG_MEM, size) == 4);
static_assert(sizeof(FrameInfo_t) == 72);
static_assert(offsetof(FrameInfo_t, offset) == 0);
static_assert(offsetof(FrameInfo_t, serial_no) == 4);
static_assert(offsetof(FrameInfo_t, size) == 8);
static_assert(offsetof(FrameInfo_t, width) == 12);
static_assert(offsetof(FrameInfo_t, height) == 16);
static_assert(offsetof(FrameInfo_t, format) == 20);
static_assert(offsetof(FrameInfo_t, frameType) == 24);
static_assert(offsetof(FrameInfo_t, eventframe) == 28);
static_assert(offsetof(FrameInfo_t, quality) == 32);
static_assert(offsetof(FrameInfo_t, flags) == 36);
static_assert(offsetof(FrameInfo_t, timestamp) == 40);
static_assert(offsetof(FrameInfo_t, temporalId) == 44);
static_assert(offsetof(FrameInfo_t, ref_serial) == 48);
static_assert(offsetof(FrameInfo_t, frameNum) == 64);
static_assert(offsetof(FrameInfo_t, timeTick) == 68);
static_assert(sizeof(MSG_BUF) == 96);
static_assert(offsetof(MSG_BUF, Des) == 0);
static_assert(offsetof(MSG_BUF, cmd) == 4);
static_assert(offsetof(MSG_BUF, Src) == 8);
static_assert(offsetof(MSG_BUF, ret) == 12);
static_assert(offsetof(MSG_BUF, mem_info) == 16);
static_assert(offsetof(MSG_BUF, frame_info) == 24);
static_assert(offsetof(MSG_BUF, frame_info.serial_no) == 28);
static_assert(offsetof(MSG_BUF, frame_info.format) == 44);
static_assert(offsetof(MSG_BUF, frame_info.eventframe) == 52);

static_assert(sizeof(DynRangePrm) == 12);
static_assert(sizeof(DateTimePrm) == 16);
static_assert(sizeof(CodecAdvPrm) == 28);
static_assert(sizeof(ROI_Prm) == 16);
static_assert(sizeof(CodecROIPrm) == 52 && offsetof(CodecROIPrm, roi) == 4);
static_assert(sizeof(OSDPrm) == 64 && offsetof(OSDPrm, text) == 28);
static_assert(offsetof(OSDPrm, gpsSpeedEnable) == 52 && offsetof(OSDPrm, speedDisplayType) == 60);
static_assert(sizeof(FaceDetectParam) == 48 && offsetof(FaceDetectParam, maskoption) == 44);
static_assert(sizeof(OrvelMotionPrm) == 20);

static_assert(MSG_CMD_SET_DAY_NIGHT == 12 && MSG_CMD_POLLING == 68 && MSG_CMD_WATCHDOG == 70);
static_assert(MSG_CMD_END == 73);

namespace {

constexpr size_t kPayloadAt = offsetof(MSG_BUF, mem_info);
constexpr size_t kPayloadMax = sizeof(MSG_BUF) - kPayloadAt;
constexpr size_t kTextAt = kPayloadAt + 4;
static_assert(kTextAt + ORVEL_TEXT_MAX == sizeof(MSG_BUF), "a text ends with the record");

// The TI CMEM client as far as this unit uses it: the driver is opened at set-up and
// closed at tear-down; no contiguous memory is ever taken through it.
class CmemClient {
 public:
  bool open() {
    fd_.reset(kv_open("/dev/cmem", O_RDWR | O_CLOEXEC));
    if (!fd_) fprintf(stderr, "CMEM Error: init: Failed to open /dev/cmem: %s\n", strerror(errno));
    return fd_.ok();
  }
  void close() { fd_.reset(); }
  bool is_open() const { return fd_.ok(); }

 private:
  kv::UniqueFd fd_;
};

struct {
  std::atomic<int> proc_id{1};
  // -1 until set up: queue id 0 may be some other program's queue.
  std::atomic<int> qid{-1};
  SemHandl_t lock = nullptr;
  CmemClient cmem;  // open: the unit's "Testflag"
} g_av;

// Type 1 is the server's own: a client of id 1 would read back its own request.
bool is_client_id(int proc) { return proc >= 2 && proc <= 24; }

MSG_BUF request(int cmd) {
  MSG_BUF m;
  memset(&m, 0, sizeof m);
  m.Des = 1;
  m.cmd = cmd;
  m.Src = g_av.proc_id;
  return m;
}

char *payload(MSG_BUF &m) { return reinterpret_cast<char *>(&m) + kPayloadAt; }

// A blocking request: the answer replaces the record. False when nothing came back.
bool ask(MSG_BUF &m) {
  const int proc = m.Src, cmd = m.cmd, qid = g_av.qid;
  if (!is_client_id(proc)) return false;
  kv::SemHold held(g_av.lock);
  if (kv::send_retrying(qid, &m, sizeof m) < 0) return false;
  do {
    if (kv::receive_retrying(qid, proc, &m, sizeof m) < 0) return false;
    // A late answer to an earlier poll may still wait under our type: it is not ours.
  } while (m.cmd == MSG_CMD_POLLING && cmd != MSG_CMD_POLLING);
  return true;
}

int ret_of(MSG_BUF &m) { return ask(m) ? m.ret : -1; }

int one_way(MSG_BUF &m) {
  m.Src = 0;
  SemWait(g_av.lock);
  kv::send_retrying(g_av.qid, &m, sizeof m);
  return SemRelease(g_av.lock);
}

template <class T>
int send_value(int cmd, T value) {
  static_assert(sizeof(T) == 4, "the server reads one 32-bit word");
  MSG_BUF m = request(cmd);
  memcpy(payload(m), &value, sizeof value);
  return ret_of(m);
}

int send_text(int cmd, const char *text, int length) {
  if (length < 0 || length > ORVEL_TEXT_MAX || (length > 0 && !text)) return -1;
  MSG_BUF m = request(cmd);
  const int32_t n = length;
  memcpy(payload(m), &n, sizeof n);
  if (length > 0) memcpy(reinterpret_cast<char *>(&m) + kTextAt, text, static_cast<size_t>(n));
  return ret_of(m);
}

template <class T>
int send_record(int cmd, const T *record) {
  static_assert(sizeof(T) <= kPayloadMax, "the record must fit the message");
  if (!record) return -1;
  MSG_BUF m = request(cmd);
  memcpy(payload(m), record, sizeof(T));
  return ret_of(m);
}

// The request of stream `index`, or `beyond` for any other.
template <size_t N>
int pick(const int (&ids)[N], unsigned index, int beyond) {
  return index < N ? ids[index] : beyond;
}

constexpr int kBitrate[] = {MSG_CMD_SET_BITRATE1, MSG_CMD_SET_BITRATE2};
constexpr int kFramerate[] = {MSG_CMD_SET_FRAMERATE1, MSG_CMD_SET_FRAMERATE2,
                              MSG_CMD_SET_FRAMERATE3};
constexpr int kVnf[] = {MSG_CMD_SET_VNFSTATUS1, MSG_CMD_SET_VNFSTATUS2, MSG_CMD_SET_VNFSTATUS3};
constexpr int kOsdPrm[] = {MSG_CMD_SET_OSDPRM1, MSG_CMD_SET_OSDPRM2, MSG_CMD_SET_OSDPRM3};
constexpr int kRoiPrm[] = {MSG_CMD_SET_ROIPRM1, MSG_CMD_SET_ROIPRM2, MSG_CMD_SET_ROIPRM3};
constexpr int kAdvPrm[] = {MSG_CMD_SET_ADVCODECPRM1, MSG_CMD_SET_ADVCODECPRM2,
                           MSG_CMD_SET_ADVCODECPRM3};
// An unknown stream leaves the request id at 0, as the server has always received it.
constexpr int kUnknownStream = 0;

// A frame request's answer; `serial_no` -1 when the server refused or nothing came back.
FrameInfo_t frame_answer(MSG_BUF &m) {
  if (!ask(m) || m.ret != 0) m.frame_info.serial_no = -1;
  return m.frame_info;
}

MSG_BUF frame_request(int cmd, unsigned fmt) {
  MSG_BUF m = request(cmd);
  m.frame_info.format = static_cast<int32_t>(fmt);
  return m;
}

int fail_setup(bool opened_cmem, bool made_lock) {
  if (made_lock) {
    DestroySem(g_av.lock);
    g_av.lock = nullptr;
  }
  if (opened_cmem) g_av.cmem.close();
  g_av.proc_id = 1;
  return -1;
}

}  // namespace

extern "C" {

int OrvelDrvInit(int proc_id) {
  if (proc_id < 1 || proc_id > 24) return fail_setup(false, false);
  g_av.proc_id = proc_id;
  bool opened_cmem = false, made_lock = false;
  if (!g_av.cmem.is_open()) {
    if (!g_av.cmem.open()) return fail_setup(false, false);
    opened_cmem = true;
  }
  if (!g_av.lock) {
    g_av.lock = MakeSem();
    if (!g_av.lock) return fail_setup(opened_cmem, false);
    made_lock = true;
  }
  const int qid = Msg_Init(ORVEL_MSG_KEY);
  if (qid < 0) return fail_setup(opened_cmem, made_lock);
  g_av.qid = qid;
  return 0;
}

int OrvelDrvExit(void) {
  g_av.proc_id = 1;
  if (g_av.lock) DestroySem(g_av.lock);
  g_av.lock = nullptr;
  g_av.cmem.close();
  return 0;
}

void OrvelDrv_SetProcId(int proc_id) { g_av.proc_id = proc_id >= 1 && proc_id <= 23 ? proc_id : 1; }
int OrvelDrv_GetProcId(void) { return g_av.proc_id; }
void OrvelDrv_SaveQid(int iqid) { g_av.qid = iqid; }

int OrvelWatchDog(void) { return send_value(MSG_CMD_WATCHDOG, 0); }

int OrvelPollingMsg(void) {
  MSG_BUF m = request(MSG_CMD_POLLING);
  const int proc = m.Src, qid = g_av.qid;
  if (!is_client_id(proc)) return -1;
  kv::SemHold held(g_av.lock);
  if (kv::send_retrying(qid, &m, sizeof m) < 0) return -1;
  if (Msg_RsvFlags(qid, proc, &m, sizeof m, IPC_NOWAIT) < 0) return -1;
  // Answers to earlier polls that came too late for them are waiting too: take them all,
  // the latest counts.
  int ret = m.ret;
  while (Msg_RsvFlags(qid, proc, &m, sizeof m, IPC_NOWAIT) >= 0) ret = m.ret;
  return ret;
}

#define ORVEL_DEFINE_VALUE_SETTER(name, type, id) \
  int name(type nValue) { return send_value(id, nValue); }
ORVEL_VALUE_SETTERS(ORVEL_DEFINE_VALUE_SETTER)

int SetEncBitrate(unsigned stream, int nValue) {
  return send_value(pick(kBitrate, stream, MSG_CMD_SET_BITRATE2), nValue);
}
int SetStreamFramerate(unsigned stream, unsigned nValue) {
  return send_value(pick(kFramerate, stream, MSG_CMD_SET_FRAMERATE3), nValue);
}
int SetVNFStatus(unsigned stream, unsigned nValue) {
  return send_value(pick(kVnf, stream, kUnknownStream), nValue);
}

int SetAvOsdText(char *strText, int nLength) {
  return send_text(MSG_CMD_SET_OSDTEXT, strText, nLength);
}
int SetClipSnapName(char *strText, int nLength) {
  return send_text(MSG_CMD_SET_CLICKNAME, strText, nLength);
}

int SetDateTimeFormat(DateTimePrm *datetimeParam) {
  return send_record(MSG_CMD_SET_DATETIMEPRM, datetimeParam);
}
int SendFaceDetectMsg(FaceDetectParam *faceParam) {
  return send_record(MSG_CMD_SET_FDETECT, faceParam);
}
int OrvelSetMotion(OrvelMotionPrm *pMotionPrm) {
  return send_record(MSG_CMD_SET_MOTION, pMotionPrm);
}
int SetDynRangePrmMsg(DynRangePrm *dynRangePrm) {
  return send_record(MSG_CMD_SET_DYNRANGE, dynRangePrm);
}
int SetOSDPrmMsg(int id, OSDPrm *osdprm) {
  return send_record(pick(kOsdPrm, static_cast<unsigned>(id), kUnknownStream), osdprm);
}
int SetCodecROIMsg(int id, CodecROIPrm *codecROIPrm) {
  return send_record(pick(kRoiPrm, static_cast<unsigned>(id), kUnknownStream), codecROIPrm);
}
int SetCodecAdvPrmMsg(int id, CodecAdvPrm *codecAdvPrm) {
  return send_record(pick(kAdvPrm, static_cast<unsigned>(id), kUnknownStream), codecAdvPrm);
}

MSG_MEM GetPhyMem(void) {
  MSG_BUF m = request(MSG_CMD_GET_MEM);
  if (!ask(m) || m.ret != 0) m.mem_info.addr = 0;
  return m.mem_info;
}

FrameInfo_t GetCurrentFrame(unsigned fmt) {
  MSG_BUF m = frame_request(MSG_CMD_GET_CUR_FRAME, fmt);
  return frame_answer(m);
}

FrameInfo_t GetEventFrame(unsigned fmt, int eventframe) {
  MSG_BUF m = frame_request(MSG_CMD_GET_CUR_FRAME, fmt);
  m.frame_info.eventframe = eventframe;
  return frame_answer(m);
}

FrameInfo_t WaitNewFrame(unsigned fmt) {
  MSG_BUF m = frame_request(MSG_CMD_GET_NEW_FRAME, fmt);
  return frame_answer(m);
}

int SetEventFrame(FrameInfo_t frame) {
  MSG_BUF m = request(MSG_CMD_GET_CUR_FRAME);
  m.frame_info = frame;
  return ask(m) ? m.frame_info.eventframe : -1;
}

int LockFrame(FrameInfo_t *pFrame) {
  if (!pFrame) return -1;
  MSG_BUF m = frame_request(MSG_CMD_LOCK_FRAME, static_cast<unsigned>(pFrame->format));
  m.frame_info.serial_no = pFrame->serial_no;
  if (!ask(m)) return -1;
  FrameInfo_t got = m.frame_info;
  got.serial_no = pFrame->serial_no;
  got.format = pFrame->format;
  got.eventframe = pFrame->eventframe;
  *pFrame = got;
  return m.ret;
}

void LockMpeg4IFrame(FrameInfo_t *pFrame, int fmt_type) {
  if (!pFrame) return;
  MSG_BUF m = frame_request(MSG_CMD_GET_AND_LOCK_IFRAME, static_cast<unsigned>(fmt_type));
  if (!ask(m)) {
    pFrame->serial_no = -1;
    return;
  }
  FrameInfo_t got = m.frame_info;
  got.format = pFrame->format;
  got.eventframe = pFrame->eventframe;
  // -1 is the server's "no frame"; any other refusal is told apart as -2.
  if (m.ret == -1)
    got.serial_no = -1;
  else if (m.ret != 0)
    got.serial_no = -2;
  *pFrame = got;
}

void GetMediaInfo(FrameInfo_t *pFrame) {
  if (!pFrame) return;
  MSG_BUF m = request(MSG_CMD_GET_MEDIA_INFO);
  if (ask(m)) pFrame->format = m.frame_info.format;
}

void GetVolInfo(FrameInfo_t *pFrame, int fmt_type) {
  if (!pFrame) return;
  MSG_BUF m = frame_request(MSG_CMD_GET_VOL, static_cast<unsigned>(fmt_type));
  if (!ask(m)) return;
  pFrame->size = m.frame_info.size;
  pFrame->offset = m.frame_info.offset;
}

int UnlockFrame(FrameInfo_t *pFrame) {
  if (!pFrame) return -1;
  MSG_BUF m = frame_request(MSG_CMD_UNLOCK_FRAME, static_cast<unsigned>(pFrame->format));
  m.frame_info.serial_no = pFrame->serial_no;
  return one_way(m);
}

int SendQuitCmd(void) {
  MSG_BUF m = request(MSG_CMD_QUIT);
  return one_way(m);
}

}  // extern "C"
