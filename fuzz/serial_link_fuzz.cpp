// SPDX-License-Identifier: MIT
// The front unit's parsers of what arrives on the link from the rear unit: the line
// splitter over reads of any size, then ParseRearCommand on every line it hands over,
// with the settings record and the event delivery of the daemon replaced by checks of
// what a received line may become.
// fuzz-links: kvnavlink
#include <stdint.h>
#include <string.h>

#include <memory>

#include "rear_command.h"
#include "split_reads.h"

using namespace navlink;  // the daemon's own types under test

namespace {

void expect(bool ok) {
  if (!ok) __builtin_trap();
}

struct Run {
  std::unique_ptr<SysInfo> info = std::make_unique<SysInfo>();
  int64_t tick = 1;
  const char *line = nullptr;  // the line being parsed
  size_t len = 0;
} g_run;

SysInfo *info() { return g_run.info.get(); }
int64_t now() { return g_run.tick; }

// An event only for a "#CM" line, with a record of the line's own code and tick whose
// text is terminated inside its 80 bytes.
void deliver(const RearCommand &c) {
  expect(c.alive && c.event != RearEvent::None);
  expect(g_run.len > 3 && memcmp(g_run.line, "#CM", 3) == 0);
  expect(c.code > 0 && c.code < 100);
  expect(c.record.nCommand == c.code && c.record.llTick == g_run.tick);
  expect(memchr(c.record.szText, '\0', sizeof c.record.szText) != nullptr);
  size_t text = strlen(c.record.szText);
  expect(text == 0 || (g_run.len > 7 && memcmp(c.record.szText, g_run.line + 7, text) == 0));
}

void takeLine(void *, const char *line, size_t len) {
  expect(len <= kSplitterMaxLine && strlen(line) == len);
  for (size_t i = 0; i + 1 < len; ++i) expect(!(line[i] == '\r' && line[i + 1] == '\n'));
  g_run.line = line;
  g_run.len = len;
  ++g_run.tick;
  int64_t before = g_run.info->kv_config.last_rear_alive_received;
  ParseRearCommand(line);
  bool command = len > 3 && memcmp(line, "#CM", 3) == 0;
  expect(g_run.info->kv_config.last_rear_alive_received == (command ? g_run.tick : before));
}

}  // namespace

// Byte 0: the read size; the rest: the bytes on the port.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static bool set_up = [] {
    RearLinkSetUp(RearLinkHooks{info, now, deliver});
    return true;
  }();
  (void)set_up;
  if (size < 1) return 0;
  memset(g_run.info.get(), 0, sizeof(SysInfo));
  splitInReads(data + 1, size - 1, data[0], takeLine, nullptr);
  return 0;
}
