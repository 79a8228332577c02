// SPDX-License-Identifier: MIT
// The tests' view of a G-sensor data file (".gsf"): the one reader of the format, with a
// file whose header is incomplete read as nothing. The reader decodes every field from
// its byte offset, so a wrong field offset in the writer shows up as a wrong value.
#pragma once

#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "gsf_reader.hpp"

namespace gsf {

inline constexpr size_t kHeaderSize = kGsfHeaderSize;
inline constexpr size_t kRecordSize = kGsfRecordSize;
inline constexpr uint32_t kMagic = kGsfMagic;

using Record = kvformat::GsfRecord;
using File = kvformat::GsfFile;

// Parses the bytes of a data file; nothing when even the header is incomplete.
inline std::optional<File> parse(const std::string &bytes) {
  File f;
  std::string error;
  if (!kvformat::readGsf(bytes, f, error) || f.header_cut) return std::nullopt;
  return f;
}

inline std::optional<File> read(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return parse(bytes);
}

}  // namespace gsf
