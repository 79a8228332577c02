// SPDX-License-Identifier: MIT
/*
 * sys_env_type: SysInfo, the recorder's shared settings record, and every record nested in it.
 *
 * The settings file manager keeps one SysInfo at byte 0 of the shared segment of key
 * 12930021; every program maps that segment and reads and writes single fields in place.
 * The layout is a contract with the file manager and with programs built for the board:
 * little-endian, fixed-width fields, natural alignment (the same on the ARM EABI and on
 * x86-64). The C++ block at the end proves every offset a peer relies on.
 */
#ifndef KV_SYS_ENV_TYPE_H
#define KV_SYS_ENV_TYPE_H

#include <netinet/in.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define SYSINFO_SIZE 12600

#define ACOUNT_NUM 16    /* user accounts */
#define MAX_STREAM_NUM 3 /* encoder streams with OSD, codec and ROI settings */
#define MAX_ROI_NUM 3    /* regions of interest per stream */
#define SCHEDULE_NUM 8   /* recording schedules */
#define MAX_PROF 4       /* ONVIF media profiles */
#define MAX_RELAYS 3     /* ONVIF relays */
#define MAX_IMAGING 4    /* ONVIF imaging settings */
#define MAX_SCOPES 3     /* entries of each ONVIF scope list */
#define SCOPE_LEN 100
#define HOSTNAME_LEN 128

/* ---- small records ------------------------------------------------------------------- */

typedef struct {
  char user[32];
  char password[20];
  uint8_t authority;
} Acount_t; /* 53 */

typedef struct {
  uint8_t motionenable;
  uint8_t motioncenable;
  uint8_t motionlevel;
  uint8_t motioncvalue;
  uint8_t motionblock[4];
} Motion_Config_Data; /* 8 */

typedef struct {
  uint8_t fdetect;
  uint32_t startX;
  uint32_t startY;
  uint32_t width;
  uint32_t height;
  uint32_t prevwidth;
  uint32_t prevheight;
  uint8_t fdconflevel;
  uint8_t fddirection;
  uint8_t frecog;
  uint8_t frconflevel;
  uint8_t frdatabase;
  uint8_t pmask;
  uint8_t maskoption;
} Face_Config_Data; /* 36 */

typedef struct {
  uint8_t audioON;
  uint8_t audioenable;
  uint8_t audiomode;
  uint8_t audioinvolume;
  uint8_t codectype;
  uint8_t samplerate;
  uint8_t bitrate;
  uint32_t bitrateValue;
  uint8_t alarmlevel;
  uint8_t alarmON;
  uint8_t audiooutvolume;
  uint8_t audiorecvenable;
  uint8_t audioServerIp[256];
} Audio_Config_Data; /* 272 */

typedef struct {
  uint8_t dstampenable;
  uint8_t tstampenable;
  uint8_t nLogoEnable;
  uint8_t nLogoPosition;
  uint8_t nTextEnable;
  uint8_t nTextPosition;
  uint8_t overlaytext[24];
  uint8_t nDetailInfo;
} OSD_config; /* 31 */

typedef struct {
  uint32_t ipRatio;
  uint8_t fIframe;
  uint8_t qpInit;
  uint8_t qpMin;
  uint8_t qpMax;
  uint8_t meConfig;
  uint8_t packetSize;
  uint8_t unkown1;
  uint8_t unkown2;
} CodecAdvParam; /* 12 */

typedef struct {
  uint32_t startx;
  uint32_t starty;
  uint32_t width;
  uint32_t height;
} ROI_Param; /* 16 */

typedef struct {
  uint32_t numROI;
  uint32_t prevwidth;
  uint32_t prevheight;
  ROI_Param roi[MAX_ROI_NUM];
} CodecROIParam; /* 60 */

typedef struct {
  uint16_t width;
  uint16_t height;
  uint16_t portnum;
  uint8_t name[75];
  uint8_t portname[75];
} StreamParam; /* 156 */

typedef struct {
  char servier_ip[41];
  char username[32];
  char password[20];
  char foldername[128];
  int32_t image_acount;
  int32_t pid;
  uint16_t port;
  uint8_t rftpenable;
  uint8_t ftpfileformat;
} Ftp_Config_Data; /* 236 */

typedef struct {
  char servier_ip[41];
  uint16_t server_port;
  char username[32];
  char password[20];
  uint8_t authentication;
  char sender_email[256];
  char receiver_email[256];
  char CC[256];
  char subject[256];
  char text[256];
  uint8_t attachments;
  uint8_t view;
  uint8_t asmtpattach;
  uint8_t attfileformat;
} Smtp_Config_Data; /* 1382 */

typedef struct {
  uint8_t sdfileformat;
  uint8_t sdrenable;
  uint8_t sdinsert;
} Sdcard_Config_Data; /* 3 */

typedef struct {
  char ptzzoomin[6];
  char ptzzoomout[7];
  char ptzpanup[2];
  char ptzpandown[4];
  char ptzpanleft[4];
  char ptzpanright[5];
} Ptz_Config_Data; /* 28 */

