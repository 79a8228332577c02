// SPDX-License-Identifier: MIT
// Where a demo's folder goes and which earlier demos' folders go away. A recording's name
// stem, which carries the board's folder, must fit the GPS start record; a long TMPDIR
// (libpam-tmpdir sets /tmp/user/<uid>) leaves no room, and the demo then says which
// folder it took instead. Several demos may run at once, of one user or of several.
#include "kv_demo_folder.h"

#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "kv_owners.hpp"
#include "sandbox.h"
#include "standin.h"

namespace kvdemo {
namespace {

namespace fs = std::filesystem;

constexpr const char *kDemoName = "kv-demo";
constexpr const char *kOwnerFile = "demo.pid";  // marks a folder as a demo's

// A board's folder below a demo folder in `parent`: "<parent>/kv-demo.XXXXXX/front.XXXXXX".
bool boardRootFits(const std::string &parent) {
  return parent.size() + std::string("/kv-demo.XXXXXX/front.XXXXXX").size() <= kMaxBoardRoot;
}

// A process of another user answers kill() with EPERM: it runs all the same.
bool demoStillRuns(const std::string &owner) {
  pid_t pid = static_cast<pid_t>(atoi(owner.c_str()));
  return pid > 0 && (kill(pid, 0) == 0 || errno == EPERM);
}

bool myFolder(const fs::path &path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid();
}

}  // namespace

std::vector<std::string> demoParents() {
  std::vector<std::string> parents = {fs::temp_directory_path().string()};
  for (const char *short_one : {"/tmp", "/var/tmp"})
    if (std::find(parents.begin(), parents.end(), short_one) == parents.end())
      parents.push_back(short_one);
  return parents;
}

int removeOldDemos(const std::vector<std::string> &parents) {
  int removed = 0;
  for (const std::string &parent : parents) {
    std::error_code ec;
    for (const auto &entry : fs::directory_iterator(parent, ec)) {
      std::string name = entry.path().filename().string();
      if (name.rfind(std::string(kDemoName) + ".", 0) != 0 || !myFolder(entry.path())) continue;
      // The mark of the demo's single-board days, sim/demo.pid, counts too.
      std::string owner;
      if (!kvsim::readFile(entry.path().string() + "/" + kOwnerFile, owner) &&
          !kvsim::readFile(entry.path().string() + "/sim/demo.pid", owner))
        continue;
      if (demoStillRuns(owner)) continue;
      kvsim::removeLeftoverSandboxes(entry.path().string());
      std::error_code rm;
      fs::remove_all(entry.path(), rm);
      if (!rm) ++removed;
    }
  }
  return removed;
}

std::string makeDemoFolder(const std::vector<std::string> &parents) {
  for (const std::string &parent : parents) {
    if (!boardRootFits(parent)) continue;
    std::string tmpl = parent + "/" + kDemoName + ".XXXXXX";
    if (!mkdtemp(tmpl.data())) continue;
    {
      kv::UniqueFile f(fopen((tmpl + "/" + kOwnerFile).c_str(), "w"));
      if (f) fprintf(f.get(), "%d\n", getpid());
    }
    if (parent != parents.front())
      printf(
          "kv_demo: the boards go to %s: the temporary folder %s leaves a recording's name "
          "too little room\n",
          tmpl.c_str(), parents.front().c_str());
    return tmpl;
  }
  return "";
}

}  // namespace kvdemo
