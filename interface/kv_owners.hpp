// SPDX-License-Identifier: MIT
// kv_owners: move-only owners of the descriptors and handles the library and its programs
// open (descriptors, FILE streams, pipes from the board root's shell runner, folders and
// scandir listings). Each closes what it holds exactly once, on every return path; none can
// be copied, so a handle can never be closed twice. C++ only, not part of the installed C
// interface.
#pragma once

#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <utility>

#include "board_root.h"

namespace kv {

// A file descriptor; -1 holds nothing.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { reset(); }
  UniqueFd(UniqueFd &&other) noexcept : fd_(other.release()) {}
  UniqueFd &operator=(UniqueFd &&other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueFd(const UniqueFd &) = delete;
  UniqueFd &operator=(const UniqueFd &) = delete;

  int get() const { return fd_; }
  bool ok() const { return fd_ >= 0; }
  explicit operator bool() const { return ok(); }
  // Gives the descriptor up without closing it.
  int release() { return std::exchange(fd_, -1); }
  // Closes what is held (if anything) and takes `fd`. The result of close() is returned
  // for callers that must report it (a track file's close); 0 when nothing was held.
  // Handing back the descriptor already held changes nothing: closing it would leave
  // this owner with a closed number that the next open() may give to someone else.
  int reset(int fd = -1) {
    if (fd == fd_) return 0;
    int old = std::exchange(fd_, fd);
    return old >= 0 ? ::close(old) : 0;
  }

 private:
  int fd_ = -1;
};

// A handle with a C release function; nullptr holds nothing.
template <typename T, auto Release>
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(T *handle) : handle_(handle) {}
  ~UniqueHandle() { reset(); }
  UniqueHandle(UniqueHandle &&other) noexcept : handle_(other.release()) {}
  UniqueHandle &operator=(UniqueHandle &&other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueHandle(const UniqueHandle &) = delete;
  UniqueHandle &operator=(const UniqueHandle &) = delete;

  T *get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }
  T *release() { return std::exchange(handle_, nullptr); }
  // Releases what is held; the release function's result (pclose's status for a pipe),
  // or 0 when nothing was held. Handing back the handle already held changes nothing.
  int reset(T *handle = nullptr) {
    if (handle == handle_) return 0;
    T *old = std::exchange(handle_, handle);
    return old ? Release(old) : 0;
  }

 private:
  T *handle_ = nullptr;
};

using UniqueFile = UniqueHandle<FILE, ::fclose>;
using UniqueDir = UniqueHandle<DIR, ::closedir>;
// A command's output stream from kv_popen(); reset() returns the command's wait status.
using UniquePipe = UniqueHandle<FILE, ::kv_pclose>;

// The entries scandir() returns, freed together.
class DirListing {
 public:
  DirListing() = default;
  ~DirListing() { clear(); }
  DirListing(DirListing &&other) noexcept
      : entries_(std::exchange(other.entries_, nullptr)), count_(std::exchange(other.count_, 0)) {}
  DirListing &operator=(DirListing &&other) noexcept {
    if (this != &other) {
      clear();
      entries_ = std::exchange(other.entries_, nullptr);
      count_ = std::exchange(other.count_, 0);
    }
    return *this;
  }
  DirListing(const DirListing &) = delete;
  DirListing &operator=(const DirListing &) = delete;

  // scandir() into this listing; false (and empty) when the folder cannot be read.
  bool scan(const char *folder, int (*filter)(const struct dirent *),
            int (*compare)(const struct dirent **, const struct dirent **)) {
    clear();
    int n = ::scandir(folder, &entries_, filter, compare);
    if (n < 0) {
      entries_ = nullptr;
      return false;
    }
    count_ = n;
    return true;
  }
  int size() const { return count_; }
  const char *name(int i) const { return entries_[i]->d_name; }

 private:
  void clear() {
    for (int i = 0; i < count_; ++i) ::free(entries_[i]);
    ::free(entries_);
    entries_ = nullptr;
    count_ = 0;
  }
  struct dirent **entries_ = nullptr;
  int count_ = 0;
};

}  // namespace kv
