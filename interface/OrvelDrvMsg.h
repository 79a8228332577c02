// SPDX-License-Identifier: MIT
/*
 * OrvelDrvMsg: the client of the AV server (av_server), the capture and encoding process.
 *
 * Every request is one record on the AV server's queue (key 74565); unlike the other
 * server channels its payload travels inside the record, so there is no shared segment.
 * A blocking request waits for the server's answer addressed to the caller's process id;
 * a server that never answers blocks the caller for good (the supervisor notices that).
 * All requests of one program run one at a time under the unit's lock.
 *
 * Set-up also opens the TI CMEM contiguous-memory client ("/dev/cmem") and tear-down
 * closes it; nothing here allocates contiguous memory.
 */
#ifndef KV_ORVEL_DRV_MSG_H
#define KV_ORVEL_DRV_MSG_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The AV server's queue key. */
#define ORVEL_MSG_KEY 74565
/* Longest text of the text setters: the record's bytes from offset 20 to its end. */
#define ORVEL_TEXT_MAX 76

/* The AV server's request ids. */
enum {
  MSG_CMD_START = 0,             /* 0 */
  MSG_CMD_GET_MEM,               /* 1 */
  MSG_CMD_QUIT,                  /* 2 */
  MSG_CMD_SET_MEM,               /* 3 */
  MSG_CMD_PRINT_MEM,             /* 4 */
  MSG_CMD_GET_CUR_FRAME,         /* 5 */
  MSG_CMD_LOCK_FRAME,            /* 6 */
  MSG_CMD_UNLOCK_FRAME,          /* 7 */
  MSG_CMD_GET_MEDIA_INFO,        /* 8 */
  MSG_CMD_GET_VOL,               /* 9 */
  MSG_CMD_GET_NEW_FRAME,         /* 10 */
  MSG_CMD_GET_AND_LOCK_IFRAME,   /* 11 */
  MSG_CMD_SET_DAY_NIGHT,         /* 12 */
  MSG_CMD_SET_WHITE_BALANCE,     /* 13 */
  MSG_CMD_SET_BACKLIGHT,         /* 14 */
  MSG_CMD_SET_BRIGHTNESS,        /* 15 */
  MSG_CMD_SET_CONTRAST,          /* 16 */
  MSG_CMD_SET_SATURATION,        /* 17 */
  MSG_CMD_SET_SHARPNESS,         /* 18 */
  MSG_CMD_SET_AAC_BITRATE,       /* 19 */
  MSG_CMD_SET_BITRATE1,          /* 20 */
  MSG_CMD_SET_BITRATE2,          /* 21 */
  MSG_CMD_SET_JPEG_QUALITY,      /* 22 */
  MSG_CMD_SET_FDETECT,           /* 23 */
  MSG_CMD_SET_MIRROR,            /* 24 */
  MSG_CMD_SET_OSDWINDOW,         /* 25 */
  MSG_CMD_SET_FRAMERATE1,        /* 26 */
  MSG_CMD_SET_FRAMERATE2,        /* 27 */
  MSG_CMD_SET_FRAMERATE3,        /* 28 */
  MSG_CMD_SWITCH_2A,             /* 29 */
  MSG_CMD_TYPE_2A,               /* 30 */
  MSG_CMD_2A_PRIORITY,           /* 31 */
  MSG_CMD_SET_TV_SYSTEM,         /* 32 */
  MSG_CMD_SET_BINNING_SKIP,      /* 33 */
  MSG_CMD_SET_TSTAMP,            /* 34 */
  MSG_CMD_SET_DATETIMEPRM,       /* 35 */
  MSG_CMD_PTZ,                   /* 36 */
  MSG_CMD_INIT_PTZ,              /* 37 */
  MSG_CMD_SET_MOTION_BLOCK,      /* 38 */
  MSG_CMD_SET_MOTION,            /* 39 */
  MSG_CMD_SET_MOTION_CENABLE,    /* 40 */
  MSG_CMD_SET_MOTION_LEVEL,      /* 41 */
  MSG_CMD_SET_MOTION_CVALUE,     /* 42 */
  MSG_CMD_SET_ROICFG,            /* 43 */
  MSG_CMD_SET_OSDTEXT_EN,        /* 44 */
  MSG_CMD_SET_HIST_EN,           /* 45 */
  MSG_CMD_SET_OSDLOGO_EN,        /* 46 */
  MSG_CMD_SET_OSDTEXT,           /* 47 */
  MSG_CMD_SET_OSDPRM1,           /* 48 */
  MSG_CMD_SET_OSDPRM2,           /* 49 */
  MSG_CMD_SET_OSDPRM3,           /* 50 */
  MSG_CMD_SET_LOCALDISPLAY,      /* 51 */
  MSG_CMD_SET_CLICKNAME,         /* 52 */
  MSG_CMD_SET_CLICKSTORAGE,      /* 53 */
  MSG_CMD_SET_ROIPRM1,           /* 54 */
  MSG_CMD_SET_ROIPRM2,           /* 55 */
  MSG_CMD_SET_ROIPRM3,           /* 56 */
  MSG_CMD_SET_ADVCODECPRM1,      /* 57 */
  MSG_CMD_SET_ADVCODECPRM2,      /* 58 */
  MSG_CMD_SET_ADVCODECPRM3,      /* 59 */
  MSG_CMD_SET_OSDENABLE,         /* 60 */
  MSG_CMD_SET_IFRAME,            /* 61 */
  MSG_CMD_SET_VNFSTATUS1,        /* 62 */
  MSG_CMD_SET_VNFSTATUS2,        /* 63 */
  MSG_CMD_SET_VNFSTATUS3,        /* 64 */
  MSG_CMD_SET_AUDIO_ALARM_LEVEL, /* 65 */
  MSG_CMD_SET_AUDIO_ALARM_FLAG,  /* 66 */
  MSG_CMD_SET_DYNRANGE,          /* 67 */
  MSG_CMD_POLLING,               /* 68 */
  MSG_CMD_SET_WDTRESET,          /* 69 */
  MSG_CMD_WATCHDOG,              /* 70 */
  MSG_CMD_AUDIO_INPUT_ENABLE,    /* 71 */
  MSG_CMD_START_DETECT_ACTIVATE, /* 72 */
  MSG_CMD_END                    /* 73 */
};