/* A broken-down time as the board's 32-bit C library lays out `struct tm`: nine ints, the
 * zone offset and the zone name pointer (meaningless in another process), eleven 32-bit
 * words, so the record is the same on the board and on a 64-bit host. */
typedef struct {
  int32_t tm_sec;
  int32_t tm_min;
  int32_t tm_hour;
  int32_t tm_mday;
  int32_t tm_mon;
  int32_t tm_year;
  int32_t tm_wday;
  int32_t tm_yday;
  int32_t tm_isdst;
  int32_t tm_gmtoff;
  uint32_t tm_zone;
} LogTime_t; /* 44 */

typedef struct {
  char event[50];
  LogTime_t time;
} LogEntry_t; /* 96 */

/* ---- the camera's general settings ---------------------------------------------------- */

typedef struct {
  uint8_t nHour;
  uint8_t nMin;
  uint8_t nSec;
} Time_t;

typedef struct {
  uint8_t bStatus;
  uint8_t nDay;
  Time_t tStart;
  Time_t tDuration;
} Schedule_t; /* 8 */

typedef struct {
  struct in_addr ip;
  struct in_addr netmask;
  struct in_addr gateway;
  struct in_addr dns;
  uint16_t http_port;
  uint16_t https_port;
  uint8_t dhcp_enable;
  uint8_t discovery_mode;
  char ntp_server[41];
  uint8_t ntp_timezone;
  uint8_t time_format;
  uint8_t daylight_time;
  uint8_t MAC[6];
  uint8_t mpeg4resolution;
  uint8_t mpeg42resolution;
  uint8_t liveresolution;
  uint8_t imageformat;
  uint8_t imagesource;
  char manufacturer[64];
  char brandname[64];
  char brandurl[128];
  char modelnumber[64];
  char firmwareversion[64];
  char hardwareid[64];
  uint8_t reserved[339];
  /* feature flags the web pages and the ONVIF service read */
  uint8_t supportmpeg4;
  uint8_t supportmjpeg;
  uint8_t supportavc;
  uint8_t supportaudio;
  uint8_t supportmotion;
  uint8_t supportfd;
  uint8_t supportwifi;
  uint8_t supportptzpage;
  uint8_t supportsd;
  uint8_t supportrs485;
  uint8_t supportgio;
  uint8_t supportonvif;
  uint8_t supportupnp;
  uint8_t supportddns;
  uint8_t supportsnapshot;
  uint8_t multicast_enable;
} Network_Config_Data; /* 880 */

typedef struct {
  /* title and host name */
  char title[24];
  char hostname[HOSTNAME_LEN];
  char regusr[20];
  uint8_t chipConfig;
  /* image controls */
  uint8_t nWhiteBalance;
  uint8_t nDayNight;
  uint8_t nBinning;
  uint8_t nBacklightControl;
  uint8_t nBackLight;
  uint8_t nBrightness;
  uint8_t nContrast;
  uint8_t nSaturation;
  uint8_t nSharpness;
  uint8_t mirror;
  uint8_t nAEWswitch;
  uint8_t nAEWtype;
  uint8_t histogram;
  uint8_t dynRange;
  uint8_t maxexposure;
  uint8_t maxgain;
  uint8_t expPriority;
  /* alarm switches, storage, inputs and outputs */
  uint8_t lostalarm;
  uint8_t bSdaEnable;
  uint8_t bAFtpEnable;
  uint8_t bASmtpEnable;
  uint8_t nAlarmDuration;
  uint8_t alarmstatus;
  uint8_t nAlarmEnable;
  uint8_t nExtAlarm;
  uint8_t nAlarmAudioPlay;
  uint8_t nAlarmAudioFile;
  uint8_t alarmlocal;
  uint8_t recordlocal;
  uint8_t nClickSnapStorage;
  uint8_t rs485config;
  char nClickSnapFilename[16];
  uint8_t aviduration;
  uint8_t aviformat;
  uint8_t gioinenable;
  uint8_t giointype;
  uint8_t giooutenable;
  uint8_t gioouttype;
  /* streams, codecs, frame and bit rates, picture sizes */
  uint8_t nStreamType;
  uint8_t nVideocodecmode;
  uint8_t nVideocombo;
  uint8_t nVideocodecres;
  uint8_t nRateControl;
  uint8_t nRateControl1;
  uint8_t nRateControl2;
  uint8_t njpegquality;
  uint8_t AdvanceMode;
  uint8_t democfg;
  uint8_t nEncryptVideo;
  uint8_t nLocalDisplay;
  uint8_t Supportstream1;
  uint8_t Supportstream2;
  uint8_t Supportstream3;
  uint8_t Supportstream4;
  uint8_t Supportstream5;
  uint8_t Supportstream6;
  uint8_t nFrameRate1;
  uint8_t nFrameRate2;
  uint8_t nFrameRate3;
  int32_t nMpeg41bitrate;
  int32_t nMpeg42bitrate;
  int32_t JpegXsize;
  int32_t JpegYsize;
  int32_t Mpeg41Xsize;
  int32_t Mpeg41Ysize;
  int32_t Mpeg42Xsize;
  int32_t Mpeg42Ysize;
  int32_t Avc1Xsize;
  int32_t Avc1Ysize;
  int32_t Avc2Xsize;
  int32_t Avc2Ysize;
  /* stamps and OSD */
  uint8_t tstampenable;
  uint8_t dateformat;
  uint8_t tstampformat;
  uint8_t dateposition;
  uint8_t timeposition;
  uint8_t osdstream;
  uint8_t osdwinnum;
  uint8_t osdwin;
  char osdtext[24];
  /* schedules */
  uint8_t nScheduleRepeatEnable;
  uint8_t nScheduleNumWeeks;
  uint8_t nScheduleInfiniteEnable;
  Schedule_t aSchedules[SCHEDULE_NUM];
  int32_t schedCurDay;
  int32_t schedCurYear;
  /* model name and frame-rate values */
  char modelname[24];
  int32_t frameRateVal1;
  int32_t frameRateVal2;
  int32_t frameRateVal3;
  Network_Config_Data net;
} Lancam_Config_Data; /* 1320 */

