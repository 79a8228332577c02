// SPDX-License-Identifier: MIT
// The recordings folder: the name rule, free names, counting and sizing by kind, deleting a
// recording's files, freeing space oldest first, removing what is not a recording, and the
// path helpers.
//
// A recording is recognised by its name alone: 27 characters, the kind family at 15 to 19,
// 'D' or 'P' at 20, the unit suffix at 21 to 22 and the extension at 23 to 26, for example
// "20240131-235959_EVT_P_F.mp4". Its ".gps" and ".gsf" companions differ only in the
// extension, so sorting by name keeps a recording's files together and in start order.
#include <dirent.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <time.h>

#include <string>
#include <string_view>

#include "board_root.h"
#include "kv_common_util.h"
#include "kv_owners.hpp"

// The per-kind records are filled in place for C callers built for the board as well.
static_assert(sizeof(RecordFileSize) == 32);
static_assert(offsetof(RecordFileSize, llEvent) == 8);
static_assert(offsetof(RecordFileSize, llParking) == 16);
static_assert(offsetof(RecordFileSize, nUserCreatedCount) == 24);
static_assert(sizeof(RecordFileCount) == 20);
static_assert(offsetof(RecordFileCount, nTmp) == 12);
static_assert(offsetof(RecordFileCount, nOTHER) == 16);