typedef enum { FMT_MJPEG = 0, FMT_MPEG4, FMT_MPEG4_EXT, FMT_AUDIO, FMT_MAX_NUM } FrameFormat_t;

/* The server's frame memory as it reports it. */
typedef struct {
  uint32_t addr;
  uint32_t size;
} MSG_MEM;

/* A frame descriptor: requests and replies of the frame calls. */
typedef struct {
  int32_t offset;    /* byte offset of the frame in the server's frame memory */
  int32_t serial_no; /* -1 or -2 mark a failed request */
  int32_t size;      /* bytes */
  int32_t width;
  int32_t height;
  int32_t format; /* a FrameFormat_t */
  int32_t frameType;
  int32_t eventframe; /* event-frame selector or result */
  uint32_t quality;
  uint32_t flags;
  uint32_t timestamp;
  uint32_t temporalId;
  int32_t ref_serial[4]; /* serial numbers of reference frames */
  uint32_t frameNum;
  uint32_t timeTick;
} FrameInfo_t;

/* The record on the queue, 96 bytes; the kernel is handed the 92 after `Des`. Payloads
 * start at offset 16: one value as a 32-bit word, a text as its length and its bytes from
 * offset 20, a parameter record in its own field order. */
typedef struct {
  int32_t Des;            /* 1 to the server; the client's process id in the reply */
  int32_t cmd;            /* a MSG_CMD_* id */
  int32_t Src;            /* the caller's process id; 0 in one-way messages */
  int32_t ret;            /* set by the server; 0 is success */
  MSG_MEM mem_info;       /* memory reply; the start of the payload area */
  FrameInfo_t frame_info; /* frame request and reply */
} MSG_BUF;

/* ---- parameter records (sent from offset 16 of MSG_BUF) --------------------------- */

typedef struct {
  int32_t enable, mode, level;
} DynRangePrm;

typedef struct {
  int32_t dateFormat, datePos, timeFormat, timePos;
} DateTimePrm;

typedef struct {
  int32_t ipRatio, fIframe, qpInit, qpMin, qpMax, meConfig, packetSize;
} CodecAdvPrm;

