// SPDX-License-Identifier: MIT
/*
 * sys_msg_drv: the client of the system server (system_server), which owns the camera's
 * configuration and system control.
 *
 * Every request is one synchronous exchange on the system channel (queue and shared
 * segment of key 14073): the caller's payload goes into its process slot of the segment,
 * a 24-byte header goes to the server's queue, and the caller blocks until the server
 * answers with a header addressed to its process id. The reply's `length` is the result;
 * reply data, when there is any, lies in the segment at the reply's `offset`.
 *
 * All exchanges of one process share one slot and one reply type, so they run one at a
 * time under the unit's lock. A server that never answers blocks the caller for good.
 */
#ifndef KV_SYS_MSG_DRV_H
#define KV_SYS_MSG_DRV_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The request ids of the system server, from 0 without gaps. */
enum {
  SYS_MSG_GET_DHCP_EN = 0,                 /* 0 */
  SYS_MSG_GET_HTTP_PORT,                   /* 1 */
  SYS_MSG_SET_NETMASK,                     /* 2 */
  SYS_MSG_GET_SNTP_FQDN,                   /* 3 */
  SYS_MSG_SET_TIMEFORMAT,                  /* 4 */
  SYS_MSG_GET_DEVICE_TYPE,                 /* 5 */
  SYS_MSG_GET_TITLE,                       /* 6 */
  SYS_MSG_GET_REGUSR,                      /* 7 */
  SYS_MSG_GET_OSDTEXT,                     /* 8 */
  SYS_MSG_GET_MAC,                         /* 9 */
  SYS_MSG_GET_IP,                          /* 10 */
  SYS_MSG_GET_GATEWAY,                     /* 11 */
  SYS_MSG_GET_NETMASK,                     /* 12 */
  SYS_MSG_GET_FTP_SERVER_IP,               /* 13 */
  SYS_MSG_GET_FTP_USERNAME,                /* 14 */
  SYS_MSG_GET_FTP_PASSWORD,                /* 15 */
  SYS_MSG_GET_FTP_FOLDNAME,                /* 16 */
  SYS_MSG_GET_FTP_IMAGEAMOUNT,             /* 17 */
  SYS_MSG_GET_FTP_PID,                     /* 18 */
  SYS_MSG_GET_FTP_PORT,                    /* 19 */
  SYS_MSG_GET_SMTP_SERVER_IP,              /* 20 */
  SYS_MSG_GET_SMTP_SERVER_PORT,            /* 21 */
  SYS_MSG_GET_SMTP_AUTHENTICATION,         /* 22 */
  SYS_MSG_GET_SMTP_USERNAME,               /* 23 */
  SYS_MSG_GET_SMTP_PASSWORD,               /* 24 */
  SYS_MSG_GET_SMTP_SENDER_EMAIL_ADDRESS,   /* 25 */
  SYS_MSG_GET_SMTP_RECEIVER_EMAIL_ADDRESS, /* 26 */
  SYS_MSG_GET_SMTP_CC,                     /* 27 */
  SYS_MSG_GET_SMTP_SUBJECT,                /* 28 */
  SYS_MSG_GET_SMTP_TEXT,                   /* 29 */
  SYS_MSG_GET_SMTP_ATTACHMENTS,            /* 30 */
  SYS_MSG_GET_SMTP_VIEW,                   /* 31 */
  SYS_MSG_GET_DHCP_CONFIG,                 /* 32 */
  SYS_MSG_SET_IP,                          /* 33 */
  SYS_MSG_SET_REGUSR,                      /* 34 */
  SYS_MSG_SET_OSDTEXT,                     /* 35 */
  SYS_MSG_SET_GATEWAY,                     /* 36 */
  SYS_MSG_SET_DHCPC_ENABLE,                /* 37 */
  SYS_MSG_SET_FTP_FQDN,                    /* 38 */
  SYS_MSG_SET_FTP_USERNAME,                /* 39 */
  SYS_MSG_SET_FTP_PASSWORD,                /* 40 */
  SYS_MSG_SET_FTP_FOLDNAME,                /* 41 */
  SYS_MSG_SET_FTP_IMAGEAMOUNT,             /* 42 */
  SYS_MSG_SET_FTP_PID,                     /* 43 */
  SYS_MSG_SET_FTP_PORT,                    /* 44 */
  SYS_MSG_SET_SMTP_SERVER_IP,              /* 45 */
  SYS_MSG_SET_SMTP_SERVER_PORT,            /* 46 */
  SYS_MSG_SET_SMTP_AUTHENTICATION,         /* 47 */
  SYS_MSG_SET_SMTP_USERNAME,               /* 48 */
  SYS_MSG_SET_SMTP_PASSWORD,               /* 49 */
  SYS_MSG_SET_SMTP_SENDER_EMAIL_ADDRESS,   /* 50 */
  SYS_MSG_SET_SMTP_RECEIVER_EMAIL_ADDRESS, /* 51 */
  SYS_MSG_SET_SMTP_CC,                     /* 52 */
  SYS_MSG_SET_SMTP_SUBJECT,                /* 53 */
  SYS_MSG_SET_SMTP_TEXT,                   /* 54 */
  SYS_MSG_SET_SMTP_ATTACHMENTS,            /* 55 */
  SYS_MSG_SET_SMTP_VIEW,                   /* 56 */
  SYS_MSG_GET_DNS,                         /* 57 */
  SYS_MSG_SET_DNS,                         /* 58 */
  SYS_MSG_SET_HOSTNAME,                    /* 59 */
  SYS_MSG_SET_SNTP_SERVER_IP,              /* 60 */
  SYS_MSG_SET_ADVMODE,                     /* 61 */
  SYS_MSG_SET_M41SFEATURE,                 /* 62 */
  SYS_MSG_SET_M42SFEATURE,                 /* 63 */
  SYS_MSG_SET_JPGSFEATURE,                 /* 64 */
  SYS_MSG_SET_DEMOCFG,                     /* 65 */
  SYS_MSG_SET_OSDWIN,                      /* 66 */
  SYS_MSG_SET_OSDWINNUM,                   /* 67 */
  SYS_MSG_SET_OSDSTREAM,                   /* 68 */
  SYS_MSG_SET_SCHEDULE,                    /* 69 */
  SYS_MSG_DEL_SCHEDULE,                    /* 70 */
  SYS_MSG_SET_IMAGE_FORMAT,                /* 71 */
  SYS_MSG_SET_RESOLUTION,                  /* 72 */
  SYS_MSG_SET_MPEG4_RES,                   /* 73 */
  SYS_MSG_SET_MPEG42_RES,                  /* 74 */
  SYS_MSG_SET_LOSTALARM,                   /* 75 */
  SYS_MSG_SET_SDAENABLE,                   /* 76 */
  SYS_MSG_SET_FTPAENABLE,                  /* 77 */
  SYS_MSG_SET_SMTPAENABLE,                 /* 78 */
  SYS_MSG_SET_ALARMDURATION,               /* 79 */
  SYS_MSG_SET_AVIDURATION,                 /* 80 */
  SYS_MSG_SET_AVIFORMAT,                   /* 81 */
  SYS_MSG_SET_FTPFILEFORMAT,               /* 82 */
  SYS_MSG_SET_SDFILEFORMAT,                /* 83 */
  SYS_MSG_SET_ATTFILEFORMAT,               /* 84 */
  SYS_MSG_SET_ASMTPATTACH,                 /* 85 */
  SYS_MSG_SET_FTP_RFTPENABLE,              /* 86 */
  SYS_MSG_SET_SD_REENABLE,                 /* 87 */
  SYS_MSG_SET_IMAGE_SOURCE,                /* 88 */
  SYS_MSG_SET_CLICK_SNAP_FILENAME,         /* 89 */
  SYS_MSG_SET_CLICK_SNAP_STORAGE,          /* 90 */
  SYS_MSG_SET_TITLE,                       /* 91 */
  SYS_MSG_SET_VIDEO_MODE,                  /* 92 */
  SYS_MSG_SET_VIDEOCODEC_COMBO,            /* 93 */
  SYS_MSG_SET_VIDEOCODEC_RES,              /* 94 */
  SYS_MSG_SET_MPEG41_BITRATE,              /* 95 */
  SYS_MSG_SET_MPEG42_BITRATE,              /* 96 */
  SYS_MSG_SET_JPEG_QUALITY,                /* 97 */
  SYS_MSG_SET_FRAMERATE1,                  /* 98 */
  SYS_MSG_SET_FRAMERATE2,                  /* 99 */
  SYS_MSG_SET_FRAMERATE3,                  /* 100 */
  SYS_MSG_SET_RATE_CONTROL1,               /* 101 */
  SYS_MSG_SET_RATE_CONTROL2,               /* 102 */
  SYS_MSG_SET_DATE_STAMP_ENABLE1,          /* 103 */
  SYS_MSG_SET_DATE_STAMP_ENABLE2,          /* 104 */
  SYS_MSG_SET_DATE_STAMP_ENABLE3,          /* 105 */
  SYS_MSG_SET_TIME_STAMP_ENABLE1,          /* 106 */
  SYS_MSG_SET_TIME_STAMP_ENABLE2,          /* 107 */
  SYS_MSG_SET_TIME_STAMP_ENABLE3,          /* 108 */
  SYS_MSG_SET_LOGO_ENABLE1,                /* 109 */
  SYS_MSG_SET_LOGO_ENABLE2,                /* 110 */
  SYS_MSG_SET_LOGO_ENABLE3,                /* 111 */
  SYS_MSG_SET_LOGO_POSITION1,              /* 112 */
  SYS_MSG_SET_LOGO_POSITION2,              /* 113 */
  SYS_MSG_SET_LOGO_POSITION3,              /* 114 */
  SYS_MSG_SET_TEXT_ENABLE1,                /* 115 */
  SYS_MSG_SET_TEXT_ENABLE2,                /* 116 */
  SYS_MSG_SET_TEXT_ENABLE3,                /* 117 */
  SYS_MSG_SET_TEXT_POSITION1,              /* 118 */
  SYS_MSG_SET_TEXT_POSITION2,              /* 119 */
  SYS_MSG_SET_TEXT_POSITION3,              /* 120 */
  SYS_MSG_SET_OVERLAY_TEXT1,               /* 121 */
  SYS_MSG_SET_OVERLAY_TEXT2,               /* 122 */
  SYS_MSG_SET_OVERLAY_TEXT3,               /* 123 */
  SYS_MSG_SET_DETAIL_INFO1,                /* 124 */
  SYS_MSG_SET_DETAIL_INFO2,                /* 125 */
  SYS_MSG_SET_DETAIL_INFO3,                /* 126 */
  SYS_MSG_SET_ENCRYPT_VIDEO,               /* 127 */
  SYS_MSG_SET_LOCAL_DISPLAY,               /* 128 */
  SYS_MSG_SET_MIRROR,                      /* 129 */
  SYS_MSG_SET_IPRATIO1,                    /* 130 */
  SYS_MSG_SET_IPRATIO2,                    /* 131 */
  SYS_MSG_SET_IPRATIO3,                    /* 132 */
  SYS_MSG_SET_FORCE_IFRAME1,               /* 133 */
  SYS_MSG_SET_FORCE_IFRAME2,               /* 134 */
  SYS_MSG_SET_FORCE_IFRAME3,               /* 135 */
  SYS_MSG_SET_QPINIT1,                     /* 136 */
  SYS_MSG_SET_QPINIT2,                     /* 137 */
  SYS_MSG_SET_QPINIT3,                     /* 138 */
  SYS_MSG_SET_QPMIN1,                      /* 139 */
  SYS_MSG_SET_QPMIN2,                      /* 140 */
  SYS_MSG_SET_QPMIN3,                      /* 141 */
  SYS_MSG_SET_QPMAX1,                      /* 142 */
  SYS_MSG_SET_QPMAX2,                      /* 143 */
  SYS_MSG_SET_QPMAX3,                      /* 144 */
  SYS_MSG_SET_MECONFIG1,                   /* 145 */
  SYS_MSG_SET_MECONFIG2,                   /* 146 */
  SYS_MSG_SET_MECONFIG3,                   /* 147 */
  SYS_MSG_SET_PACKET_SIZE1,                /* 148 */
  SYS_MSG_SET_PACKET_SIZE2,                /* 149 */
  SYS_MSG_SET_PACKET_SIZE3,                /* 150 */
  SYS_MSG_SET_ROI_ENABLE1,                 /* 151 */
  SYS_MSG_SET_ROI_ENABLE2,                 /* 152 */
  SYS_MSG_SET_ROI_ENABLE3,                 /* 153 */
  SYS_MSG_SET_STR1X1,                      /* 154 */
  SYS_MSG_SET_STR1Y1,                      /* 155 */
  SYS_MSG_SET_STR1W1,                      /* 156 */
  SYS_MSG_SET_STR1H1,                      /* 157 */
  SYS_MSG_SET_STR1X2,                      /* 158 */
  SYS_MSG_SET_STR1Y2,                      /* 159 */
  SYS_MSG_SET_STR1W2,                      /* 160 */
  SYS_MSG_SET_STR1H2,                      /* 161 */
  SYS_MSG_SET_STR1X3,                      /* 162 */
  SYS_MSG_SET_STR1Y3,                      /* 163 */
  SYS_MSG_SET_STR1W3,                      /* 164 */
  SYS_MSG_SET_STR1H3,                      /* 165 */
  SYS_MSG_SET_STR2X1,                      /* 166 */
  SYS_MSG_SET_STR2Y1,                      /* 167 */
  SYS_MSG_SET_STR2W1,                      /* 168 */
  SYS_MSG_SET_STR2H1,                      /* 169 */
  SYS_MSG_SET_STR2X2,                      /* 170 */
  SYS_MSG_SET_STR2Y2,                      /* 171 */
  SYS_MSG_SET_STR2W2,                      /* 172 */
  SYS_MSG_SET_STR2H2,                      /* 173 */
  SYS_MSG_SET_STR2X3,                      /* 174 */
  SYS_MSG_SET_STR2Y3,                      /* 175 */
  SYS_MSG_SET_STR2W3,                      /* 176 */
  SYS_MSG_SET_STR2H3,                      /* 177 */
  SYS_MSG_SET_STR3X1,                      /* 178 */
  SYS_MSG_SET_STR3Y1,                      /* 179 */
  SYS_MSG_SET_STR3W1,                      /* 180 */
  SYS_MSG_SET_STR3H1,                      /* 181 */
  SYS_MSG_SET_STR3X2,                      /* 182 */
  SYS_MSG_SET_STR3Y2,                      /* 183 */
  SYS_MSG_SET_STR3W2,                      /* 184 */
  SYS_MSG_SET_STR3H2,                      /* 185 */
  SYS_MSG_SET_STR3X3,                      /* 186 */
  SYS_MSG_SET_STR3Y3,                      /* 187 */
  SYS_MSG_SET_STR3W3,                      /* 188 */
  SYS_MSG_SET_STR3H3,                      /* 189 */
  SYS_MSG_SET_MOTIONENABLE,                /* 190 */
  SYS_MSG_SET_MOTIONCENABLE,               /* 191 */
  SYS_MSG_SET_MOTIONLEVEL,                 /* 192 */
  SYS_MSG_SET_MOTIONCVALUE,                /* 193 */
  SYS_MSG_SET_MOTIONBLOCK,                 /* 194 */
  SYS_MSG_SET_FDETECT,                     /* 195 */
  SYS_MSG_SET_FDX,                         /* 196 */
  SYS_MSG_SET_FDY,                         /* 197 */
  SYS_MSG_SET_FDW,                         /* 198 */
  SYS_MSG_SET_FDH,                         /* 199 */
  SYS_MSG_SET_FDCONF_LEVEL,                /* 200 */
  SYS_MSG_SET_FD_DIRECTION,                /* 201 */
  SYS_MSG_SET_FRECOGNITION,                /* 202 */
  SYS_MSG_SET_FRCONF_LEVEL,                /* 203 */
  SYS_MSG_SET_FR_DATABASE,                 /* 204 */
  SYS_MSG_SET_PRIVACY_MASK,                /* 205 */
  SYS_MSG_SET_MASK_OPTIONS,                /* 206 */
  SYS_MSG_SET_BRIGHTNESS,                  /* 207 */
  SYS_MSG_SET_CONTRAST,                    /* 208 */
  SYS_MSG_SET_SATURATION,                  /* 209 */
  SYS_MSG_SET_SHARPNESS,                   /* 210 */
  SYS_MSG_SET_CLEARSYSLOG,                 /* 211 */
  SYS_MSG_SET_CLEARACCESSLOG,              /* 212 */
  SYS_MSG_SET_BLC,                         /* 213 */
  SYS_MSG_SET_BACKLIGHT,                   /* 214 */
  SYS_MSG_SET_DYNRANGE,                    /* 215 */
  SYS_MSG_SET_WHITE_BALANCE,               /* 216 */
  SYS_MSG_SET_DAY_NIGHT,                   /* 217 */
  SYS_MSG_SET_HISTOGRAM,                   /* 218 */
  SYS_MSG_SET_VSTAB,                       /* 219 */
  SYS_MSG_SET_LDC,                         /* 220 */
  SYS_MSG_SET_BINNING,                     /* 221 */
  SYS_MSG_SET_2A_SWITCH,                   /* 222 */
  SYS_MSG_SET_2A_TYPE,                     /* 223 */
  SYS_MSG_SET_MAXEXPOSURE,                 /* 224 */
  SYS_MSG_SET_MAXGAIN,                     /* 225 */
  SYS_MSG_SET_EXPPRIORITY,                 /* 226 */
  SYS_MSG_SET_SNF,                         /* 227 */
  SYS_MSG_SET_TNF,                         /* 228 */
  SYS_MSG_SET_AUDIOENABLE,                 /* 229 */
  SYS_MSG_SET_AUDIOMODE,                   /* 230 */
  SYS_MSG_SET_AUDIOINVOLUME,               /* 231 */
  SYS_MSG_SET_AUDIO_ENCODE,                /* 232 */
  SYS_MSG_SET_AUDIO_SAMPLERATE,            /* 233 */
  SYS_MSG_SET_AUDIO_BITRATE,               /* 234 */
  SYS_MSG_SET_AUDIO_ALARMLEVEL,            /* 235 */
  SYS_MSG_SET_AUDIOOUTVOLUME,              /* 236 */
  SYS_MSG_SET_AUDIORECEIVER_ENABLE,        /* 237 */
  SYS_MSG_SET_AUDIOSERVER_IP,              /* 238 */
  SYS_MSG_SET_DAYLIGHT,                    /* 239 */
  SYS_MSG_SET_TIMEZONE,                    /* 240 */
  SYS_MSG_SET_DATEFORMAT,                  /* 241 */
  SYS_MSG_SET_TSTAMPFORMAT,                /* 242 */
  SYS_MSG_SET_DATEPPOS,                    /* 243 */
  SYS_MSG_SET_TIMEPOS,                     /* 244 */
  SYS_MSG_SET_MULTICAST,                   /* 245 */
  SYS_MSG_SET_HTTPPORT,                    /* 246 */
  SYS_MSG_SET_HTTPSPORT,                   /* 247 */
  SYS_MSG_SET_GIOINTYPE,                   /* 248 */
  SYS_MSG_SET_GIOOUTTYPE,                  /* 249 */
  SYS_MSG_SET_RS485,                       /* 250 */
  SYS_MSG_SET_ALARM_ENABLE,                /* 251 */
  SYS_MSG_SET_AUDIOALARM,                  /* 252 */
  SYS_MSG_SET_EXT_ALARM,                   /* 253 */
  SYS_MSG_SET_ALARM_AUDIOPLAY,             /* 254 */
  SYS_MSG_SET_ALARM_AUDIOFILE,             /* 255 */
  SYS_MSG_SET_ALARMLOCAL,                  /* 256 */
  SYS_MSG_SET_RECORDLOCAL,                 /* 257 */
  SYS_MSG_SET_SCHEDULE_REPEAT_ENABLE,      /* 258 */
  SYS_MSG_SET_SCHEDULE_NUM_WEEKS,          /* 259 */
  SYS_MSG_SET_SCHEDULE_INFINITE_ENABLE,    /* 260 */
  SYS_MSG_SET_DEFAULT,                     /* 261 */
  SYS_MSG_SET_RATE_CONTROL,                /* 262 */
  SYS_MSG_SET_IMAGE_DEFAULT,               /* 263 */
  SYS_MSG_DO_LOGIN,                        /* 264 */
  SYS_MSG_GET_USER_AUTHORITY,              /* 265 */
  SYS_MSG_ADD_USER,                        /* 266 */
  SYS_MSG_DEL_USER,                        /* 267 */
  SYS_MSG_SET_GIOINENABLE,                 /* 268 */
  SYS_MSG_SET_GIOOUTENABLE,                /* 269 */
  SYS_MSG_SET_TSTAMPENABLE,                /* 270 */
  SYS_MSG_QUIT,                            /* 271 */
  SYS_MSG_VCAMPTZ,                         /* 272 */
  SYS_MSG_INIT_VCAMPTZ,                    /* 273 */
  SYS_MSG_SD_FORMAT,                       /* 274 */
  SYS_MSG_SD_UNMOUNT,                      /* 275 */
  SYS_MSG_SCHEDULE_STOP,                   /* 276 */
  SYS_MSG_SCHEDULE_RESUME,                 /* 277 */
  SYS_MSG_GET_SD_FILENAME,                 /* 278 */
  SYS_MSG_DO_BOOT_PROC,                    /* 279 */
  SYS_MSG_ADD_PROFILE,                     /* 280 */
  SYS_MSG_ADD_VIDEOSOURCE_CONF,            /* 281 */
  SYS_MSG_SET_AUDIOSOURCE_CONF,            /* 282 */
  SYS_MSG_SET_VIDEOSOURCE_CONF,            /* 283 */
  SYS_MSG_SET_IMAGING_CONF,                /* 284 */
  SYS_MSG_ADD_VIDEOENCODER_CONF,           /* 285 */
  SYS_MSG_SET_VIDEOENCODER_CONF,           /* 286 */
  SYS_MSG_DEL_VIDEOENCODER_CONF,           /* 287 */
  SYS_MSG_ADD_AUDIO_SOURCE_CONF,           /* 288 */
  SYS_MSG_ADD_AUDIO_ENCODER_CONF,          /* 289 */
  SYS_MSG_SET_AUDIO_SOURCE_CONF,           /* 290 */
  SYS_MSG_SET_AUDIO_ENCODER_CONF,          /* 291 */
  SYS_MSG_DEL_AUDIO_SOURCE_CONF,           /* 292 */
  SYS_MSG_DEL_AUDIO_ENCODER_CONF,          /* 293 */
  SYS_MSG_DEL_PROFILE,                     /* 294 */
  SYS_MSG_SET_DIS_MODE,                    /* 295 */
  SYS_MSG_ADD_SCOPE,                       /* 296 */
  SYS_MSG_DEL_SCOPE,                       /* 297 */
  SYS_MSG_SET_ANALYTICS,                   /* 298 */
  SYS_MSG_SET_OUTPUT,                      /* 299 */
  SYS_MSG_SET_RELAY,                       /* 300 */
  SYS_MSG_SET_RELAY_LOGICALSTATE,          /* 301 */
  SYS_MSG_SET_METADATA,                    /* 302 */
  SYS_MSG_ADD_METADATA,                    /* 303 */
  SYS_MSG_KV_PARK_VOLTAGE,                 /* 304 */
  SYS_MSG_KV_SHUTDOWN_VOLTAGE,             /* 305 */
  SYS_MSG_KV_WIFI_AP,                      /* 306 */
  SYS_MSG_KV_WIFI_CHANNEL,                 /* 307 */
  SYS_MSG_KV_SET_RESTART,                  /* 308 */
  SYS_MSG_START_SYSTEM_INIT,               /* 309 */
  SYS_MSG_KV_SAVE_SETTING_TO_FILE,         /* 310 */
  SYS_MSG_KV_SAVE_SYSINFO,                 /* 311 */
  SYS_MSG_WATCHDOG,                        /* 312 */
  SYS_MSG_OSD_UPDATE,                      /* 313 */
  SYS_MSG_RECORD_PERIOD,                   /* 314 */
  SYS_MSG_SYNC_TYPE,                       /* 315 */
  SYS_MSG_PARKING_ALWAYS,                  /* 316 */
  SYS_MSG_BUTTON_CONTROL,                  /* 317 */
  SYS_MSG_SYNC_DATETIME,                   /* 318 */
  SYS_MSG_SYNC_GPS_TIME,                   /* 319 */
  SYS_MSG_SYNC_TIMEZONE,                   /* 320 */
  SYS_MSG_MAX                              /* 321 */
};

