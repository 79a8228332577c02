// SPDX-License-Identifier: MIT
// Small checkers of the exporter's output formats, for the fuzz target: XML (GPX, SVG and
// the pages, which are written as polyglot markup), JSON (GeoJSON and the pages' data) and
// CSV. Each answers whether a text is well-formed, not whether it is valid to a schema.
#pragma once

#include <ctype.h>
#include <stddef.h>

#include <string>
#include <string_view>
#include <vector>

namespace wellformed {

inline bool isUtf8(std::string_view s) {
  for (size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    size_t n = c < 0x80                 ? 0
               : c >= 0xC2 && c <= 0xDF ? 1
               : (c & 0xF0) == 0xE0     ? 2
               : c >= 0xF0 && c <= 0xF4 ? 3
                                        : 9;
    if (n == 9 || i + n >= s.size() + (n == 0 ? 1 : 0)) return false;
    unsigned cp = n == 0 ? c : c & (0x3F >> n);
    for (size_t k = 1; k <= n; ++k) {
      unsigned char d = static_cast<unsigned char>(s[i + k]);
      if ((d >> 6) != 2) return false;
      cp = cp << 6 | (d & 0x3F);
    }
    if ((n == 2 && cp < 0x800) || (n == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF))
      return false;
    i += n + 1;
  }
  return true;
}

inline bool nameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ':' ||
         c == '_' || c == '-' || c == '.';
}

// '&' must start one of XML's own entities or a character reference; '<' never appears.
inline bool xmlChars(std::string_view s) {
  for (size_t i = 0; i < s.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c == '<' || (c < 0x20 && c != '\t' && c != '\n' && c != '\r')) return false;
    if (c != '&') continue;
    size_t end = s.find(';', i);
    if (end == std::string_view::npos) return false;
    std::string_view ref = s.substr(i + 1, end - i - 1);
    bool ok = ref == "amp" || ref == "lt" || ref == "gt" || ref == "quot" || ref == "apos" ||
              (ref.size() > 1 && ref[0] == '#');
    if (!ok) return false;
    i = end;
  }
  return true;
}

inline bool xml(std::string_view s) {
  if (!isUtf8(s)) return false;
  std::vector<std::string_view> open;
  bool root_seen = false;
  size_t i = 0;
  while (i < s.size()) {
    size_t lt = s.find('<', i);
    std::string_view text = s.substr(i, lt == std::string_view::npos ? s.size() - i : lt - i);
    if (!xmlChars(text)) return false;
    if (open.empty() && text.find_first_not_of(" \t\r\n") != std::string_view::npos) return false;
    if (lt == std::string_view::npos) break;
    if (s.substr(lt, 2) == "<?" || s.substr(lt, 2) == "<!") {  // declaration, doctype
      size_t gt = s.find('>', lt);
      if (gt == std::string_view::npos) return false;
      i = gt + 1;
      continue;
    }
    bool closing = s.substr(lt, 2) == "</";
    size_t at = lt + (closing ? 2 : 1), name_end = at;
    while (name_end < s.size() && nameChar(s[name_end])) ++name_end;
    std::string_view name = s.substr(at, name_end - at);
    if (name.empty()) return false;
    at = name_end;
    // Attributes: name="value" or name='value'.
    while (true) {
      while (at < s.size() && (s[at] == ' ' || s[at] == '\n' || s[at] == '\t')) ++at;
      if (at >= s.size()) return false;
      if (s[at] == '>' || s.substr(at, 2) == "/>") break;
      if (closing) return false;
      size_t an = at;
      while (at < s.size() && nameChar(s[at])) ++at;
      if (at == an || at + 1 >= s.size() || s[at] != '=' || (s[at + 1] != '"' && s[at + 1] != '\''))
        return false;
      char q = s[at + 1];
      size_t close = s.find(q, at + 2);
      if (close == std::string_view::npos || !xmlChars(s.substr(at + 2, close - at - 2)))
        return false;
      at = close + 1;
    }
    bool empty = s[at] == '/';
    i = at + (empty ? 2 : 1);
    if (closing) {
      if (open.empty() || open.back() != name) return false;
      open.pop_back();
      continue;
    }
    if (open.empty()) {
      if (root_seen) return false;
      root_seen = true;
    }
    if (!empty) open.push_back(name);
  }
  return root_seen && open.empty();
}

