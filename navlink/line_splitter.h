// SPDX-License-Identifier: MIT
// The line splitter of the daemon's two port readers (the GPS receiver and the serial link
// to the other camera unit): it cuts a byte stream at every CR LF and hands each piece,
// without its CR LF, to the reader's handler.
//
// A line may arrive over any number of reads. The buffer holds one partial line of at
// most kSplitterMaxLine characters: a stream that goes on longer without CR LF (a receiver
// talking at the wrong baud rate, a line-noise burst) has its partial line dropped, and so
// has everything up to the next CR LF, so that no tail of an overlong line is ever taken
// for a line of its own. A piece that holds a NUL byte is dropped too: no NMEA sentence or
// link command carries one, and the handlers take NUL-terminated text.
#pragma once

#include <stddef.h>

namespace navlink {

inline constexpr size_t kSplitterBufferSize = 1024;
inline constexpr size_t kSplitterMaxLine = kSplitterBufferSize - 1;
// One read of a pass takes at most this much: at 9600 baud a 50 ms pass sees ~48 bytes.
inline constexpr size_t kSplitterReadSize = 255;

// Receives one line: NUL-terminated, `len` characters, valid until the handler returns.
using LineHandler = void (*)(void *context, const char *line, size_t len);

class LineSplitter {
 public:
  // One pass: a single non-blocking read of at most 255 bytes from `fd`, then every line
  // it completes goes to `handler`. The read's result: bytes read, 0, or -1 (errno set;
  // EAGAIN when nothing was waiting).
  long pass(int fd, LineHandler handler, void *context);
  // The same for bytes already read.
  void feed(const char *data, size_t n, LineHandler handler, void *context);
  // Forgets the partial line.
  void reset();

 private:
  void take(const char *data, size_t n);
  void emit(LineHandler handler, void *context);

  char buffer_[kSplitterBufferSize] = {};
  size_t fill_ = 0;
  bool skipping_ = false;    // dropping the rest of an overlong line
  bool skipped_cr_ = false;  // the last byte dropped was a CR
  char line_[kSplitterBufferSize] = {};
};

}  // namespace navlink
