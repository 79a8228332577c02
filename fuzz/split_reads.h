// SPDX-License-Identifier: MIT
// The serial readers' fuzz targets: the input handed to a fresh line splitter in reads of
// one size, 1 to 255 bytes as `pick` says, as a port hands over what arrived between two
// polls, so that every cut of a line across reads is tried.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "line_splitter.h"

inline void splitInReads(const uint8_t *data, size_t size, uint8_t pick,
                         navlink::LineHandler handler, void *context) {
  const size_t read_size = 1 + pick % navlink::kSplitterReadSize;
  navlink::LineSplitter splitter;
  const char *bytes = reinterpret_cast<const char *>(data);
  while (size > 0) {
    size_t n = size < read_size ? size : read_size;
    splitter.feed(bytes, n, handler, context);
    bytes += n;
    size -= n;
  }
}
