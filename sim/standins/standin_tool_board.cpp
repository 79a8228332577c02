// SPDX-License-Identifier: MIT
// Behaviours of the stand-in tools that keep the sandbox's board true: mount and umount
// edit the sandbox's mount table, the card tools refuse a mounted card as the real ones do,
// and ps lists the processes of this sandbox only.
//
// The library hands these tools rooted paths ("<root>/mnt/mmc", "<root>/dev/mmcblk0p1"),
// because every fixed path of a command line goes through the board root. The mount table
// speaks the board's own namespace ("/dev/mmcblk0p1 /mnt/mmc vfat rw,..."), which is what
// the library searches for. So each path argument below the board root is mapped back to
// its board path (the root prefix is cut off) before it is written to or looked up in the
// table; a board path given as it is works the same.
#include "standin_tool_board.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <string_view>
#include <vector>

#include "kv_owners.hpp"
#include "standin.h"

namespace kvsim {

namespace {

std::string sysroot() {
  const char *root = getenv("KV_SYSROOT");
  return root ? root : "";
}

std::string boardPath(const std::string &arg) {
  std::string root = sysroot();
  if (!root.empty() && arg.size() > root.size() && arg.compare(0, root.size(), root) == 0 &&
      arg[root.size()] == '/')
    return arg.substr(root.size());
  return arg;
}

struct MountEntry {
  std::string device, point, line;
};

// The mount table under an exclusive lock, so that concurrent mounts never lose a line.
class MountTable {
 public:
  MountTable() {
    lock_.reset(open(simPath("/sim/tools/mounts.lock").c_str(), O_RDWR | O_CREAT, 0644));
    if (lock_) flock(lock_.get(), LOCK_EX);
    std::string text;
    readFile(simPath("/proc/mounts"), text);
    for (const std::string &line : splitLines(text)) {
      if (line.empty()) continue;
      char device[512] = {0}, point[512] = {0};
      sscanf(line.c_str(), "%511s %511s", device, point);
      entries_.push_back({device, point, line});
    }
  }
  MountTable(const MountTable &) = delete;
  MountTable &operator=(const MountTable &) = delete;

  std::vector<MountEntry> &entries() { return entries_; }

  bool has(const std::string &board_path) const {
    for (const auto &e : entries_)
      if (e.point == board_path || e.device == board_path) return true;
    return false;
  }

  // Written to a new file and renamed: a reader never sees half a table.
  bool save() const {
    std::string text;
    for (const auto &e : entries_) text += e.line + "\n";
    std::string file = simPath("/proc/mounts");
    std::string tmp = file + ".tool";
    kv::UniqueFile f(fopen(tmp.c_str(), "w"));
    if (!f) return false;
    fputs(text.c_str(), f.get());
    bool ok = f.reset() == 0;
    return ok && rename(tmp.c_str(), file.c_str()) == 0;
  }

 private:
  kv::UniqueFd lock_;  // the table's lock, held while the table lives
  std::vector<MountEntry> entries_;
};

// Options and plain arguments of a command line; "-t x" and "-o x" take a value.
struct Args {
  std::string type, options;
  bool read_only = false;
  std::vector<std::string> plain;
};

Args parseArgs(int argc, char **argv) {
  Args a;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if ((arg == "-t" || arg == "-o") && i + 1 < argc) {
      (arg == "-t" ? a.type : a.options) = argv[++i];
    } else if (arg == "-r") {
      a.read_only = true;
    } else if (!arg.empty() && arg[0] == '-') {
      continue;
    } else {
      a.plain.push_back(arg);
    }
  }
  std::string opts = "," + a.options + ",";
  if (opts.find(",ro,") != std::string::npos) a.read_only = true;
  return a;
}

bool isDirectory(const std::string &board_path) {
  struct stat st;
  return stat(simPath(board_path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The device a card tool works on: its last plain argument.
std::string deviceArg(int argc, char **argv) {
  Args a = parseArgs(argc, argv);
  return a.plain.empty() ? "" : boardPath(a.plain.back());
}

}  // namespace

// mount -t <type> [-o <options>] <device> <dir>: adds the table line. Without arguments it
// lists the table, as the real one does.
int standinMount(int argc, char **argv) {
  Args a = parseArgs(argc, argv);
  MountTable table;
  if (a.plain.empty()) {
    for (const auto &e : table.entries()) puts(e.line.c_str());
    return 0;
  }
  if (a.plain.size() < 2) {
    fprintf(stderr, "mount: can't find %s in /etc/fstab\n", a.plain[0].c_str());
    return 255;
  }
  std::string device = boardPath(a.plain[0]), point = boardPath(a.plain[1]);
  if (!isDirectory(point)) {
    fprintf(stderr, "mount: mounting %s on %s failed: No such file or directory\n", device.c_str(),
            point.c_str());
    return 255;
  }
  for (const auto &e : table.entries()) {
    if (e.point == point) {
      fprintf(stderr, "mount: mounting %s on %s failed: Device or resource busy\n", device.c_str(),
              point.c_str());
      return 255;
    }
  }
  std::string type = a.type.empty() ? "auto" : a.type;
  std::string options = a.read_only ? "ro" : "rw";
  options += type == "vfat" ? ",relatime,fmask=0022,dmask=0022,codepage=cp437,"
                              "iocharset=iso8859-1,shortname=mixed,errors=remount-ro"
                            : ",relatime";
  table.entries().push_back(
      {device, point, device + " " + point + " " + type + " " + options + " 0 0"});
  return table.save() ? 0 : 255;
}

// umount [-l] <dir or device>: removes the most recent matching line.
int standinUmount(int argc, char **argv) {
  Args a = parseArgs(argc, argv);
  if (a.plain.empty()) {
    fprintf(stderr, "umount: need a mount point\n");
    return 1;
  }
  std::string target = boardPath(a.plain[0]);
  MountTable table;
  auto &entries = table.entries();
  for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
    if (it->point == target || it->device == target) {
      entries.erase(std::next(it).base());
      return table.save() ? 0 : 1;
    }
  }
  fprintf(stderr, "umount: can't unmount %s: Invalid argument\n", target.c_str());
  return 1;
}

// fsck_msdos and mkdosfs refuse a card that is still mounted.
int standinCardTool(int argc, char **argv, int refused_status) {
  std::string device = deviceArg(argc, argv);
  MountTable table;
  if (!device.empty() && table.has(device)) {
    fprintf(stderr, "%s: %s is mounted\n", argv[0], device.c_str());
    return refused_status;
  }
  return 0;
}

int standinFsckMsdos(int argc, char **argv) { return standinCardTool(argc, argv, 8); }
int standinMkdosfs(int argc, char **argv) { return standinCardTool(argc, argv, 1); }

// ps: the processes of this sandbox only, known by the KV_SYSROOT they were started with,
// in the busybox layout.
int standinPs(int, char **) {
  puts("  PID USER       VSZ STAT COMMAND");
  forEachSandboxProcess([](pid_t pid, const std::string &cmdline) {
    std::string shown = cmdline;
    while (!shown.empty() && shown.back() == '\0') shown.pop_back();
    for (char &c : shown)
      if (c == '\0') c = ' ';
    printf("%5d %-8s %6s %-4s %s\n", static_cast<int>(pid), "root", "0", "S", shown.c_str());
  });
  return 0;
}

}  // namespace kvsim
