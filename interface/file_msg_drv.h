// SPDX-License-Identifier: MIT
/*
 * file_msg_drv: the client of the settings file manager.
 *
 * The file manager owns SysInfo in the shared segment of key 12930021 (the queue has the
 * same key). A client maps the record once at set-up and reads and writes its fields in
 * place; every process sees every other's change at once. To keep a change for good, a
 * setter writes the field and then asks the file manager to save the record (a write
 * request) and waits for its answer. Requests of one process are serialised by the unit's
 * lock; field stores are plain memory writes.
 *
 * Results: 0 success, -1 failure (nothing mapped, bad argument, or the file manager did not
 * answer with the record's size). A failed request prints its error text on standard error
 * and counts towards reopening the queue, which happens before the request that follows
 * three failed ones.
 */
#ifndef KV_FILE_MSG_DRV_H
#define KV_FILE_MSG_DRV_H

#include <netinet/in.h>
#include <stdint.h>

#include "sys_env_type.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The key the programs pass; the queue and the segment share it. */
#define FILE_MSG_KEY 12930021

/* Requests to the file manager (the client never sends 4 or 6). */
typedef enum {
  FILE_MSG_QUIT = 0,
  FILE_MSG_READ = 1,
  FILE_MSG_WRITE_I = 2,
  FILE_MSG_WRITE = 3,
  FILE_MSG_FORMAT = 4,
  FILE_MSG_RESET = 5,
  FILE_GET_MID = 6,
  FILE_MSG_CLEAR_SYSLOG = 7,
  FILE_MSG_CLEAR_ACCESSLOG = 8,
  FILE_MSG_START_FILE_WRITE = 9,
  FILE_MSG_STOP_FILE_WRITE = 10,
  FILE_MSG_MAX = 11
} FileCmd_t;

/* Which part of the segment a request concerns (`shmidx`). */
#define FILE_MSG_PART_SYSINFO 0
#define FILE_MSG_PART_LOG 1

/* The request and reply record; the 28 bytes after `Des` go to the kernel. */
typedef struct {
  int32_t Des;      /* 1 to the file manager; the client's process id in the reply */
  int32_t cmd;      /* a FileCmd_t */
  int32_t src;      /* the client's process id (0 in one-way commands) */
  int32_t shmid;    /* the settings segment as the client mapped it */
  int32_t length;   /* 0 in requests; SYSINFO_SIZE in a successful reply */
  int32_t shmidx;   /* FILE_MSG_PART_* */
  int32_t nPageNum; /* log page (log read only) */
  int32_t nItemNum; /* log item (log read only) */
} FILE_MSG_BUF;

/* ---- set-up, requests, commands --------------------------------------------------------- */

/* Opens the queue and maps the segment of `key`; `iProcId` (2 to 23) addresses the replies.
 * 0, or -1 with a message (nothing mapped then). */
int InitFileMsgDrv(int key, int iProcId);
/* Unmaps the record and destroys the lock; the queue and segment stay. */
void CleanupFileMsgDrv(void);
/* Read request; the mapped record on success, else null. */
SysInfo *GetSysInfo(void);
/* Write request for part `nShmIndex` (FILE_MSG_PART_*). */
int SetSysInfo(int nShmIndex);
int fRequestWrite(void);
/* The file manager restores its defaults. Not counted towards reopening the queue. */
int fResetSysInfo(void);
/* `value` is not sent. */
int fSetClearSysLog(unsigned char value);
int fSetClearAccessLog(unsigned char value);
/* Reads log entry (page, item) into `pBuf` (96 bytes, owned by the caller). */
int GetSysLog(int nPageNum, int nItemNum, LogEntry_t *pBuf);
/* Copies the entry into tCurLog and requests the write of the log part. */
int fSetSysLog(LogEntry_t *value);
/* One-way commands: one blocking send, no lock, no answer. */
void SendFileQuitCmd(void);
void SendStartFileWriteCmd(void);
void SendStopFileWriteCmd(void);
/* Replaces the stored queue id. */
void SaveQid(int iqid);