/* The header on the system server's queue (little-endian 32-bit words). 20 bytes of it,
 * all but `Des`, go to the kernel. */
typedef struct {
  int32_t Des;    /* 1 to the server; the client's process id in the reply */
  int32_t cmd;    /* a SYS_MSG_* request id */
  int32_t src;    /* the sender's process id (0 in one-way messages) */
  int32_t shmid;  /* 0 in requests; not read from replies */
  int32_t length; /* payload length; in the reply the result or the reply data's length */
  int32_t offset; /* payload offset in the segment; in the reply where its data lies */
} SYS_MSG_BUF;

/* The system server's queue and segment key. */
#define SYS_MSG_KEY 14073

/* ---- set-up and control --------------------------------------------------------- */

/* Process id 1..23 (the reply type and the slot); opens the segment, the lock (kept by a
 * second call) and the queue. 0, or -1 with a line on standard error; every failure
 * leaves the process id at 1. */
int SysDrvInit(int proc_id);
/* Process id back to 1, lock destroyed. The queue and the segment stay. Always 0. */
int SysDrvExit(void);
/* Set the process id or the queue id without any other set-up. */
void SetSysProcId(int iProcId);
void SaveSysMsgId(int qid);
/* The process id currently used for replies and the slot. */
int GetSysProcId(void);
/* A setter for any request id `cmd`. */
int SetSysCommon(void *data, unsigned int len, int cmd);

