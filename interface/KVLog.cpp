// SPDX-License-Identifier: MIT
#include "KVLog.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <string>

#include "board_root.h"
#include "dm368_zt5_util.h"
#include "kv_common_util.h"
#include "kv_owners.hpp"

namespace {

constexpr size_t kPathSize = 256;  // hourly path and remembered file name
constexpr size_t kExtSize = 16;
constexpr size_t kDateSize = 20;  // "YYYY-MM-DD hh:mm:ss" and its terminator
constexpr size_t kRootedSize = 512;
// Date, " [tag]", ": " and the longest message.
constexpr size_t kLineSize = kDateSize + 3 + KV_LOG_TAG_SIZE + 2 + KV_LOG_MESSAGE_SIZE;
static_assert(kLineSize < 1100, "a line stays small enough for one write");

constexpr const char kFlashMount[] = "/mnt/nand";
constexpr const char kCardMount[] = "/mnt/mmc";
constexpr const char kFtpLog[] = "/var/log/bftpd.log";
constexpr const char kCardSettings[] = "/mnt/mmc/Config/setting.ini";
// The export's fixed staging folder, plain archive and pass-phrase file.
constexpr const char kStaging[] = "/log";
constexpr const char kPlainArchive[] = "/travelogbox.system_log.tar.gz";
constexpr const char kPlainArchivePrefix[] = "/travelogbox";
constexpr const char kPassPhrase[] = "/opt/vcam/kv_openssl/tamso_travelogbox.key";

struct LogState {
  std::atomic<int> level{KV_LOG_DEFAULT_LEVEL};
  std::atomic<int> save_to_file{1};
  int failed_errno = 0;  // the flash's last refusal, said once (under stream_mutex)
  std::atomic<time_t (*)()> clock{nullptr};

  // Serialises KVLog calls of the program's threads, old-file removal included.
  std::mutex log_mutex;
  char path[kPathSize] = "";  // the current hourly file (rooted)
  char ext[kExtSize] = "";
  bool ext_chosen = false;

