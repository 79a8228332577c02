// SPDX-License-Identifier: MIT
#include "standin.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/file.h>
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

std::map<std::string, std::string> keyedWords(std::istream &in) {
  std::map<std::string, std::string> words;
  for (std::string word; in >> word;) {
    size_t eq = word.find('=');
    if (eq != std::string::npos) words[word.substr(0, eq)] = word.substr(eq + 1);
  }
  return words;
}

std::map<std::string, std::string> keyedWords(const std::string &line) {
  std::istringstream in(line);
  return keyedWords(in);
}

std::string wordOf(const std::string &line, const std::string &key) {
  auto words = keyedWords(line);
  auto it = words.find(key);
  return it == words.end() ? "" : it->second;
}

int nextToolCall(const std::string &key) {
  kv::UniqueFd counter(
      open(simPath("/sim/tools/" + key + ".calls").c_str(), O_RDWR | O_CREAT, 0644));
  if (!counter) return 1;
  const int fd = counter.get();
  flock(fd, LOCK_EX);
  char buf[32] = {0};
  ssize_t n = pread(fd, buf, sizeof buf - 1, 0);
  int call = (n > 0 ? atoi(buf) : 0) + 1;
  std::string text = std::to_string(call) + "\n";
  // A count that cannot be stored only loses per-call scripts; the call still answers.
  if (ftruncate(fd, 0) != 0 || pwrite(fd, text.data(), text.size(), 0) < 0) call = 1;
  flock(fd, LOCK_UN);
  return call;
}

void serveRequestFile(const std::string &board_path,
                      const std::function<void(const std::string &line)> &serve) {
  std::string file = simPath(board_path), taken = file + ".taken";
  if (rename(file.c_str(), taken.c_str()) != 0) return;
  std::string text;
  readFile(taken, text);
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);)
    if (!line.empty()) serve(line);
  remove(taken.c_str());
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

std::vector<std::string> splitLines(std::string_view text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t nl = text.find('\n', start);
    if (nl == std::string_view::npos) nl = text.size();
    lines.emplace_back(text.substr(start, nl - start));
    start = nl + 1;
  }
  return lines;
}

bool contains(std::string_view haystack, std::string_view needle) {
  return haystack.find(needle) != std::string_view::npos;
}

}  // namespace kvsim
