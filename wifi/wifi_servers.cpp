// SPDX-License-Identifier: MIT
#include "wifi_servers.hpp"

#include <string>

#include "board_root.h"
#include "kv_common_util.h"

namespace wifi_programs {
namespace {

constexpr const char kBoa[] = "/opt/vcam/boa";
constexpr const char kBoaConfDir[] = "/etc";
constexpr const char kBftpd[] = "/opt/vcam/bftpd";

std::string rootedWord(const char *board_path) { return kv::shell_word(kv::rooted(board_path)); }

}  // namespace

void startServers(int gap_ms) {
  kv::shellf("%s -c %s &\n", rootedWord(kBoa).c_str(), rootedWord(kBoaConfDir).c_str());
  if (gap_ms > 0) kv::sleep_ms(gap_ms);
  kv::shellf("%s -d\n", rootedWord(kBftpd).c_str());
}

void stopServers() {
  kv_system("killall -9 bftpd\n");
  kv_system("killall -9 boa\n");
}

}  // namespace wifi_programs
