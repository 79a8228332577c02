// SPDX-License-Identifier: MIT
// The SD card and the flash partition: mount detection, the unmount ladders, mounting,
// checking and formatting the card, the boot check marker, the card write test, free
// memory and disk space, erasing the flash.
//
// Nothing is kept between calls: the truth about the card is read afresh from the mount
// table every time. Commands go to the shell through the board root; their exit status is
// the only feedback.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <string_view>

#include "board_root.h"
#include "kv_common_util.h"
#include "kv_owners.hpp"

namespace {

using File = kv::UniqueFile;

// The mount table is read whole, in chunks, up to this bound (a board with many mounts may
// list the card or the flash after the first kilobyte; a table without an end is cut).
constexpr size_t kMountTableMax = 1 << 20;
constexpr size_t kMountTableChunk = 1024;
// Longest text looked for in the table; its last bytes are carried from chunk to chunk.
constexpr size_t kMountNeedleMax = 128;

constexpr int kLadderSleepMs = 200;     // between the umount commands of unmountSdLadder
constexpr int kRetrySleepMs = 400;      // after a failed umount of SafeUnmountSd/SafeUnmountNand
constexpr int kSettleSleepMs = 500;     // at the end of SafeUnmountSd
constexpr int kNandFirstSleepMs = 200;  // at the start of SafeUnmountNand

std::string sdMountPoint() { return kv::board_word(KV_SD_MOUNT_POINT); }
std::string sdDevice() { return kv::board_word(KV_SD_DEVICE); }

// The unmount before MountSdcard, FormatSdcard and DoBootCheckDiskSdCard, and all of
// UmountSdcardRepeat: at most three umount commands with 200 ms between them; their status
// is not looked at, only the mount table. 1: not mounted (any more), -1: still mounted.
int unmountSdLadder() {
  if (!IsSdMounted()) return 1;
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (attempt > 0) {
      kv::sleep_ms(kLadderSleepMs);
      if (!IsSdMounted()) return 1;
    }
    UnmountSdcard();
    if (!IsSdMounted()) return 1;
  }
  puts("SD Unmount fail");
  return -1;
}

// SafeUnmountSd and SafeUnmountNand: up to `attempts` umount commands; a command that
// succeeds ends the ladder, a failed one is followed by 400 ms and a look at the table. True when
// still mounted.
bool unmountUntilGone(int (*mounted)(), int (*unmount)(), int attempts) {
  if (mounted()) {
    for (int i = 0; i < attempts; ++i) {
      if (unmount() == 0) break;
      kv::sleep_ms(kRetrySleepMs);
      if (!mounted()) break;
    }
  }
  return mounted() != 0;
}

int runChecker() { return kv::shellf("fsck_msdos -y %s\n", sdDevice().c_str()); }

// A status of system() for a command that ran and exited by itself (not by a signal: a
// checker that was killed checked nothing).
bool exitedNormally(int status) { return status >= 0 && (status & 0x7F) == 0; }

struct FlagText {
  int flag;
  const char *text;
};
constexpr FlagText kFlagTexts[] = {{FSBOOTMOD, " FSBOOTMOD "}, {FSDIRMOD, " FSDIRMOD "},
                                   {FSFATMOD, " FSFATMOD "},   {FSERROR, " FSERROR "},
                                   {FSFATAL, " FSFATAL "},     {FSDIRTY, " FSDIRTY "},
                                   {FSFIXFAT, " FSFIXFAT "},   {FSEXFAT, " FSEXFAT "}};

// Room for every text and the terminator: what callers are told to provide.
constexpr size_t flagTextsSize() {
  size_t n = 1;
  for (const auto &f : kFlagTexts) n += std::char_traits<char>::length(f.text);
  return n;
}
static_assert(flagTextsSize() == KV_FSCK_ERROR_TEXT_SIZE);

// statfs of a board path or a path handed in; false on failure.
bool fsStat(const char *path, struct statfs &st) { return kv_statfs(path, &st) == 0; }

bool exists(const std::string &path) { return kv::path_exists(path); }