namespace {

constexpr size_t kRecordNameLength = 27;

// A folder entry's name read as a recording name.
struct RecordName {
  std::string_view name;
  bool sized() const { return name.size() == kRecordNameLength; }
  std::string_view family() const { return name.substr(15, 5); }     // "_NOR_"
  std::string_view separator() const { return name.substr(15, 6); }  // "_NOR_D"
  std::string_view extension() const { return name.substr(23, 4); }  // ".mp4"
};

constexpr std::string_view kVideo = ".mp4";
constexpr std::string_view kFamilyExtensions[] = {".mp4", ".gsf", ".gps"};  // deletion order
constexpr std::string_view kFamilies[] = {"_NOR_", "_EVT_", "_MOT_"};

template <size_t N>
bool oneOf(std::string_view s, const std::string_view (&set)[N]) {
  for (auto item : set)
    if (s == item) return true;
  return false;
}

bool isRecordingFile(const RecordName &r) {
  return r.sized() && oneOf(r.extension(), kFamilyExtensions) && oneOf(r.family(), kFamilies);
}

bool isDotEntry(const char *name) { return !strcmp(name, ".") || !strcmp(name, ".."); }

// Separators by recording kind, in the drive state and in any other state.
struct KindSeparator {
  int kind;
  const char *drive;
  const char *other;
};
constexpr KindSeparator kSeparators[] = {{BB_RECORD_ALWAYS, "_NOR_D", "_NOR_D"},
                                         {BB_RECORD_IMPACT_EVENT, "_EVT_D", "_EVT_P"},
                                         {BB_RECORD_MANUAL_EVENT, "_EVT_D", "_EVT_P"},
                                         {BB_RECORD_PARKING_MOTION, "_MOT_P", "_MOT_P"},
                                         {BB_RECORD_PARKING_ALWAYS, "_NOR_P", "_NOR_P"}};

const char *unitSuffix(int role) {
  if (role == DEVICE_2CH_FRONT) return "_F";
  if (role == DEVICE_2CH_REAR) return "_R";
  return "";
}

using Dir = kv::UniqueDir;
using File = kv::UniqueFile;
using Pipe = kv::UniquePipe;

// A folder listing sorted by name; empty when the folder cannot be read.
kv::DirListing sortedListing(const std::string &folder) {
  kv::DirListing list;
  list.scan(folder.c_str(), nullptr, alphasort);
  return list;
}

std::string entryPath(const std::string &folder, const char *name) { return folder + "/" + name; }

// Size by stat; 0 when the entry has gone or cannot be read.
long long statSize(const std::string &path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : 0;
}

bool exists(const std::string &path) { return kv::path_exists(path); }

// The start of a path's extension: its last '.' within the last path component (a dot in
// a folder name, such as a sandbox's, is no extension); npos when there is none.
size_t extensionStart(std::string_view path) {
  size_t dot = path.rfind('.');
  size_t slash = path.rfind('/');
  if (dot == std::string_view::npos) return dot;
  if (slash != std::string_view::npos && slash > dot) return std::string_view::npos;
  return dot;
}

std::string_view lastComponent(std::string_view path) {
  size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// A stem names files only when its last component is a name: an empty one ("", "dir/") or
// "." and ".." would make "<stem>.mp4" or "<stem>.*" the hidden files of a folder.
bool namesFiles(std::string_view stem) {
  std::string_view last = lastComponent(stem);
  return !last.empty() && last != "." && last != "..";
}

// What a single deletion may be asked for: a file or a folder, named; never nothing, the
// root, "." or "..". Judged on the caller's path, before it is taken below a board root.
bool isDeletable(std::string_view path) {
  while (!path.empty() && path.back() == '/') path.remove_suffix(1);
  return namesFiles(path);
}

// Deletes the ".mp4", ".gsf" and ".gps" files of a path's stem; false (nothing deleted)
// when the stem names no file.
bool deleteFamily(std::string stem) {
  size_t dot = extensionStart(stem);
  if (dot != std::string::npos) stem.resize(dot);
  if (!namesFiles(stem)) return false;
  for (auto ext : kFamilyExtensions) kv::remove_path(stem + std::string(ext));
  return true;
}

// The entry on which the running total passed the limit goes with its whole recording; an
// entry that is not one of the family's files (or whose name has no stem, such as ".mp4")
// is deleted itself too, so the space counted is really freed.
void deleteEntryAndFamily(const std::string &path) {
  bool family = deleteFamily(path);
  size_t dot = extensionStart(path);
  if (!family || dot == std::string::npos ||
      !oneOf(std::string_view(path).substr(dot), kFamilyExtensions))
    kv::remove_path(path);
}

// Deletes the listing's entries oldest first until more than `limit` bytes were counted.
template <typename Takes>
int deleteOldestOver(const char *strInPath, long long limit, Takes takes) {
  if (!strInPath) return 0;
  std::string folder = kv::resolved(strInPath);
  kv::DirListing list = sortedListing(folder);
  long long total = 0;
  for (int i = 0; i < list.size(); ++i) {
    const char *name = list.name(i);
    if (isDotEntry(name) || !takes(RecordName{name})) continue;
    std::string path = entryPath(folder, name);
    total += statSize(path);
    if (total > limit) {
      deleteEntryAndFamily(path);
      return 1;
    }
    kv::remove_path(path);
  }
  return 0;
}

// Adds the entries' sizes into `total`. With a limit, stops as soon as the total passes it
// and says so in `over`. False when the folder cannot be read.
bool sumSizes(const char *strInPath, const long long *limit, long long &total, bool &over) {
  total = 0;
  over = false;
  std::string folder = kv::resolved(strInPath);
  Dir dir(opendir(folder.c_str()));
  if (!dir) return false;
  while (struct dirent *e = readdir(dir.get())) {
    if (isDotEntry(e->d_name)) continue;
    total += statSize(entryPath(folder, e->d_name));
    if (limit && total > *limit) {
      over = true;
      break;
    }
  }
  return true;
}

struct SaveNotice {
  int command;
  const char *text;
};
constexpr SaveNotice kSaveNotices[] = {
    {SEND_TO_FRONT_AVI_SAVE_NOR_D, "#CMAND"},   {SEND_TO_FRONT_AVI_SAVE_EVT_I_D, "#CMAID"},
    {SEND_TO_FRONT_AVI_SAVE_EVT_I_P, "#CMAIP"}, {SEND_TO_FRONT_AVI_SAVE_EVT_M_D, "#CMAED"},
    {SEND_TO_FRONT_AVI_SAVE_EVT_M_P, "#CMAEP"}, {SEND_TO_FRONT_AVI_SAVE_MOT_P, "#CMAMP"},
    {SEND_TO_FRONT_AVI_SAVE_NOR_P, "#CMANP"}};

}  // namespace

extern "C" {

char *GetFileNameSeparator(int nDriveParkState, int nRecordType, int bContiniousRecord) {
  bool drive = nDriveParkState == MAIN_STATE_DRIVE;
  const char *sep = nullptr;
  for (const auto &k : kSeparators)
    if (k.kind == nRecordType) sep = drive ? k.drive : k.other;
  // An unknown kind: a continuous recording is always 'D'-rated "_NOR_", else a motion one.
  if (!sep) sep = drive ? "_NOR_D" : (bContiniousRecord ? "_NOR_P" : "_MOT_P");
  return const_cast<char *>(sep);
}

int GenerateRecordFileName(char *strFileName, int len, int nDriveParkState, int nRecordType,
                           int bContiniousRecord, int nFrontRearType, int referenceTime) {
  if (!strFileName) return -1;
  size_t room = len > 0 ? static_cast<size_t>(len) : KV_PATH_SIZE;
  std::string folder = kv::rooted(KV_RECORD_FOLDER);
  kv::shellf("mkdir -p %s\n", kv::shell_word(folder).c_str());
  std::string kind =
      std::string(GetFileNameSeparator(nDriveParkState, nRecordType, bContiniousRecord)) +
      unitSuffix(nFrontRearType);
  for (int attempt = 0;; ++attempt) {
    time_t t = attempt == 0 && referenceTime != 0 ? referenceTime : time(nullptr);
    struct tm tm = {};
    localtime_r(&t, &tm);
    // The seconds field is not normalised: attempt i shows seconds + i, so names made
    // within one second stay apart (a name may show 60 or more).
    char stem[KV_PATH_SIZE * 2];
    int n = snprintf(stem, sizeof stem, "%s/%04d%02d%02d-%02d%02d%02d%s", folder.c_str(),
                     tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                     tm.tm_sec + attempt, kind.c_str());
    if (n < 0 || static_cast<size_t>(n) + kVideo.size() >= room ||
        static_cast<size_t>(n) >= sizeof stem) {
      strFileName[0] = '\0';
      return -1;
    }
    // A leftover track or sensor file of the stem also marks the name as taken, so a new
    // recording never appends to or overwrites another one's data.
    bool taken = false;
    for (auto ext : kFamilyExtensions) taken = taken || exists(stem + std::string(ext));
    if (!taken) {
      snprintf(strFileName, room, "%s%.*s", stem, static_cast<int>(kVideo.size()), kVideo.data());
      return static_cast<int>(t);
    }
  }
}

int GetRecordFileLength(void) {
  char path[KV_PATH_SIZE * 2];
  GenerateRecordFileName(path, sizeof path, MAIN_STATE_DRIVE, BB_RECORD_PARKING_ALWAYS, 0,
                         DEVICE_2CH_FRONT, 0);
  const char *slash = strrchr(path, '/');
  return static_cast<int>(strlen(slash ? slash + 1 : path));
}

int GetCountByRecordType(const char *strInPath, RecordFileCount *pCount) {
  if (!strInPath || !pCount) return -1;
  kv::DirListing list = sortedListing(kv::resolved(strInPath));
  for (int i = 0; i < list.size(); ++i) {
    const char *name = list.name(i);
    if (isDotEntry(name)) continue;
    RecordName r{name};
    if (!r.sized()) {
      ++pCount->nOTHER;
    } else if (r.extension() == kVideo) {
      if (r.family() == "_NOR_")
        ++pCount->nNOR;
      else if (r.family() == "_EVT_")
        ++pCount->nEVT;
      else if (r.family() == "_MOT_")
        ++pCount->nMOT;
      else
        ++pCount->nOTHER;
    } else if (r.extension() != ".gps" && r.extension() != ".gsf") {
      ++pCount->nOTHER;
    }
  }
  return 0;
}

int GetSizeByRecordType(const char *strInPath, RecordFileSize *pRecordFileSize) {
  if (!strInPath || !pRecordFileSize) return -1;
  *pRecordFileSize = RecordFileSize{};
  std::string folder = kv::resolved(strInPath);
  Dir dir(opendir(folder.c_str()));
  if (!dir) return -1;
  while (struct dirent *e = readdir(dir.get())) {
    if (isDotEntry(e->d_name)) continue;
    RecordName r{e->d_name};
    if (!r.sized()) {
      ++pRecordFileSize->nUserCreatedCount;
      continue;
    }
    if (r.extension() != kVideo) continue;
    std::string_view sep = r.separator();
    int64_t *bucket = nullptr;
    if (sep == "_NOR_D" || sep == "_NOR_P") bucket = &pRecordFileSize->llAlways;
    if (sep == "_EVT_D" || sep == "_EVT_P") bucket = &pRecordFileSize->llEvent;
    if (sep == "_MOT_P") bucket = &pRecordFileSize->llParking;
    if (bucket)
      *bucket += statSize(entryPath(folder, e->d_name));
    else
      ++pRecordFileSize->nUserCreatedCount;
  }
  return 0;
}

void DeleteAllOthers(const char *strInPath, int nTotalCount, long long limitSpace) {
  if (!strInPath) return;
  std::string folder = kv::resolved(strInPath);
  kv::DirListing list = sortedListing(folder);
  int examined = 0, deleted = 0;
  long long bytes = 0;
  for (int i = 0; i < list.size(); ++i) {
    const char *name = list.name(i);
    if (isDotEntry(name)) continue;
    ++examined;
    std::string path = entryPath(folder, name);
    if (!isRecordingFile(RecordName{name})) {
      bytes += statSize(path);
      kv::remove_path(path);  // directories too, with what they hold
      ++deleted;
    }
    if (bytes >= limitSpace || (deleted >= nTotalCount && examined >= 5)) break;
  }
}

int DeleteRecordFileNoSize(char *strPath) {
  // The stem is judged before it is rooted: "" must not become the board root's own name.
  if (strPath && namesFiles(std::string_view(strPath).substr(0, extensionStart(strPath))))
    deleteFamily(kv::resolved(strPath));
  return 0;
}

int DeleteOldFileOverSize(char *strInPath, long long nInputSize) {
  return deleteOldestOver(strInPath, nInputSize, [](const RecordName &) { return true; });
}

int DeleteOldFileSepOverSize(char *strInPath, char *pSep, char *pSep2, long long nInputSize) {
  if (!pSep) return 0;
  auto familyIs = [](const RecordName &r, const char *sep) {
    return sep && strncmp(r.name.data() + 15, sep, 5) == 0;
  };
  return deleteOldestOver(strInPath, nInputSize, [&](const RecordName &r) {
    return r.sized() && oneOf(r.extension(), kFamilyExtensions) &&
           (familyIs(r, pSep) || familyIs(r, pSep2));
  });
}

int IsDirOverSize(char *strInPath, long long nInputSize) {
  long long total = 0;
  bool over = false;
  return strInPath && sumSizes(strInPath, &nInputSize, total, over) && over ? 1 : 0;
}

long long GetTotalFileSize(char *strInPath) {
  long long total = 0;
  bool over = false;
  if (!strInPath || !sumSizes(strInPath, nullptr, total, over)) return -1;
  return total;
}

long long KVGetDirectoryTotalSpace(const char *pDir) {
  if (!pDir) return 0;
  std::string folder = kv::resolved(pDir);
  if (!exists(folder)) return 0;
  std::string command = "du -s " + kv::shell_word(folder);
  Pipe du(kv_popen(command.c_str(), "r"));
  if (!du) return 0;
  char line[1024];
  if (!fgets(line, sizeof line, du.get())) return 0;
  long long kb = 0;
  const char *p = line;
  if (*p < '0' || *p > '9') return 0;
  for (; *p >= '0' && *p <= '9'; ++p) kb = kb * 10 + (*p - '0');
  // Drain the rest, so that du is not killed by a closed pipe.
  while (fgets(line, sizeof line, du.get())) {
  }
  return kb * 1024;
}

int IsEmptyDirectory(const char *strInPath) {
  if (!strInPath) return -1;
  Dir dir(opendir(kv::resolved(strInPath).c_str()));
  if (!dir) return -1;
  while (struct dirent *e = readdir(dir.get()))
    if (!isDotEntry(e->d_name)) return 0;
  return 1;
}

int IsEqualNameExistInDir(const char *strDir, const char *strName) {
  if (!strDir || !strName) return 0;
  Dir dir(opendir(kv::resolved(strDir).c_str()));
  if (!dir) return 0;
  while (struct dirent *e = readdir(dir.get()))
    if (!strcmp(e->d_name, strName)) return 1;
  return 0;
}

// "rm -f" calls a path it cannot find deleted. A card that is out shows an empty folder
// in its place and brings the file back when it is put in again: a deletion counts as
// done only where the folder that held the path is still there.
int KVDeleteFile(char *strPath) {
  if (!strPath || !isDeletable(strPath)) return -1;
  std::string path = kv::resolved(strPath);
  int status = kv::remove_path(path);
  size_t slash = path.find_last_not_of('/');
  slash = slash == std::string::npos ? 0 : path.find_last_of('/', slash);
  std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  if (status == 0 && !kv::path_exists(folder)) return -1;
  return status;
}

int KVDeleteAllExtFile(char *strPath) {
  if (!strPath || !namesFiles(strPath)) return -1;
  // The stem stays quoted; ".*" stands outside the quotes so that the shell expands it to
  // the recording's files (inside them it would name a file called "stem.*").
  return kv::shellf("rm -rf \"%s\".*\n", kv::shell_dq(kv::resolved(strPath)).c_str());
}

void CreatePath(char *strPath) {
  if (strPath) kv::shellf("mkdir -p %s\n", kv::shell_word(kv::resolved(strPath)).c_str());
}

void GenerateBlackBoxFolders(void) {
  kv::shellf("mkdir -p %s\n", kv::shell_word(kv::rooted(KV_RECORD_FOLDER)).c_str());
  kv::shellf("sync\n");
}

char *GetFileNamePointerFromPath(char *strPath) {
  if (!strPath) return nullptr;
  char *slash = strrchr(strPath, '/');
  return slash ? slash + 1 : nullptr;
}

int GetFileNameFromPath(char *strPath, char *outFileName) {
  char *name = GetFileNamePointerFromPath(strPath);
  if (!name || !outFileName) return -1;
  size_t n = strnlen(name, KV_PATH_SIZE - 1);
  memcpy(outFileName, name, n);
  outFileName[n] = '\0';
  return static_cast<int>(n);
}

int RemovePathDotExt(char *strFileName) {
  if (!strFileName) return -1;
  size_t dot = extensionStart(strFileName);
  if (dot == std::string_view::npos) return -1;
  strFileName[dot] = '\0';
  return static_cast<int>(dot);
}

int ChangePathDotExt(char *strFileName, char *strDotExt) {
  if (!strFileName || !strDotExt) return -1;
  size_t dot = extensionStart(strFileName);
  if (dot == std::string_view::npos) return -1;
  size_t old_len = strlen(strFileName), ext_len = strlen(strDotExt);
  // A longer extension may not grow the text past a path buffer.
  if (dot + ext_len > old_len && dot + ext_len >= KV_PATH_SIZE) return -1;
  memcpy(strFileName + dot, strDotExt, ext_len + 1);
  return static_cast<int>(dot + ext_len);
}

long long GetFileSize(char *strPath) { return strPath ? statSize(kv::resolved(strPath)) : 0; }

long long GetFileSizeByTell(char *strPath) {
  if (!strPath) return 0;
  File f(fopen(kv::resolved(strPath).c_str(), "rb"));
  if (!f || fseeko(f.get(), 0, SEEK_END) != 0) return 0;
  off_t end = ftello(f.get());
  return end < 0 ? 0 : static_cast<long long>(end);
}

int IsDirectory(char *strPath) {
  struct stat st;
  if (!strPath || stat(kv::resolved(strPath).c_str(), &st) != 0) return 0;
  return S_ISDIR(st.st_mode) ? 1 : 0;
}

char *ChangeSaveCommandToString(int command) {
  for (const auto &n : kSaveNotices)
    if (n.command == command) return const_cast<char *>(n.text);
  return nullptr;
}

int ChangeSaveStringToCommand(char *cmdString) {
  if (!cmdString) return 0;
  for (const auto &n : kSaveNotices)
    if (strncmp(cmdString, n.text, 6) == 0) return n.command;
  return 0;
}

}  // extern "C"