/* ---- the wrappers ----------------------------------------------------------------
 *
 * One line per wrapper: its name, the request it sends and its shape. BY_NAME rows follow
 * the naming rule (Set/SetSys + X sends SYS_MSG_SET_X, Get/GetSys + X sends
 * SYS_MSG_GET_X, X compared without case and underscores); LISTED rows do not.
 *
 * Shapes, and what each returns:
 *   SETTER    int Name(void *data, unsigned int len): `len` bytes of `data` (at most one
 *             slot, 0x3000) go to the caller's slot, also when `len` is 0; the reply's
 *             `length`. -1 when the payload does not fit the slot or the segment.
 *   EXACT     int Name(void *data, unsigned int len): 0 when the reply's `length` is
 *             exactly `len` and its data was copied into `data`; otherwise -1 and `data`
 *             is untouched.
 *   TRUNC     int Name(void *data, unsigned int len): n = the reply's `length`, lowered to
 *             `len`; n bytes copied when n > 0; returns n (0 or -1 copy nothing).
 *   TRUNC_IP  as TRUNC, but returns 0 after the copy.
 *             Getters return -1 and copy nothing when the reply's data lies outside the
 *             segment.
 *   LOGIN     int Name(void *data, unsigned int len): as SETTER; 0 when the reply's
 *             `length` equals `len`, else -1.
 *   AUTHORITY int Name(void *data, unsigned int len): as SETTER, then the reply's data is
 *             read back into `data` as EXACT does; 0 or -1.
 *   PLAIN     int Name(void): no payload; the reply's `length`.
 *   RESTART   int Name(void *data, unsigned int len): one-way, not waiting for room in
 *             the queue (a full queue drops it); `data` and `len` are not used; 0.
 *   QUIT      void Name(void): one-way, blocking send, no lock.
 *
 * Requests from a process id outside 2..23 (no successful SysDrvInit) send nothing and
 * return -1; so do exchanges whose send or receive fails.
 */