/* ---- setters that store one field --------------------------------------------------------
 *
 * FILE_MSG_FIELD_SETTERS(F) lists them as F(kind, name, type, field), field being the
 * member of SysInfo. Kinds:
 *   VALUE      int name(type value): stores the value with the field's width, then saves;
 *   LOW_BYTE   int name(unsigned char value): stores the lowest byte of a wider field;
 *   TEXT       int name(void *buf, int len): -1 (record unchanged) when len + 1 bytes do
 *              not fit the field, else copies len bytes and a NUL, then saves;
 *   IF_CHANGED as VALUE, but returns 0 without a request when the value is already stored;
 *   NOW        as VALUE, with a write-immediate request instead of a write.
 */

/* Region r (1..3) of stream s (1..3). */
#define FILE_MSG_ROI_SETTERS(F, s, r)                                                \
  F(VALUE, fSetStr##s##X##r, unsigned int, codec_roiconfig[s - 1].roi[r - 1].startx) \
  F(VALUE, fSetStr##s##Y##r, unsigned int, codec_roiconfig[s - 1].roi[r - 1].starty) \
  F(VALUE, fSetStr##s##W##r, unsigned int, codec_roiconfig[s - 1].roi[r - 1].width)  \
  F(VALUE, fSetStr##s##H##r, unsigned int, codec_roiconfig[s - 1].roi[r - 1].height)

/* Stream s (1..3): regions, encoder, OSD and frame rates. */
#define FILE_MSG_STREAM_SETTERS(F, s)                                             \
  FILE_MSG_ROI_SETTERS(F, s, 1)                                                   \
  FILE_MSG_ROI_SETTERS(F, s, 2)                                                   \
  FILE_MSG_ROI_SETTERS(F, s, 3)                                                   \
  F(LOW_BYTE, fSetROIEnable##s, unsigned char, codec_roiconfig[s - 1].numROI)     \
  F(VALUE, fSetIpratio##s, unsigned int, codec_advconfig[s - 1].ipRatio)          \
  F(VALUE, fSetForceIframe##s, unsigned char, codec_advconfig[s - 1].fIframe)     \
  F(VALUE, fSetQPInit##s, unsigned char, codec_advconfig[s - 1].qpInit)           \
  F(VALUE, fSetQPMin##s, unsigned char, codec_advconfig[s - 1].qpMin)             \
  F(VALUE, fSetQPMax##s, unsigned char, codec_advconfig[s - 1].qpMax)             \
  F(VALUE, fSetMEConfig##s, unsigned char, codec_advconfig[s - 1].meConfig)       \
  F(VALUE, fSetPacketSize##s, unsigned char, codec_advconfig[s - 1].packetSize)   \
  F(VALUE, fSetDateStampEnable##s, unsigned char, osd_config[s - 1].dstampenable) \
  F(VALUE, fSetTimeStampEnable##s, unsigned char, osd_config[s - 1].tstampenable) \
  F(VALUE, fSetLogoEnable##s, unsigned char, osd_config[s - 1].nLogoEnable)       \
  F(VALUE, fSetLogoPosition##s, unsigned char, osd_config[s - 1].nLogoPosition)   \
  F(VALUE, fSetTextEnable##s, unsigned char, osd_config[s - 1].nTextEnable)       \
  F(VALUE, fSetTextPosition##s, unsigned char, osd_config[s - 1].nTextPosition)   \
  F(VALUE, fSetDetailInfo##s, unsigned char, osd_config[s - 1].nDetailInfo)       \
  F(TEXT, fSetOverlayText##s, char, osd_config[s - 1].overlaytext)                \
  F(VALUE, fSetFramerate##s, unsigned char, lan_config.nFrameRate##s)             \
  F(VALUE, fSetFramerateVal##s, int, lan_config.frameRateVal##s)

#define FILE_MSG_FIELD_SETTERS(F)                                                         \
  FILE_MSG_STREAM_SETTERS(F, 1)                                                           \
  FILE_MSG_STREAM_SETTERS(F, 2)                                                           \
  FILE_MSG_STREAM_SETTERS(F, 3)                                                           \
  F(VALUE, fSetRateControl1, unsigned char, lan_config.nRateControl1)                     \
  F(VALUE, fSetRateControl2, unsigned char, lan_config.nRateControl2)                     \
  F(VALUE, fSetMP41bitrate, int, lan_config.nMpeg41bitrate)                               \
  F(VALUE, fSetMP42bitrate, int, lan_config.nMpeg42bitrate)                               \
  /* motion */                                                                            \
  F(VALUE, fSetMotionEnable, unsigned char, motion_config.motionenable)                   \
  F(VALUE, fSetMotionCEnable, unsigned char, motion_config.motioncenable)                 \
  F(VALUE, fSetMotionLevel, unsigned char, motion_config.motionlevel)                     \
  F(VALUE, fSetMotionCValue, unsigned char, motion_config.motioncvalue)                   \
  /* face detection */                                                                    \
  F(VALUE, fSetFaceDetect, unsigned char, face_config.fdetect)                            \
  F(VALUE, fSetFDX, unsigned int, face_config.startX)                                     \
  F(VALUE, fSetFDY, unsigned int, face_config.startY)                                     \
  F(VALUE, fSetFDW, unsigned int, face_config.width)                                      \
  F(VALUE, fSetFDH, unsigned int, face_config.height)                                     \
  F(VALUE, fSetFDConfLevel, unsigned char, face_config.fdconflevel)                       \
  F(VALUE, fSetFDDirection, unsigned char, face_config.fddirection)                       \
  F(VALUE, fSetFRecognition, unsigned char, face_config.frecog)                           \
  F(VALUE, fSetFRConfLevel, unsigned char, face_config.frconflevel)                       \
  F(VALUE, fSetFRDatabase, unsigned char, face_config.frdatabase)                         \
  F(VALUE, fSetPrivacyMask, unsigned char, face_config.pmask)                             \
  F(VALUE, fSetMaskOptions, unsigned char, face_config.maskoption)                        \
  /* audio */                                                                             \
  F(VALUE, fSetAudioON, unsigned char, audio_config.audioON)                              \
  F(VALUE, fSetAudioEnable, unsigned char, audio_config.audioenable)                      \
  F(VALUE, fSetAudioMode, unsigned char, audio_config.audiomode)                          \
  F(VALUE, fSetAudioInVolume, unsigned char, audio_config.audioinvolume)                  \
  F(VALUE, fSetAudioEncode, unsigned char, audio_config.codectype)                        \
  F(VALUE, fSetAudioSampleRate, unsigned char, audio_config.samplerate)                   \
  F(VALUE, fSetAudioBitrate, unsigned char, audio_config.bitrate)                         \
  F(VALUE, fSetAudioBitrateValue, unsigned int, audio_config.bitrateValue)                \
  F(VALUE, fSetAudioAlarmLevel, unsigned char, audio_config.alarmlevel)                   \
  F(VALUE, fSetAudioAlarm, unsigned char, audio_config.alarmON)                           \
  F(VALUE, fSetAudioOutVolume, unsigned char, audio_config.audiooutvolume)                \
  F(VALUE, fSetAudioReceiverEnable, unsigned char, audio_config.audiorecvenable)          \
  F(TEXT, fSetAudioSeverIp, char, audio_config.audioServerIp)                             \
  /* SD card */                                                                           \
  F(VALUE, fSetSDFileFormat, unsigned char, sdcard_config.sdfileformat)                   \
  F(VALUE, fSetSdReEnable, unsigned char, sdcard_config.sdrenable)                        \
  F(VALUE, fSetSDInsert, unsigned char, sdcard_config.sdinsert)                           \
  /* FTP */                                                                               \
  F(TEXT, fSetFtpFqdn, char, ftp_config.servier_ip)                                       \
  F(TEXT, fSetFtpUsername, char, ftp_config.username)                                     \
  F(TEXT, fSetFtpPassword, char, ftp_config.password)                                     \
  F(TEXT, fSetFtpFoldname, char, ftp_config.foldername)                                   \
  F(VALUE, fSetFtpImageacount, int, ftp_config.image_acount)                              \
  F(VALUE, fSetFtpPid, int, ftp_config.pid)                                               \
  F(VALUE, fSetFtpPort, unsigned short, ftp_config.port)                                  \
  F(VALUE, fSetRftpenable, unsigned char, ftp_config.rftpenable)                          \
  F(VALUE, fSetFTPFileFormat, unsigned char, ftp_config.ftpfileformat)                    \
  /* mail */                                                                              \
  F(TEXT, fSetSmtpServerIp, char, smtp_config.servier_ip)                                 \
  F(VALUE, fSetSmtpServerPort, unsigned short, smtp_config.server_port)                   \
  F(TEXT, fSetSmtpUsername, char, smtp_config.username)                                   \
  F(TEXT, fSetSmtpPassword, char, smtp_config.password)                                   \
  F(VALUE, fSetSmtpAuthentication, unsigned char, smtp_config.authentication)             \
  F(TEXT, fSetSmtpSenderEmail, char, smtp_config.sender_email)                            \
  F(TEXT, fSetSmtpReceiverEmail, char, smtp_config.receiver_email)                        \
  F(TEXT, fSetSmtpCC, char, smtp_config.CC)                                               \
  F(TEXT, fSetSmtpSubject, char, smtp_config.subject)                                     \
  F(TEXT, fSetSmtpText, char, smtp_config.text)                                           \
  F(VALUE, fSetSmtpAttachments, unsigned char, smtp_config.attachments)                   \
  F(VALUE, fSetSmtpView, unsigned char, smtp_config.view)                                 \
  F(VALUE, fSetASmtpAttach, unsigned char, smtp_config.asmtpattach)                       \
  F(VALUE, fSetAttFileFormat, unsigned char, smtp_config.attfileformat)                   \
  /* pan/tilt/zoom: its first byte */                                                     \
  F(VALUE, fSetVcamPtz, unsigned char, ptz_config.ptzzoomin[0])                           \
  /* camera: texts and identity */                                                        \
  F(TEXT, fSetTitle, char, lan_config.title)                                              \
  F(TEXT, fSetRegUsr, char, lan_config.regusr)                                            \
  F(TEXT, fSetOSDText, char, lan_config.osdtext)                                          \
  F(TEXT, fSetClickSnapFilename, char, lan_config.nClickSnapFilename)                     \
  F(VALUE, fSetChipConfig, unsigned char, lan_config.chipConfig)                          \
  /* camera: image controls */                                                            \
  F(VALUE, fSetCamWhiteBalance, unsigned char, lan_config.nWhiteBalance)                  \
  F(VALUE, fSetCamDayNight, unsigned char, lan_config.nDayNight)                          \
  F(VALUE, fSetBinning, unsigned char, lan_config.nBinning)                               \
  F(VALUE, fSetBlc, unsigned char, lan_config.nBacklightControl)                          \
  F(VALUE, fSetCamBacklight, unsigned char, lan_config.nBackLight)                        \
  F(VALUE, fSetCamBrightness, unsigned char, lan_config.nBrightness)                      \
  F(VALUE, fSetCamContrast, unsigned char, lan_config.nContrast)                          \
  F(VALUE, fSetCamSaturation, unsigned char, lan_config.nSaturation)                      \
  F(VALUE, fSetCamSharpness, unsigned char, lan_config.nSharpness)                        \
  F(VALUE, fSetMirror, unsigned char, lan_config.mirror)                                  \
  F(VALUE, fSetImageAEW, unsigned char, lan_config.nAEWswitch)                            \
  F(VALUE, fSetImageAEWType, unsigned char, lan_config.nAEWtype)                          \
  F(VALUE, fSetHistogram, unsigned char, lan_config.histogram)                            \
  F(VALUE, fSetDynRange, unsigned char, lan_config.dynRange)                              \
  F(VALUE, fSetMaxExposureValue, unsigned char, lan_config.maxexposure)                   \
  F(VALUE, fSetMaxGainValue, unsigned char, lan_config.maxgain)                           \
  F(VALUE, fSetExpPriority, unsigned char, lan_config.expPriority)                        \
  /* camera: streams and codecs */                                                        \
  F(VALUE, fSetVideoMode, unsigned char, lan_config.nStreamType)                          \
  F(VALUE, fSetVideoCodecMode, unsigned char, lan_config.nVideocodecmode)                 \
  F(VALUE, fSetVideoCodecCombo, unsigned char, lan_config.nVideocombo)                    \
  F(VALUE, fSetVideoCodecRes, unsigned char, lan_config.nVideocodecres)                   \
  F(VALUE, fSetRateControl, unsigned char, lan_config.nRateControl)                       \
  F(VALUE, fSetJpegQuality, unsigned char, lan_config.njpegquality)                       \
  F(VALUE, fSetAdvMode, unsigned char, lan_config.AdvanceMode)                            \
  F(VALUE, fSetDemoCfg, unsigned char, lan_config.democfg)                                \
  F(VALUE, fSetEncryptVideo, unsigned char, lan_config.nEncryptVideo)                     \
  F(VALUE, fSetLocalDisplay, unsigned char, lan_config.nLocalDisplay)                     \
  /* camera: alarms and storage */                                                        \
  F(VALUE, fSetLostAlarm, unsigned char, lan_config.lostalarm)                            \
  F(VALUE, fSetSDAlarmEnable, unsigned char, lan_config.bSdaEnable)                       \
  F(VALUE, fSetFTPAlarmEnable, unsigned char, lan_config.bAFtpEnable)                     \
  F(VALUE, fSetSMTPAlarmEnable, unsigned char, lan_config.bASmtpEnable)                   \
  F(VALUE, fSetAlarmDuration, unsigned char, lan_config.nAlarmDuration)                   \
  F(VALUE, fSetAlarmStatus, unsigned char, lan_config.alarmstatus)                        \
  F(VALUE, fSetAlarmEnable, unsigned char, lan_config.nAlarmEnable)                       \
  F(VALUE, fSetExtAlarm, unsigned char, lan_config.nExtAlarm)                             \
  F(VALUE, fSetAlarmAudioPlay, unsigned char, lan_config.nAlarmAudioPlay)                 \
  F(VALUE, fSetAlarmAudioFile, unsigned char, lan_config.nAlarmAudioFile)                 \
  F(VALUE, fSetAlarmStorage, unsigned char, lan_config.alarmlocal)                        \
  F(VALUE, fSetRecordStorage, unsigned char, lan_config.recordlocal)                      \
  F(VALUE, fSetClickSnapStorage, unsigned char, lan_config.nClickSnapStorage)             \
  F(VALUE, fSetAVIDuration, unsigned char, lan_config.aviduration)                        \
  F(VALUE, fSetAVIFormat, unsigned char, lan_config.aviformat)                            \
  /* camera: inputs and outputs */                                                        \
  F(VALUE, fSetGIOInEnable, unsigned char, lan_config.gioinenable)                        \
  F(VALUE, fSetGIOInType, unsigned char, lan_config.giointype)                            \
  F(VALUE, fSetGIOOutEnable, unsigned char, lan_config.giooutenable)                      \
  F(VALUE, fSetGIOOutType, unsigned char, lan_config.gioouttype)                          \
  /* camera: stamps and OSD */                                                            \
  F(VALUE, fSetTStampEnable, unsigned char, lan_config.tstampenable)                      \
  F(VALUE, fSetDateFormat, unsigned char, lan_config.dateformat)                          \
  F(VALUE, fSetTStampFormat, unsigned char, lan_config.tstampformat)                      \
  F(VALUE, fSetDatePosition, unsigned char, lan_config.dateposition)                      \
  F(VALUE, fSetTimePosition, unsigned char, lan_config.timeposition)                      \
  F(VALUE, fSetOSDStream, unsigned char, lan_config.osdstream)                            \
  F(VALUE, fSetOSDWinNum, unsigned char, lan_config.osdwinnum)                            \
  F(VALUE, fSetOSDWin, unsigned char, lan_config.osdwin)                                  \
  /* camera: schedules */                                                                 \
  F(VALUE, fSetScheduleRepeatEnable, unsigned char, lan_config.nScheduleRepeatEnable)     \
  F(VALUE, fSetScheduleNumWeeks, unsigned char, lan_config.nScheduleNumWeeks)             \
  F(VALUE, fSetScheduleInfiniteEnable, unsigned char, lan_config.nScheduleInfiniteEnable) \
  /* network */                                                                           \
  F(NOW, fSetIp, struct in_addr, lan_config.net.ip)                                       \
  F(VALUE, fSetNetMask, struct in_addr, lan_config.net.netmask)                           \
  F(VALUE, fSetGateway, struct in_addr, lan_config.net.gateway)                           \
  F(VALUE, fSetDns, struct in_addr, lan_config.net.dns)                                   \
  F(VALUE, fSetHttpPort, unsigned short, lan_config.net.http_port)                        \
  F(VALUE, fSetHttpsPort, unsigned short, lan_config.net.https_port)                      \
  F(VALUE, fSetDhcpEnable, unsigned char, lan_config.net.dhcp_enable)                     \
  F(VALUE, fsetdiscoverymode, unsigned char, lan_config.net.discovery_mode)               \
  F(TEXT, fSetSntpServer, char, lan_config.net.ntp_server)                                \
  F(VALUE, fSetTimeZone, unsigned char, lan_config.net.ntp_timezone)                      \
  F(VALUE, fSetTimeFormat, unsigned char, lan_config.net.time_format)                     \
  F(VALUE, fSetDaylightTime, unsigned char, lan_config.net.daylight_time)                 \
  F(VALUE, fSetMPEG4Res, unsigned char, lan_config.net.mpeg4resolution)                   \
  F(VALUE, fSetMPEG42Res, unsigned char, lan_config.net.mpeg42resolution)                 \
  F(VALUE, fSetResolution, unsigned char, lan_config.net.liveresolution)                  \
  F(VALUE, fSetImageFormat, unsigned char, lan_config.net.imageformat)                    \
  F(VALUE, fSetImageSource, unsigned char, lan_config.net.imagesource)                    \
  F(IF_CHANGED, fSetNetMulticast, unsigned char, lan_config.net.multicast_enable)         \
  F(IF_CHANGED, fSetPtzSupport, unsigned char, lan_config.net.supportptzpage)

#define FILE_MSG_DECLARE_VALUE(name, type) int name(type value);
#define FILE_MSG_DECLARE_LOW_BYTE(name, type) int name(type value);
#define FILE_MSG_DECLARE_IF_CHANGED(name, type) int name(type value);
#define FILE_MSG_DECLARE_NOW(name, type) int name(type value);
#define FILE_MSG_DECLARE_TEXT(name, type) int name(void *buf, int len);
#define FILE_MSG_DECLARE_SETTER(kind, name, type, field) FILE_MSG_DECLARE_##kind(name, type)
/* The setters of the table above, each declared by its kind. */
FILE_MSG_FIELD_SETTERS(FILE_MSG_DECLARE_SETTER)

/* ---- setters with a rule of their own ------------------------------------------------------
 * Indexes are bounded by their arrays: out of range, nothing changes and the result is -1. */

/* Up to 4 bytes of motion blocks; -1 when len is greater than 4. */
int fSetMotionBlock(char *pValue, int len);
/* The RS-485 port setting is one byte: the value's low byte is stored. */
int fSetRS485Port(unsigned short value);
int fSetStreamActive(unsigned char stream1, unsigned char stream2, unsigned char stream3,
                     unsigned char stream4, unsigned char stream5, unsigned char stream6);
/* Picture size of stream 1 to 6 (1 and 4 JPEG, 2 and 3 MPEG-4, 5 and 6 H.264). Any other
 * stream stores nothing but the write is still requested. */
int fSetVideoSize(unsigned char stream, int Xvalue, int Yvalue);
/* Schedule `index` (0 to 7), and the current day and year. */
int fSetSchedule(int index, Schedule_t *pSchedule, int day, int year);

typedef struct {
  char hostname[HOSTNAME_LEN];
} hostname_tmp;
/* Copies the 128-byte name (it must end within them) and counts one more relay. */
int fsethostname(hostname_tmp *host);
/* Account `index` (0 to 15); both copy the whole account. */
int fSetAcount(int index, Acount_t *acout);
int fDelAcount(int index, Acount_t *acout);
/* Stream 0 to 2: rescales its regions of interest (and for stream 0 the face rectangle) to
 * the new size, stores size, port, name (at most 74 characters) and the streaming path
 * that belongs to the port, then saves. */
int fSetStreamConfig(unsigned char stream, int width, int height, char *name, int portnum);
/* Fetch the record with a read request and scale the face rectangle (stream 0 only), or
 * the regions of interest of `stream` (0 to 2), from the previous size to width x height;
 * no write request. A previous size of 0 leaves the coordinates as they are. */
int fResetFDROIParam(int stream, int width, int height);
int fResetCodecROIParam(int stream, int width, int height);

/* ---- ONVIF ---------------------------------------------------------------------------------
 * Each argument record begins with the position (0 to MAX_PROF - 1) of its profile, relay
 * (0 to MAX_RELAYS - 1) or imaging setting (0 to MAX_IMAGING - 1). */

typedef struct {
  int32_t position;
  char profile_name[20];
  char profile_token[20];
} media_profile;
typedef struct {
  int32_t position;
  VideoSourceConfiguration conf;
} video_source_conf;
typedef struct {
  int32_t position;
  VideoEncoderConfiguration conf;
} video_encoder_conf;
typedef struct {
  int32_t position;
  AudioSourceConfiguration conf;
} audio_source_conf;
typedef struct {
  int32_t position;
  AudioEncoderConfiguration conf;
} audio_encoder_conf;
typedef struct {
  int32_t position;
  VideoAnalyticsConfiguration conf;
} video_analytics_conf;
typedef struct {
  int32_t position;
  VideoOutputConfiguration conf;
} video_output_conf;
typedef struct {
  int32_t position;
  MetadataConfiguration conf;
} metadata_conf;
typedef struct {
  int32_t position;
  Onvif_Relay_in relay;
} relay_conf;
typedef struct {
  int32_t position;
  int32_t relaylogicalstate;
} relay_logical_state;
typedef struct {
  int32_t position;
  Imaging_Conf imaging;
} imaging_conf_tmp;

/* Name and token into profile `index`; one more profile in use (at most MAX_PROF). */
int fsetmediaprofile(int index, media_profile *profile);
/* Removes profile `index` (0 to the number in use, and below MAX_PROF): the last used one
 * takes its place; one profile fewer. -1 when no profile is in use. */
int fdelprofile(int index);
int fsetvideosourceconfiguration(video_source_conf *conf);
int faddvideosourceconfiguration(video_source_conf *conf);
int fsetvideoencoderconfiguration(video_encoder_conf *conf);
int faddvideoencoderconfiguration(video_encoder_conf *conf);
int fdelvideoencoderconfiguration(int index);
int fsetaudiosourceconfiguration(audio_source_conf *conf);
/* Only the token the request names (bytes 24 to 43 of the configuration). */
int faddaudiosourceconfiguration(audio_source_conf *conf);
int fremoveaudiosource(int index);
int fsetaudioencoderconfiguration(audio_encoder_conf *conf);
int faddaudioencoderconfiguration(audio_encoder_conf *conf);
int fremoveaudioencoder(int index);
int fsetvideoanalytics(video_analytics_conf *conf);
int fsetvideooutput(video_output_conf *conf);
int fsetmetadata(metadata_conf *conf);
int faddmetadataconfiguration(metadata_conf *conf);
int fsetrelay(relay_conf *relay);
int fsetrelaylogicalstate(relay_logical_state *state);
int fsetimaging(imaging_conf_tmp *imaging);
/* The non-empty `type` and `location` entries of `scopes`. Adding puts each entry that is
 * not listed yet into the first free slot, and fails (-1, nothing changed) when they do not
 * all fit; removing clears every slot that holds one of the entries. */
int faddscopes(Onvif_Scopes *scopes);
int fdelscopes(Onvif_Scopes *scopes);

#ifdef __cplusplus
}
#endif

#ifdef __cplusplus
#include <stddef.h>
static_assert(sizeof(FILE_MSG_BUF) == 32, "FILE_MSG_BUF is 32 bytes on the wire");
static_assert(offsetof(FILE_MSG_BUF, length) == 16 && offsetof(FILE_MSG_BUF, nItemNum) == 28,
              "FILE_MSG_BUF moved");
#endif

#endif
