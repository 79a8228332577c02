// SPDX-License-Identifier: MIT
// kv_powerctl: stops the recorder and has the board controller cut, or cut and restore,
// the main power.
//
//   kv_powerctl <mode>    0 power off, 1 emergency power off, 2 restart the board
//
// The supervisor and the two servers are killed and both file systems unmounted before
// the controller is told anything, so that no file system is left dirty when the supply
// goes. Any other mode stops and unmounts all the same, then refuses the controller
// command with "wrong input argument" and status -1. A mode that is not a decimal number is
// refused the same way, but before anything is stopped.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "board_root.h"
#include "dm368_zt5_util.h"
#include "kv_cmdline.h"
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

// An optional sign and decimal digits, nothing else; one too large for a long is still a
// number (and so a wrong mode after the stop).
bool parseDecimal(const char *text, long &number) {
  const char *digits = text + (*text == '-' || *text == '+');
  if (*digits == '\0' || strspn(digits, "0123456789") != strlen(digits)) return false;
  number = strtol(text, nullptr, 10);
  return true;
}

const Mode *findMode(long number) {
  for (const auto &mode : kModes)
    if (mode.number == number) return &mode;
  return nullptr;
}

}  // namespace

int main(int argc, char **argv) {
  kv_answer_help_or_version("kv_powerctl", argc, argv);
  if (argc < 2) {
    wrongInput();
    return -1;
  }
  // Text that is no decimal number is refused before anything is stopped: read as mode 0,
  // a typo (or "--hlep") would kill the recorder and power the board off. Compared as a
  // long, so that no out-of-range number can fold into a valid mode.
  long number = 0;
  if (!parseDecimal(argv[1], number)) {
    wrongInput();
    return -1;
  }
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