#define SYS_MSG_DRV_WRAPPERS(BY_NAME, LISTED)                                     \
  BY_NAME(GetDhcpEn, SYS_MSG_GET_DHCP_EN, EXACT)                                  \
  BY_NAME(GetHttpPort, SYS_MSG_GET_HTTP_PORT, EXACT)                              \
  BY_NAME(SetNetMask, SYS_MSG_SET_NETMASK, SETTER)                                \
  BY_NAME(GetSntpFqdn, SYS_MSG_GET_SNTP_FQDN, TRUNC)                              \
  BY_NAME(SetSysTimeFormat, SYS_MSG_SET_TIMEFORMAT, SETTER)                       \
  BY_NAME(GetDeviceType, SYS_MSG_GET_DEVICE_TYPE, TRUNC)                          \
  BY_NAME(GetTitle, SYS_MSG_GET_TITLE, TRUNC)                                     \
  BY_NAME(GetRegUsr, SYS_MSG_GET_REGUSR, TRUNC)                                   \
  BY_NAME(GetOSDText, SYS_MSG_GET_OSDTEXT, TRUNC)                                 \
  BY_NAME(GetMAC, SYS_MSG_GET_MAC, EXACT)                                         \
  BY_NAME(GetIP, SYS_MSG_GET_IP, EXACT)                                           \
  BY_NAME(GetGateway, SYS_MSG_GET_GATEWAY, EXACT)                                 \
  BY_NAME(GetNetmask, SYS_MSG_GET_NETMASK, EXACT)                                 \
  BY_NAME(GetFtpServerIp, SYS_MSG_GET_FTP_SERVER_IP, TRUNC_IP)                    \
  BY_NAME(GetFtpUsername, SYS_MSG_GET_FTP_USERNAME, TRUNC)                        \
  BY_NAME(GetFtpPassword, SYS_MSG_GET_FTP_PASSWORD, TRUNC)                        \
  LISTED(GetFtpFoldername, SYS_MSG_GET_FTP_FOLDNAME, TRUNC)                       \
  BY_NAME(GetFtpImageAmount, SYS_MSG_GET_FTP_IMAGEAMOUNT, EXACT)                  \
  BY_NAME(GetFtpPid, SYS_MSG_GET_FTP_PID, EXACT)                                  \
  BY_NAME(GetSysFtpPort, SYS_MSG_GET_FTP_PORT, EXACT)                             \
  BY_NAME(GetSmtpServerIp, SYS_MSG_GET_SMTP_SERVER_IP, TRUNC_IP)                  \
  BY_NAME(GetSmtpServerPort, SYS_MSG_GET_SMTP_SERVER_PORT, EXACT)                 \
  BY_NAME(GetSmtpAuthentication, SYS_MSG_GET_SMTP_AUTHENTICATION, EXACT)          \
  BY_NAME(GetsmtpUsername, SYS_MSG_GET_SMTP_USERNAME, TRUNC)                      \
  BY_NAME(GetSmtpPassword, SYS_MSG_GET_SMTP_PASSWORD, TRUNC)                      \
  LISTED(GetSmtpSenderEmail, SYS_MSG_GET_SMTP_SENDER_EMAIL_ADDRESS, TRUNC)        \
  LISTED(GetSmtpReceiverEmail, SYS_MSG_GET_SMTP_RECEIVER_EMAIL_ADDRESS, TRUNC)    \
  BY_NAME(GetSmtpCC, SYS_MSG_GET_SMTP_CC, TRUNC)                                  \
  BY_NAME(GetSmtpSubject, SYS_MSG_GET_SMTP_SUBJECT, TRUNC)                        \
  BY_NAME(GetSmtpText, SYS_MSG_GET_SMTP_TEXT, TRUNC)                              \
  BY_NAME(GetSmtpAttachments, SYS_MSG_GET_SMTP_ATTACHMENTS, EXACT)                \
  BY_NAME(GetSmtpView, SYS_MSG_GET_SMTP_VIEW, EXACT)                              \
  BY_NAME(GetSysDhcpConfig, SYS_MSG_GET_DHCP_CONFIG, EXACT)                       \
  BY_NAME(SetIp, SYS_MSG_SET_IP, SETTER)                                          \
  BY_NAME(SetRegUsr, SYS_MSG_SET_REGUSR, SETTER)                                  \
  BY_NAME(SetOSDText, SYS_MSG_SET_OSDTEXT, SETTER)                                \
  BY_NAME(SetGateway, SYS_MSG_SET_GATEWAY, SETTER)                                \
  LISTED(SetDhcpEnable, SYS_MSG_SET_DHCPC_ENABLE, SETTER)                         \
  BY_NAME(SetSysFtpFqdn, SYS_MSG_SET_FTP_FQDN, SETTER)                            \
  BY_NAME(SetFtpUsername, SYS_MSG_SET_FTP_USERNAME, SETTER)                       \
  BY_NAME(SetFtpPassword, SYS_MSG_SET_FTP_PASSWORD, SETTER)                       \
  BY_NAME(SetFtpFoldname, SYS_MSG_SET_FTP_FOLDNAME, SETTER)                       \
  LISTED(SetFtpImageacount, SYS_MSG_SET_FTP_IMAGEAMOUNT, SETTER)                  \
  BY_NAME(SetFtpPid, SYS_MSG_SET_FTP_PID, SETTER)                                 \
  BY_NAME(SetSysFtpPort, SYS_MSG_SET_FTP_PORT, SETTER)                            \
  BY_NAME(SetSmtpServerIp, SYS_MSG_SET_SMTP_SERVER_IP, SETTER)                    \
  BY_NAME(SetSmtpServerPort, SYS_MSG_SET_SMTP_SERVER_PORT, SETTER)                \
  BY_NAME(SetSmtpAuthentication, SYS_MSG_SET_SMTP_AUTHENTICATION, SETTER)         \
  BY_NAME(SetSmtpUsername, SYS_MSG_SET_SMTP_USERNAME, SETTER)                     \
  BY_NAME(SetSmtpPassword, SYS_MSG_SET_SMTP_PASSWORD, SETTER)                     \
  LISTED(SetSmtpSenderEmail, SYS_MSG_SET_SMTP_SENDER_EMAIL_ADDRESS, SETTER)       \
  LISTED(SetSmtpReceiverEmail, SYS_MSG_SET_SMTP_RECEIVER_EMAIL_ADDRESS, SETTER)   \
  BY_NAME(SetSmtpCC, SYS_MSG_SET_SMTP_CC, SETTER)                                 \
  BY_NAME(SetSmtpSubject, SYS_MSG_SET_SMTP_SUBJECT, SETTER)                       \
  BY_NAME(SetSmtpText, SYS_MSG_SET_SMTP_TEXT, SETTER)                             \
  BY_NAME(SetSmtpAttachments, SYS_MSG_SET_SMTP_ATTACHMENTS, SETTER)               \
  BY_NAME(SetSmtpView, SYS_MSG_SET_SMTP_VIEW, SETTER)                             \
  BY_NAME(GetDns, SYS_MSG_GET_DNS, EXACT)                                         \
  BY_NAME(SetDns, SYS_MSG_SET_DNS, SETTER)                                        \
  BY_NAME(SetHostname, SYS_MSG_SET_HOSTNAME, SETTER)                              \
  LISTED(SetSntpServer, SYS_MSG_SET_SNTP_SERVER_IP, SETTER)                       \
  BY_NAME(SetSysAdvMode, SYS_MSG_SET_ADVMODE, SETTER)                             \
  BY_NAME(SetSysDemoCfg, SYS_MSG_SET_DEMOCFG, SETTER)                             \
  BY_NAME(SetSysOSDWin, SYS_MSG_SET_OSDWIN, SETTER)                               \
  BY_NAME(SetSysOSDWinNum, SYS_MSG_SET_OSDWINNUM, SETTER)                         \
  BY_NAME(SetSysOSDStream, SYS_MSG_SET_OSDSTREAM, SETTER)                         \
  BY_NAME(SetSysSchedule, SYS_MSG_SET_SCHEDULE, SETTER)                           \
  LISTED(DelSysSchedule, SYS_MSG_DEL_SCHEDULE, SETTER)                            \
  LISTED(SetSysIMGFormat, SYS_MSG_SET_IMAGE_FORMAT, SETTER)                       \
  BY_NAME(SetSysResolution, SYS_MSG_SET_RESOLUTION, SETTER)                       \
  BY_NAME(SetSysMPEG4Res, SYS_MSG_SET_MPEG4_RES, SETTER)                          \
  BY_NAME(SetSysMPEG42Res, SYS_MSG_SET_MPEG42_RES, SETTER)                        \
  BY_NAME(SetSysLostAlarm, SYS_MSG_SET_LOSTALARM, SETTER)                         \
  LISTED(SetSysSDAlarmEnable, SYS_MSG_SET_SDAENABLE, SETTER)                      \
  LISTED(SetSysFtpAlarmEnable, SYS_MSG_SET_FTPAENABLE, SETTER)                    \
  LISTED(SetSysSmtpAlarmEnable, SYS_MSG_SET_SMTPAENABLE, SETTER)                  \
  BY_NAME(SetSysAlarmDuration, SYS_MSG_SET_ALARMDURATION, SETTER)                 \
  BY_NAME(SetAVIDuration, SYS_MSG_SET_AVIDURATION, SETTER)                        \
  BY_NAME(SetAVIFormat, SYS_MSG_SET_AVIFORMAT, SETTER)                            \
  BY_NAME(SetFTPFileFormat, SYS_MSG_SET_FTPFILEFORMAT, SETTER)                    \
  BY_NAME(SetSDFileFormat, SYS_MSG_SET_SDFILEFORMAT, SETTER)                      \
  BY_NAME(SetAttFileFormat, SYS_MSG_SET_ATTFILEFORMAT, SETTER)                    \
  BY_NAME(SetASmtpAttach, SYS_MSG_SET_ASMTPATTACH, SETTER)                        \
  LISTED(SetRftpEnable, SYS_MSG_SET_FTP_RFTPENABLE, SETTER)                       \
  BY_NAME(SetSdReEnable, SYS_MSG_SET_SD_REENABLE, SETTER)                         \
  BY_NAME(SetSysImageSource, SYS_MSG_SET_IMAGE_SOURCE, SETTER)                    \
  BY_NAME(SetSysClickSnapFilename, SYS_MSG_SET_CLICK_SNAP_FILENAME, SETTER)       \
  BY_NAME(SetSysClickSnapStorage, SYS_MSG_SET_CLICK_SNAP_STORAGE, SETTER)         \
  BY_NAME(SetTitle, SYS_MSG_SET_TITLE, SETTER)                                    \
  BY_NAME(SetSysVideoMode, SYS_MSG_SET_VIDEO_MODE, SETTER)                        \
  BY_NAME(SetSysVideoCodecCombo, SYS_MSG_SET_VIDEOCODEC_COMBO, SETTER)            \
  BY_NAME(SetSysVideoCodecRes, SYS_MSG_SET_VIDEOCODEC_RES, SETTER)                \
  BY_NAME(SetMPEG41Bitrate, SYS_MSG_SET_MPEG41_BITRATE, SETTER)                   \
  BY_NAME(SetMPEG42Bitrate, SYS_MSG_SET_MPEG42_BITRATE, SETTER)                   \
  BY_NAME(SetSysJpegQuality, SYS_MSG_SET_JPEG_QUALITY, SETTER)                    \
  BY_NAME(SetSysFramerate1, SYS_MSG_SET_FRAMERATE1, SETTER)                       \
  BY_NAME(SetSysFramerate2, SYS_MSG_SET_FRAMERATE2, SETTER)                       \
  BY_NAME(SetSysFramerate3, SYS_MSG_SET_FRAMERATE3, SETTER)                       \
  BY_NAME(SetSysRateControl1, SYS_MSG_SET_RATE_CONTROL1, SETTER)                  \
  BY_NAME(SetSysRateControl2, SYS_MSG_SET_RATE_CONTROL2, SETTER)                  \
  BY_NAME(SetSysDateStampEnable1, SYS_MSG_SET_DATE_STAMP_ENABLE1, SETTER)         \
  BY_NAME(SetSysDateStampEnable2, SYS_MSG_SET_DATE_STAMP_ENABLE2, SETTER)         \
  BY_NAME(SetSysDateStampEnable3, SYS_MSG_SET_DATE_STAMP_ENABLE3, SETTER)         \
  BY_NAME(SetSysTimeStampEnable1, SYS_MSG_SET_TIME_STAMP_ENABLE1, SETTER)         \
  BY_NAME(SetSysTimeStampEnable2, SYS_MSG_SET_TIME_STAMP_ENABLE2, SETTER)         \
  BY_NAME(SetSysTimeStampEnable3, SYS_MSG_SET_TIME_STAMP_ENABLE3, SETTER)         \
  BY_NAME(SetSysLogoEnable1, SYS_MSG_SET_LOGO_ENABLE1, SETTER)                    \
  BY_NAME(SetSysLogoEnable2, SYS_MSG_SET_LOGO_ENABLE2, SETTER)                    \
  BY_NAME(SetSysLogoEnable3, SYS_MSG_SET_LOGO_ENABLE3, SETTER)                    \
  BY_NAME(SetSysLogoPosition1, SYS_MSG_SET_LOGO_POSITION1, SETTER)                \
  BY_NAME(SetSysLogoPosition2, SYS_MSG_SET_LOGO_POSITION2, SETTER)                \
  BY_NAME(SetSysLogoPosition3, SYS_MSG_SET_LOGO_POSITION3, SETTER)                \
  BY_NAME(SetSysTextEnable1, SYS_MSG_SET_TEXT_ENABLE1, SETTER)                    \
  BY_NAME(SetSysTextEnable2, SYS_MSG_SET_TEXT_ENABLE2, SETTER)                    \
  BY_NAME(SetSysTextEnable3, SYS_MSG_SET_TEXT_ENABLE3, SETTER)                    \
  BY_NAME(SetSysTextPosition1, SYS_MSG_SET_TEXT_POSITION1, SETTER)                \
  BY_NAME(SetSysTextPosition2, SYS_MSG_SET_TEXT_POSITION2, SETTER)                \
  BY_NAME(SetSysTextPosition3, SYS_MSG_SET_TEXT_POSITION3, SETTER)                \
  BY_NAME(SetSysOverlayText1, SYS_MSG_SET_OVERLAY_TEXT1, SETTER)                  \
  BY_NAME(SetSysOverlayText2, SYS_MSG_SET_OVERLAY_TEXT2, SETTER)                  \
  BY_NAME(SetSysOverlayText3, SYS_MSG_SET_OVERLAY_TEXT3, SETTER)                  \
  BY_NAME(SetSysEncryptVideo, SYS_MSG_SET_ENCRYPT_VIDEO, SETTER)                  \
  BY_NAME(SetSysLocalDisplay, SYS_MSG_SET_LOCAL_DISPLAY, SETTER)                  \
  BY_NAME(SetSysMirror, SYS_MSG_SET_MIRROR, SETTER)                               \
  BY_NAME(SetSysIpratio1, SYS_MSG_SET_IPRATIO1, SETTER)                           \
  BY_NAME(SetSysIpratio2, SYS_MSG_SET_IPRATIO2, SETTER)                           \
  BY_NAME(SetSysIpratio3, SYS_MSG_SET_IPRATIO3, SETTER)                           \
  BY_NAME(SetSysForceIframe1, SYS_MSG_SET_FORCE_IFRAME1, SETTER)                  \
  BY_NAME(SetSysForceIframe2, SYS_MSG_SET_FORCE_IFRAME2, SETTER)                  \
  BY_NAME(SetSysForceIframe3, SYS_MSG_SET_FORCE_IFRAME3, SETTER)                  \
  BY_NAME(SetSysQPInit1, SYS_MSG_SET_QPINIT1, SETTER)                             \
  BY_NAME(SetSysQPInit2, SYS_MSG_SET_QPINIT2, SETTER)                             \
  BY_NAME(SetSysQPInit3, SYS_MSG_SET_QPINIT3, SETTER)                             \
  BY_NAME(SetSysQPMin1, SYS_MSG_SET_QPMIN1, SETTER)                               \
  BY_NAME(SetSysQPMin2, SYS_MSG_SET_QPMIN2, SETTER)                               \
  BY_NAME(SetSysQPMin3, SYS_MSG_SET_QPMIN3, SETTER)                               \
  BY_NAME(SetSysQPMax1, SYS_MSG_SET_QPMAX1, SETTER)                               \
  BY_NAME(SetSysQPMax2, SYS_MSG_SET_QPMAX2, SETTER)                               \
  BY_NAME(SetSysQPMax3, SYS_MSG_SET_QPMAX3, SETTER)                               \
  BY_NAME(SetSysMEConfig1, SYS_MSG_SET_MECONFIG1, SETTER)                         \
  BY_NAME(SetSysMEConfig2, SYS_MSG_SET_MECONFIG2, SETTER)                         \
  BY_NAME(SetSysMEConfig3, SYS_MSG_SET_MECONFIG3, SETTER)                         \
  BY_NAME(SetSysPacketSize1, SYS_MSG_SET_PACKET_SIZE1, SETTER)                    \
  BY_NAME(SetSysPacketSize2, SYS_MSG_SET_PACKET_SIZE2, SETTER)                    \
  BY_NAME(SetSysPacketSize3, SYS_MSG_SET_PACKET_SIZE3, SETTER)                    \
  BY_NAME(SetSysROIEnable1, SYS_MSG_SET_ROI_ENABLE1, SETTER)                      \
  BY_NAME(SetSysROIEnable2, SYS_MSG_SET_ROI_ENABLE2, SETTER)                      \
  BY_NAME(SetSysROIEnable3, SYS_MSG_SET_ROI_ENABLE3, SETTER)                      \
  BY_NAME(SetSysStr1X1, SYS_MSG_SET_STR1X1, SETTER)                               \
  BY_NAME(SetSysStr1Y1, SYS_MSG_SET_STR1Y1, SETTER)                               \
  BY_NAME(SetSysStr1W1, SYS_MSG_SET_STR1W1, SETTER)                               \
  BY_NAME(SetSysStr1H1, SYS_MSG_SET_STR1H1, SETTER)                               \
  BY_NAME(SetSysStr1X2, SYS_MSG_SET_STR1X2, SETTER)                               \
  BY_NAME(SetSysStr1Y2, SYS_MSG_SET_STR1Y2, SETTER)                               \
  BY_NAME(SetSysStr1W2, SYS_MSG_SET_STR1W2, SETTER)                               \
  BY_NAME(SetSysStr1H2, SYS_MSG_SET_STR1H2, SETTER)                               \
  BY_NAME(SetSysStr1X3, SYS_MSG_SET_STR1X3, SETTER)                               \
  BY_NAME(SetSysStr1Y3, SYS_MSG_SET_STR1Y3, SETTER)                               \
  BY_NAME(SetSysStr1W3, SYS_MSG_SET_STR1W3, SETTER)                               \
  BY_NAME(SetSysStr1H3, SYS_MSG_SET_STR1H3, SETTER)                               \
  BY_NAME(SetSysStr2X1, SYS_MSG_SET_STR2X1, SETTER)                               \
  BY_NAME(SetSysStr2Y1, SYS_MSG_SET_STR2Y1, SETTER)                               \
  BY_NAME(SetSysStr2W1, SYS_MSG_SET_STR2W1, SETTER)                               \
  BY_NAME(SetSysStr2H1, SYS_MSG_SET_STR2H1, SETTER)                               \
  BY_NAME(SetSysStr2X2, SYS_MSG_SET_STR2X2, SETTER)                               \
  BY_NAME(SetSysStr2Y2, SYS_MSG_SET_STR2Y2, SETTER)                               \
  BY_NAME(SetSysStr2W2, SYS_MSG_SET_STR2W2, SETTER)                               \
  BY_NAME(SetSysStr2H2, SYS_MSG_SET_STR2H2, SETTER)                               \
  BY_NAME(SetSysStr2X3, SYS_MSG_SET_STR2X3, SETTER)                               \
  BY_NAME(SetSysStr2Y3, SYS_MSG_SET_STR2Y3, SETTER)                               \
  BY_NAME(SetSysStr2W3, SYS_MSG_SET_STR2W3, SETTER)                               \
  BY_NAME(SetSysStr2H3, SYS_MSG_SET_STR2H3, SETTER)                               \
  BY_NAME(SetSysStr3X1, SYS_MSG_SET_STR3X1, SETTER)                               \
  BY_NAME(SetSysStr3Y1, SYS_MSG_SET_STR3Y1, SETTER)                               \
  BY_NAME(SetSysStr3W1, SYS_MSG_SET_STR3W1, SETTER)                               \
  BY_NAME(SetSysStr3H1, SYS_MSG_SET_STR3H1, SETTER)                               \
  BY_NAME(SetSysStr3X2, SYS_MSG_SET_STR3X2, SETTER)                               \
  BY_NAME(SetSysStr3Y2, SYS_MSG_SET_STR3Y2, SETTER)                               \
  BY_NAME(SetSysStr3W2, SYS_MSG_SET_STR3W2, SETTER)                               \
  BY_NAME(SetSysStr3H2, SYS_MSG_SET_STR3H2, SETTER)                               \
  BY_NAME(SetSysStr3X3, SYS_MSG_SET_STR3X3, SETTER)                               \
  BY_NAME(SetSysStr3Y3, SYS_MSG_SET_STR3Y3, SETTER)                               \
  BY_NAME(SetSysStr3W3, SYS_MSG_SET_STR3W3, SETTER)                               \
  BY_NAME(SetSysStr3H3, SYS_MSG_SET_STR3H3, SETTER)                               \
  BY_NAME(SetMotionEnable, SYS_MSG_SET_MOTIONENABLE, SETTER)                      \
  BY_NAME(SetMotionCEnable, SYS_MSG_SET_MOTIONCENABLE, SETTER)                    \
  BY_NAME(SetMotionLevel, SYS_MSG_SET_MOTIONLEVEL, SETTER)                        \
  BY_NAME(SetMotionCValue, SYS_MSG_SET_MOTIONCVALUE, SETTER)                      \
  BY_NAME(SetMotionBlock, SYS_MSG_SET_MOTIONBLOCK, SETTER)                        \
  BY_NAME(SetSysfdetect, SYS_MSG_SET_FDETECT, SETTER)                             \
  BY_NAME(SetSysfdx, SYS_MSG_SET_FDX, SETTER)                                     \
  BY_NAME(SetSysfdy, SYS_MSG_SET_FDY, SETTER)                                     \
  BY_NAME(SetSysfdw, SYS_MSG_SET_FDW, SETTER)                                     \
  BY_NAME(SetSysfdh, SYS_MSG_SET_FDH, SETTER)                                     \
  LISTED(SetSysfdconf, SYS_MSG_SET_FDCONF_LEVEL, SETTER)                          \
  LISTED(SetSysfddir, SYS_MSG_SET_FD_DIRECTION, SETTER)                           \
  LISTED(SetSysfrecog, SYS_MSG_SET_FRECOGNITION, SETTER)                          \
  LISTED(SetSysfrconf, SYS_MSG_SET_FRCONF_LEVEL, SETTER)                          \
  LISTED(SetSysfrdbase, SYS_MSG_SET_FR_DATABASE, SETTER)                          \
  LISTED(SetSyspmask, SYS_MSG_SET_PRIVACY_MASK, SETTER)                           \
  LISTED(SetSyspmaskopt, SYS_MSG_SET_MASK_OPTIONS, SETTER)                        \
  BY_NAME(SetSysBrightness, SYS_MSG_SET_BRIGHTNESS, SETTER)                       \
  BY_NAME(SetSysContrast, SYS_MSG_SET_CONTRAST, SETTER)                           \
  BY_NAME(SetSysSaturation, SYS_MSG_SET_SATURATION, SETTER)                       \
  BY_NAME(SetSysSharpness, SYS_MSG_SET_SHARPNESS, SETTER)                         \
  BY_NAME(SetSysClearSysLog, SYS_MSG_SET_CLEARSYSLOG, SETTER)                     \
  BY_NAME(SetSysClearAccessLog, SYS_MSG_SET_CLEARACCESSLOG, SETTER)               \
  BY_NAME(SetSysBLC, SYS_MSG_SET_BLC, SETTER)                                     \
  BY_NAME(SetSysBacklight, SYS_MSG_SET_BACKLIGHT, SETTER)                         \
  BY_NAME(SetSysDynRange, SYS_MSG_SET_DYNRANGE, SETTER)                           \
  BY_NAME(SetSysWhiteBalance, SYS_MSG_SET_WHITE_BALANCE, SETTER)                  \
  BY_NAME(SetSysDayNight, SYS_MSG_SET_DAY_NIGHT, SETTER)                          \
  BY_NAME(SetSysHistogram, SYS_MSG_SET_HISTOGRAM, SETTER)                         \
  BY_NAME(SetSysBinning, SYS_MSG_SET_BINNING, SETTER)                             \
  LISTED(SetSysImage2A, SYS_MSG_SET_2A_SWITCH, SETTER)                            \
  LISTED(SetSysImage2AType, SYS_MSG_SET_2A_TYPE, SETTER)                          \
  BY_NAME(SetAudioEnable, SYS_MSG_SET_AUDIOENABLE, SETTER)                        \
  BY_NAME(SetAudioinVolume, SYS_MSG_SET_AUDIOINVOLUME, SETTER)                    \
  BY_NAME(SetSysAudioReceiverEnable, SYS_MSG_SET_AUDIORECEIVER_ENABLE, SETTER)    \
  BY_NAME(SetSysAudioServerIp, SYS_MSG_SET_AUDIOSERVER_IP, SETTER)                \
  BY_NAME(SetSysDaylight, SYS_MSG_SET_DAYLIGHT, SETTER)                           \
  BY_NAME(SetSysTimeZone, SYS_MSG_SET_TIMEZONE, SETTER)                           \
  BY_NAME(SetTStampFormat, SYS_MSG_SET_TSTAMPFORMAT, SETTER)                      \
  BY_NAME(SetSysMulticast, SYS_MSG_SET_MULTICAST, SETTER)                         \
  BY_NAME(SetHttpPort, SYS_MSG_SET_HTTPPORT, SETTER)                              \
  BY_NAME(SetGIOInType, SYS_MSG_SET_GIOINTYPE, SETTER)                            \
  BY_NAME(SetGIOOutType, SYS_MSG_SET_GIOOUTTYPE, SETTER)                          \
  BY_NAME(SetSysRateControl, SYS_MSG_SET_RATE_CONTROL, SETTER)                    \
  BY_NAME(SetImageDefault, SYS_MSG_SET_IMAGE_DEFAULT, SETTER)                     \
  LISTED(DoSysLogin, SYS_MSG_DO_LOGIN, LOGIN)                                     \
  BY_NAME(GetSysUserAuthority, SYS_MSG_GET_USER_AUTHORITY, AUTHORITY)             \
  LISTED(SysAddUser, SYS_MSG_ADD_USER, SETTER)                                    \
  LISTED(SysDelUser, SYS_MSG_DEL_USER, SETTER)                                    \
  BY_NAME(SetGIOInEnable, SYS_MSG_SET_GIOINENABLE, SETTER)                        \
  BY_NAME(SetGIOOutEnable, SYS_MSG_SET_GIOOUTENABLE, SETTER)                      \
  BY_NAME(SetTStampEnable, SYS_MSG_SET_TSTAMPENABLE, SETTER)                      \
  LISTED(SendSysQuitCmd, SYS_MSG_QUIT, QUIT)                                      \
  LISTED(SetVcamPtz, SYS_MSG_VCAMPTZ, SETTER)                                     \
  LISTED(InitVcamPtz, SYS_MSG_INIT_VCAMPTZ, SETTER)                               \
  LISTED(SysSdFormat, SYS_MSG_SD_FORMAT, SETTER)                                  \
  LISTED(SysSdUnmount, SYS_MSG_SD_UNMOUNT, SETTER)                                \
  LISTED(SysScheduleStop, SYS_MSG_SCHEDULE_STOP, SETTER)                          \
  LISTED(SysScheduleResume, SYS_MSG_SCHEDULE_RESUME, SETTER)                      \
  LISTED(SysGetSdFileName, SYS_MSG_GET_SD_FILENAME, TRUNC)                        \
  LISTED(SysDoBootProc, SYS_MSG_DO_BOOT_PROC, SETTER)                             \
  LISTED(CreateMedProfile, SYS_MSG_ADD_PROFILE, SETTER)                           \
  LISTED(AddVideoSourceConfiguration, SYS_MSG_ADD_VIDEOSOURCE_CONF, SETTER)       \
  LISTED(SetVideoSourceConfiguration, SYS_MSG_SET_VIDEOSOURCE_CONF, SETTER)       \
  LISTED(SetImaging, SYS_MSG_SET_IMAGING_CONF, SETTER)                            \
  LISTED(AddVideoEncoderConfiguration, SYS_MSG_ADD_VIDEOENCODER_CONF, SETTER)     \
  LISTED(SetVideoEncoderConfiguration, SYS_MSG_SET_VIDEOENCODER_CONF, SETTER)     \
  LISTED(RemoveVideoEncoderConfiguration, SYS_MSG_DEL_VIDEOENCODER_CONF, SETTER)  \
  LISTED(AddAudioSourceConfiguration, SYS_MSG_ADD_AUDIO_SOURCE_CONF, SETTER)      \
  LISTED(AddAudioEncoderConfiguration, SYS_MSG_ADD_AUDIO_ENCODER_CONF, SETTER)    \
  LISTED(SetAudioSourceConfiguration, SYS_MSG_SET_AUDIO_SOURCE_CONF, SETTER)      \
  LISTED(SetAudioEncoderConfiguration, SYS_MSG_SET_AUDIO_ENCODER_CONF, SETTER)    \
  LISTED(RemoveAudioSourceConfiguration, SYS_MSG_DEL_AUDIO_SOURCE_CONF, SETTER)   \
  LISTED(RemoveAudioEncoderConfiguration, SYS_MSG_DEL_AUDIO_ENCODER_CONF, SETTER) \
  LISTED(DelProfile, SYS_MSG_DEL_PROFILE, SETTER)                                 \
  LISTED(SetDiscoveryMode, SYS_MSG_SET_DIS_MODE, SETTER)                          \
  LISTED(AddScopes, SYS_MSG_ADD_SCOPE, SETTER)                                    \
  LISTED(DeleteScopes, SYS_MSG_DEL_SCOPE, SETTER)                                 \
  LISTED(SetVideoAnalytics, SYS_MSG_SET_ANALYTICS, SETTER)                        \
  LISTED(SetVideoOutput, SYS_MSG_SET_OUTPUT, SETTER)                              \
  LISTED(SetRelays, SYS_MSG_SET_RELAY, SETTER)                                    \
  BY_NAME(SetRelayLogicalState, SYS_MSG_SET_RELAY_LOGICALSTATE, SETTER)           \
  BY_NAME(SetMetadata, SYS_MSG_SET_METADATA, SETTER)                              \
  LISTED(AddMetadata, SYS_MSG_ADD_METADATA, SETTER)                               \
  LISTED(KVSetParkVoltage, SYS_MSG_KV_PARK_VOLTAGE, SETTER)                       \
  LISTED(KVSetShutdownVoltage, SYS_MSG_KV_SHUTDOWN_VOLTAGE, SETTER)               \
  LISTED(KVSetWifiApSSID, SYS_MSG_KV_WIFI_AP, SETTER)                             \
  LISTED(KVSetWifiApChannel, SYS_MSG_KV_WIFI_CHANNEL, SETTER)                     \
  LISTED(KVSetRestart, SYS_MSG_KV_SET_RESTART, RESTART)                           \
  LISTED(KVStartSystemInit, SYS_MSG_START_SYSTEM_INIT, PLAIN)                     \
  LISTED(KVSaveSettingsToFile, SYS_MSG_KV_SAVE_SETTING_TO_FILE, PLAIN)            \
  LISTED(KVSaveSysInfo, SYS_MSG_KV_SAVE_SYSINFO, SETTER)                          \
  LISTED(SysWatchDog, SYS_MSG_WATCHDOG, PLAIN)                                    \
  LISTED(SetSysOSDUpdate, SYS_MSG_OSD_UPDATE, SETTER)                             \
  LISTED(SetSysRecordPeriod, SYS_MSG_RECORD_PERIOD, SETTER)                       \
  LISTED(SetSysSyncType, SYS_MSG_SYNC_TYPE, SETTER)                               \
  LISTED(SetSysParkingAlways, SYS_MSG_PARKING_ALWAYS, SETTER)                     \
  LISTED(SetSysButtonControl, SYS_MSG_BUTTON_CONTROL, SETTER)                     \
  LISTED(SetSysSyncDatetime, SYS_MSG_SYNC_DATETIME, SETTER)                       \
  LISTED(SetSysSyncGpsTime, SYS_MSG_SYNC_GPS_TIME, SETTER)                        \
  LISTED(SetSysSyncTimeZone, SYS_MSG_SYNC_TIMEZONE, SETTER)