  // Guards the stream, the remembered name and the tag: KVLogF and the file writers may
  // run in several threads at once, and one of them may close the stream another writes.
  std::mutex stream_mutex;
  FILE *stream = nullptr;  // null: standard error
  char last_name[kPathSize] = "";
  char tag[KV_LOG_TAG_SIZE] = "";
};

LogState &state() {
  static LogState s;
  return s;
}

time_t now() {
  time_t (*clock)() = state().clock.load();
  return clock ? clock() : time(nullptr);
}

struct tm local_time(time_t t) {
  struct tm tm;
  if (!localtime_r(&t, &tm)) memset(&tm, 0, sizeof tm);
  return tm;
}

// Bounded copy that always terminates; true when nothing was cut.
bool copy_text(char *out, size_t size, const char *text) {
  size_t len = strnlen(text, size);
  bool fits = len < size;
  if (!fits) len = size - 1;
  memcpy(out, text, len);
  out[len] = '\0';
  return fits;
}

// vsnprintf into a fixed buffer: longer text is cut, never written past the end.
__attribute__((format(printf, 3, 0))) void format_into(char *buf, size_t size, const char *format,
                                                       va_list ap) {
  buf[0] = '\0';
  if (format) vsnprintf(buf, size, format, ap);
}

void format_date(char *out, size_t size, const struct tm &tm) {
  char text[64];
  snprintf(text, sizeof text, "%4d-%02d-%02d %02d:%02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1,
           tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
  copy_text(out, size, text);
}

bool rooted(const char *board_path, char *out) {
  return kv_path(board_path, out, kRootedSize) == 0;
}

// ---- the stream (callers hold stream_mutex) ------------------------------------------

FILE *current_locked() { return state().stream ? state().stream : stderr; }

void close_locked() {
  LogState &s = state();
  if (s.stream && s.stream != stderr)
    fclose(s.stream);
  else if (s.stream)
    fflush(s.stream);
  s.stream = nullptr;
}

bool open_locked(const char *name) {
  LogState &s = state();
  close_locked();
  FILE *f = fopen(name, "a+e");  // close-on-exec: the log never leaks into shell commands
  if (!f) return false;
  fseek(f, 0, SEEK_END);
  s.stream = f;
  return true;
}

// Bytes as one write(): with a descriptor opened for appending, a line of one process
// lands whole even while other processes append to the same file.
// False (errno set) when the file took less than the whole line.
bool write_fd(int fd, const char *bytes, size_t len) {
  while (len > 0) {
    ssize_t n = write(fd, bytes, len);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      return false;
    }
    bytes += n;
    len -= static_cast<size_t>(n);
  }
  return true;
}

void write_whole(FILE *f, const char *bytes, size_t len) {
  fflush(f);
  int fd = fileno(f);
  if (fd >= 0) {
    write_fd(fd, bytes, len);
    return;
  }
  fwrite(bytes, 1, len, f);
  fflush(f);
}

// One log line: date, tag part, ": ", the text. Returns its length.
size_t format_line_locked(const char *text, char *line, size_t size) {
  LogState &s = state();
  char date[kDateSize];
  format_date(date, sizeof date, local_time(now()));
  int n = s.tag[0] ? snprintf(line, size, "%s [%s]: %s", date, s.tag, text)
                   : snprintf(line, size, "%s: %s", date, text);
  if (n < 0) return 0;
  return static_cast<size_t>(n) < size ? static_cast<size_t>(n) : size - 1;
}

int emit_locked(const char *text) {
  char line[kLineSize];
  size_t len = format_line_locked(text, line, sizeof line);
  write_whole(current_locked(), line, len);
  return static_cast<int>(len);
}

bool level_passes(int level) { return level <= state().level.load(); }

int log_to_stream(int level, const char *text) {
  if (!level_passes(level)) return 0;
  std::lock_guard<std::mutex> lock(state().stream_mutex);
  return emit_locked(text);
}

// Opened, appended and closed per message, so no file stays open between messages (the
// flash can be unmounted at any time). A plain descriptor rather than a stream: nothing
// is allocated per message.
int log_to_file(int level, const char *filename, const char *text) {
  if (!filename || !IsNanMountedL()) return log_to_stream(level, text);
  if (!level_passes(level)) return 0;
  std::lock_guard<std::mutex> lock(state().stream_mutex);
  LogState &s = state();
  close_locked();  // the current stream is standard error afterwards
  copy_text(s.last_name, sizeof s.last_name, filename);
  char line[kLineSize];
  size_t len = format_line_locked(text, line, sizeof line);
  kv::UniqueFd file(open(filename, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666));
  if (file && write_fd(file.get(), line, len)) {
    s.failed_errno = 0;
    return static_cast<int>(len);
  }
  // A file that cannot be opened goes to standard error as described; one that takes
  // less than the line (a full or failing flash) too, after one line that says why, so
  // that no line is lost silently.
  int err = errno;
  if (file && err != s.failed_errno) {
    s.failed_errno = err;
    char why[kLineSize];
    int n = snprintf(why, sizeof why, "KVLog: %s: %s\n", filename, strerror(err));
    if (n > 0) write_whole(stderr, why, std::min(static_cast<size_t>(n), sizeof why - 1));
  }
  write_whole(stderr, line, len);
  return static_cast<int>(len);
}

// ---- shell commands ------------------------------------------------------------------

// Board paths in commands are rooted and quoted as one word each (kv::board_word); a glob
// stays outside the quotes.
std::string word(const char *board_path) { return kv::board_word(board_path); }

// ---- old-file removal ----------------------------------------------------------------

int not_dot(const struct dirent *e) {
  return strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0;
}
// Ascending byte order of the names, which for "YYYY-MM-DD-HH..." is their age order.
int by_name(const struct dirent **a, const struct dirent **b) {
  return strcmp((*a)->d_name, (*b)->d_name);
}

int64_t entry_size(const char *dir, const char *name) {
  char path[kRootedSize + 256];
  snprintf(path, sizeof path, "%s/%s", dir, name);
  struct stat st;
  return stat(path, &st) == 0 ? static_cast<int64_t>(st.st_size) : 0;
}

// Deletes the oldest files until the folder holds at most KV_LOG_PRUNE_LIMIT bytes, and
// notes each deletion in the new hour's file (whose path is state().path).
void remove_old_files() {
  char dir[kRootedSize];
  if (!rooted(KV_LOG_DIR, dir)) return;
  kv::DirListing list;
  if (!list.scan(dir, not_dot, by_name)) return;
  int64_t total = 0;
  for (int i = 0; i < list.size(); ++i) total += entry_size(dir, list.name(i));
  if (total < KV_LOG_PRUNE_LIMIT) return;
  for (int i = 0; i < list.size(); ++i) {
    const char *name = list.name(i);
    int64_t size = entry_size(dir, name);
    kv::remove_path(std::string(dir) + name);
    KVLogWriteFileF(KV_LOG_LEVEL, __FILE__, __LINE__, "KVRemoveOldFiles", state().path,
                    "N LOG DEL=%s\n", name);
    total -= size;
    if (total <= KV_LOG_PRUNE_LIMIT) break;
  }
}

// ---- hourly files --------------------------------------------------------------------

// The ending by board type; chosen once (a program that logs without initialising the
// log still writes files the dumps and the export pick up).
void choose_ext_locked() {
  LogState &s = state();
  int board = kv_device_get_board_info();
  const char *ext = board == KV_BOARD_FRONT ? "_f.log" : board == KV_BOARD_REAR ? "_r.log" : ".log";
  copy_text(s.ext, sizeof s.ext, ext);
  s.ext_chosen = true;
}

bool build_hourly_path_locked() {
  LogState &s = state();
  if (!s.ext_chosen) choose_ext_locked();
  char dir[kRootedSize];
  if (!rooted(KV_LOG_DIR, dir)) return false;
  struct tm tm = local_time(now());
  int n = snprintf(s.path, sizeof s.path, "%s%04d-%02d-%02d-%02d%s", dir, tm.tm_year + 1900,
                   tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, s.ext);
  return n >= 0 && static_cast<size_t>(n) < sizeof s.path;
}

bool path_exists(const char *path) {
  struct stat st;
  return stat(path, &st) == 0;
}

// One row of a hex dump: "   0: 41 42 .. 48 : 49 .. 50   ABCDEFGH  IJKLMNOP\n".
struct HexRow {
  char text[96];
  size_t len = 0;

