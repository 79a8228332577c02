// SPDX-License-Identifier: MIT
// --help and --version, tried as a person would on a unit: every program answers and ends
// with status 0, and nothing on the board changes (no tool run, no file written, no
// daemon left running). Without the answer, kv_powerctl --help powered the board off and
// kv_bootcheck --help checked the card.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "dm368_zt5_util.h"
#include "sandbox.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using kvsim::Sandbox;

const char *const kPrograms[] = {
    "kv_sentinel",    "kv_navlink",  "kv_shocklog",  "kv_stationd",
    "kv_wifi_switch", "kv_powerctl", "kv_bootcheck", "i2c_rw",
#ifdef KV_TEST_HAVE_EXPORT
    "kv_export",
#endif
};

// Every file of the board with its size and time of change; what the sandbox keeps of a
// program's output is its own, not the board's.
std::map<std::string, std::string> boardFiles(const Sandbox &board) {
  std::map<std::string, std::string> files;
  for (const auto &entry : fs::recursive_directory_iterator(board.root())) {
    std::string name = entry.path().string().substr(board.root().size());
    if (name.rfind("/sim/out", 0) == 0) continue;
    struct stat st;
    if (lstat(entry.path().c_str(), &st) != 0) continue;
    files[name] = std::to_string(st.st_size) + " " + std::to_string(st.st_mtim.tv_sec) + "." +
                  std::to_string(st.st_mtim.tv_nsec);
  }
  return files;
}

struct Case {
  const char *program;
  const char *word;
};

void PrintTo(const Case &c, std::ostream *os) { *os << c.program << " " << c.word; }

std::vector<Case> allCases() {
  std::vector<Case> cases;
  for (const char *program : kPrograms)
    for (const char *word : {"--help", "--version"}) cases.push_back({program, word});
  return cases;
}

class AnswerOnly : public ::testing::TestWithParam<Case> {};

TEST_P(AnswerOnly, answers_with_status_0_and_changes_nothing_on_the_board) {
  const Case &c = GetParam();
  Sandbox board;
  // A card in the slot (as a new board has it) and mounted: what a power-off or a card
  // check would act on.
  board.append("/proc/mounts", "/dev/mmcblk0p1 /mnt/mmc vfat rw,relatime 0 0\n");
  auto before = boardFiles(board);

  pid_t pid = board.start({c.program, c.word});
  int status = board.wait(pid, 5000ms);
  ASSERT_NE(status, -1) << "still running: it did not just answer";
  EXPECT_EQ(Sandbox::exitCode(status), 0);

  std::string out = board.stdoutOf(pid);
  std::string word = c.word;
  if (word == "--version") {
    EXPECT_EQ(out.rfind(std::string(c.program) + " " + KV_TEST_PROJECT_VERSION, 0), 0u) << out;
    EXPECT_EQ(kvsim::splitLines(out).size(), 1u) << out;
  } else {
    EXPECT_EQ(out.rfind(std::string("Usage: ") + c.program, 0), 0u) << out;
  }
  EXPECT_EQ(board.stderrOf(pid), "");
  EXPECT_TRUE(board.commands().empty()) << board.commands().front();
  EXPECT_EQ(boardFiles(board), before);
}

std::string caseName(const ::testing::TestParamInfo<Case> &info) {
  return std::string(info.param.program) + "_" + (info.param.word + 2);
}

INSTANTIATE_TEST_SUITE_P(EveryProgram, AnswerOnly, ::testing::ValuesIn(allCases()), caseName);

}  // namespace
