// SPDX-License-Identifier: MIT
// The demo's folder: a short one whatever TMPDIR says, and of the folders earlier demos
// left, only this user's finished ones removed (several demos may run at once).
// test-links: kvsim_demo_folder
#include "kv_demo_folder.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "sandbox.h"
#include "standin.h"

namespace {

namespace fs = std::filesystem;
using kvsim::Sandbox;

pid_t endedProcess() {
  pid_t pid = fork();
  if (pid == 0) _exit(0);
  waitpid(pid, nullptr, 0);
  return pid;
}

TEST(DemoFolder, a_temporary_folder_too_long_for_a_recordings_stem_gives_way_to_tmp) {
  Sandbox board;
  const std::string long_parent = board.path("/tmp/user/0/long-folder");
  fs::create_directories(long_parent);
  testing::internal::CaptureStdout();
  std::string folder = kvdemo::makeDemoFolder({long_parent, "/tmp"});
  std::string said = testing::internal::GetCapturedStdout();
  ASSERT_EQ(folder.rfind("/tmp/kv-demo.", 0), 0u) << folder;
  EXPECT_LE(folder.size() + std::string("/front.XXXXXX").size(), kvdemo::kMaxBoardRoot);
  EXPECT_NE(said.find(folder), std::string::npos) << said;
  EXPECT_NE(said.find(long_parent), std::string::npos) << said;
  std::string pid;
  EXPECT_TRUE(kvsim::readFile(folder + "/demo.pid", pid));
  EXPECT_EQ(pid, std::to_string(getpid()) + "\n");
  fs::remove_all(folder);
}

TEST(DemoFolder, only_this_users_finished_demos_are_removed) {
  Sandbox board;
  const std::string parent = board.path("/demos");
  const std::string dead = std::to_string(endedProcess()) + "\n";
  const struct {
    const char *name;
    std::string pid;  // "": no mark
    bool other_user, removed;
  } folders[] = {
      {"kv-demo.finished", dead, false, true},
      {"kv-demo.running", std::to_string(getpid()) + "\n", false, false},
      {"kv-demo.unmarked", "", false, false},
      {"other.finished", dead, false, false},
      {"kv-demo.someone_elses", dead, true, false},
  };
  for (const auto &f : folders) {
    fs::create_directories(parent + "/" + f.name);
    if (!f.pid.empty()) board.write("/demos/" + std::string(f.name) + "/demo.pid", f.pid);
    if (f.other_user && chown((parent + "/" + f.name).c_str(), 65534, 65534) != 0)
      GTEST_SKIP() << "not root: cannot make a folder of another user";
  }
  EXPECT_EQ(kvdemo::removeOldDemos({parent}), 1);
  for (const auto &f : folders) EXPECT_EQ(fs::exists(parent + "/" + f.name), !f.removed) << f.name;
}

}  // namespace