#define SYS_MSG_DRV_PROTO_SETTER(name) int name(void *data, unsigned int len)
#define SYS_MSG_DRV_PROTO_EXACT(name) int name(void *data, unsigned int len)
#define SYS_MSG_DRV_PROTO_TRUNC(name) int name(void *data, unsigned int len)
#define SYS_MSG_DRV_PROTO_TRUNC_IP(name) int name(void *data, unsigned int len)
#define SYS_MSG_DRV_PROTO_LOGIN(name) int name(void *data, unsigned int len)
#define SYS_MSG_DRV_PROTO_AUTHORITY(name) int name(void *data, unsigned int len)
#define SYS_MSG_DRV_PROTO_RESTART(name) int name(void *data, unsigned int len)
#define SYS_MSG_DRV_PROTO_PLAIN(name) int name(void)
#define SYS_MSG_DRV_PROTO_QUIT(name) void name(void)
#define SYS_MSG_DRV_DECLARE(name, id, shape) SYS_MSG_DRV_PROTO_##shape(name);

/* Every wrapper of the table above, with the result its shape gives. */
SYS_MSG_DRV_WRAPPERS(SYS_MSG_DRV_DECLARE, SYS_MSG_DRV_DECLARE)

#ifdef __cplusplus
}
#endif

#endif