/* ---- ONVIF ------------------------------------------------------------------------------ */

typedef struct {
  int32_t nIPType;
  char IPv4Addr[20];
  char IPv6Addr[40];
  int32_t port;
  int32_t ttl;
  int32_t autostart;
} Multicast_Conf; /* 76 */

/* Every ONVIF configuration begins with its name, use count and token. */
typedef struct {
  char Vname[20];
  int32_t Vcount;
  char Vtoken[20];
  char Vsourcetoken[20];
  int32_t windowx;
  int32_t windowy;
  int32_t windowwidth;
  int32_t windowheight;
} VideoSourceConfiguration; /* 80 */

typedef struct {
  char Aname[20];
  int32_t Ausecount;
  char Atoken[20]; /* bytes 24 to 43: what an "add" request names */
  char Asourcetoken[20];
} AudioSourceConfiguration; /* 64 */

typedef struct {
  char VEname[20];
  int32_t VEusecount;
  char VEtoken[20];
  int32_t Vencoder;
  int32_t Rwidth;
  int32_t Rheight;
  float VEquality;
  int32_t frameratelimit;
  int32_t encodinginterval;
  int32_t bitratelimit;
  int32_t Mpeggovlength;
  int32_t Mpegprofile;
  int32_t H264govlength;
  int32_t H264profile;
  int32_t sessiontimeout;
  Multicast_Conf Multicast_Conf;
} VideoEncoderConfiguration; /* 168 */

typedef struct {
  char AEname[20];
  int32_t AEusecount;
  char AEtoken[20];
  int32_t AEencoding;
  int32_t bitrate;
  int32_t samplerate;
} AudioEncoderConfiguration; /* 56 */

typedef struct {
  char VAname[20];
  int32_t VAusecount;
  char VAtoken[20];
  int32_t nrules;
  int32_t nmodules;
  char rule_name[64];
  char rule_type[64];
  char module_name[44];
  char module_type[44];
} VideoAnalyticsConfiguration; /* 268 */

typedef struct {
  char VOname[20];
  int32_t VOusecount;
  char VOtoken[20];
} VideoOutputConfiguration; /* 44 */

typedef struct {
  char PTZname[20];
  int32_t PTZusecount;
  char PTZtoken[20];
  char PTZnodetoken[20];
  char DefaultAbsolutePantTiltPositionSpace[64];
  char DefaultAbsoluteZoomPositionSpace[64];
  char DefaultRelativePanTiltTranslationSpace[64];
  char DefaultRelativeZoomTranslationSpace[64];
  char DefaultContinuousPanTiltVelocitySpace[64];
  char DefaultContinuousZoomVelocitySpace[64];
  float PanTiltSpeedX;
  float PanTiltSpeedY;
  float ZoomSpeedX;
  int32_t DefaultPTZTimeout;
} PTZConfiguration; /* 464 */

typedef struct {
  char AOtoken[20];
  int32_t AOusecount;
  int32_t AOoutputlevel;
  int32_t AOsendprimacy;
} AudioOutputConfiguration; /* 32 */

typedef struct {
  char MDname[20];
  int32_t MDusecount;
  char MDtoken[20];
  int32_t MDanalytics;
  int32_t sessiontimeout;
  Multicast_Conf VMC;
} MetadataConfiguration; /* 128 */

typedef struct {
  char profile_name[20];
  char profile_token[20];
  int32_t fixed;
  VideoSourceConfiguration AVSC;
  AudioSourceConfiguration AASC;
  VideoEncoderConfiguration AESC;
  AudioEncoderConfiguration AAEC;
  VideoAnalyticsConfiguration AVAC;
  VideoOutputConfiguration AVOC;
  PTZConfiguration PTZC;
  AudioOutputConfiguration AAOC;
  MetadataConfiguration MDC;
} Onvif_profile; /* 1348 */