typedef struct {
  int32_t startx, starty, width, height;
} ROI_Prm;

typedef struct {
  char numROI; /* padded to 4 bytes */
  ROI_Prm roi[3];
} CodecROIPrm;

typedef struct {
  int32_t detailedInfo, dateEnable, timeEnable, logoEnable, logoPos, textEnable, textPos;
  char text[24];
  int32_t gpsSpeedEnable, gpsSpeed, speedDisplayType;
} OSDPrm;

typedef struct {
  int32_t fdetect, startX, startY, width, height, fdconflevel, fddirection, frecog, frconflevel,
      frdatabase, pmask, maskoption;
} FaceDetectParam;

typedef struct {
  int32_t bMotionEnable, bMotionCEnale, MotionLevel, MotionCValue, MotionBlock;
} OrvelMotionPrm;

/* ---- set-up ------------------------------------------------------------------------ */

/* Process id 1..24; opens the CMEM client (once across set-ups), the lock (once) and the
 * queue. 0, or -1 with what this call acquired released and the process id at 1. Prints
 * nothing (the CMEM client reports its own errors). */
int OrvelDrvInit(int proc_id);
/* Process id 1, lock destroyed, CMEM client closed. Always 0. */
int OrvelDrvExit(void);
/* Stores a process id of 1..23, anything else as 1. */
void OrvelDrv_SetProcId(int proc_id);
int OrvelDrv_GetProcId(void);
void OrvelDrv_SaveQid(int iqid);

/* Liveness request; the server's `ret`. */
int OrvelWatchDog(void);
/* Sends a poll and takes the answer only if it is already there: -1 when none is, else
 * the `ret` of the latest answer waiting (late answers of earlier polls are drained). */
int OrvelPollingMsg(void);

/* ---- setters: each returns the server's `ret`, or -1 when nothing was exchanged ----
 *
 * Blocking requests need a set-up process id (2..24); without one they send nothing. */

/* One value in the word at offset 16. */
#define ORVEL_VALUE_SETTERS(X)                                   \
  X(SetDayNight, unsigned, MSG_CMD_SET_DAY_NIGHT)                \
  X(SetWhiteBalance, unsigned, MSG_CMD_SET_WHITE_BALANCE)        \
  X(SetBacklight, unsigned, MSG_CMD_SET_BACKLIGHT)               \
  X(SetBrightness, unsigned, MSG_CMD_SET_BRIGHTNESS)             \
  X(SetContrast, unsigned, MSG_CMD_SET_CONTRAST)                 \
  X(SetSaturation, unsigned, MSG_CMD_SET_SATURATION)             \
  X(SetSharpness, unsigned, MSG_CMD_SET_SHARPNESS)               \
  X(SetAACBitrate, int, MSG_CMD_SET_AAC_BITRATE)                 \
  X(SetJpgQuality, int, MSG_CMD_SET_JPEG_QUALITY)                \
  X(SetMirr, int, MSG_CMD_SET_MIRROR)                            \
  X(SetOSDWindow, int, MSG_CMD_SET_OSDWINDOW)                    \
  X(SetImage2AType, unsigned, MSG_CMD_TYPE_2A)                   \
  X(Set2APriority, unsigned, MSG_CMD_2A_PRIORITY)                \
  X(SetTvSystem, unsigned, MSG_CMD_SET_TV_SYSTEM)                \
  X(SetBinningSkip, unsigned, MSG_CMD_SET_BINNING_SKIP)          \
  X(SetTStamp, unsigned, MSG_CMD_SET_TSTAMP)                     \
  X(SetPtz, int, MSG_CMD_PTZ)                                    \
  X(SetROIConfig, unsigned, MSG_CMD_SET_ROICFG)                  \
  X(SetAvOsdTextEnable, int, MSG_CMD_SET_OSDTEXT_EN)             \
  X(SetHistEnable, int, MSG_CMD_SET_HIST_EN)                     \
  X(SetAvOsdLogoEnable, int, MSG_CMD_SET_OSDLOGO_EN)             \
  X(SetDisplayValue, unsigned, MSG_CMD_SET_LOCALDISPLAY)         \
  X(SetClipSnapLocation, unsigned, MSG_CMD_SET_CLICKSTORAGE)     \
  X(SetOSDEnable, unsigned, MSG_CMD_SET_OSDENABLE)               \
  X(SendForceIFrameMsg, unsigned, MSG_CMD_SET_IFRAME)            \
  X(SetAudioAlarmValue, unsigned, MSG_CMD_SET_AUDIO_ALARM_LEVEL) \
  X(SetAudioAlarmFlag, unsigned, MSG_CMD_SET_AUDIO_ALARM_FLAG)   \
  X(SetWDTResetMsg, unsigned, MSG_CMD_SET_WDTRESET)              \
  X(SetAudioInputEnable, int, MSG_CMD_AUDIO_INPUT_ENABLE)        \
  X(SetAVSStartDetectActivate, int, MSG_CMD_START_DETECT_ACTIVATE)

