// SPDX-License-Identifier: MIT
#include "sandbox_card.h"

#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace kvsim {

namespace {

std::string cardProgram() { return Sandbox::simDir() + "/kv_cardfs"; }

// One line from the card, waiting at most `timeout_ms`; "" when none came.
std::string readLine(int fd, int timeout_ms) {
  std::string line;
  char c;
  while (true) {
    pollfd p = {fd, POLLIN, 0};
    if (poll(&p, 1, timeout_ms) <= 0) return "";
    if (read(fd, &c, 1) != 1) return "";
    if (c == '\n') return line;
    line += c;
  }
}

}  // namespace

std::string Card::unavailable() {
  if (geteuid() != 0) return "the card's faults need root (a FUSE mount)";
  if (access("/dev/fuse", R_OK | W_OK) != 0) return "the card's faults need /dev/fuse";
  if (access(cardProgram().c_str(), X_OK) != 0)
    return "kv_cardfs is not built (Debian: libfuse3-dev fuse3)";
  return "";
}

Card::Card(Sandbox &board, std::string board_path) : mountpoint_(board.path(board_path)) {
  if (!unavailable().empty()) return;
  board.mkdir(board_path);
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) return;
  pid_ = fork();
  if (pid_ == 0) {
    dup2(pair[1], 3);  // dup2 clears close-on-exec
    execl(cardProgram().c_str(), "kv_cardfs", mountpoint_.c_str(), "3",
          static_cast<char *>(nullptr));
    _exit(127);
  }
  close(pair[1]);
  if (pid_ < 0) {
    close(pair[0]);
    return;
  }
  if (readLine(pair[0], 10000) == "mounted") {
    control_ = pair[0];
    return;
  }
  close(pair[0]);
  kill(pid_, SIGTERM);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

Card::~Card() {
  if (control_ >= 0) {
    send("quit");
    close(control_);
  }
  if (pid_ > 0) {
    for (int i = 0; i < 250; ++i) {
      if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
        pid_ = -1;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  // Whatever happened to the card's program, nothing stays mounted over the sandbox.
  umount2(mountpoint_.c_str(), MNT_DETACH);
}

std::string Card::send(const std::string &line) {
  if (control_ < 0) return "";
  std::string text = line + "\n";
  if (write(control_, text.data(), text.size()) != static_cast<ssize_t>(text.size())) return "";
  std::string reply;
  for (;;) {
    std::string got = readLine(control_, 10000);
    if (got.empty() || got == "ok") return reply;
    reply += got + "\n";
  }
}

void Card::powerCut(bool torn) { send(torn ? "cut torn" : "cut"); }
void Card::powerOn() { send("on"); }
void Card::fillAfter(long long bytes) { send("full " + std::to_string(bytes)); }
void Card::pull() { send("pull"); }
void Card::gone() { send("gone"); }
void Card::insert() { send("insert"); }
void Card::readOnly(bool on) { send(on ? "ro 1" : "ro 0"); }
void Card::slow(int write_ms, int sync_ms) {
  send("slow " + std::to_string(write_ms) + " " + std::to_string(sync_ms));
}

std::map<std::string, Card::FileStats> Card::stats() {
  std::map<std::string, FileStats> out;
  for (const std::string &line : splitLines(send("stats"))) {
    char path[512];
    FileStats s;
    if (sscanf(line.c_str(), "%511s writes=%lld whole=%lld bytes=%lld syncs=%lld", path, &s.writes,
               &s.whole, &s.bytes, &s.syncs) == 5)
      out[path] = s;
  }
  return out;
}

}  // namespace kvsim
