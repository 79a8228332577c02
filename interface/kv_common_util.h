// SPDX-License-Identifier: MIT
/*
 * kv_common_util: storage and common utilities of the recorder.
 *
 * The SD card and the flash partition (detection, mounting, checking, formatting, the
 * write test, free memory and space), the recordings folder (the name rule, counting,
 * sizing and deleting recordings), the time helpers, the conversions between the values the
 * user interface shows and the values the servers store, the device language, version and
 * identity, and small string and process helpers.
 *
 * Every function is a plain, stateless call that runs to completion in the calling thread;
 * none takes a lock. Fixed board paths ("/mnt/mmc", "/proc/mounts" ...) go through the board
 * root (board_root.h); paths handed in by the caller are used as they come, or rooted when
 * they are board paths and a board root is set. Text handed to the shell from a folder
 * listing or a caller is quoted so that it can never run a command.
 */
#ifndef KV_COMMON_UTIL_H
#define KV_COMMON_UTIL_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- fixed places ------------------------------------------------------------------ */

#define KV_SD_MOUNT_POINT "/mnt/mmc"
#define KV_SD_DEVICE "/dev/mmcblk0p1"
#define KV_RECORD_FOLDER "/mnt/mmc/Recordings"
#define KV_NAND_MOUNT_POINT "/mnt/nand"
#define KV_NAND_BLOCK_DEVICE "/dev/mtdblock4"
#define KV_NAND_RAW_DEVICE "/dev/mtd4"
#define KV_MOUNT_TABLE "/proc/mounts"
#define KV_MEMORY_TABLE "/proc/meminfo"
#define KV_BOOT_CHECK_MARKER "/mnt/nand/boot_checkdisk"
#define KV_REPARTITION_SCRIPT "/opt/vcam/repartitioning_mmc.sh"
#define KV_SD_VOLUME_LABEL "TRAVELOGBOX"
#define KV_WRITE_TEST_BASE_NAME "kv_blackbox_temp"
#define KV_WRITE_TEST_PATTERN "*#01234567890ABCDEFGHIJKLMNOPQRSTUVWXYZ#*"
#define KV_LANG_FILE "/mnt/nand/lang"
#define KV_LANG_TEMP_FILE "/mnt/nand/lang_tmp"
#define KV_VERSION_FILE "/mnt/nand/version"
#define KV_IMAGE_VERSION_FILE "/opt/vcam/version"
#define KV_NVRAM_FILE "/opt/vcam/wifi/nvram.txt"
#define KV_DEVICE_VERSION_NODE "/proc/device_version"
#define KV_KERNEL_VERSION_NODE "/proc/version"

/* The boot check marker holds this many bytes: the result in decimal, NUL-padded. */
#define KV_BOOT_CHECK_MARKER_SIZE 20
/* Room PrintFsckMsdosError needs: all eight flag texts and the terminator. */
#define KV_FSCK_ERROR_TEXT_SIZE 78
/* Buffers for paths of the recordings folder. */
#define KV_PATH_SIZE 256

/* ---- card checks ------------------------------------------------------------------- */

enum {
  CHECK_DISK_SUCCESS = 0,       /* done, card mounted again */
  CHECK_DISK_UNMOUNT_FAIL = -1, /* the card stayed mounted */
  CHECK_DISK_MSDOS_FAIL = -2,   /* the checker found an unrepaired error, or formatting failed */
  CHECK_DISK_MOUNT_FAIL = -3,   /* mounting after the check or format failed */
  CHECK_DISK_STORAGE_FULL = -4, /* no room on the card (for callers) */
  CHECK_DISK_INPUT_ERROR = -5,  /* a required argument was missing */
  CHECK_DISK_NO_SDCARD = -100   /* no card in the slot (for callers) */
};

/* Exit-code flags of fsck_msdos (bits 8 to 15 of a system() status). */
#define FSOK 0x00
#define FSBOOTMOD 0x01
#define FSDIRMOD 0x02
#define FSFATMOD 0x04
#define FSERROR 0x08
#define FSFATAL 0x10
#define FSDIRTY 0x20
#define FSFIXFAT 0x40
#define FSEXFAT 0x80
/* Flags that make a check fail; the others report repairs. */
#define FS_FAILED_MASK (FSERROR | FSFATAL | FSDIRTY | FSEXFAT)