typedef struct {
  char type[MAX_SCOPES][SCOPE_LEN];
  char name[50];
  char location[MAX_SCOPES][SCOPE_LEN];
  char hardware[50];
} Onvif_Scopes; /* 700 */

typedef struct {
  char token[20];
  int32_t relaymode;
  int32_t delaytime;
  int32_t idlestate;
} Onvif_Relay_in; /* 32 */

typedef struct {
  int32_t relaylogicalstate;
  Onvif_Relay_in onvif_relay_in;
} Onvif_Relay; /* 36 */

typedef struct {
  char Isourcetoken[20];
  int32_t BacklightCompensationMode;
  float BacklightCompensationLevel;
  float Brightness;
  float ColorSaturation;
  float Contrast;
  int32_t ExposureMode;
  int32_t ExposurePriority;
  float WindowBottom;
  float WindowTop;
  float WindowRight;
  float WindowLeft;
  float MinExposureTime;
  float MaxExposureTime;
  float MinGain;
  float MaxGain;
  float MinIris;
  float MaxIris;
  float ExposureTime;
  float Gain;
  float Iris;
  int32_t AutoFocusMode;
  float DefaultSpeed;
  float NearLimit;
  float FarLimit;
  int32_t IrCutFilterMode;
  float Sharpness;
  int32_t WideDynamicMode;
  float WideDynamicLevel;
  int32_t WhiteBalanceMode;
  float CrGain;
  float CbGain;
} Imaging_Conf; /* 144 */

/* ---- the recorder's own settings and shared status -------------------------------------- */

typedef struct {
  uint8_t bRunning; /* the recorder is up; the supervisor watches the servers only then */
  uint8_t bBootProcessed;
  uint8_t state;
  uint8_t prev_state;
  uint8_t record_state; /* a BB_RECORD_* value */
  uint8_t prev_record_state;
  uint8_t event_alarm_duration;
  uint8_t flag_impact_event_exist;
  uint8_t wifi_state;
  uint8_t dns_user_count;
  char dns_mac_address[40];
  uint8_t limit_space_type;
  uint8_t limit_space_percent_type;
  uint8_t limit_space_percent_always;
  uint8_t limit_space_percent_event;
  uint8_t limit_space_percent_parking;
  int32_t wifi_off_timer_sec;
  uint8_t led_on;
  uint8_t led_rec_always;
  uint8_t led_rec_parking;
  uint8_t gsensor_intensity_always_x;
  uint8_t gsensor_intensity_always_y;
  uint8_t gsensor_intensity_always_z;
  uint8_t gsensor_intensity_parking_x;
  uint8_t gsensor_intensity_parking_y;
  uint8_t gsensor_intensity_parking_z;
  uint8_t voice_system;
  uint8_t voice_rec_always;
  uint8_t voice_rec_event;
  uint8_t voice_rec_parking;
  uint8_t voice_park_impact_noti;
  uint8_t use_rec_always;
  uint8_t use_rec_parking_always;
  uint8_t use_rec_parking_always_web;
  int32_t park_in_sec;
  int32_t park_duration_min;
  int32_t new_park_duration_min;
  double park_shutdown_voltage;
  double park_voltage;
  uint8_t park_voltage_manual_flag;
  uint8_t limit_space_voice_noti;
  uint8_t limit_space_voice_noti_count;
  uint8_t local_display;
  uint8_t restart_requested;
  uint8_t reset_requested;
  uint8_t restart_state; /* 1 while restarting: the OSD is not refreshed */
  char wifi_ap_ssid[32];
  char wifi_ap_pwd[20];
  uint8_t wifi_channel;
  uint8_t wifi_restart_requested;
  uint8_t gps_speed_display; /* derive the OSD speed from GPS */
  int32_t gps_speed;         /* speed for the OSD, km/h or mph; -1 none */
  uint8_t gps_speed_activate;
  uint8_t gps_sync_time; /* set the clock from GPS */
  uint8_t gps_sync_time_activate;
  int64_t gps_sync_time_counter; /* tick of the last clock setting from GPS */
  int32_t gps_sync_time_time;    /* clock value set from GPS */
  int32_t gps_timezone;          /* signed +-HHMM */
  uint8_t gps_proc_alive;        /* 1 while kv_navlink runs */
  uint8_t gps_cable_connected;
  uint8_t gps_need_alert; /* announce the GPS signal at the next fix */
  uint8_t power_state;
  uint8_t audio_enable;
  uint8_t display_mode;
  uint8_t display_framerate;
  uint8_t display_quality;
  uint8_t display_mode_park;
  uint8_t display_framerate_park;
  uint8_t display_quality_park;
  uint8_t debug_flag;
  uint8_t display_brightness;
  int32_t sysinfo_version;
  uint8_t wifi_off_requested;
  uint8_t connect_device_type;
  char current_recording_file[128];
  int32_t last_serial_book;
  uint8_t system_drive_park_state; /* 200 while parked */
  char language[4];
  uint8_t boot_sound_flag;
  uint8_t error_flag; /* set by anyone to ask for a unit restart; the supervisor clears it */
  uint8_t request_save_setting_flag;
  int32_t check_disk_result;
  uint8_t record_pause_requested;
  uint8_t record_resume_requested;
  double current_voltage;
  uint8_t osd_info_flag;
  uint8_t park_led_update_flag;
  uint8_t setting_time_flag;
  uint8_t av_cable_connect_flag;
  int32_t reboot_requested;
  int32_t use_drive_shutdown_voltage;
  int32_t osd_speed_display_type; /* 1 = mph */
  char lang_changed_temp[4];
  uint8_t setting_initialize_flag;
  uint8_t shutdown_voltage_use_flag;
  uint8_t park_voltage_use_flag;
  int32_t park_counter_time;
  int32_t drive_stop_count;
  uint8_t recording_interval_drive;
  uint8_t recording_interval_park;
  uint8_t recording_interval_event;
  int32_t recording_interval_time;
  uint8_t format_requested;
  uint8_t remote_format_processing;
  uint8_t ddns_use_flag;
  uint8_t ddns_boot_start_flag;
  char ddns_ssid[128];
  char ddns_pwd[20];
  uint8_t ddns_security;
  uint8_t ddns_high_quality_flag;
  char ddns_web_pwd[20];
  uint8_t wifi_connect_type;
  char device_name[20];
  uint8_t wifi_boot_start_flag;
  char mac_address[40];
  uint8_t wifi_ap_always_on_flag;
  uint8_t button_control;
  uint8_t factory_test_flag;
  uint8_t front_rear_type; /* 0 single unit, 1 front unit, 2 rear unit */
  uint8_t rear_connected;
  char rear_mac_address[40];
  char rear_ip_address[32];
  uint8_t remote_device_on; /* rear unit: send keep-alives */
  uint8_t file_name_order_type;
  uint8_t file_name_sync_type;
  int32_t file_name_ref_time;
  int32_t file_name_tmp_time;
  uint8_t recording_interval_drive_2ch;
  uint8_t use_rec_parking_always_2ch;
  uint8_t button_control_2ch;
  int64_t last_rear_alive_received; /* tick of the last sign of life of the rear unit */
  uint8_t rear_wifi_ap_mode_flag;
  uint8_t version_not_match_flag;
  double park_shutdown_voltage_2ch;
  double park_voltage_2ch;
  uint8_t start_detect_activate;
  uint8_t start_detect_sensitivity;
  uint8_t wifi_keep_alive;
  uint8_t is_sdxc;
} KV_Config_Data; /* 792 */

