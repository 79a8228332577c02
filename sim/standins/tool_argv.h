// SPDX-License-Identifier: MIT
// One call of a stand-in tool as one line of the sandbox's "sim/argv.log": the arguments
// exactly as the tool received them (program name first), separated by single blanks.
// Inside an argument a backslash, a blank and every byte below 0x20 or 0x7F are written
// as "\xHH", so a line is always one call and a test can compare arguments byte for byte
// (a network name with blanks and quotes, a value that tried to end a command line).
#pragma once

#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <string_view>
#include <vector>

namespace kvsim {

inline constexpr char kArgvLog[] = "/sim/argv.log";

inline std::string encodeArgs(const std::vector<std::string> &args) {
  std::string line;
  for (size_t i = 0; i < args.size(); ++i) {
    if (i) line += ' ';
    for (unsigned char c : args[i]) {
      if (c == '\\' || c == ' ' || c < 0x20 || c == 0x7F) {
        char hex[5];
        snprintf(hex, sizeof hex, "\\x%02X", c);
        line += hex;
      } else {
        line += static_cast<char>(c);
      }
    }
  }
  return line;
}

inline std::vector<std::string> decodeArgs(std::string_view line) {
  std::vector<std::string> args(1);
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] == ' ') {
      args.emplace_back();
    } else if (line[i] == '\\' && i + 3 < line.size() && line[i + 1] == 'x') {
      args.back() +=
          static_cast<char>(strtol(std::string(line.substr(i + 2, 2)).c_str(), nullptr, 16));
      i += 3;
    } else {
      args.back() += line[i];
    }
  }
  return args;
}

}  // namespace kvsim