class Json {
 public:
  explicit Json(std::string_view s) : s_(s) {}
  bool whole() {
    if (!isUtf8(s_)) return false;
    space();
    if (!value(0)) return false;
    space();
    return at_ == s_.size();
  }

 private:
  void space() {
    while (at_ < s_.size() &&
           (s_[at_] == ' ' || s_[at_] == '\n' || s_[at_] == '\r' || s_[at_] == '\t'))
      ++at_;
  }
  bool literal(std::string_view word) {
    if (s_.substr(at_, word.size()) != word) return false;
    at_ += word.size();
    return true;
  }
  bool string() {
    if (at_ >= s_.size() || s_[at_] != '"') return false;
    for (++at_; at_ < s_.size(); ++at_) {
      unsigned char c = static_cast<unsigned char>(s_[at_]);
      if (c == '"') return ++at_, true;
      if (c < 0x20) return false;
      if (c == '\\') {
        if (++at_ >= s_.size()) return false;
        char e = s_[at_];
        if (e == 'u') {
          for (int k = 0; k < 4; ++k)
            if (++at_ >= s_.size() || !isxdigit(static_cast<unsigned char>(s_[at_]))) return false;
        } else if (std::string_view("\"\\/bfnrt").find(e) == std::string_view::npos) {
          return false;
        }
      }
    }
    return false;
  }
  bool digits() {
    size_t from = at_;
    while (at_ < s_.size() && s_[at_] >= '0' && s_[at_] <= '9') ++at_;
    return at_ > from;
  }
  bool number() {
    if (at_ < s_.size() && s_[at_] == '-') ++at_;
    if (at_ < s_.size() && s_[at_] == '0')
      ++at_;
    else if (!digits())
      return false;
    if (at_ < s_.size() && s_[at_] == '.' && (++at_, !digits())) return false;
    if (at_ < s_.size() && (s_[at_] == 'e' || s_[at_] == 'E')) {
      ++at_;
      if (at_ < s_.size() && (s_[at_] == '+' || s_[at_] == '-')) ++at_;
      if (!digits()) return false;
    }
    return true;
  }
  template <class Item>
  bool list(char close, Item item) {
    ++at_;
    space();
    if (at_ < s_.size() && s_[at_] == close) return ++at_, true;
    while (true) {
      space();
      if (!item()) return false;
      space();
      if (at_ >= s_.size()) return false;
      if (s_[at_] == close) return ++at_, true;
      if (s_[at_++] != ',') return false;
    }
  }
  bool value(int depth) {
    if (depth > 64 || at_ >= s_.size()) return false;
    char c = s_[at_];
    if (c == '{')
      return list('}', [&] {
        if (!string()) return false;
        space();
        if (at_ >= s_.size() || s_[at_++] != ':') return false;
        space();
        return value(depth + 1);
      });
    if (c == '[') return list(']', [&] { return value(depth + 1); });
    if (c == '"') return string();
    if (c == 't') return literal("true");
    if (c == 'f') return literal("false");
    if (c == 'n') return literal("null");
    return number();
  }

  std::string_view s_;
  size_t at_ = 0;
};

inline bool json(std::string_view s) { return Json(s).whole(); }

// Every row has the header's number of cells; quoted cells are closed.
inline bool csv(std::string_view s) {
  if (!isUtf8(s) || s.empty() || s.back() != '\n') return false;
  size_t want = 0, cells = 1, row = 0;
  bool quoted = false;
  for (char c : s) {
    if (quoted) {
      if (c == '"') quoted = false;  // a doubled quote reopens at once
      continue;
    }
    if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      ++cells;
    } else if (c == '\n') {
      if (row++ == 0) want = cells;
      if (cells != want) return false;
      cells = 1;
    }
  }
  return !quoted;
}

}  // namespace wellformed
