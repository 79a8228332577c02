// SPDX-License-Identifier: MIT
// Helpers shared by the stand-in tools and servers of the sandbox: sandbox paths,
// control files, the log of received requests.
#pragma once

#include <functional>
#include <istream>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kvsim {

// KV_SYSROOT + board path.
std::string simPath(const std::string &board_path);
bool readFile(const std::string &file, std::string &text);
// "key=value" lines, in order; repeated keys are kept.
std::vector<std::pair<std::string, std::string>> parseSettings(const std::string &text);
// Appends one whole line (with "\n") in one write, so lines of concurrent writers never mix.
void appendLine(const std::string &board_path, const std::string &line);
// The "key=value" words of a request line, from where `in` stands; other words are skipped.
std::map<std::string, std::string> keyedWords(std::istream &in);
// The same of a whole line ("id=300 src=16 length=0 ..."); a repeated key keeps its last value.
std::map<std::string, std::string> keyedWords(const std::string &line);
// The value of the "key=value" word `key` of a line; "" when the line has none.
std::string wordOf(const std::string &line, const std::string &key);
// The lines of a text, without their "\n"; a last line without one counts too.
std::vector<std::string> splitLines(std::string_view text);
bool contains(std::string_view haystack, std::string_view needle);
// Counts the calls of a scripted tool (or sub-command) across processes in
// sim/tools/<key>.calls; returns the 1-based number of this call.
int nextToolCall(const std::string &key);
// Serves a request file a test wrote: renamed to <file>.taken while it is served, so that
// the test can write the next one meanwhile and knows by its removal that all were served;
// each non-empty line is handed to `serve`.
void serveRequestFile(const std::string &board_path,
                      const std::function<void(const std::string &line)> &serve);

// Control of a stand-in server by the test: the files sim/ctl/<server>/<key>.
class Control {
 public:
  explicit Control(std::string server) : server_(std::move(server)) {}
  bool has(const std::string &key) const;
  int number(const std::string &key, int fallback) const;
  std::string text(const std::string &key) const;  // "" when missing
  // "key=value" settings of the file `key` (for example "reply.300").
  std::map<std::string, std::string> settings(const std::string &key) const;
  // Appends a line to sim/log/<server>.log.
  void log(const std::string &line) const;
  // Tells the sandbox that the server is up (sim/run/<server>.ready).
  void ready() const;
  const std::string &server() const { return server_; }

 private:
  std::string file(const std::string &key) const;
  std::string server_;
};

}  // namespace kvsim
