#include "standin.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "board_root.h"
#include "kv_owners.hpp"

namespace kvsim {

std::string simPath(const std::string &board_path) { return kv::rooted(board_path); }

bool readFile(const std::string &file, std::string &text) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return false;
  std::stringstream ss;
  ss << in.rdbuf();
  text = ss.str();
  return true;
}

std::vector<std::pair<std::string, std::string>> parseSettings(const std::string &text) {
  std::vector<std::pair<std::string, std::string>> out;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    auto eq = line.find('=');
    if (eq == std::string::npos) continue;
    out.emplace_back(line.substr(0, eq), line.substr(eq + 1));
  }
  return out;
}

void appendLine(const std::string &board_path, const std::string &line) {
  kv::UniqueFd fd(open(simPath(board_path).c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644));
  if (!fd) return;
  std::string whole = line + "\n";
  ssize_t n = write(fd.get(), whole.data(), whole.size());
  (void)n;
}

std::string Control::file(const std::string &key) const {
  return simPath("/sim/ctl/" + server_ + "/" + key);
}

bool Control::has(const std::string &key) const { return access(file(key).c_str(), F_OK) == 0; }

int Control::number(const std::string &key, int fallback) const {
  std::string t;
  if (!readFile(file(key), t) || t.empty()) return fallback;
  return atoi(t.c_str());
}

std::string Control::text(const std::string &key) const {
  std::string t;
  readFile(file(key), t);
  return t;
}

std::map<std::string, std::string> Control::settings(const std::string &key) const {
  std::map<std::string, std::string> out;
  for (auto &[k, v] : parseSettings(text(key))) out[k] = v;
  return out;
}

void Control::log(const std::string &line) const {
  appendLine("/sim/log/" + server_ + ".log", line);
}

void Control::ready() const {
  appendLine("/sim/run/" + server_ + ".ready", std::to_string(getpid()));
}

}  // namespace kvsim
