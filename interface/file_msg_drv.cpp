// SPDX-License-Identifier: MIT
#include "file_msg_drv.h"

#include <stdio.h>
#include <string.h>
#include <sys/ipc.h>
#include <sys/msg.h>
#include <sys/shm.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstddef>
#include <iterator>
#include <utility>

#include "msg_util.h"
#include "sem_util.h"
#include "share_mem.h"

// The record is little-endian on the wire and in the segment; the low-byte setters and
// the file manager's store rely on it.
static_assert(std::endian::native == std::endian::little, "SysInfo is a little-endian record");

namespace {

// Failed exchanges after which the next request opens the queue anew (the file manager
// may have been restarted and made a new one).
constexpr int kReopenAfter = 3;

const char kReadError[] = "FileMsgDrv: Error\nData read error";
const char kWriteError[] = "FileMsgDrv: Error\nData write error";
const char kResetError[] = "FileMsgDrv: Error\nFILE_MSG_RESET fail";

struct {
  std::atomic<int> qid{-1};
  int mid = -1;
  int gProcId = 1;
  int gKey = 0;
  int eCount = 0;  // guarded by hndlDrvSem
  // Setters read it without the lock; set-up and tear-down publish it.
  std::atomic<SysInfo *> pShareMem{nullptr};
  SemHandl_t hndlDrvSem = nullptr;
} g_unit;

SysInfo *mapped() { return g_unit.pShareMem.load(std::memory_order_acquire); }

bool in_range(int index, size_t count) { return index >= 0 && static_cast<size_t>(index) < count; }

// ---- set-up ---------------------------------------------------------------------------------

void forget_lock() {
  DestroySem(g_unit.hndlDrvSem);
  g_unit.hndlDrvSem = nullptr;
}

void unmap_record() {
  if (SysInfo *rec = g_unit.pShareMem.exchange(nullptr)) shmdt(rec);
}

// Maps the segment; null when it cannot be attached or is too small to hold the record
// (a segment made by someone else at a smaller size would let every setter write past it).
SysInfo *map_record(int shmid) {
  struct shmid_ds ds;
  if (shmctl(shmid, IPC_STAT, &ds) != 0 || ds.shm_segsz < sizeof(SysInfo)) return nullptr;
  void *addr = shmat(shmid, nullptr, 0);
  if (addr == reinterpret_cast<void *>(-1)) return nullptr;
  return static_cast<SysInfo *>(addr);
}

// ---- the exchange -----------------------------------------------------------------------------

struct Request {
  FileCmd_t cmd;
  const char *error;
  int shmidx = FILE_MSG_PART_SYSINFO;
  int page = 0;
  int item = 0;
  bool counted = true;  // counts towards reopening the queue
};

bool send_and_receive(FILE_MSG_BUF &msg) {
  return kv::send_and_wait_reply(g_unit.qid.load(), g_unit.gProcId, &msg, sizeof msg) == 0;
}

// One request and its answer; 0 when the file manager answered with the record's size.
int exchange(const Request &r) {
  if (!mapped()) return -1;
  FILE_MSG_BUF msg{};
  msg.Des = MSG_TYPE_MSG1;
  msg.cmd = r.cmd;
  msg.src = g_unit.gProcId;
  msg.shmid = g_unit.mid;
  msg.shmidx = r.shmidx;
  msg.nPageNum = r.page;
  msg.nItemNum = r.item;

  SemWait(g_unit.hndlDrvSem);
  if (r.counted && g_unit.eCount >= kReopenAfter) {
    g_unit.eCount = 0;
    g_unit.qid = Msg_Init(g_unit.gKey);
  }
  bool ok = send_and_receive(msg) && msg.length == SYSINFO_SIZE;
  if (!ok) {
    fputs(r.error, stderr);
    if (r.counted) ++g_unit.eCount;
  }
  SemRelease(g_unit.hndlDrvSem);
  return ok ? 0 : -1;
}

void one_way(FileCmd_t cmd) {
  FILE_MSG_BUF msg{};
  msg.Des = MSG_TYPE_MSG1;
  msg.cmd = cmd;
  Msg_Send(g_unit.qid.load(), &msg, sizeof msg);
}

int write_request() { return SetSysInfo(FILE_MSG_PART_SYSINFO); }
int write_now_request() { return exchange({FILE_MSG_WRITE_I, kWriteError}); }
int log_write_request() { return SetSysInfo(FILE_MSG_PART_LOG); }

// ---- the setters' one body --------------------------------------------------------------------

// Nothing mapped: -1 and nothing sent. An edit that rejects its arguments returns false
// before it changes anything: -1 and nothing sent. Otherwise the record is saved.
template <typename Edit>
int edit_and_save(Edit &&edit, int (*save)() = write_request) {
  SysInfo *rec = mapped();
  if (!rec || !edit(*rec)) return -1;
  return save();
}

char *bytes_at(SysInfo &rec, size_t offset) { return reinterpret_cast<char *>(&rec) + offset; }

template <typename T>
int set_value(size_t offset, const T &value, int (*save)() = write_request) {
  return edit_and_save(
      [&](SysInfo &rec) {
        memcpy(bytes_at(rec, offset), &value, sizeof value);
        return true;
      },
      save);
}

// Some peers react to every save of these switches; an unchanged value is not saved.
template <typename T>
int set_if_changed(size_t offset, const T &value) {
  SysInfo *rec = mapped();
  if (rec && memcmp(bytes_at(*rec, offset), &value, sizeof value) == 0) return 0;
  return set_value(offset, value);
}

int set_text(size_t offset, size_t size, const void *buf, int len) {
  return edit_and_save([&](SysInfo &rec) {
    if (len < 0 || static_cast<size_t>(len) + 1 > size || (len > 0 && !buf)) return false;
    char *dst = bytes_at(rec, offset);
    if (len > 0) memcpy(dst, buf, static_cast<size_t>(len));
    dst[len] = '\0';
    return true;
  });
}

// ---- region scaling ---------------------------------------------------------------------------

// A coordinate scaled from one picture size to another. Unknown previous size (0, as in a
// fresh record): the coordinate stays, instead of dividing by zero.
uint32_t scaled(uint32_t v, uint32_t to, uint32_t from) {
  if (from == 0) return v;
  return static_cast<uint32_t>(uint64_t{v} * to / from);
}

struct Rect {
  uint32_t &x, &y, &w, &h;
};

void rescale(Rect r, uint32_t &prevw, uint32_t &prevh, uint32_t width, uint32_t height) {
  r.x = scaled(r.x, width, prevw);
  r.w = scaled(r.w, width, prevw);
  r.y = scaled(r.y, height, prevh);
  r.h = scaled(r.h, height, prevh);
}

void remember_size(uint32_t &prevw, uint32_t &prevh, uint32_t width, uint32_t height) {
  prevw = std::max(width, 1u);
  prevh = std::max(height, 1u);
}

// Arguments of both scalers; the read request fetches the record first.
SysInfo *record_to_scale(int stream, int width, int height) {
  if (!mapped() || !in_range(stream, MAX_STREAM_NUM) || width < 0 || height < 0) return nullptr;
  return GetSysInfo();
}

// ---- ONVIF --------------------------------------------------------------------------------------

template <auto Part, typename Arg>
int set_profile_part(const Arg *arg) {
  return edit_and_save([&](SysInfo &rec) {
    if (!arg || !in_range(arg->position, MAX_PROF)) return false;
    auto &dst = rec.Oprofile[arg->position].*Part;
    static_assert(sizeof(dst) == sizeof(arg->conf), "argument and profile part differ");
    memcpy(&dst, &arg->conf, sizeof dst);
    return true;
  });
}

template <auto Part>
int clear_profile_part(int index) {
  return edit_and_save([&](SysInfo &rec) {
    if (!in_range(index, MAX_PROF)) return false;
    auto &dst = rec.Oprofile[index].*Part;
    memset(&dst, 0, sizeof dst);
    return true;
  });
}

using ScopeList = char[MAX_SCOPES][SCOPE_LEN];

bool terminated(const char *entry) { return memchr(entry, '\0', SCOPE_LEN) != nullptr; }

bool same_entry(const char *a, const char *b) { return strncmp(a, b, SCOPE_LEN) == 0; }

// Adds every non-empty entry of `add` that `list` does not hold yet; false when one finds
// no free slot (the caller then keeps the old list).
bool add_scopes(ScopeList &list, const ScopeList &add) {
  for (const auto &entry : add) {
    if (!entry[0]) continue;
    if (!terminated(entry)) return false;
    auto held = [&](const char *slot) { return same_entry(slot, entry); };
    if (std::any_of(std::begin(list), std::end(list), held)) continue;
    auto slot = std::find_if(std::begin(list), std::end(list), [](const char *s) { return !s[0]; });
    if (slot == std::end(list)) return false;
    memcpy(*slot, entry, SCOPE_LEN);
  }
  return true;
}

void remove_scopes(ScopeList &list, const ScopeList &gone) {
  for (const auto &entry : gone) {
    if (!entry[0] || !terminated(entry)) continue;
    for (auto &slot : list)
      if (same_entry(slot, entry)) memset(slot, 0, SCOPE_LEN);
  }
}

// Picture-size fields of fSetVideoSize's streams 1 to 6.
struct SizeFields {
  int32_t Lancam_Config_Data::*x;
  int32_t Lancam_Config_Data::*y;
};
constexpr SizeFields kVideoSizes[] = {
    {nullptr, nullptr},
    {&Lancam_Config_Data::JpegXsize, &Lancam_Config_Data::JpegYsize},
    {&Lancam_Config_Data::Mpeg41Xsize, &Lancam_Config_Data::Mpeg41Ysize},
    {&Lancam_Config_Data::Mpeg42Xsize, &Lancam_Config_Data::Mpeg42Ysize},
    {&Lancam_Config_Data::JpegXsize, &Lancam_Config_Data::JpegYsize},
    {&Lancam_Config_Data::Avc1Xsize, &Lancam_Config_Data::Avc1Ysize},
    {&Lancam_Config_Data::Avc2Xsize, &Lancam_Config_Data::Avc2Ysize},
};

// The streaming path the web pages and players expect for a stream's port.
const char *streaming_path(int portnum) {
  switch (portnum) {
    case 8556:
    case 8557:
      return "PSIA/Streaming/channels/2?videoCodecType=H.264";
    case 8553:
    case 8554:
      return "PSIA/Streaming/channels/1?videoCodecType=MPEG4";
    default:
      return "PSIA/Streaming/channels/0?videoCodecType=MJPEG";
  }
}
constexpr size_t kStreamingPathLen = sizeof "PSIA/Streaming/channels/0?videoCodecType=MJPEG";
static_assert(kStreamingPathLen == 47, "the three paths are 46 characters and a NUL");

bool fits_u16(int v) { return v >= 0 && v <= 0xFFFF; }

int copy_account(int index, const Acount_t *account) {
  return edit_and_save([&](SysInfo &rec) {
    if (!account || !in_range(index, ACOUNT_NUM)) return false;
    rec.acounts[index] = *account;
    return true;
  });
}

}  // namespace

