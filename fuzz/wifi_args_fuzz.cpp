// SPDX-License-Identifier: MIT
// The Wi-Fi programs' command lines: whatever the arguments, the checks read no argument
// that is not there (the argument array is allocated at its exact size), and a value they
// accept reaches its buffer whole, terminated and free of control characters.
// fuzz-links: kv_wifi_args
#include <stdint.h>
#include <string.h>

#include <memory>
#include <string>
#include <vector>

#include "wifi_args.hpp"

namespace {

void expect(bool ok) {
  if (!ok) __builtin_trap();
}

bool clean(const char *text) {
  for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text); *p; ++p)
    if (*p < 0x20 || *p == 0x7F) return false;
  return true;
}

template <size_t N>
void expectCopied(const char (&buf)[N], const char *given) {
  expect(strnlen(buf, N) < N && strcmp(buf, given) == 0 && clean(buf));
}

}  // namespace

// The input is the argument list, arguments separated by zero bytes (at most 8).
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::vector<std::string> words(1, "prog");
  words.emplace_back();
  for (size_t i = 0; i < size && words.size() <= 8; ++i) {
    if (data[i] == 0)
      words.emplace_back();
    else
      words.back() += static_cast<char>(data[i]);
  }
  int argc = static_cast<int>(words.size());
  auto argv = std::make_unique<const char *[]>(words.size());
  for (size_t i = 0; i < words.size(); ++i) argv[i] = words[i].c_str();

  wifi_programs::SwitchArgs sw;
  if (wifi_programs::parseSwitchArgs(argc, argv.get(), sw) == wifi_programs::Mode::on) {
    expect(argc >= 5);
    expectCopied(sw.ssid, argv[2]);
    expectCopied(sw.key, argv[3]);
    expectCopied(sw.rear_mac, argc > 5 ? argv[5] : "none");
    expect(sw.channel >= 0 && sw.channel <= 255);
  }
  wifi_programs::StationArgs st;
  if (wifi_programs::parseStationArgs(argc, argv.get(), st) == wifi_programs::Mode::on) {
    expect(argc >= 7);
    expectCopied(st.ssid, argv[2]);
    expectCopied(st.pwd, argv[3]);
    expectCopied(st.device_name, argv[5]);
    expect(st.rear == 0 || st.rear == 1);
  }
  return 0;
}