int IsSdMounted(void);        /* 1: the card is mounted read-write at /mnt/mmc */
int IsNanMounted(void);       /* 1: /mnt/nand is in the mount table */
int MountSdcard(void);        /* unmounts a stale mount, mounts; IsSdMounted() afterwards */
int UnmountSdcard(void);      /* one "umount"; the system() status */
int UnmountSdcardLazy(void);  /* one "umount -l"; the status */
int UmountSdcardRepeat(void); /* 1 when the card is no longer mounted, -1 when it stays */
int SafeUnmountSd(void);      /* 0 when unmounted, 2 when still mounted */
int MountNand(void);          /* mounts the flash partition; the status */
int UnmountNand(void);        /* one "umount" of the flash; the status */
int UnmountNandLazy(void);    /* one "umount -l" of the flash; the status */
int SafeUnmountNand(void);    /* 0 when unmounted, 2 when still mounted */
int EraseAllNand(void);       /* 0 after the erase, -2 when the partition stayed mounted */

/* Full check: a CHECK_DISK_* value; the last checker status goes to *pMsDos. */
int CheckDiskSdcard(int *pMsDos);
/* Boot-time check, leaving the card unmounted: 1 usable, -1 not. */
int DoBootCheckDiskSdCard(void);
/* Repartition, format, mount: CHECK_DISK_SUCCESS, _UNMOUNT_FAIL, _MSDOS_FAIL or _MOUNT_FAIL. */
int FormatSdcard(void);

/* 1 when the command ran and exited with code 0. */
int IsDosFsckResultOk(int retCode);
/* 1 when the checker ran and no flag of FS_FAILED_MASK is set. */
int IsFsckMsdosResultOk(int retCode);
/* Writes the flag names of a status into strError (KV_FSCK_ERROR_TEXT_SIZE bytes). */
void PrintFsckMsdosError(int retCode, char *strError);

/* Writes the boot check marker from the first 20 bytes of strResult (NUL-padded); 0, or -1
 * (errno set) when the flash did not take it whole: then no marker is left, since a
 * truncated one would read as 0, "no card". */
int BootWriteCheckDisk(char *strResult);
/* The number in the marker; -1 when there is none. */
int BootReadCheckDisk(void);
void BootDeleteCheckDisk(void);

/* 0 when a test file could be created, written, read back and deleted on the card. */
int KVCheckMemoryWritePossible(void);
/* Free memory in kB (MemFree + Cached); -1 on error. */
int KVGetfreememInfo(void);
/* Bytes of the file system holding pDisk: total, available to users, free; 0 on error. */
long long KVGetDiskTotalSpace(const char *pDisk);
long long KVGetDiskAvailSpace(const char *pDisk);
long long KVGetDiskfreeSpace(const char *pDisk);
/* 1 when statfs on the path succeeds. */
int IsPathExists(char *strPath);

/* ---- recordings -------------------------------------------------------------------- */

enum {
  BB_RECORD_NONE = 0,
  BB_RECORD_ALWAYS = 1,
  BB_RECORD_IMPACT_EVENT = 2,
  BB_RECORD_MANUAL_EVENT = 3,
  BB_RECORD_PARKING_MOTION = 4,
  BB_RECORD_PARKING_ALWAYS = 5
};

enum { MAIN_STATE_DRIVE = 100, MAIN_STATE_PARK = 200, MAIN_STATE_SYSTEM = 300 };

enum { DEVICE_1CH_ONLY = 0, DEVICE_2CH_FRONT = 1, DEVICE_2CH_REAR = 2 };

