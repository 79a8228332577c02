// SPDX-License-Identifier: MIT
/*
 * KVLog: the programs' log. Short text lines, by default appended to one file per hour in
 * the flash's log folder ("/mnt/nand/log/YYYY-MM-DD-HH" + "_f.log" on a front unit,
 * "_r.log" on a rear unit, ".log" otherwise), shared by every program of the unit; the
 * tag tells their lines apart. Lines look like
 *
 *     2024-05-06 10:00:00 [gps_p]: text as the caller formatted it
 *
 * (no tag part when the tag is empty). No line break is added: end messages with "\n".
 * A message longer than 1023 characters is cut; the text is formatted once, by the
 * caller's format, so a percent sign in a value is written as it is.
 *
 * Each line reaches its file in one write() on a descriptor opened for appending, so
 * lines of several processes writing the same hour never mix. The first message of a new
 * hour deletes the oldest files of the folder until at most 512 KiB remain, noting each
 * deletion as a line "N LOG DEL=<name>\n". When the flash is not mounted, or a file
 * cannot be opened, lines go to standard error.
 *
 * Levels: a message of a level above the current level (6 unless set) is dropped;
 * KVLog and the file writers log at level 5.
 *
 * File names given to KVLogOpen/KVLogWriteFile are paths as this process opens them:
 * build board paths with kv_path() (board_root.h).
 */
#ifndef KV_KVLOG_H
#define KV_KVLOG_H

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define KV_LOG_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define KV_LOG_PRINTF(fmt, args)
#endif

#define KV_LOG_DIR "/mnt/nand/log/" /* board path of the hourly files */
#define KV_LOG_MESSAGE_SIZE 1024    /* message buffer; text beyond 1023 is cut */
#define KV_LOG_TAG_SIZE 20          /* tags are cut to 19 characters */
#define KV_LOG_PRUNE_LIMIT 524288   /* the log folder is kept at most this big */
#define KV_LOG_DEFAULT_LEVEL 6
#define KV_LOG_LEVEL 5 /* level of KVLog and KVLogWriteFile */

/* Once at start. `szTag` (may be empty) marks the program's lines; `bSaveToFile` 1 writes
 * the hourly files, 0 standard error; the file ending follows the board type. An empty
 * `szLogPath` creates the log folder ("mkdir -p"). */
void KVLogInitialize(const char *szTag, int bSaveToFile, const char *szLogPath);

/* The main entry, safe from any thread: one message at level 5 to this hour's file (or to
 * the current stream when file saving is off). Returns 0. */
int KVLog(const char *format, ...) KV_LOG_PRINTF(1, 2);

/* One message to the current stream (standard error unless KVLogOpen opened a file), if
 * `level` is not above the current level. file/line/function are carried, not printed.
 * Returns the number of bytes written (0 when dropped). */
int KVLogF(int level, const char *file, int line, const char *function, const char *format, ...)
    KV_LOG_PRINTF(5, 6);

/* One message appended to `filename` (opened, written, closed); to the current stream
 * when `filename` is null or the flash is not mounted. Afterwards the current stream is
 * standard error. Returns the number of bytes written. */
int KVLogWriteFileF(int level, const char *file, int line, const char *function,
                    const char *filename, const char *format, ...) KV_LOG_PRINTF(6, 7);
int KVLogWriteFile(const char *filename, const char *format, ...) KV_LOG_PRINTF(2, 3);

/* Makes `filename` (appended to) the current stream and remembers it; a null or empty
 * name reopens the remembered one. 1, or 0 when it cannot be opened (the stream is then
 * standard error). */
int KVLogOpen(const char *filename);
/* Closes the current stream; standard error again. Returns 1. */
int KVLogClose(void);

/* The log level, kept for the callers that set and read it. */
void KVLogSetLevel(int level);
int KVLogGetLevel(void);
/* 1: KVLog writes the hourly files; 0: standard error (before the flash is unmounted). */
void KVLogSetWriteFile(int bFileWrite);

/* The local time as "YYYY-MM-DD hh:mm:ss" (20 bytes with the terminator) into pBuf. */
void KVGetDateTime(char *pBuf);
/* 1 when "/mnt/nand" is in the mount table, else 0 (also when it cannot be read). */
int IsNanMountedL(void);

/* Hex dump of `maxsize` bytes: a line head "title (N bytes):" then rows of 16 bytes with
 * offset, hex and printable characters. Returns 0. */
int KVLogHex(int level, const char *file, int line, const char *function, const char *title,
             const char *data, int maxsize);

/* Deletes every file of the log folder. */
void KVLogRemoveAll(void);
/* Copies the flash's top-level files to "<card>/nand/". */
void KVNandDumpToSd(void);
/* Copies the log files and the FTP server's log to "<card>/log/". */
void KVLogDumpToSd(void);
/* Packs the logs, the FTP server's log and the card's settings file into an encrypted
 * archive "travelogbox.system_log_Y_MM_DD_hh_mm_ss" on the card (AES-128-CBC, salted, key
 * from the installed pass-phrase file); nothing unencrypted is left behind. */
void KVTravelogboxSystemLogToSd(void);

#ifdef __cplusplus
}

#include <time.h>
namespace kv {
/* For tests only: the wall clock the log reads (hour file names, line dates, export
 * name). nullptr restores time(). */
void log_set_clock_for_tests(time_t (*now)());
}  // namespace kv
#endif

#endif
