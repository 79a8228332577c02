// SPDX-License-Identifier: MIT
#include "kv_cmdline.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "kv_version.h"

namespace {

struct Usage {
  const char *program;
  const char *manual;  // the manual page that says everything
  const char *text;    // synopsis, then what it does; nullptr: the program prints its own
};

// Short on purpose: the manual pages are the full description.
constexpr Usage kUsages[] = {
    {"kv_sentinel", "kv_sentinel(8)",
     "Usage: kv_sentinel\n"
     "Keeps the recorder's servers alive: asks av_server, system_server and kv_server every\n"
     "10 s whether they answer, and restarts the unit when one has not for 40 s or when\n"
     "a program raises the shared error flag.\n"},
    {"kv_navlink", "kv_navlink(8)",
     "Usage: kv_navlink\n"
     "The GPS and serial-link daemon: reads the GPS receiver on /dev/ttyS0, sets the clock\n"
     "and the display speed from it, writes a track file beside every recording, and\n"
     "carries the rear camera unit's commands to the front unit over /dev/ttyS1.\n"},
    {"kv_shocklog", "kv_shocklog(8)",
     "Usage: kv_shocklog STEM PREVIOUS START_TICK RESERVED MAX_RUN\n"
     "Writes STEM.gsf, the G-sensor data file of one recording: the samples kv_server kept\n"
     "since START_TICK (monotonic ms), then one sample every 250 ms until SIGINT or MAX_RUN\n"
     "ms after start. SIGUSR2 within the first 6 s has the file removed at the end.\n"},
    {"kv_stationd", "kv_stationd(8)",
     "Usage: kv_stationd on|ON SSID PASSWORD SECURITY DEVICE_NAME REAR\n"
     "       kv_stationd off\n"
     "Joins a Wi-Fi network in station mode (SECURITY: 0 open, 1 WEP, 2 WPA/WPA2 personal;\n"
     "REAR not 0: join the front unit with the settings on the flash), gets an address by\n"
     "DHCP and starts the web and FTP servers; any other first argument leaves it.\n"},
    {"kv_wifi_switch", "kv_wifi_switch(8)",
     "Usage: kv_wifi_switch on|ON SSID KEY CHANNEL [REAR_MAC]\n"
     "       kv_wifi_switch off|OFF\n"
     "Turns the unit's Wi-Fi access point (192.168.6.216) with its DHCP service and the web\n"
     "and FTP servers on, or off.\n"},
    {"kv_powerctl", "kv_powerctl(8)",
     "Usage: kv_powerctl MODE\n"
     "Stops the recorder (kills kv_sentinel, system_server and kv_server), unmounts the SD\n"
     "card and the flash, then has the board controller act by MODE:\n"
     "  0  power off    1  emergency power off    2  restart the board\n"
     "A MODE that is not a decimal number is refused before anything is stopped.\n"},
    {"kv_bootcheck", "kv_bootcheck(8)",
     "Usage: kv_bootcheck\n"
     "Checks the SD card's file system once at boot (the card is left unmounted) and leaves\n"
     "the outcome in /mnt/nand/boot_checkdisk: 0 no card, 1 usable, -1 not usable.\n"},
    {"i2c_rw", "i2c_rw(8)",
     "Usage: i2c_rw -r DEV_HEX [REG_HEX [COUNT [WIDTH]]]\n"
     "       i2c_rw -w DEV_HEX [REG_HEX [VALUE_HEX [WIDTH]]]\n"
     "Reads COUNT (4) registers of the I2C device DEV from register REG (0) on, or writes\n"
     "VALUE to one register and reads it back. WIDTH is the value width in bytes, 1 or 2.\n"},
    {"kv_export", "kv_export(1)", nullptr},
};

const Usage *usageOf(const char *program) {
  for (const Usage &usage : kUsages)
    if (strcmp(usage.program, program) == 0) return &usage;
  return nullptr;
}

void printUsage(const Usage &usage) {
  fputs(usage.text, stdout);
  printf("See %s for the whole description.\n", usage.manual);
}

}  // namespace

extern "C" void kv_answer_help_or_version(const char *program, int argc, char **argv) {
  if (argc < 2 || !argv[1]) return;
  const Usage *usage = usageOf(program);
  if (strcmp(argv[1], "--version") == 0) {
    printf("%s %s\n", program, KV_VERSION);
  } else if (strcmp(argv[1], "--help") == 0 && usage && usage->text) {
    printUsage(*usage);
  } else {
    return;
  }
  // Standard output may be a pipe or a full disk: a lost answer is a failure.
  exit(fflush(stdout) == 0 && !ferror(stdout) ? 0 : 1);
}