// ---- the field setters, from the table in the header ------------------------------------------

#define FIELD_OFFSET(field) offsetof(SysInfo, field)
#define FIELD_SIZE(field) sizeof(std::declval<SysInfo &>().field)
#define CHECK_WIDTH(name, type, field) \
  static_assert(sizeof(type) == FIELD_SIZE(field), #name " stores the field's width")

#define DEFINE_VALUE(name, type, field)           \
  int name(type value) {                          \
    CHECK_WIDTH(name, type, field);               \
    return set_value(FIELD_OFFSET(field), value); \
  }
#define DEFINE_NOW(name, type, field)                                \
  int name(type value) {                                             \
    CHECK_WIDTH(name, type, field);                                  \
    return set_value(FIELD_OFFSET(field), value, write_now_request); \
  }
#define DEFINE_IF_CHANGED(name, type, field)           \
  int name(type value) {                               \
    CHECK_WIDTH(name, type, field);                    \
    return set_if_changed(FIELD_OFFSET(field), value); \
  }
#define DEFINE_LOW_BYTE(name, type, field)                     \
  int name(type value) {                                       \
    static_assert(sizeof(type) == 1 && FIELD_SIZE(field) > 1); \
    return set_value(FIELD_OFFSET(field), value);              \
  }
#define DEFINE_TEXT(name, type, field)                                 \
  int name(void *buf, int len) {                                       \
    return set_text(FIELD_OFFSET(field), FIELD_SIZE(field), buf, len); \
  }
#define DEFINE_SETTER(kind, name, type, field) DEFINE_##kind(name, type, field)

extern "C" {

FILE_MSG_FIELD_SETTERS(DEFINE_SETTER)

// ---- set-up and requests ------------------------------------------------------------------------

int InitFileMsgDrv(int key, int iProcId) {
  // Replies are addressed by process id: 0 would take any message and 1 the requests
  // meant for the file manager.
  if (iProcId < MSG_TYPE_MSG2 || iProcId > MSG_TYPE_MSG23) {
    fputs("Error:Invalid Parameter\n", stderr);
    return -1;
  }
  unmap_record();
  if (!g_unit.hndlDrvSem && !(g_unit.hndlDrvSem = MakeSem())) return -1;
  int qid = Msg_Init(key);
  if (qid < 0) {
    fputs("FileMsgDrv: Error\nMessage init fail", stderr);
    forget_lock();
    return -1;
  }
  g_unit.qid = qid;
  g_unit.gKey = key;
  int mid = pShareMemInit(key);
  if (mid < 0) {
    fputs("FileMsgDrv: Error\nShare memory id error", stderr);
    forget_lock();
    return -1;
  }
  SysInfo *rec = map_record(mid);
  if (!rec) {
    fputs("FileMsgDrv: Error\nShare memory attach error", stderr);
    forget_lock();
    return -1;
  }
  g_unit.mid = mid;
  g_unit.gProcId = iProcId;
  g_unit.eCount = 0;
  g_unit.pShareMem.store(rec, std::memory_order_release);
  return 0;
}

void CleanupFileMsgDrv(void) {
  unmap_record();
  if (g_unit.hndlDrvSem) forget_lock();
}

SysInfo *GetSysInfo(void) {
  return exchange({FILE_MSG_READ, kReadError}) == 0 ? mapped() : nullptr;
}

int SetSysInfo(int nShmIndex) {
  Request r{FILE_MSG_WRITE, kWriteError};
  r.shmidx = nShmIndex;
  return exchange(r);
}

int fRequestWrite(void) { return write_request(); }

int fResetSysInfo(void) {
  Request r{FILE_MSG_RESET, kResetError};
  r.counted = false;
  return exchange(r);
}

int fSetClearSysLog(unsigned char) { return exchange({FILE_MSG_CLEAR_SYSLOG, kReadError}); }

int fSetClearAccessLog(unsigned char) { return exchange({FILE_MSG_CLEAR_ACCESSLOG, kReadError}); }

int GetSysLog(int nPageNum, int nItemNum, LogEntry_t *pBuf) {
  if (!pBuf) return -1;
  Request r{FILE_MSG_READ, kReadError, FILE_MSG_PART_LOG, nPageNum, nItemNum};
  if (exchange(r) != 0) return -1;
  *pBuf = mapped()->tCurLog;
  return 0;
}

int fSetSysLog(LogEntry_t *value) {
  return edit_and_save(
      [&](SysInfo &rec) {
        if (!value) return false;
        rec.tCurLog = *value;
        return true;
      },
      log_write_request);
}

void SendFileQuitCmd(void) { one_way(FILE_MSG_QUIT); }
void SendStartFileWriteCmd(void) { one_way(FILE_MSG_START_FILE_WRITE); }
void SendStopFileWriteCmd(void) { one_way(FILE_MSG_STOP_FILE_WRITE); }
void SaveQid(int iqid) { g_unit.qid = iqid; }

// ---- setters with a rule of their own -----------------------------------------------------------

int fSetMotionBlock(char *pValue, int len) {
  return edit_and_save([&](SysInfo &rec) {
    auto &block = rec.motion_config.motionblock;
    if (len < 0 || static_cast<size_t>(len) > sizeof block || (len > 0 && !pValue)) return false;
    if (len > 0) memcpy(block, pValue, static_cast<size_t>(len));
    return true;
  });
}

int fSetRS485Port(unsigned short value) {
  // The field is one byte; a two-byte store would overwrite the first character of the
  // snapshot file name that follows it.
  return edit_and_save([&](SysInfo &rec) {
    rec.lan_config.rs485config = static_cast<uint8_t>(value & 0xFF);
    return true;
  });
}

int fSetStreamActive(unsigned char stream1, unsigned char stream2, unsigned char stream3,
                     unsigned char stream4, unsigned char stream5, unsigned char stream6) {
  return edit_and_save([&](SysInfo &rec) {
    Lancam_Config_Data &lan = rec.lan_config;
    lan.Supportstream1 = stream1;
    lan.Supportstream2 = stream2;
    lan.Supportstream3 = stream3;
    lan.Supportstream4 = stream4;
    lan.Supportstream5 = stream5;
    lan.Supportstream6 = stream6;
    return true;
  });
}

int fSetVideoSize(unsigned char stream, int Xvalue, int Yvalue) {
  return edit_and_save([&](SysInfo &rec) {
    if (stream >= 1 && static_cast<size_t>(stream) < std::size(kVideoSizes)) {
      rec.lan_config.*kVideoSizes[stream].x = Xvalue;
      rec.lan_config.*kVideoSizes[stream].y = Yvalue;
    }
    return true;
  });
}

int fSetSchedule(int index, Schedule_t *pSchedule, int day, int year) {
  return edit_and_save([&](SysInfo &rec) {
    if (!pSchedule || !in_range(index, SCHEDULE_NUM)) return false;
    rec.lan_config.aSchedules[index] = *pSchedule;
    rec.lan_config.schedCurDay = day;
    rec.lan_config.schedCurYear = year;
    return true;
  });
}

int fsethostname(hostname_tmp *host) {
  return edit_and_save([&](SysInfo &rec) {
    if (!host || !memchr(host->hostname, '\0', sizeof host->hostname)) return false;
    static_assert(sizeof rec.lan_config.hostname == sizeof host->hostname);
    memcpy(rec.lan_config.hostname, host->hostname, sizeof host->hostname);
    ++rec.nrelays;
    return true;
  });
}

int fSetAcount(int index, Acount_t *acout) { return copy_account(index, acout); }
int fDelAcount(int index, Acount_t *acout) { return copy_account(index, acout); }

int fResetFDROIParam(int stream, int width, int height) {
  SysInfo *rec = record_to_scale(stream, width, height);
  if (!rec) return -1;
  if (stream == 0) {
    Face_Config_Data &f = rec->face_config;
    auto w = static_cast<uint32_t>(width), h = static_cast<uint32_t>(height);
    rescale({f.startX, f.startY, f.width, f.height}, f.prevwidth, f.prevheight, w, h);
    remember_size(f.prevwidth, f.prevheight, w, h);
  }
  return 0;
}

int fResetCodecROIParam(int stream, int width, int height) {
  SysInfo *rec = record_to_scale(stream, width, height);
  if (!rec) return -1;
  CodecROIParam &c = rec->codec_roiconfig[stream];
  auto w = static_cast<uint32_t>(width), h = static_cast<uint32_t>(height);
  // numROI comes from the record; the array holds three regions whatever it says.
  uint32_t regions = std::min<uint32_t>(c.numROI, MAX_ROI_NUM);
  for (uint32_t i = 0; i < regions; ++i) {
    ROI_Param &roi = c.roi[i];
    rescale({roi.startx, roi.starty, roi.width, roi.height}, c.prevwidth, c.prevheight, w, h);
  }
  remember_size(c.prevwidth, c.prevheight, w, h);
  return 0;
}

int fSetStreamConfig(unsigned char stream, int width, int height, char *name, int portnum) {
  if (!mapped()) return -1;
  if (stream >= MAX_STREAM_NUM || !name || !fits_u16(width) || !fits_u16(height) ||
      !fits_u16(portnum))
    return -1;
  size_t name_len = strnlen(name, sizeof(StreamParam::name));
  if (name_len == sizeof(StreamParam::name)) return -1;

  if (stream == 0) fResetFDROIParam(0, width, height);
  fResetCodecROIParam(stream, width, height);
  return edit_and_save([&](SysInfo &rec) {
    StreamParam &s = rec.stream_config[stream];
    s.width = static_cast<uint16_t>(width);
    s.height = static_cast<uint16_t>(height);
    s.portnum = static_cast<uint16_t>(portnum);
    memset(s.name, 0, sizeof s.name);
    memcpy(s.name, name, name_len);
    memcpy(s.portname, streaming_path(portnum), kStreamingPathLen);
    return true;
  });
}

// ---- ONVIF
// ----------------------------------------------------------------------------------------

int fsetmediaprofile(int index, media_profile *profile) {
  return edit_and_save([&](SysInfo &rec) {
    if (!profile || !in_range(index, MAX_PROF)) return false;
    Onvif_profile &p = rec.Oprofile[index];
    memcpy(p.profile_name, profile->profile_name, sizeof p.profile_name);
    memcpy(p.profile_token, profile->profile_token, sizeof p.profile_token);
    // The count indexes the array in fdelprofile; it never passes the array's size.
    rec.nprofile = std::min<uint32_t>(rec.nprofile + 1, MAX_PROF);
    return true;
  });
}

int fdelprofile(int index) {
  return edit_and_save([&](SysInfo &rec) {
    uint32_t used = rec.nprofile;
    if (used == 0 || used > MAX_PROF || !in_range(index, MAX_PROF) ||
        static_cast<uint32_t>(index) > used)
      return false;
    if (static_cast<uint32_t>(index) == used) {
      rec.Oprofile[used] = Onvif_profile{};
    } else if (index != 0) {
      rec.Oprofile[index] = rec.Oprofile[used - 1];
      rec.Oprofile[used - 1] = Onvif_profile{};
    }
    rec.nprofile = used - 1;
    return true;
  });
}

int fsetvideosourceconfiguration(video_source_conf *conf) {
  return set_profile_part<&Onvif_profile::AVSC>(conf);
}
int faddvideosourceconfiguration(video_source_conf *conf) {
  return set_profile_part<&Onvif_profile::AVSC>(conf);
}
int fsetvideoencoderconfiguration(video_encoder_conf *conf) {
  return set_profile_part<&Onvif_profile::AESC>(conf);
}
int faddvideoencoderconfiguration(video_encoder_conf *conf) {
  return set_profile_part<&Onvif_profile::AESC>(conf);
}
int fdelvideoencoderconfiguration(int index) {
  return clear_profile_part<&Onvif_profile::AESC>(index);
}
int fsetaudiosourceconfiguration(audio_source_conf *conf) {
  return set_profile_part<&Onvif_profile::AASC>(conf);
}
int faddaudiosourceconfiguration(audio_source_conf *conf) {
  return edit_and_save([&](SysInfo &rec) {
    if (!conf || !in_range(conf->position, MAX_PROF)) return false;
    auto &token = rec.Oprofile[conf->position].AASC.Atoken;
    memcpy(token, conf->conf.Atoken, sizeof token);
    return true;
  });
}
int fremoveaudiosource(int index) { return clear_profile_part<&Onvif_profile::AASC>(index); }
int fsetaudioencoderconfiguration(audio_encoder_conf *conf) {
  return set_profile_part<&Onvif_profile::AAEC>(conf);
}
int faddaudioencoderconfiguration(audio_encoder_conf *conf) {
  return set_profile_part<&Onvif_profile::AAEC>(conf);
}
int fremoveaudioencoder(int index) { return clear_profile_part<&Onvif_profile::AAEC>(index); }
int fsetvideoanalytics(video_analytics_conf *conf) {
  return set_profile_part<&Onvif_profile::AVAC>(conf);
}
int fsetvideooutput(video_output_conf *conf) {
  return set_profile_part<&Onvif_profile::AVOC>(conf);
}
int fsetmetadata(metadata_conf *conf) { return set_profile_part<&Onvif_profile::MDC>(conf); }
int faddmetadataconfiguration(metadata_conf *conf) {
  return set_profile_part<&Onvif_profile::MDC>(conf);
}

int fsetrelay(relay_conf *relay) {
  return edit_and_save([&](SysInfo &rec) {
    if (!relay || !in_range(relay->position, MAX_RELAYS)) return false;
    rec.onvif_relay[relay->position].onvif_relay_in = relay->relay;
    return true;
  });
}

int fsetrelaylogicalstate(relay_logical_state *state) {
  return edit_and_save([&](SysInfo &rec) {
    if (!state || !in_range(state->position, MAX_RELAYS)) return false;
    rec.onvif_relay[state->position].relaylogicalstate = state->relaylogicalstate;
    return true;
  });
}

int fsetimaging(imaging_conf_tmp *imaging) {
  return edit_and_save([&](SysInfo &rec) {
    if (!imaging || !in_range(imaging->position, MAX_IMAGING)) return false;
    rec.imaging_conf[imaging->position] = imaging->imaging;
    return true;
  });
}

int faddscopes(Onvif_Scopes *scopes) {
  return edit_and_save([&](SysInfo &rec) {
    if (!scopes) return false;
    Onvif_Scopes next = rec.onvif_scopes;
    if (!add_scopes(next.type, scopes->type) || !add_scopes(next.location, scopes->location))
      return false;
    rec.onvif_scopes = next;
    return true;
  });
}

int fdelscopes(Onvif_Scopes *scopes) {
  return edit_and_save([&](SysInfo &rec) {
    if (!scopes) return false;
    remove_scopes(rec.onvif_scopes.type, scopes->type);
    remove_scopes(rec.onvif_scopes.location, scopes->location);
    return true;
  });
}

}  // extern "C"
