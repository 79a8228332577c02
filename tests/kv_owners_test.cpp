// SPDX-License-Identifier: MIT
// The move-only owners: each handle is released exactly once, whatever is done with it.
#include "kv_owners.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <utility>

namespace {

bool isOpen(int fd) { return fcntl(fd, F_GETFD) != -1; }

TEST(UniqueFd, handing_back_the_held_descriptor_keeps_it_open) {
  kv::UniqueFd fd(open("/dev/null", O_RDONLY));
  ASSERT_TRUE(fd.ok());
  const int n = fd.get();
  EXPECT_EQ(fd.reset(n), 0);
  EXPECT_TRUE(isOpen(n)) << "the owner would hold a closed number";
  kv::UniqueFd moved(std::move(fd));
  EXPECT_FALSE(fd.ok());
  // Through a second name: the compilers warn of a self-move as a slip, here it is the case
  // under test.
  kv::UniqueFd &same = moved;
  moved = std::move(same);
  EXPECT_TRUE(isOpen(n)) << "moving onto itself closes nothing";
  moved.reset();
  EXPECT_FALSE(isOpen(n));
}

TEST(UniqueFile, handing_back_the_held_stream_keeps_it_open) {
  kv::UniqueFile f(fopen("/dev/null", "r"));
  ASSERT_TRUE(f);
  const int n = fileno(f.get());
  EXPECT_EQ(f.reset(f.get()), 0);
  EXPECT_TRUE(isOpen(n));
  EXPECT_EQ(f.reset(), 0) << "fclose's result";
  EXPECT_FALSE(isOpen(n));
}

}  // namespace
