// SPDX-License-Identifier: MIT
#include "line_splitter.h"

#include <string.h>
#include <unistd.h>

namespace navlink {

long LineSplitter::pass(int fd, LineHandler handler, void *context) {
  char data[kSplitterReadSize];
  ssize_t got = read(fd, data, sizeof data);
  if (got > 0) feed(data, static_cast<size_t>(got), handler, context);
  return static_cast<long>(got);
}

void LineSplitter::reset() {
  fill_ = 0;
  skipping_ = false;
  skipped_cr_ = false;
}

// Keeps bytes of a line that has not ended yet; past the buffer, the line is dropped.
void LineSplitter::take(const char *data, size_t n) {
  if (n == 0) return;
  if (fill_ + n > sizeof buffer_) {
    fill_ = 0;
    skipping_ = true;
    skipped_cr_ = data[n - 1] == '\r';
    return;
  }
  memcpy(buffer_ + fill_, data, n);
  fill_ += n;
}

void LineSplitter::emit(LineHandler handler, void *context) {
  size_t len = fill_ - 1;  // without the CR
  fill_ = 0;
  if (memchr(buffer_, '\0', len)) return;
  memcpy(line_, buffer_, len);
  line_[len] = '\0';
  handler(context, line_, len);
}

void LineSplitter::feed(const char *data, size_t n, LineHandler handler, void *context) {
  while (n > 0) {
    const char *lf = static_cast<const char *>(memchr(data, '\n', n));
    size_t chunk = lf ? static_cast<size_t>(lf - data) + 1 : n;
    // A CR LF ends a line; the CR may have come with an earlier read.
    bool cr_before = chunk >= 2
                         ? data[chunk - 2] == '\r'
                         : (skipping_ ? skipped_cr_ : fill_ > 0 && buffer_[fill_ - 1] == '\r');
    bool ends_line = lf && cr_before;
    if (skipping_) {
      skipped_cr_ = data[chunk - 1] == '\r';
      if (ends_line) reset();
    } else if (ends_line) {
      take(data, chunk - 1);  // the line and its CR
      if (!skipping_) emit(handler, context);
      // An overlong line that ends here is dropped whole; the next one starts afresh.
      reset();
    } else {
      take(data, chunk);
    }
    data += chunk;
    n -= chunk;
  }
}

}  // namespace navlink
