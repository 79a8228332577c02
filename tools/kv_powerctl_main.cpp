// kv_powerctl: stops the recorder and has the board controller cut, or cut and restore,
// the main power.
//
//   kv_powerctl <mode>    0 power off, 1 emergency power off, 2 restart the board
//
// The supervisor and the two servers are killed and both file systems unmounted before
// the controller is told anything, so that no file system is left dirty when the supply
// goes. Any other mode stops and unmounts all the same, then refuses the controller
// command with "wrong input argument" and status -1.
#include <stdio.h>
#include <stdlib.h>

#include "board_root.h"
#include "dm368_zt5_util.h"
#include "kv_common_util.h"

namespace {

// Killed outright: the supervisor goes first, or it would see its servers vanish and
// power-cycle the unit in the middle of the power-off.
const char *const kKillList[] = {"killall -9 kv_sentinel\n", "killall -9 system_server",
                                 "killall -9 kv_server"};

// Settle times after each unmount ladder, before the next step touches the board.
constexpr int kAfterCardMs = 500;
constexpr int kAfterFlashMs = 200;

struct Mode {
  long number;
  int (*command)(void);
};

// The controller removes the supply (0, 1) or restarts the board (2) shortly after the
// command; the tool does not wait for it.
constexpr Mode kModes[] = {
    {0, micom_main_buck_off},
    {1, micom_emergency_off},
    {2, micom_main_buck_restart},
};

void wrongInput() { printf("wrong input argument"); }

void stopRecorder() {
  for (const char *command : kKillList) kv_system(command);
}

// The results are not looked at: a card that stays mounted does not stop the power-off.
void unmountStorage() {
  SafeUnmountSd();
  kv::sleep_ms(kAfterCardMs);
  SafeUnmountNand();
  kv::sleep_ms(kAfterFlashMs);
}

const Mode *findMode(long number) {
  for (const auto &mode : kModes)
    if (mode.number == number) return &mode;
  return nullptr;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 2) {
    wrongInput();
    return -1;
  }
  // Parsed as the board's scripts have always had it: text that is no number is mode 0.
  // Compared as a long, so that no out-of-range number can fold into a valid mode.
  long number = strtol(argv[1], nullptr, 10);
  stopRecorder();
  unmountStorage();
  const Mode *mode = findMode(number);
  if (!mode) {
    wrongInput();
    return -1;
  }
  mode->command();
  return 0;
}