/* Notices to the front unit; 70 to 76 announce a saved recording. */
enum {
  SEND_TO_FRONT_NONE = 0,
  SEND_TO_FRONT_SYSTEM_START = 1,
  SEND_TO_FRONT_SYSTEM_END = 2,
  SEND_TO_FRONT_PAUSE_RECORDING = 3,
  SEND_TO_FRONT_RESUME_RECORDING = 4,
  SEND_TO_FRONT_GPS_START = 5,
  SEND_TO_FRONT_GPS_END = 6,
  SEND_TO_FRONT_WIFI_START = 7,
  SEND_TO_FRONT_WIFI_END = 8,
  SEND_TO_FRONT_DDNS_START = 9,
  SEND_TO_FRONT_DDNS_END = 10,
  SEND_TO_FRONT_DATE_TIME = 11,
  SEND_TO_FRONT_INIT_WIFI = 12,
  SEND_TO_FRONT_INIT_VERSION = 13,
  SEND_TO_FRONT_INIT_VALUE_DONE = 14,
  SEND_TO_FRONT_VOICE_ON = 15,
  SEND_TO_FRONT_VOICE_OFF = 16,
  SEND_TO_FRONT_ALIVE = 20,
  SEND_TO_FRONT_ALIVE_CONFIRM = 21,
  SEND_TO_FRONT_AVI_SAVE_NOR_D = 70,
  SEND_TO_FRONT_AVI_SAVE_EVT_I_D = 71,
  SEND_TO_FRONT_AVI_SAVE_EVT_I_P = 72,
  SEND_TO_FRONT_AVI_SAVE_EVT_M_D = 73,
  SEND_TO_FRONT_AVI_SAVE_EVT_M_P = 74,
  SEND_TO_FRONT_AVI_SAVE_MOT_P = 75,
  SEND_TO_FRONT_AVI_SAVE_NOR_P = 76,
  SEND_TO_FRONT_AVI_STOP = 79,
  SEND_TO_FRONT_DRIVE_TO_PARK = 90,
  SEND_TO_FRONT_PARK_TO_DRIVE = 91
};

/* Byte totals of the recordings folder by kind. */
typedef struct {
  int64_t llAlways;      /* "_NOR_D" and "_NOR_P" videos */
  int64_t llEvent;       /* "_EVT_D" and "_EVT_P" videos */
  int64_t llParking;     /* "_MOT_P" videos */
  int nUserCreatedCount; /* entries that are not recognised recordings */
} RecordFileSize;

/* File counts of the recordings folder by kind. */
typedef struct {
  int nNOR, nEVT, nMOT; /* videos of each family */
  int nTmp;             /* not touched by this unit */
  int nOTHER;           /* entries that are neither videos nor their companions */
} RecordFileCount;

/* The 6-character kind separator ("_NOR_D" ...); a constant string. */
char *GetFileNameSeparator(int nDriveParkState, int nRecordType, int bContiniousRecord);
/* Writes a free ".mp4" path into strFileName (len bytes; 0 or less: KV_PATH_SIZE); returns
 * the time the name was made from, or -1 (and "") when the path does not fit. */
int GenerateRecordFileName(char *strFileName, int len, int nDriveParkState, int nRecordType,
                           int bContiniousRecord, int nFrontRearType, int referenceTime);
int GetRecordFileLength(void); /* 27 */
int GetCountByRecordType(const char *strInPath, RecordFileCount *pCount);
int GetSizeByRecordType(const char *strInPath, RecordFileSize *pRecordFileSize);
void DeleteAllOthers(const char *strInPath, int nTotalCount, long long limitSpace);
/* Deletes the ".mp4", ".gsf" and ".gps" files of strPath's stem; 0. A stem that names no
 * file (empty, ending in '/', "." or "..") deletes nothing. */
int DeleteRecordFileNoSize(char *strPath);
int DeleteOldFileOverSize(char *strInPath, long long nInputSize);
int DeleteOldFileSepOverSize(char *strInPath, char *pSep, char *pSep2, long long nInputSize);
int IsDirOverSize(char *strInPath, long long nInputSize);
long long GetTotalFileSize(char *strInPath);
long long KVGetDirectoryTotalSpace(const char *pDir);
int IsEmptyDirectory(const char *strInPath);
int IsEqualNameExistInDir(const char *strDir, const char *strName);
/* "rm -rf" of one path; the status, or -1 (nothing run) for null, "", the root, "." or "..",
 * and -1 when the folder that held the path is not there (a card that is out: its file
 * comes back with it). */
int KVDeleteFile(char *strPath);
/* "rm -rf" of every "<stem>.*"; the status, or -1 (nothing run) for a stem that names no
 * file: null, empty, ending in '/', "." or "..". */
int KVDeleteAllExtFile(char *strPath);
void CreatePath(char *strPath);
void GenerateBlackBoxFolders(void);
char *GetFileNamePointerFromPath(char *strPath);
/* Copies the name after the last '/' (at most KV_PATH_SIZE - 1 characters); its length. */
int GetFileNameFromPath(char *strPath, char *outFileName);
/* Extensions are looked for in the last path component only. */
int RemovePathDotExt(char *strFileName);
int ChangePathDotExt(char *strFileName, char *strDotExt);
long long GetFileSize(char *strPath);
long long GetFileSizeByTell(char *strPath);
int IsDirectory(char *strPath);
char *ChangeSaveCommandToString(int command);
int ChangeSaveStringToCommand(char *cmdString);

