// SPDX-License-Identifier: MIT
#include "file_io.hpp"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "kv_owners.hpp"

namespace kv_export {
namespace {

struct State {
  // The temporary file being written, for the signal handler (which may only look at a
  // plain buffer); empty when none.
  char temp_path[4096] = {};
  volatile sig_atomic_t temp_active = 0;
};
State g;

void onStopSignal(int sig) {
  if (g.temp_active) unlink(g.temp_path);
  signal(sig, SIG_DFL);
  raise(sig);
}

bool writeAll(int fd, std::string_view content) {
  while (!content.empty()) {
    ssize_t n = write(fd, content.data(), content.size());
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) errno = 0;
    if (n <= 0) return false;
    content.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

}  // namespace

bool readWholeFile(const std::string &path, std::string &bytes, std::string &error) {
  kv::UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat st;
  if (!fd || fstat(fd.get(), &st) != 0) {
    error = strerror(errno);
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    error = "not a regular file";
    return false;
  }
  bytes.resize(static_cast<size_t>(st.st_size));
  size_t got = 0;
  for (;;) {
    if (got == bytes.size()) bytes.resize(got + 65536);  // the file may still be growing
    ssize_t n = read(fd.get(), bytes.data() + got, bytes.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error = strerror(errno);
      return false;
    }
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  bytes.resize(got);
  return true;
}

bool writeFileAtomically(const std::string &path, std::string_view content, std::string &error) {
  size_t slash = path.rfind('/');
  std::string folder = slash == std::string::npos ? "." : path.substr(0, slash);
  std::string temp = folder + "/.kv_export-XXXXXX";
  if (temp.size() >= sizeof g.temp_path) {
    error = "path too long";
    return false;
  }
  memcpy(g.temp_path, temp.c_str(), temp.size() + 1);
  // Signals are held while the name is being made, so the handler never removes a file
  // of another name or misses the one just created.
  sigset_t stop, old;
  sigemptyset(&stop);
  for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stop, s);
  sigprocmask(SIG_BLOCK, &stop, &old);
  kv::UniqueFd fd(mkstemp(g.temp_path));
  int saved = errno;
  if (fd) g.temp_active = 1;
  sigprocmask(SIG_SETMASK, &old, nullptr);
  if (!fd) {
    error = strerror(saved);
    return false;
  }
  const char *why = nullptr;
  if (!writeAll(fd.get(), content))
    why = errno ? strerror(errno) : "short write";
  else if (fchmod(fd.get(), 0644) != 0)
    why = strerror(errno);
  // close() reports a delayed write error (a full disk, a network file system).
  if (fd.reset() != 0 && !why) why = strerror(errno);
  if (!why && rename(g.temp_path, path.c_str()) != 0) why = strerror(errno);
  if (why) {
    error = why;
    unlink(g.temp_path);
  }
  sigprocmask(SIG_BLOCK, &stop, &old);
  g.temp_active = 0;
  sigprocmask(SIG_SETMASK, &old, nullptr);
  return why == nullptr;
}

void removeTemporaryFileOnSignals() {
  struct sigaction sa = {};
  sa.sa_handler = onStopSignal;
  sigemptyset(&sa.sa_mask);
  for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaction(s, &sa, nullptr);
}

}  // namespace kv_export
