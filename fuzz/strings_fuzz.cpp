// SPDX-License-Identifier: MIT
// The string helpers that take text from outside: URL decoding of requests from the phone
// application, URL encoding, the shell escaping of paths, and trimming. Output buffers are
// allocated at exactly the sizes kv_common_util.h documents, so a helper that writes one
// byte more than it promises is caught.
#include <stdint.h>
#include <string.h>

#include <memory>

#include "kv_common_util.h"

namespace {

using Bytes = std::unique_ptr<unsigned char[]>;

Bytes bytes(size_t n) { return Bytes(new unsigned char[n]); }

void expect(bool ok) {
  if (!ok) __builtin_trap();
}

bool blank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

void url_round_trip(unsigned char *text, size_t len) {
  Bytes encoded = bytes(3 * len + 1);
  int n = urlencode(text, encoded.get());
  expect(n >= 0 && static_cast<size_t>(n) == strlen(reinterpret_cast<char *>(encoded.get())));
  Bytes decoded = bytes(static_cast<size_t>(n));
  // Decoding what was encoded gives the text back.
  expect(urldecode(encoded.get(), decoded.get()) == static_cast<int>(len));
  expect(memcmp(decoded.get(), text, len) == 0);
}

void url_decode(unsigned char *text, size_t len) {
  Bytes decoded = bytes(len);
  int n = urldecode(text, decoded.get());
  expect(n >= 0 && static_cast<size_t>(n) <= len);
}

void special_chars(char *text, size_t len) {
  Bytes out = bytes(2 * len + 1);
  char *o = reinterpret_cast<char *>(out.get());
  int n = ReplaceSpecialChar(text, o);
  expect(n >= 0 && static_cast<size_t>(n) == strlen(o));
}

void trims(char *text) {
  for (char *(*trim)(char *) : {RTrim, Trim}) {
    const char *t = trim(text);
    size_t n = strlen(t);
    expect(n <= 255 && (n == 0 || !blank(t[n - 1])));
  }
  char *left = LTrim(text);
  expect(left >= text && left <= text + strlen(text));
}

}  // namespace

// The input up to its first zero byte is the text.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  size_t len = strnlen(reinterpret_cast<const char *>(data), size);
  Bytes text = bytes(len + 1);
  memcpy(text.get(), data, len);
  text[len] = '\0';
  char *chars = reinterpret_cast<char *>(text.get());

  url_round_trip(text.get(), len);
  url_decode(text.get(), len);
  special_chars(chars, len);
  trims(chars);
  return 0;
}