  void add(const char *piece) {
    size_t n = strnlen(piece, sizeof text);
    if (len + n < sizeof text) {
      memcpy(text + len, piece, n);
      len += n;
    }
  }
  void add_offset(unsigned value) {
    char piece[16];
    snprintf(piece, sizeof piece, "%4X: ", value);
    add(piece);
  }
  void add_byte(unsigned value) {
    char piece[8];
    snprintf(piece, sizeof piece, "%02X ", value);
    add(piece);
  }
  void format_row(const unsigned char *bytes, int offset, int count) {
    add_offset(static_cast<unsigned>(offset));
    for (int i = 0; i < 16; ++i) {
      if (i < count)
        add_byte(bytes[i]);
      else
        add("   ");
      if (i == 7) add(": ");
    }
    add("  ");
    for (int i = 0; i < count; ++i) {
      char c[2] = {bytes[i] >= 0x21 && bytes[i] <= 0x7E ? static_cast<char>(bytes[i]) : '.', 0};
      add(c);
      if (i == 7 && count > 8) add("  ");
    }
    add("\n");
  }
};
static_assert(sizeof(HexRow::text) > 6 + 16 * 3 + 2 + 2 + 16 + 2 + 1, "a full row fits");

}  // namespace

namespace kv {
void log_set_clock_for_tests(time_t (*clock)()) { state().clock.store(clock); }
}  // namespace kv