#define ORVEL_DECLARE_VALUE_SETTER(name, type, id) int name(type nValue);
/* Every value setter of the table above: the server's `ret`, or -1. */
ORVEL_VALUE_SETTERS(ORVEL_DECLARE_VALUE_SETTER)

/* Stream 0: MSG_CMD_SET_BITRATE1; any other: MSG_CMD_SET_BITRATE2. */
int SetEncBitrate(unsigned stream, int nValue);
/* Stream 0, 1: MSG_CMD_SET_FRAMERATE1, 2; any other: MSG_CMD_SET_FRAMERATE3. */
int SetStreamFramerate(unsigned stream, unsigned nValue);
/* Stream 0, 1, 2: MSG_CMD_SET_VNFSTATUS1..3; any other sends id 0. */
int SetVNFStatus(unsigned stream, unsigned nValue);

/* Texts of at most ORVEL_TEXT_MAX bytes: the length at offset 16, the bytes from offset 20.
 * A longer (or negative) length is refused with -1 and nothing is sent. */
int SetAvOsdText(char *strText, int nLength);
int SetClipSnapName(char *strText, int nLength);

/* Parameter records; -1 for a null record. For `id` 0, 1, 2 the stream's request; any
 * other `id` sends id 0. */
int SetDateTimeFormat(DateTimePrm *datetimeParam);
int SendFaceDetectMsg(FaceDetectParam *faceParam);
int OrvelSetMotion(OrvelMotionPrm *pMotionPrm);
int SetDynRangePrmMsg(DynRangePrm *dynRangePrm);
int SetOSDPrmMsg(int id, OSDPrm *osdprm);
int SetCodecROIMsg(int id, CodecROIPrm *codecROIPrm);
int SetCodecAdvPrmMsg(int id, CodecAdvPrm *codecAdvPrm);

/* ---- frames and memory --------------------------------------------------------------
 * Failures show in the result: `addr` 0, `serial_no` -1 (or -2 for an I-frame lock the
 * server refused with a code other than -1). */

/* The physical address and size of the server's frame memory. */
MSG_MEM GetPhyMem(void);
/* The newest frame of format `fmt`; GetEventFrame the frame of event `eventframe`. */
FrameInfo_t GetCurrentFrame(unsigned fmt);
FrameInfo_t GetEventFrame(unsigned fmt, int eventframe);
/* The server answers when a new frame exists. */
FrameInfo_t WaitNewFrame(unsigned fmt);
/* Sends the whole descriptor; the reply's `eventframe` (-1 when nothing was exchanged). */
int SetEventFrame(FrameInfo_t frame);
/* Locks the frame of *pFrame's `serial_no` and `format`; the reply's other fields, but
 * `eventframe`, are copied into *pFrame. The server's `ret`; -1 for a null pFrame. */
int LockFrame(FrameInfo_t *pFrame);
/* Gets and locks an I-frame of `fmt_type` into *pFrame (`format` and `eventframe` kept). */
void LockMpeg4IFrame(FrameInfo_t *pFrame, int fmt_type);
/* *pFrame's `format` from the server. */
void GetMediaInfo(FrameInfo_t *pFrame);
/* *pFrame's `size` and `offset` from the server. */
void GetVolInfo(FrameInfo_t *pFrame, int fmt_type);

/* One-way messages (Src 0, no answer): the lock release's result. */
int UnlockFrame(FrameInfo_t *pFrame);
int SendQuitCmd(void);

#ifdef __cplusplus
}
#endif

#endif
