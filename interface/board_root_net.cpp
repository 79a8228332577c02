// SPDX-License-Identifier: MIT
// Network interfaces through the board root: the IPv4 address the radio's interface was
// given. On the board the kernel is asked; in a sandbox, the file its DHCP stand-in writes.
#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "board_root.h"
#include "kv_owners.hpp"

namespace {

int kernelAddress(const char *ifname, uint32_t *addr) {
  kv::UniqueFd sock(socket(AF_INET, SOCK_DGRAM, 0));
  if (!sock) return -2;
  struct ifreq req;
  memset(&req, 0, sizeof req);
  req.ifr_addr.sa_family = AF_INET;
  memcpy(req.ifr_name, ifname, strlen(ifname));  // shorter than IFNAMSIZ: checked by the caller
  if (ioctl(sock.get(), SIOCGIFADDR, &req) < 0) return -1;
  struct sockaddr_in in;
  memcpy(&in, &req.ifr_addr, sizeof in);
  *addr = in.sin_addr.s_addr;
  return 0;
}

#ifndef KV_BOARD_BUILD
// Each read is noted in sim/log/net.log (the interface's name, a line each), so that a test
// can count the checks a program makes, which its timing alone cannot tell apart by one.
void noteRead(const char *ifname) {
  kv::UniqueFd log(kv_open("/sim/log/net.log", O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
  std::string line = std::string(ifname) + "\n";
  if (log) (void)!write(log.get(), line.data(), line.size());
}

int sandboxAddress(const char *ifname, uint32_t *addr) {
  if (strchr(ifname, '/')) return -1;
  noteRead(ifname);
  kv::UniqueFile f(kv_fopen(("/sim/net/" + std::string(ifname)).c_str(), "r"));
  char text[32] = {0};
  if (!f || !fgets(text, sizeof text, f.get())) return -1;
  text[strcspn(text, " \r\n")] = '\0';
  struct in_addr in;
  if (inet_pton(AF_INET, text, &in) != 1) return -1;
  *addr = in.s_addr;
  return 0;
}
#endif

}  // namespace

extern "C" int kv_if_ipv4(const char *ifname, uint32_t *addr) {
  if (!ifname || !addr || !ifname[0] || strlen(ifname) >= IFNAMSIZ) return -1;
#ifndef KV_BOARD_BUILD
  if (kv_sysroot()[0]) return sandboxAddress(ifname, addr);
#endif
  return kernelAddress(ifname, addr);
}