extern "C" {

void KVLogInitialize(const char *szTag, int bSaveToFile, const char *szLogPath) {
  LogState &s = state();
  std::lock_guard<std::mutex> log_lock(s.log_mutex);
  {
    std::lock_guard<std::mutex> stream_lock(s.stream_mutex);
    copy_text(s.tag, sizeof s.tag, szTag ? szTag : "");  // cut to 19 characters
  }
  s.save_to_file.store(bSaveToFile);
  choose_ext_locked();
  if (szLogPath && szLogPath[0]) {
    copy_text(s.path, sizeof s.path, szLogPath);
  } else {
    kv::shellf("mkdir -p %s\n", word(KV_LOG_DIR).c_str());
  }
}

int KVLog(const char *format, ...) {
  LogState &s = state();
  char message[KV_LOG_MESSAGE_SIZE];
  va_list ap;
  va_start(ap, format);
  format_into(message, sizeof message, format, ap);
  va_end(ap);

  std::lock_guard<std::mutex> lock(s.log_mutex);
  if (!s.save_to_file.load() || !build_hourly_path_locked()) {
    log_to_stream(KV_LOG_LEVEL, message);
    return 0;
  }
  // The first message of a new hour keeps the folder small.
  if (!path_exists(s.path) && IsNanMountedL()) remove_old_files();
  log_to_file(KV_LOG_LEVEL, s.path, message);
  return 0;
}

int KVLogF(int level, const char *, int, const char *, const char *format, ...) {
  if (!level_passes(level)) return 0;
  char message[KV_LOG_MESSAGE_SIZE];
  va_list ap;
  va_start(ap, format);
  format_into(message, sizeof message, format, ap);
  va_end(ap);
  return log_to_stream(level, message);
}

int KVLogWriteFileF(int level, const char *, int, const char *, const char *filename,
                    const char *format, ...) {
  char message[KV_LOG_MESSAGE_SIZE];
  va_list ap;
  va_start(ap, format);
  format_into(message, sizeof message, format, ap);
  va_end(ap);
  return log_to_file(level, filename, message);
}

int KVLogWriteFile(const char *filename, const char *format, ...) {
  char message[KV_LOG_MESSAGE_SIZE];
  va_list ap;
  va_start(ap, format);
  format_into(message, sizeof message, format, ap);
  va_end(ap);
  return log_to_file(KV_LOG_LEVEL, filename, message);
}

int KVLogOpen(const char *filename) {
  LogState &s = state();
  std::lock_guard<std::mutex> lock(s.stream_mutex);
  if (filename && filename[0]) {
    if (!copy_text(s.last_name, sizeof s.last_name, filename)) s.last_name[0] = '\0';
    return open_locked(filename) ? 1 : 0;
  }
  if (!s.last_name[0]) {
    close_locked();
    return 1;
  }
  char name[kPathSize];
  copy_text(name, sizeof name, s.last_name);
  return open_locked(name) ? 1 : 0;
}

int KVLogClose(void) {
  std::lock_guard<std::mutex> lock(state().stream_mutex);
  close_locked();
  return 1;
}

void KVLogSetLevel(int level) { state().level.store(level); }
int KVLogGetLevel(void) { return state().level.load(); }
void KVLogSetWriteFile(int bFileWrite) { state().save_to_file.store(bFileWrite); }

void KVGetDateTime(char *pBuf) {
  if (pBuf) format_date(pBuf, kDateSize, local_time(now()));
}

// The mount point as the board's mount table names it (not rooted).
int IsNanMountedL(void) { return kv::mount_table_has(kFlashMount) ? 1 : 0; }

int KVLogHex(int level, const char *, int, const char *, const char *title, const char *data,
             int maxsize) {
  if (!level_passes(level)) return 0;
  char head[KV_LOG_MESSAGE_SIZE];
  snprintf(head, sizeof head, "%s (%d bytes):", title ? title : "", maxsize);
  std::lock_guard<std::mutex> lock(state().stream_mutex);
  emit_locked(head);
  FILE *out = current_locked();
  if (!data || maxsize <= 0) {
    write_whole(out, "\n", 1);  // end the head's line all the same
    return 0;
  }
  for (int start = 0; start < maxsize; start += 16) {
    int count = maxsize - start < 16 ? maxsize - start : 16;
    HexRow row;
    row.format_row(reinterpret_cast<const unsigned char *>(data) + start, start, count);
    write_whole(out, row.text, row.len);
  }
  return 0;
}

void KVLogRemoveAll(void) { kv::shellf("rm -f %s/*", word(KV_LOG_DIR).c_str()); }

void KVNandDumpToSd(void) {
  std::string flash = word(kFlashMount), card = word(kCardMount);
  kv::shellf("mkdir -p %s/nand\n", card.c_str());
  kv::shellf("cp -f %s/*.* %s/nand/\n", flash.c_str(), card.c_str());
}

void KVLogDumpToSd(void) {
  std::string logs = word(KV_LOG_DIR), card = word(kCardMount);
  kv::shellf("mkdir -p %s/log\n", card.c_str());
  kv::shellf("cp -f %s*%s %s/log/\n", logs.c_str(), ".log", card.c_str());
  kv::shellf("cp -f %s %s/log/\n", word(kFtpLog).c_str(), card.c_str());
}

void KVTravelogboxSystemLogToSd(void) {
  std::string staging = word(kStaging), plain = word(kPlainArchive);
  struct tm tm = local_time(now());
  int year = tm.tm_year + 1900, month = tm.tm_mon + 1;
  fputs("travelogbox_system_log detected.", stdout);
  kv::shellf("mkdir -p %s\n", staging.c_str());
  kv::shellf("cp %s* %s %s %s/\n", word(KV_LOG_DIR).c_str(), word(kFtpLog).c_str(),
             word(kCardSettings).c_str(), staging.c_str());
  kv::shellf("tar zcvf %s %s/\n", plain.c_str(), staging.c_str());
  kv::shellf(
      "openssl enc -aes-128-cbc -salt -pass file:%s -in %s "
      "-out %s/travelogbox.system_log_%d_%02d_%02d_%02d_%02d_%02d ",
      word(kPassPhrase).c_str(), plain.c_str(), word(kCardMount).c_str(), year, month, tm.tm_mday,
      tm.tm_hour, tm.tm_min, tm.tm_sec);
  printf("travelogbox.system_log_%d_%02d_%02d_%02d_%02d_%02d generated.\n", year, month, tm.tm_mday,
         tm.tm_hour, tm.tm_min, tm.tm_sec);
  kv::shellf("rm -rf %s %s*", staging.c_str(), word(kPlainArchivePrefix).c_str());
}

}  // extern "C"
