// SPDX-License-Identifier: MIT
// Shell command lines of kv_common_util: quoting of paths that come from a caller, a folder
// listing or the board root, the one bounded formatter that hands a command to the board
// root, and the deletion and existence test every unit shares.
#include <stdarg.h>
#include <stdio.h>
#include <sys/statfs.h>

#include <string>
#include <string_view>

#include "board_root.h"
#include "kv_common_util.h"

namespace {

// Characters the shell takes literally outside quotes (no globbing, no expansion).
bool literal(char c) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
  return std::string_view("/._-+:,@%=").find(c) != std::string_view::npos;
}

// Command lines of this unit are a fixed text and at most a few 256-byte paths.
constexpr size_t kCommandSize = 2048;

}  // namespace

namespace kv {

std::string shell_word(std::string_view text) {
  bool plain = !text.empty();
  for (char c : text) plain = plain && literal(c);
  if (plain) return std::string(text);
  std::string out = "'";
  for (char c : text) {
    if (c == '\'')
      out += "'\\''";
    else
      out += c;
  }
  return out + "'";
}

// Inside double quotes the shell still gives \ " $ and ` a meaning; a backslash before each
// takes it literally. Everything else (newlines included) stays part of the word.
std::string shell_dq(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == '\\' || c == '"' || c == '$' || c == '`') out += '\\';
    out += c;
  }
  return out;
}

std::string board_word(std::string_view board_path) { return shell_word(rooted(board_path)); }

int shellf(const char *format, ...) {
  char command[kCommandSize];
  va_list ap;
  va_start(ap, format);
  int n = vsnprintf(command, sizeof command, format, ap);
  va_end(ap);
  // A cut command could name another file than the one meant: never run it.
  if (n < 0 || static_cast<size_t>(n) >= sizeof command) return -1;
  fflush(stdout);  // what the program printed comes before what the command prints
  fflush(stderr);
  return kv_system(command);
}

int remove_path(std::string_view path) { return shellf("rm -rf \"%s\"\n", shell_dq(path).c_str()); }

bool path_exists(std::string_view path) {
  struct statfs st;
  return kv_statfs(std::string(path).c_str(), &st) == 0;
}

}  // namespace kv
