// SPDX-License-Identifier: MIT
// The restart sequence: notice to the other camera unit, spoken prompts, the recorder's
// processes stopped by name, storage unmounted, main power cut and restored.
#include <fcntl.h>
#include <pthread.h>
#include <stdio.h>
#include <termios.h>
#include <unistd.h>

#include <string>

#include "KVLog.h"
#include "board_root.h"
#include "dm368_zt5_util.h"
#include "file_msg_drv.h"
#include "kv_common_util.h"
#include "kv_owners.hpp"
#include "kv_sentinel.h"
#include "kv_sysinfo_util.h"

namespace {

const char kLinkPort[] = "/dev/ttyS1";
// The front unit's stop notice is one backslash; the rear unit sends a command line that
// the front unit's link daemon understands.
constexpr unsigned char kFrontStopByte = 0x5C;
const char kRearStopCommand[] = "\r\n#CMSTP\r\n";

// Stopped in this order; the saver is given its SIGINT in the background so that its
// final write cannot hold up the others.
const char *const kKillList[] = {
    "killall -2 kv_wifi_switch",     "killall -9 bftpd\n",    "killall -9 boa\n",
    "killall -2 Orvel_avi_save &\n", "killall -2 kv_navlink", "killall -2 av_server.out",
    "killall -9 system_server",      "killall -9 kv_server",
};

// Spoken prompts, in the folder of the unit's language.
const char kSoundFolder[] = "/opt/vcam/sounds";
const char *const kPrompts[] = {"27_recording_not_working.wav", "03_travelogbox_restart.wav"};

// Raw 9600 8N1 as the link expects, applied at once.
void applyRawLink(int fd) {
  struct termios tio = {};
  tio.c_cflag = B9600 | CS8 | CREAD | CLOCAL;
  tio.c_iflag = IGNPAR;
  tio.c_oflag = 0;
  tio.c_lflag = 0;
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
  cfsetispeed(&tio, B9600);
  cfsetospeed(&tio, B9600);
  tcsetattr(fd, TCSANOW, &tio);
}

kv::UniqueFd openLink() {
  return kv::UniqueFd(kv_open(kLinkPort, O_WRONLY | O_NOCTTY | O_NONBLOCK));
}

void noticeFromFront() {
  kv::UniqueFd link = openLink();
  if (!link) return;  // nothing to tell the rear unit through
  struct termios saved;
  bool haveSaved = tcgetattr(link.get(), &saved) == 0;
  applyRawLink(link.get());
  ssize_t n = write(link.get(), &kFrontStopByte, 1);
  (void)n;
  if (haveSaved) tcsetattr(link.get(), TCSANOW, &saved);
}

void noticeFromRear() {
  kv::UniqueFd link = openLink();
  if (!link) {
    printf("Error: can't open device\n");
    return;
  }
  applyRawLink(link.get());
  const int length = sizeof kRearStopCommand - 1;
  printf("WriteToSerial W write [%s], length=%d \n", kRearStopCommand, length);
  for (int i = 0; i < length; ++i)
    if (write(link.get(), &kRearStopCommand[i], 1) != 1) break;
}

void tellOtherUnit(SysInfo *info) {
  if (!info) return;
  if (Is2ChFront(info))
    noticeFromFront();
  else if (Is2ChRear(info))
    noticeFromRear();
}

// Each prompt's path is one word of the command, whatever the board root or the language
// file hold; a command that does not fit is not run.
void playPrompts() {
  char lang[3] = "";
  char langFile[] = "/mnt/nand/lang";
  KVCheckLanguage(langFile, lang);
  for (const char *prompt : kPrompts) {
    std::string path = std::string(kSoundFolder) + "/" + lang + "/" + prompt;
    kv::shellf("aplay %s", kv::board_word(path).c_str());
  }
}

}  // namespace

void *RestartThread(void *) {
  KillAndRestart();
  return nullptr;
}

void KillAndRestart() {
  KVLog("KillAndRestart enter\n");
  playPrompts();
  for (const char *command : kKillList) kv::shellf("%s", command);
  SendFileQuitCmd();
  kv::sleep_ms(500);
  int sd = SafeUnmountSd();
  KVLog("**** SafeUnmountSd ret=%d\n", sd);
  // From here the log goes to standard error, so that the flash can be unmounted.
  KVLogSetWriteFile(0);
  SafeUnmountNand();
  kv::sleep_ms(200);
  micom_main_buck_restart();
  printf("KillAndRestart exit\n");
}

int StartRestartThread(void *pSysInfo) {
  printf("StartRestartThread enter\n");
  tellOtherUnit(static_cast<SysInfo *>(pSysInfo));
  pthread_t thread;
  if (pthread_create(&thread, nullptr, RestartThread, nullptr) == 0) pthread_detach(thread);
  // Whatever the stopping half is doing (an aplay or umount may hang), the power restart
  // follows 10 s after the sequence began.
  kv::sleep_ms(10000);
  printf("StartRestartThread exit\n");
  kv::sleep_ms(200);
  micom_main_buck_restart();
  return 0;
}
