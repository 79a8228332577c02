// SPDX-License-Identifier: MIT
// A throwaway board root for the fuzz targets whose parsers read board files.
//
// Made on first use, removed at exit. KV_SYSROOT is set before the target calls the
// library, so every fixed board path (/proc/mounts, /sys/..., /mnt/nand/...) lands below
// it and the host's own files are never read; a root that cannot be made stops the run.
// Every node named at construction is a symbolic link to one input file, so one write per
// input feeds every parser of the target.
#ifndef KV_FUZZ_BOARD_H
#define KV_FUZZ_BOARD_H

#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <initializer_list>
#include <string>

namespace kvfuzz {

class Board {
 public:
  explicit Board(std::initializer_list<const char *> nodes) {
    std::string pattern = (std::filesystem::temp_directory_path() / "kv_fuzz.XXXXXX").string();
    if (!mkdtemp(pattern.data())) die("cannot make the board root");
    root_ = pattern;
    input_ = root_ + "/input";
    if (setenv("KV_SYSROOT", root_.c_str(), 1) != 0) die("cannot set KV_SYSROOT");
    feed(nullptr, 0);
    for (const char *node : nodes) {
      std::filesystem::path link = root_ + node;
      std::error_code ec;
      std::filesystem::create_directories(link.parent_path(), ec);
      std::filesystem::create_symlink(input_, link, ec);
      if (ec) die("cannot link a node to the input");
    }
  }
  ~Board() {
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }
  Board(const Board &) = delete;
  Board &operator=(const Board &) = delete;

  // The input becomes the whole content of every node.
  void feed(const uint8_t *data, size_t size) const {
    int fd = open(input_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) die("cannot write the input");
    size_t done = 0;
    while (done < size) {
      ssize_t n = write(fd, data + done, size - done);
      if (n <= 0) die("cannot write the input");
      done += static_cast<size_t>(n);
    }
    close(fd);
  }

  // The input file's own path (already below the board root).
  const char *input() const { return input_.c_str(); }

 private:
  [[noreturn]] static void die(const char *why) {
    fprintf(stderr, "fuzz board: %s\n", why);
    abort();
  }
  std::string root_;
  std::string input_;
};

}  // namespace kvfuzz

#endif