/* ---- the whole record ------------------------------------------------------------------- */

typedef struct {
  uint32_t relUniqueId;
  uint32_t nprofile; /* ONVIF media profiles in use */
  uint32_t nrelays;
  Acount_t acounts[ACOUNT_NUM];
  uint16_t DeviceType;
  Motion_Config_Data motion_config;
  Face_Config_Data face_config;
  Audio_Config_Data audio_config;
  OSD_config osd_config[MAX_STREAM_NUM];
  CodecAdvParam codec_advconfig[MAX_STREAM_NUM];
  CodecROIParam codec_roiconfig[MAX_STREAM_NUM];
  StreamParam stream_config[MAX_STREAM_NUM];
  Ftp_Config_Data ftp_config;
  Smtp_Config_Data smtp_config;
  Sdcard_Config_Data sdcard_config;
  Lancam_Config_Data lan_config;
  Ptz_Config_Data ptz_config;
  LogEntry_t tCurLog; /* the log entry being written or read */
  Onvif_profile Oprofile[MAX_PROF];
  Onvif_Scopes onvif_scopes;
  Onvif_Relay onvif_relay[MAX_RELAYS];
  Imaging_Conf imaging_conf[MAX_IMAGING];
  KV_Config_Data kv_config;
} SysInfo; /* 12600 */

#ifdef __cplusplus
}
#endif

#ifdef __cplusplus
#include <stddef.h>

/* ---- layout proof: what the file manager and the board's programs rely on ---------------- */