/* ---- time (local time) ------------------------------------------------------------- */

/* "YYYY-MM-DD:hh-mm-ss" into 20 bytes. */
void GetCurrentTimeString(char *strDateTime);
/* Now plus `seconds` as 14 digits into 15 bytes; returns 14. */
int GetDateTimeGSensorFormat(char *strDateTime, int seconds);
long MakeCurrentDateTime(void);
long MakeSystemDateTime(int year, int month, int day, int hour, int min, int sec);
int SetSystemDateTime(int year, int month, int day, int hour, int min, int sec);
int SetSysTime(int hour, int min, int sec);
int SetSysDate(int year, int month, int day);
long long GetCurrentTimeMillis(void);

/* ---- settings conversions ---------------------------------------------------------- */

enum {
  UI_CMD_MIRROR = 20,
  UI_CMD_WIFI_OFF_TIMER = 21,
  UI_CMD_PARK_DURATION = 22,
  UI_CMD_BRIGHTNESS = 23,
  UI_CMD_AUDIO_VOLUME = 24,
  UI_CMD_PARK_COUNTER = 25,
  UI_CMD_RECORDING_INTERVAL = 26
};

enum {
  WIFI_OFF_TIMER_OFF = 0,
  WIFI_OFF_TIMER_0 = 180000,
  WIFI_OFF_TIMER_1 = 300000,
  WIFI_OFF_TIMER_2 = 600000
};

enum {
  PARK_DURATION_0 = 0,
  PARK_DURATION_1 = 180,
  PARK_DURATION_2 = 360,
  PARK_DURATION_3 = 720,
  PARK_DURATION_4 = 1080,
  PARK_DURATION_5 = 1440,
  PARK_DURATION_6 = 2160,
  PARK_DURATION_7 = 2880,
  PARK_DURATION_8 = 4320,
  PARK_DURATION_9 = 1,
  PARK_DURATION_10 = 5,
  PARK_DURATION_11 = 10
};

enum {
  DISPLAY_BRIGHTNESS_0 = 0,
  DISPLAY_BRIGHTNESS_1 = 10,
  DISPLAY_BRIGHTNESS_2 = 20,
  DISPLAY_BRIGHTNESS_3 = 30,
  DISPLAY_BRIGHTNESS_4 = 40,
  DISPLAY_BRIGHTNESS_5 = 50,
  DISPLAY_BRIGHTNESS_6 = 60,
  DISPLAY_BRIGHTNESS_7 = 70,
  DISPLAY_BRIGHTNESS_8 = 80,
  DISPLAY_BRIGHTNESS_9 = 90,
  DISPLAY_BRIGHTNESS_10 = 100
};

enum {
  AUDIO_VOLUME_0 = 0,
  AUDIO_VOLUME_1 = 56,
  AUDIO_VOLUME_2 = 68,
  AUDIO_VOLUME_3 = 78,
  AUDIO_VOLUME_4 = 83,
  AUDIO_VOLUME_5 = 86,
  AUDIO_VOLUME_6 = 89,
  AUDIO_VOLUME_7 = 92,
  AUDIO_VOLUME_8 = 95,
  AUDIO_VOLUME_9 = 98,
  AUDIO_VOLUME_10 = 100
};

enum {
  PARK_COUNTER_5MIN = 300000,
  PARK_COUNTER_10MIN = 600000,
  PARK_COUNTER_15MIN = 900000,
  PARK_COUNTER_20MIN = 1200000,
  PARK_COUNTER_25MIN = 1500000,
  PARK_COUNTER_30MIN = 1800000
};

enum {
  RECORDING_INTERVAL_1 = 1,
  RECORDING_INTERVAL_2 = 2,
  RECORDING_INTERVAL_3 = 3,
  RECORDING_INTERVAL_4 = 4,
  RECORDING_INTERVAL_5 = 5
};

/* Stored value for a user-interface value, and back. An id without a conversion passes the
 * value through unchanged. */
int UI_TO_VCAM(int id, int value);
int VCAM_TO_UI(int id, int value);

/* ---- language, version, identity --------------------------------------------------- */

