// SPDX-License-Identifier: MIT
// Validation and string helpers (Wi-Fi names and passwords, URL encoding, trimming,
// shell escaping), writing a buffer into a file, and process checks through ps.
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <string_view>

#include "board_root.h"
#include "kv_common_util.h"
#include "kv_owners.hpp"

namespace {

constexpr std::string_view kAlnum =
    "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
constexpr std::string_view kSsidChars =
    "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz-_";

bool madeOf(const char *text, size_t min_len, size_t max_len, std::string_view allowed) {
  if (!text) return false;
  std::string_view t(text);
  return t.size() >= min_len && t.size() <= max_len &&
         t.find_first_not_of(allowed) == std::string_view::npos;
}

// A non-empty text whose every byte passes `ok`.
template <typename Pred>
int all(const char *p, Pred ok) {
  if (!p || !*p) return 0;
  for (; *p; ++p)
    if (!ok(static_cast<unsigned char>(*p))) return 0;
  return 1;
}

int hexValue(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool urlSafe(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_';
}

bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// The copies RTrim and Trim hand back: one per thread, as long as a path buffer.
constexpr size_t kTrimSize = 256;
thread_local char t_trimmed[kTrimSize];

char *trimmedCopy(const char *s) {
  size_t n = s ? strnlen(s, kTrimSize - 1) : 0;
  if (n) memcpy(t_trimmed, s, n);
  while (n > 0 && isBlank(t_trimmed[n - 1])) --n;
  t_trimmed[n] = '\0';
  return t_trimmed;
}

using Pipe = kv::UniquePipe;

// Reads one line of a stream into `line`, dropping what does not fit; false at the end.
bool readLine(FILE *f, char *line, size_t size) {
  if (!fgets(line, static_cast<int>(size), f)) return false;
  size_t len = strlen(line);
  if (len > 0 && line[len - 1] != '\n') {
    int c;
    while ((c = fgetc(f)) != EOF && c != '\n') {
    }
  }
  return true;
}

}  // namespace

extern "C" {

int IsWifiPwdValid(char *pwd) { return madeOf(pwd, 8, 16, kAlnum) ? 1 : 0; }

int IsWifiSsidValid(char *ssid) { return madeOf(ssid, 9, 24, kSsidChars) ? 1 : 0; }

int is_numeric(const char *p) {
  return all(p, [](unsigned char c) { return c >= '0' && c <= '9'; });
}

int is_hexa_numeric(const char *p) {
  return all(p, [](unsigned char c) { return hexValue(c) >= 0; });
}

int is_ascii(const char *p) {
  return all(p, [](unsigned char c) { return c < 0x80; });
}

int urldecode(unsigned char *source, unsigned char *dest) {
  if (!source || !dest) return 0;
  int n = 0;
  for (const unsigned char *p = source; *p;) {
    // Only a '%' followed by two hexadecimal digits is an escape; the test of the first
    // stops at a terminator before the second is looked at.
    if (p[0] == '%' && hexValue(p[1]) >= 0 && hexValue(p[2]) >= 0) {
      dest[n++] = static_cast<unsigned char>(hexValue(p[1]) * 16 + hexValue(p[2]));
      p += 3;
    } else {
      dest[n++] = *p++;
    }
  }
  return n;
}

int urlencode(unsigned char *source, unsigned char *dest) {
  if (!source || !dest) return 0;
  static const char kHex[] = "0123456789ABCDEF";
  int n = 0;
  for (const unsigned char *p = source; *p; ++p) {
    if (urlSafe(*p)) {
      dest[n++] = *p;
    } else {
      dest[n++] = '%';
      dest[n++] = static_cast<unsigned char>(kHex[*p >> 4]);
      dest[n++] = static_cast<unsigned char>(kHex[*p & 0x0F]);
    }
  }
  dest[n] = '\0';
  return n;
}

int ReplaceSpecialChar(char *strPath, char *outPath) {
  if (!strPath || !outPath) return -1;
  // One pass gives what escaping ';', then '(', then ')', then '`' one after another
  // gives: the inserted backslash is none of the four.
  int n = 0;
  for (const char *p = strPath; *p; ++p) {
    if (*p == ';' || *p == '(' || *p == ')' || *p == '`') outPath[n++] = '\\';
    outPath[n++] = *p;
  }
  outPath[n] = '\0';
  return n;
}

char *LTrim(char *s) {
  if (!s) return s;
  char *p = s;
  while (isBlank(*p)) ++p;
  return *p ? p : s;
}

char *RTrim(char *s) { return trimmedCopy(s); }

char *Trim(char *s) { return trimmedCopy(s ? LTrim(s) : s); }

int IS_INVALID_FD(int fd) { return fd == -1 ? 1 : 0; }

int KVWriteBufferToFile(char *pPath, char *pBuffer, int nBufferLen) {
  if (!pPath || !pBuffer || nBufferLen <= 0) return -1;
  kv::UniqueFd fd(open(kv::resolved(pPath).c_str(), O_WRONLY | O_CREAT, 0644));
  if (!fd) {
    fprintf(stderr, "Error: can't open device %s[%d]\n", pPath, fd.get());
    return -1;
  }
  // All of the buffer: a short write (a nearly full card) would otherwise be reported as
  // a success with the tail lost.
  size_t done = 0, len = static_cast<size_t>(nBufferLen);
  while (done < len) {
    ssize_t n = write(fd.get(), pBuffer + done, len - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  fd.reset();
  if (done < len) {
    fprintf(stderr, "Error: can't write data\n");
    return -1;
  }
  return 0;
}

int IsProcAlive(char *proc) {
  if (!proc || !*proc) return 0;
  std::string command = "ps | grep " + kv::shell_word(proc);
  Pipe ps(kv_popen(command.c_str(), "r"));
  if (!ps) return 0;
  // The search itself shows up in the listing; its line is not a sign of the process.
  std::string self = std::string("grep ") + proc;
  char line[1024];
  int found = 0;
  while (readLine(ps.get(), line, sizeof line))
    if (!strstr(line, self.c_str())) ++found;
  return found > 0 ? 1 : 0;
}

void WaitUntilProcClose(char *proc, int nCount) {
  for (int checks = 1; IsProcAlive(proc) && checks < nCount; ++checks) kv::sleep_ms(30);
}

void SystemPrint(char *cmd) {
  if (!cmd) return;
  Pipe out(kv_popen(cmd, "r"));
  if (!out) return;
  char line[2048];
  while (fgets(line, sizeof line, out.get())) {
  }
}

}  // extern "C"