// The write test's steps after the file was created; the file stays on failure.
int verifyWriteTest(const std::string &path, bool written) {
  if (!exists(path)) {
    puts("CheckMemoryWritePossible write path not exist");
    return -1;
  }
  File in(fopen(path.c_str(), "r"));
  if (!in) {
    puts("CheckMemoryWritePossible read open fail");
    return -1;
  }
  if (written) {
    char word[64] = {0};
    if (fscanf(in.get(), "%63s", word) != 1 || strcmp(word, KV_WRITE_TEST_PATTERN) != 0) {
      puts("CheckMemoryWritePossible read data not match");
      return -1;
    }
  }
  in.reset();
  if (!exists(path)) {
    puts("CheckMemoryWritePossible read path not exist");
    return -1;
  }
  kv::remove_path(path);
  if (exists(path)) {
    puts("CheckMemoryWritePossible delete path error");
    return -1;
  }
  return 0;
}

enum class Space { Total, Avail, Free };

long long diskSpace(const char *path, Space which) {
  struct statfs st;
  if (!path || !fsStat(path, st)) return 0;
  auto bsize = static_cast<long long>(st.f_bsize);
  switch (which) {
    case Space::Total:
      return bsize * static_cast<long long>(st.f_blocks);
    case Space::Avail:
      return bsize * static_cast<long long>(st.f_bavail);
    case Space::Free:
      return bsize * static_cast<long long>(st.f_bfree);
  }
  return 0;
}

// One kB figure of the memory table, held to 0..INT_MAX: a corrupt table with a huge
// number must not overflow the sum (nor come back as a negative "error").
long long tableKilobytes(const char *text) {
  long long v = strtoll(text, nullptr, 10);
  if (v < 0) return 0;
  return v > INT_MAX ? INT_MAX : v;
}

}  // namespace

