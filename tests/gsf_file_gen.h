// SPDX-License-Identifier: MIT
// A G-sensor data file in the recorder's layout, laid out byte by byte for kv_export's
// tests: header (start 2024-05-07 14:35:19), records (time, x, y, z, reserved; the sensor's
// fourth value 7 and the battery 3700 mV), end marker. `closed` false leaves it as a kill
// does: no marker, count 0.
#pragma once

#include <stdint.h>

#include <array>
#include <string>
#include <vector>

inline std::string gsfBytes(const std::vector<std::array<int64_t, 5>> &records, bool closed = true,
                            int32_t record_size = 32) {
  auto put32 = [](std::string &s, uint32_t v) { s.append(reinterpret_cast<const char *>(&v), 4); };
  std::string b;
  put32(b, 0xA10000A1u);
  put32(b, static_cast<uint32_t>(record_size));
  put32(b, closed ? static_cast<uint32_t>(records.size()) : 0);
  std::string text = "20240507143519//x.gsf";
  text.resize(512, '\0');
  b += text;
  for (const auto &r : records) {
    b.append(reinterpret_cast<const char *>(&r[0]), 8);
    for (int i = 1; i < 5; ++i) put32(b, static_cast<uint32_t>(r[static_cast<size_t>(i)]));
    put32(b, 7), put32(b, 3700);
  }
  if (closed) put32(b, 0xA1FFFFA1u);
  return b;
}
