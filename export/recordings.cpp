// SPDX-License-Identifier: MIT
#include "recordings.hpp"

#include <errno.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>

#include "kv_owners.hpp"
#include "text_out.hpp"

namespace kv_export {
namespace {

enum class Kind { None, Gps, Gsf, Mp4 };

// Cards are read on any computer, so the extension may come back in capitals.
Kind kindOf(std::string_view name) {
  if (name.size() < 5) return Kind::None;
  const char *ext = name.data() + name.size() - 4;
  if (strncasecmp(ext, ".gps", 4) == 0) return Kind::Gps;
  if (strncasecmp(ext, ".gsf", 4) == 0) return Kind::Gsf;
  if (strncasecmp(ext, ".mp4", 4) == 0) return Kind::Mp4;
  return Kind::None;
}

std::string canonical(const std::string &path) {
  char buf[PATH_MAX];
  return realpath(path.c_str(), buf) ? std::string(buf) : path;
}

FolderRecordings &folderOf(std::vector<FolderRecordings> &all, const std::string &folder) {
  std::string real = canonical(folder);
  for (auto &f : all)
    if (f.real == real) return f;
  all.push_back({folder, real, {}});
  return all.back();
}

void addFile(FolderRecordings &f, const std::string &path, std::string_view name, Kind kind) {
  std::string stem(name.substr(0, name.size() - 4));
  auto it = std::find_if(f.recordings.begin(), f.recordings.end(),
                         [&](const RecordingFiles &r) { return r.stem == stem; });
  if (it == f.recordings.end()) {
    f.recordings.push_back({stem, "", "", ""});
    it = f.recordings.end() - 1;
  }
  (kind == Kind::Gps ? it->gps : kind == Kind::Gsf ? it->gsf : it->mp4) = path;
}

// Hidden entries are skipped: other computers leave "._name" companions on a card.
int visibleEntry(const struct dirent *e) { return e->d_name[0] != '.'; }

std::string joined(const std::string &folder, std::string_view name) {
  return folder + (folder.ends_with('/') ? "" : "/") + std::string(name);
}

bool isFolder(const std::string &path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The card's root holds the recorder's folder "Recordings" (any case, as another computer
// may have written it) and no recording of its own.
std::string recordingsFolderOfCard(const std::string &folder, const kv::DirListing &list) {
  for (int i = 0; i < list.size(); ++i)
    if (kindOf(list.name(i)) != Kind::None) return {};
  for (int i = 0; i < list.size(); ++i)
    if (strcasecmp(list.name(i), "Recordings") == 0 && isFolder(joined(folder, list.name(i))))
      return joined(folder, list.name(i));
  return {};
}

void addFolder(std::vector<FolderRecordings> &all, const std::string &given,
               std::vector<std::string> &errors, std::vector<std::string> &notes) {
  std::string folder = given;
  kv::DirListing list;
  if (!list.scan(folder.c_str(), visibleEntry, alphasort)) {
    errors.push_back(folder + ": " + strerror(errno));
    return;
  }
  std::string inner = recordingsFolderOfCard(folder, list);
  if (!inner.empty()) {
    notes.push_back(given + " is a card: reading its recordings in " + inner);
    folder = inner;
    if (!list.scan(folder.c_str(), visibleEntry, alphasort)) {
      errors.push_back(folder + ": " + strerror(errno));
      return;
    }
  }
  FolderRecordings &f = folderOf(all, folder);
  for (int i = 0; i < list.size(); ++i) {
    std::string_view name = list.name(i);
    Kind kind = kindOf(name);
    std::string path = joined(folder, name);
    struct stat st;
    if (kind != Kind::None && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode))
      addFile(f, path, name, kind);
  }
}

void sortByName(FolderRecordings &f) {
  std::sort(f.recordings.begin(), f.recordings.end(),
            [](const RecordingFiles &a, const RecordingFiles &b) { return a.stem < b.stem; });
}

}  // namespace

std::vector<FolderRecordings> gatherRecordings(const std::vector<std::string> &inputs,
                                               std::vector<std::string> &errors,
                                               std::vector<std::string> &notes) {
  std::vector<FolderRecordings> all;
  for (const std::string &in : inputs) {
    struct stat st;
    if (stat(in.c_str(), &st) != 0) {
      errors.push_back(in + ": " + strerror(errno));
    } else if (S_ISDIR(st.st_mode)) {
      addFolder(all, in, errors, notes);
    } else {
      size_t slash = in.rfind('/');
      std::string_view name =
          std::string_view(in).substr(slash == std::string::npos ? 0 : slash + 1);
      Kind kind = kindOf(name);
      if (kind == Kind::None)
        errors.push_back(in + ": not a recording's .gps, .gsf or .mp4 file");
      else
        addFile(folderOf(all, slash == std::string::npos ? "." : in.substr(0, slash + 1)), in, name,
                kind);
    }
  }
  for (auto &f : all) sortByName(f);
  return all;
}

std::string describeRecordingName(std::string_view stem) {
  // YYYYMMDD-hhmmss, "_NOR_" / "_EVT_" / "_MOT_", 'D' or 'P', then "_F", "_R" or nothing.
  if ((stem.size() != 21 && stem.size() != 23) || stem[8] != '-') return {};
  for (size_t i : {0, 1, 2, 3, 4, 5, 6, 7, 9, 10, 11, 12, 13, 14})
    if (stem[i] < '0' || stem[i] > '9') return {};
  struct Family {
    std::string_view tag, text;
  };
  static constexpr Family kFamilies[] = {{"_NOR_", "continuous recording"},
                                         {"_EVT_", "event recording"},
                                         {"_MOT_", "motion recording"}};
  std::string_view family;
  for (const auto &f : kFamilies)
    if (stem.substr(15, 5) == f.tag) family = f.text;
  char state = stem[20];
  if (family.empty() || (state != 'D' && state != 'P')) return {};
  std::string_view unit;
  if (stem.size() == 23) {
    std::string_view suffix = stem.substr(21);
    if (suffix == "_F")
      unit = ", front unit";
    else if (suffix == "_R")
      unit = ", rear unit";
    else
      return {};
  }
  std::string out;
  const char *d = stem.data();
  appendf(out, "%.4s-%.2s-%.2s %.2s:%.2s:%.2s, %s while %s%.*s", d, d + 4, d + 6, d + 9, d + 11,
          d + 13, std::string(family).c_str(), state == 'D' ? "driving" : "parked",
          static_cast<int>(unit.size()), unit.data());
  return out;
}

}  // namespace kv_export
