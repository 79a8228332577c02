// The simulated board's own promises that the other tests rely on.
#include "sandbox.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

namespace {

using namespace std::chrono_literals;
using kvsim::Sandbox;

// The sandbox signals a program's whole process group when it stops it; the group's
// number must still be the sandbox's own then, never one handed to an outside process.
TEST(SandboxProcesses, an_ended_program_keeps_its_number_until_the_sandbox_stops_its_group) {
  pid_t pid;
  {
    Sandbox board;
    pid = board.start({"sh", "-c", "exit 3"});
    int status = board.wait(pid, 5000ms);
    ASSERT_NE(status, -1);
    EXPECT_EQ(Sandbox::exitCode(status), 3);
    EXPECT_EQ(kill(pid, 0), 0) << "the number was given back while the sandbox still uses it";
    EXPECT_FALSE(board.running(pid));
    board.signal(pid, SIGTERM);
    EXPECT_EQ(Sandbox::exitCode(board.wait(pid)), 3);
  }
  errno = 0;
  EXPECT_EQ(waitpid(pid, nullptr, WNOHANG), -1) << "not collected when the sandbox ended";
  EXPECT_EQ(errno, ECHILD);
}

}  // namespace