int KVSetLanguage(char *inLang);     /* 0, or -1 */
int KVSetLanguageTemp(char *inLang); /* 0, or -1 */
int KVGetLanguage(char *outLang);    /* at most 9 characters and the terminator; 0, or -1 */
int KVIsValidLanguage(char *inLang);
/* outLang (3 bytes) gets the language of the file pPath, or "KO"; 1, or -1. */
int KVCheckLanguage(char *pPath, char *outLang);
int GetFirmwareVersion(char *outVersion); /* at most 63 characters and the terminator */
int GetBuildNumber(char *outNumber);      /* at most 63 characters and the terminator */
void CopyVersionFile(void);
int GetFWVersionStringAsNumber(char *version);
int KVCheck_device_version(void);
int KVPlatform_check(void);
int GetMACAddress(char *outString); /* at most 63 characters and the terminator */
/* Writes the station configuration for joining the other unit; 0, or -1 when the file
 * cannot be created or a text would break the file's syntax. */
int WriteRearWpaSupplicantConf(char *path, char *ssid, char *pwd);

/* ---- validation and strings -------------------------------------------------------- */

int IsWifiPwdValid(char *pwd);
int IsWifiSsidValid(char *ssid);
int is_numeric(const char *p);
int is_hexa_numeric(const char *p);
int is_ascii(const char *p);
/* Decodes %XX escapes. dest must hold strlen(source) bytes; no terminator is added. */
int urldecode(unsigned char *source, unsigned char *dest);
/* Encodes every byte but letters, digits, '-', '.', '_' as %XX. dest must hold
 * 3 * strlen(source) + 1 bytes; the result is terminated. */
int urlencode(unsigned char *source, unsigned char *dest);
/* Escapes ';', '(', ')' and '`' with a backslash. outPath must hold 2 * strlen(strPath) + 1
 * bytes; returns the length written. */
int ReplaceSpecialChar(char *strPath, char *outPath);
char *LTrim(char *s);
/* Trimmed copies of at most 255 characters, in a buffer of the calling thread that the
 * next RTrim/Trim call of that thread overwrites. */
char *RTrim(char *s);
char *Trim(char *s);
int IS_INVALID_FD(int fd);
int KVWriteBufferToFile(char *pPath, char *pBuffer, int nBufferLen);

/* ---- processes --------------------------------------------------------------------- */

int IsProcAlive(char *proc);
void WaitUntilProcClose(char *proc, int nCount);
void SystemPrint(char *cmd);

#ifdef __cplusplus
}
#endif

#ifdef __cplusplus
#include <string>
#include <string_view>
namespace kv {
/* `text` as one shell word: as it is when the shell takes every character literally,
 * else in single quotes. */
std::string shell_word(std::string_view text);
/* `text` for use between double quotes in a command line: \ " $ and ` escaped. */
std::string shell_dq(std::string_view text);
/* A board path ("/mnt/mmc"), taken below the board root, as one shell word: on the board
 * itself the path exactly as written. */
std::string board_word(std::string_view board_path);
/* Runs a command formatted into a bounded buffer through the board root, after what the
 * program printed so far has gone out; -1 when the command does not fit (it is then not
 * run). */
int shellf(const char *format, ...) __attribute__((format(printf, 1, 2)));
/* "rm -rf \"<path>\"\n", the path one word whatever its characters; the status. */
int remove_path(std::string_view path);
/* Whether statfs() succeeds on the path: the system's test that a path exists. */
bool path_exists(std::string_view path);
/* Whether the board's mount table ("/proc/mounts") holds `needle` (at most 128 characters,
 * the table's own board paths, not rooted). The whole table is read, however long (up to
 * 1 MiB). Open and read failures print the system's two texts ("IsSdMounted GetfreememInfo
 * open file fail " as a line, "IsSdMounted read device error !!" without one) and count as
 * "not there". IsSdMounted, IsNanMounted and the log's IsNanMountedL all look through it. */
bool mount_table_has(std::string_view needle);
/* Sleeps the calling thread for `ms` milliseconds, resuming after signals. */
void sleep_ms(int ms);
/* The tick: milliseconds of the monotonic clock (seconds * 1000 + nanoseconds / 1000000)
 * as a signed 64-bit value. Every interval of the programs is measured with it. */
int64_t tick_ms();
/* Sleeps until the tick reaches `deadline`, an absolute moment, so that a loop paced by
 * deadlines does not drift by the time its own work takes. False when a signal cut the
 * sleep short (the caller decides whether to sleep on). */
bool sleep_until_tick(int64_t deadline);
}  // namespace kv
#endif

#endif