#define KV_LAYOUT(type, member, offset) \
  static_assert(offsetof(type, member) == (offset), #type "." #member " moved")
#define KV_SIZE(type, size) static_assert(sizeof(type) == (size), #type " changed size")

KV_SIZE(SysInfo, SYSINFO_SIZE);
KV_LAYOUT(SysInfo, relUniqueId, 0);
KV_LAYOUT(SysInfo, nprofile, 4);
KV_LAYOUT(SysInfo, nrelays, 8);
KV_LAYOUT(SysInfo, acounts, 12);
KV_LAYOUT(SysInfo, DeviceType, 860);
KV_LAYOUT(SysInfo, motion_config, 862);
KV_LAYOUT(SysInfo, face_config, 872);
KV_LAYOUT(SysInfo, audio_config, 908);
KV_LAYOUT(SysInfo, osd_config, 1180);
KV_LAYOUT(SysInfo, codec_advconfig, 1276);
KV_LAYOUT(SysInfo, codec_roiconfig, 1312);
KV_LAYOUT(SysInfo, stream_config, 1492);
KV_LAYOUT(SysInfo, ftp_config, 1960);
KV_LAYOUT(SysInfo, smtp_config, 2196);
KV_LAYOUT(SysInfo, sdcard_config, 3578);
KV_LAYOUT(SysInfo, lan_config, 3584);
KV_LAYOUT(SysInfo, ptz_config, 4904);
KV_LAYOUT(SysInfo, tCurLog, 4932);
KV_LAYOUT(SysInfo, Oprofile, 5028);
KV_LAYOUT(SysInfo, onvif_scopes, 10420);
KV_LAYOUT(SysInfo, onvif_relay, 11120);
KV_LAYOUT(SysInfo, imaging_conf, 11228);
KV_LAYOUT(SysInfo, kv_config, 11808);
KV_LAYOUT(SysInfo, audio_config.audiorecvenable, 923);

KV_SIZE(Acount_t, 53);
KV_LAYOUT(Acount_t, password, 32);
KV_LAYOUT(Acount_t, authority, 52);
KV_SIZE(Motion_Config_Data, 8);
KV_LAYOUT(Motion_Config_Data, motionblock, 4);
KV_SIZE(Face_Config_Data, 36);
KV_LAYOUT(Face_Config_Data, startX, 4);
KV_LAYOUT(Face_Config_Data, prevheight, 24);
KV_LAYOUT(Face_Config_Data, fdconflevel, 28);
KV_LAYOUT(Face_Config_Data, maskoption, 34);
KV_SIZE(Audio_Config_Data, 272);
KV_LAYOUT(Audio_Config_Data, bitrate, 6);
KV_LAYOUT(Audio_Config_Data, bitrateValue, 8);
KV_LAYOUT(Audio_Config_Data, alarmlevel, 12);
KV_LAYOUT(Audio_Config_Data, audiorecvenable, 15);
KV_LAYOUT(Audio_Config_Data, audioServerIp, 16);
KV_SIZE(OSD_config, 31);
KV_LAYOUT(OSD_config, overlaytext, 6);
KV_LAYOUT(OSD_config, nDetailInfo, 30);
KV_SIZE(CodecAdvParam, 12);
KV_LAYOUT(CodecAdvParam, fIframe, 4);
KV_LAYOUT(CodecAdvParam, meConfig, 8);
KV_LAYOUT(CodecAdvParam, unkown2, 11);
KV_SIZE(ROI_Param, 16);
KV_SIZE(CodecROIParam, 60);
KV_LAYOUT(CodecROIParam, prevheight, 8);
KV_LAYOUT(CodecROIParam, roi, 12);
KV_SIZE(StreamParam, 156);
KV_LAYOUT(StreamParam, portnum, 4);
KV_LAYOUT(StreamParam, name, 6);
KV_LAYOUT(StreamParam, portname, 81);
KV_SIZE(Ftp_Config_Data, 236);
KV_LAYOUT(Ftp_Config_Data, username, 41);
KV_LAYOUT(Ftp_Config_Data, password, 73);
KV_LAYOUT(Ftp_Config_Data, foldername, 93);
KV_LAYOUT(Ftp_Config_Data, image_acount, 224);
KV_LAYOUT(Ftp_Config_Data, pid, 228);
KV_LAYOUT(Ftp_Config_Data, port, 232);
KV_LAYOUT(Ftp_Config_Data, rftpenable, 234);
KV_LAYOUT(Ftp_Config_Data, ftpfileformat, 235);
KV_SIZE(Smtp_Config_Data, 1382);
KV_LAYOUT(Smtp_Config_Data, server_port, 42);
KV_LAYOUT(Smtp_Config_Data, username, 44);
KV_LAYOUT(Smtp_Config_Data, password, 76);
KV_LAYOUT(Smtp_Config_Data, authentication, 96);
KV_LAYOUT(Smtp_Config_Data, sender_email, 97);
KV_LAYOUT(Smtp_Config_Data, receiver_email, 353);
KV_LAYOUT(Smtp_Config_Data, CC, 609);
KV_LAYOUT(Smtp_Config_Data, subject, 865);
KV_LAYOUT(Smtp_Config_Data, text, 1121);
KV_LAYOUT(Smtp_Config_Data, attachments, 1377);
KV_LAYOUT(Smtp_Config_Data, attfileformat, 1380);
KV_SIZE(Sdcard_Config_Data, 3);
KV_SIZE(Ptz_Config_Data, 28);
KV_LAYOUT(Ptz_Config_Data, ptzzoomout, 6);
KV_LAYOUT(Ptz_Config_Data, ptzpanup, 13);
KV_LAYOUT(Ptz_Config_Data, ptzpandown, 15);
KV_LAYOUT(Ptz_Config_Data, ptzpanleft, 19);
KV_LAYOUT(Ptz_Config_Data, ptzpanright, 23);
KV_SIZE(LogTime_t, 44);
KV_SIZE(LogEntry_t, 96);
KV_LAYOUT(LogEntry_t, time, 52);
KV_SIZE(Schedule_t, 8);
KV_SIZE(Network_Config_Data, 880);
KV_LAYOUT(Network_Config_Data, ntp_server, 22);
KV_LAYOUT(Network_Config_Data, multicast_enable, 879);
KV_SIZE(Lancam_Config_Data, 1320);
KV_LAYOUT(Lancam_Config_Data, hostname, 24);
KV_LAYOUT(Lancam_Config_Data, rs485config, 203); /* nClickSnapFilename follows it */
KV_LAYOUT(Lancam_Config_Data, nClickSnapFilename, 204);
KV_LAYOUT(Lancam_Config_Data, nMpeg41bitrate, 248);
KV_LAYOUT(Lancam_Config_Data, osdtext, 304);
KV_LAYOUT(Lancam_Config_Data, aSchedules, 331);
KV_LAYOUT(Lancam_Config_Data, schedCurDay, 396);
KV_LAYOUT(Lancam_Config_Data, frameRateVal3, 436);
KV_LAYOUT(Lancam_Config_Data, net, 440);
KV_SIZE(Multicast_Conf, 76);
KV_SIZE(VideoSourceConfiguration, 80);
KV_SIZE(AudioSourceConfiguration, 64);
KV_LAYOUT(AudioSourceConfiguration, Atoken, 24);
KV_SIZE(VideoEncoderConfiguration, 168);
KV_SIZE(AudioEncoderConfiguration, 56);
KV_SIZE(VideoAnalyticsConfiguration, 268);
KV_SIZE(VideoOutputConfiguration, 44);
KV_SIZE(MetadataConfiguration, 128);
KV_SIZE(Onvif_profile, 1348);
KV_LAYOUT(Onvif_profile, fixed, 40);
KV_LAYOUT(Onvif_profile, AVSC, 44);
KV_LAYOUT(Onvif_profile, AASC, 124);
KV_LAYOUT(Onvif_profile, AESC, 188);
KV_LAYOUT(Onvif_profile, AAEC, 356);
KV_LAYOUT(Onvif_profile, AVAC, 412);
KV_LAYOUT(Onvif_profile, AVOC, 680);
KV_LAYOUT(Onvif_profile, MDC, 1220);
KV_SIZE(Onvif_Scopes, 700);
KV_LAYOUT(Onvif_Scopes, name, 300);
KV_LAYOUT(Onvif_Scopes, location, 350);
KV_LAYOUT(Onvif_Scopes, hardware, 650);
KV_SIZE(Onvif_Relay_in, 32);
KV_SIZE(Onvif_Relay, 36);
KV_LAYOUT(Onvif_Relay, onvif_relay_in, 4);
KV_SIZE(Imaging_Conf, 144);
KV_SIZE(KV_Config_Data, 792);

/* Every field of kv_config at its offset in SysInfo. */
#define KV_CONFIG_LAYOUT(X)              \
  X(bRunning, 11808)                     \
  X(bBootProcessed, 11809)               \
  X(state, 11810)                        \
  X(prev_state, 11811)                   \
  X(record_state, 11812)                 \
  X(prev_record_state, 11813)            \
  X(event_alarm_duration, 11814)         \
  X(flag_impact_event_exist, 11815)      \
  X(wifi_state, 11816)                   \
  X(dns_user_count, 11817)               \
  X(dns_mac_address, 11818)              \
  X(limit_space_type, 11858)             \
  X(limit_space_percent_type, 11859)     \
  X(limit_space_percent_always, 11860)   \
  X(limit_space_percent_event, 11861)    \
  X(limit_space_percent_parking, 11862)  \
  X(wifi_off_timer_sec, 11864)           \
  X(led_on, 11868)                       \
  X(led_rec_always, 11869)               \
  X(led_rec_parking, 11870)              \
  X(gsensor_intensity_always_x, 11871)   \
  X(gsensor_intensity_always_y, 11872)   \
  X(gsensor_intensity_always_z, 11873)   \
  X(gsensor_intensity_parking_x, 11874)  \
  X(gsensor_intensity_parking_y, 11875)  \
  X(gsensor_intensity_parking_z, 11876)  \
  X(voice_system, 11877)                 \
  X(voice_rec_always, 11878)             \
  X(voice_rec_event, 11879)              \
  X(voice_rec_parking, 11880)            \
  X(voice_park_impact_noti, 11881)       \
  X(use_rec_always, 11882)               \
  X(use_rec_parking_always, 11883)       \
  X(use_rec_parking_always_web, 11884)   \
  X(park_in_sec, 11888)                  \
  X(park_duration_min, 11892)            \
  X(new_park_duration_min, 11896)        \
  X(park_shutdown_voltage, 11904)        \
  X(park_voltage, 11912)                 \
  X(park_voltage_manual_flag, 11920)     \
  X(limit_space_voice_noti, 11921)       \
  X(limit_space_voice_noti_count, 11922) \
  X(local_display, 11923)                \
  X(restart_requested, 11924)            \
  X(reset_requested, 11925)              \
  X(restart_state, 11926)                \
  X(wifi_ap_ssid, 11927)                 \
  X(wifi_ap_pwd, 11959)                  \
  X(wifi_channel, 11979)                 \
  X(wifi_restart_requested, 11980)       \
  X(gps_speed_display, 11981)            \
  X(gps_speed, 11984)                    \
  X(gps_speed_activate, 11988)           \
  X(gps_sync_time, 11989)                \
  X(gps_sync_time_activate, 11990)       \
  X(gps_sync_time_counter, 11992)        \
  X(gps_sync_time_time, 12000)           \
  X(gps_timezone, 12004)                 \
  X(gps_proc_alive, 12008)               \
  X(gps_cable_connected, 12009)          \
  X(gps_need_alert, 12010)               \
  X(power_state, 12011)                  \
  X(audio_enable, 12012)                 \
  X(display_mode, 12013)                 \
  X(display_framerate, 12014)            \
  X(display_quality, 12015)              \
  X(display_mode_park, 12016)            \
  X(display_framerate_park, 12017)       \
  X(display_quality_park, 12018)         \
  X(debug_flag, 12019)                   \
  X(display_brightness, 12020)           \
  X(sysinfo_version, 12024)              \
  X(wifi_off_requested, 12028)           \
  X(connect_device_type, 12029)          \
  X(current_recording_file, 12030)       \
  X(last_serial_book, 12160)             \
  X(system_drive_park_state, 12164)      \
  X(language, 12165)                     \
  X(boot_sound_flag, 12169)              \
  X(error_flag, 12170)                   \
  X(request_save_setting_flag, 12171)    \
  X(check_disk_result, 12172)            \
  X(record_pause_requested, 12176)       \
  X(record_resume_requested, 12177)      \
  X(current_voltage, 12184)              \
  X(osd_info_flag, 12192)                \
  X(park_led_update_flag, 12193)         \
  X(setting_time_flag, 12194)            \
  X(av_cable_connect_flag, 12195)        \
  X(reboot_requested, 12196)             \
  X(use_drive_shutdown_voltage, 12200)   \
  X(osd_speed_display_type, 12204)       \
  X(lang_changed_temp, 12208)            \
  X(setting_initialize_flag, 12212)      \
  X(shutdown_voltage_use_flag, 12213)    \
  X(park_voltage_use_flag, 12214)        \
  X(park_counter_time, 12216)            \
  X(drive_stop_count, 12220)             \
  X(recording_interval_drive, 12224)     \
  X(recording_interval_park, 12225)      \
  X(recording_interval_event, 12226)     \
  X(recording_interval_time, 12228)      \
  X(format_requested, 12232)             \
  X(remote_format_processing, 12233)     \
  X(ddns_use_flag, 12234)                \
  X(ddns_boot_start_flag, 12235)         \
  X(ddns_ssid, 12236)                    \
  X(ddns_pwd, 12364)                     \
  X(ddns_security, 12384)                \
  X(ddns_high_quality_flag, 12385)       \
  X(ddns_web_pwd, 12386)                 \
  X(wifi_connect_type, 12406)            \
  X(device_name, 12407)                  \
  X(wifi_boot_start_flag, 12427)         \
  X(mac_address, 12428)                  \
  X(wifi_ap_always_on_flag, 12468)       \
  X(button_control, 12469)               \
  X(factory_test_flag, 12470)            \
  X(front_rear_type, 12471)              \
  X(rear_connected, 12472)               \
  X(rear_mac_address, 12473)             \
  X(rear_ip_address, 12513)              \
  X(remote_device_on, 12545)             \
  X(file_name_order_type, 12546)         \
  X(file_name_sync_type, 12547)          \
  X(file_name_ref_time, 12548)           \
  X(file_name_tmp_time, 12552)           \
  X(recording_interval_drive_2ch, 12556) \
  X(use_rec_parking_always_2ch, 12557)   \
  X(button_control_2ch, 12558)           \
  X(last_rear_alive_received, 12560)     \
  X(rear_wifi_ap_mode_flag, 12568)       \
  X(version_not_match_flag, 12569)       \
  X(park_shutdown_voltage_2ch, 12576)    \
  X(park_voltage_2ch, 12584)             \
  X(start_detect_activate, 12592)        \
  X(start_detect_sensitivity, 12593)     \
  X(wifi_keep_alive, 12594)              \
  X(is_sdxc, 12595)                      \
  /* end */
#define KV_CONFIG_AT(field, offset) KV_LAYOUT(SysInfo, kv_config.field, offset);
KV_CONFIG_LAYOUT(KV_CONFIG_AT)
#undef KV_CONFIG_AT

#undef KV_LAYOUT
#undef KV_SIZE
#endif /* __cplusplus */

#endif