extern "C" {

int IsSdMounted(void) { return kv::mount_table_has(KV_SD_MOUNT_POINT " vfat rw") ? 1 : 0; }

int IsNanMounted(void) { return kv::mount_table_has(KV_NAND_MOUNT_POINT) ? 1 : 0; }

int UnmountSdcard(void) { return kv::shellf("umount %s\n", sdMountPoint().c_str()); }

int UnmountSdcardLazy(void) { return kv::shellf("umount -l %s\n", sdMountPoint().c_str()); }

int MountSdcard(void) {
  unmountSdLadder();  // a card that stays mounted is reported, and mounted over regardless
  kv::shellf("mount -t vfat %s %s\n", sdDevice().c_str(), sdMountPoint().c_str());
  return IsSdMounted();
}

int UmountSdcardRepeat(void) { return unmountSdLadder(); }

int SafeUnmountSd(void) {
  bool still = unmountUntilGone(IsSdMounted, UnmountSdcard, 6);
  kv::sleep_ms(kSettleSleepMs);
  return still ? 2 : 0;
}

int MountNand(void) {
  return kv::shellf("mount -t jffs2 %s %s\n", kv::board_word(KV_NAND_BLOCK_DEVICE).c_str(),
                    kv::board_word(KV_NAND_MOUNT_POINT).c_str());
}

int UnmountNand(void) {
  return kv::shellf("umount %s\n", kv::board_word(KV_NAND_MOUNT_POINT).c_str());
}

int UnmountNandLazy(void) {
  return kv::shellf("umount -l %s\n", kv::board_word(KV_NAND_MOUNT_POINT).c_str());
}

int SafeUnmountNand(void) {
  kv::sleep_ms(kNandFirstSleepMs);
  return unmountUntilGone(IsNanMounted, UnmountNand, 4) ? 2 : 0;
}

int EraseAllNand(void) {
  if (SafeUnmountNand() != 0) return -2;
  kv::shellf("flash_eraseall %s\n", kv::board_word(KV_NAND_RAW_DEVICE).c_str());
  return 0;
}

int CheckDiskSdcard(int *pMsDos) {
  if (!pMsDos) return CHECK_DISK_INPUT_ERROR;
  if (UmountSdcardRepeat() != 1) return CHECK_DISK_UNMOUNT_FAIL;
  *pMsDos = runChecker();
  if (*pMsDos != 0) {
    // The first run repairs what it can; the second tells whether the card is sound now.
    *pMsDos = runChecker();
    if (!IsFsckMsdosResultOk(*pMsDos)) return CHECK_DISK_MSDOS_FAIL;
  }
  return MountSdcard() ? CHECK_DISK_SUCCESS : CHECK_DISK_MOUNT_FAIL;
}

int DoBootCheckDiskSdCard(void) {
  if (unmountSdLadder() != 1) return -1;
  if (runChecker() == 0) return 1;
  return IsFsckMsdosResultOk(runChecker()) ? 1 : -1;
}

int FormatSdcard(void) {
  if (unmountSdLadder() != 1) return CHECK_DISK_UNMOUNT_FAIL;
  if (IsSdMounted()) {
    puts("SD Unmount fail");
    return CHECK_DISK_UNMOUNT_FAIL;
  }
  kv::shellf("%s\n", kv::board_word(KV_REPARTITION_SCRIPT).c_str());
  std::string device = sdDevice();
  int result = CHECK_DISK_SUCCESS;
  if (kv::shellf("mkdosfs -s 64 -n " KV_SD_VOLUME_LABEL " %s\n", device.c_str()) != 0) {
    puts("SD format fail 1");
    // The formatter's own cluster size, for cards too small for 64 sectors per cluster.
    if (kv::shellf("mkdosfs -n " KV_SD_VOLUME_LABEL " %s\n", device.c_str()) != 0) {
      puts("SD format fail 2");
      result = CHECK_DISK_MSDOS_FAIL;
    }
  }
  if (!MountSdcard()) return CHECK_DISK_MOUNT_FAIL;
  return result;
}

int IsDosFsckResultOk(int retCode) { return exitedNormally(retCode) && retCode / 256 == 0 ? 1 : 0; }

int IsFsckMsdosResultOk(int retCode) {
  return exitedNormally(retCode) && ((retCode >> 8) & FS_FAILED_MASK) == 0 ? 1 : 0;
}

void PrintFsckMsdosError(int retCode, char *strError) {
  if (!strError) return;
  strError[0] = '\0';
  if (retCode == 0) {
    strcpy(strError, "FSOK");
    return;
  }
  int flags = retCode / 256;
  for (const auto &f : kFlagTexts)
    if (flags & f.flag) strcat(strError, f.text);
}

int BootWriteCheckDisk(char *strResult) {
  if (!strResult) return 0;
  // Copied up to its terminator into a zeroed record: a short text such as "1" is not
  // read past its end, and the file always holds the NUL padding readers expect.
  char record[KV_BOOT_CHECK_MARKER_SIZE] = {0};
  memcpy(record, strResult, strnlen(strResult, sizeof record));
  kv::UniqueFd f(kv_open(KV_BOOT_CHECK_MARKER, O_WRONLY | O_CREAT | O_TRUNC, 0644));
  if (!f) return -1;
  ssize_t n = write(f.get(), record, sizeof record);
  if (n == static_cast<ssize_t>(sizeof record)) return 0;
  // An empty or short marker would read as 0, "no card": none at all reads as no result.
  int err = n < 0 ? errno : ENOSPC;
  f.reset();
  unlink(kv::rooted(KV_BOOT_CHECK_MARKER).c_str());
  errno = err;
  return -1;
}

int BootReadCheckDisk(void) {
  File in(kv_fopen(KV_BOOT_CHECK_MARKER, "r"));
  if (!in) return -1;
  char word[KV_BOOT_CHECK_MARKER_SIZE] = {0};
  if (fscanf(in.get(), "%19s", word) != 1) word[0] = '\0';
  return static_cast<int>(strtol(word, nullptr, 10));
}

void BootDeleteCheckDisk(void) { kv::remove_path(kv::rooted(KV_BOOT_CHECK_MARKER)); }

int KVCheckMemoryWritePossible(void) {
  std::string folder = kv::rooted(KV_RECORD_FOLDER);
  kv::shellf("mkdir -p %s\n", kv::shell_word(folder).c_str());
  kv::shellf("sync\n");
  if (!exists(folder)) return -1;

  long long available = diskSpace(KV_SD_MOUNT_POINT, Space::Avail);
  char path[KV_PATH_SIZE * 2];
  snprintf(path, sizeof path, "%s/%s_%lld", folder.c_str(), KV_WRITE_TEST_BASE_NAME,
           GetCurrentTimeMillis());
  if (exists(path)) kv::remove_path(path);

  File out(fopen(path, "w"));
  if (!out) {
    puts("CheckMemoryWritePossible write open fail");
    return -1;
  }
  constexpr size_t kPatternLen = sizeof KV_WRITE_TEST_PATTERN - 1;
  // A card with no room for the pattern still proves it can create and delete a file.
  bool written = available > static_cast<long long>(kPatternLen);
  if (written && fwrite(KV_WRITE_TEST_PATTERN, 1, kPatternLen, out.get()) != kPatternLen) {
    puts("CheckMemoryWritePossible write size not match");
    return -1;
  }
  if (fclose(out.release()) != 0 && written) {
    puts("CheckMemoryWritePossible write size not match");
    return -1;
  }
  return verifyWriteTest(path, written);
}

int KVGetfreememInfo(void) {
  kv::UniqueFd f(kv_open(KV_MEMORY_TABLE, O_RDONLY));
  if (!f) {
    puts("GetfreememInfo open file fail ");
    return -1;
  }
  // The first lines of the table hold MemFree and Cached.
  char text[200] = {0};
  ssize_t n = read(f.get(), text, sizeof text - 1);
  if (n <= 0) {
    printf("read device error !!");
    return -1;
  }
  const char *kSeparators = ":\r\n ";
  long long total = 0;
  char *save = nullptr;
  for (char *tok = strtok_r(text, kSeparators, &save); tok;
       tok = strtok_r(nullptr, kSeparators, &save)) {
    bool cached = strcmp(tok, "Cached") == 0;
    if (!cached && strcmp(tok, "MemFree") != 0) continue;
    char *value = strtok_r(nullptr, kSeparators, &save);
    if (!value) break;
    total += tableKilobytes(value);
    if (cached) {
      if (total > INT_MAX) total = INT_MAX;
      if (total < 2048)
        fprintf(stderr, "AVI check free Memory = %lld Kbyte is not enough !!!!!!!!!!!!!\n", total);
      return static_cast<int>(total);
    }
  }
  return -1;
}

long long KVGetDiskTotalSpace(const char *pDisk) { return diskSpace(pDisk, Space::Total); }
long long KVGetDiskAvailSpace(const char *pDisk) { return diskSpace(pDisk, Space::Avail); }
long long KVGetDiskfreeSpace(const char *pDisk) { return diskSpace(pDisk, Space::Free); }

int IsPathExists(char *strPath) {
  struct statfs st;
  return strPath && fsStat(strPath, st) ? 1 : 0;
}

}  // extern "C"

namespace kv {

bool mount_table_has(std::string_view needle) {
  if (needle.empty() || needle.size() > kMountNeedleMax) return false;
  UniqueFd table(kv_open(KV_MOUNT_TABLE, O_RDONLY | O_CLOEXEC));
  if (!table) {
    puts("IsSdMounted GetfreememInfo open file fail ");
    return false;
  }
  // A chunk and the tail of the one before it, so a text cut by a chunk's end is found.
  char text[kMountNeedleMax + kMountTableChunk];
  size_t kept = 0, total = 0;
  while (total < kMountTableMax) {
    ssize_t n = read(table.get(), text + kept, kMountTableChunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    total += static_cast<size_t>(n);
    size_t len = kept + static_cast<size_t>(n);
    if (std::string_view(text, len).find(needle) != std::string_view::npos) return true;
    kept = std::min(len, needle.size() - 1);
    memmove(text, text + len - kept, kept);
  }
  if (total == 0) printf("IsSdMounted read device error !!");
  return false;
}

}  // namespace kv
