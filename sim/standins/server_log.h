// SPDX-License-Identifier: MIT
// Reading what a stand-in server logged: one line per request received, made of
// "key=value" words ("cmd=312 src=16 length=0 ..."). Lines without "cmd=" (die, notes)
// are left out.
#pragma once

#include <stdlib.h>

#include <map>
#include <string>
#include <vector>

#include "sandbox.h"
#include "standin.h"

namespace kvsim {

using Request = std::map<std::string, std::string>;

inline Request fieldsOf(const std::string &line) { return keyedWords(line); }

inline std::vector<Request> requestsTo(const Sandbox &board, const std::string &server) {
  std::vector<Request> out;
  for (const auto &line : board.serverLog(server))
    if (line.rfind("cmd=", 0) == 0) out.push_back(fieldsOf(line));
  return out;
}

// A numeric field of a request (0 when missing).
inline long long numberOf(const Request &request, const std::string &key) {
  auto it = request.find(key);
  return it == request.end() ? 0 : strtoll(it->second.c_str(), nullptr, 10);
}

}  // namespace kvsim
