// SPDX-License-Identifier: MIT
// The port readers' line splitter over a pipe: lines cut across reads at every byte,
// several lines in one read, and streams that never say CR LF.
// test-links: kvnavlink
#include "line_splitter.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

using namespace navlink;  // the daemon's own types under test

namespace {

const std::string kSentence =
    "$GPRMC,123519.000,A,4807.038,N,01131.000,E,022.4,084.4,070524,003.1,W*6C";

class Splitter : public testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(pipe2(fds, O_NONBLOCK), 0); }
  void TearDown() override {
    close(fds[0]);
    close(fds[1]);
  }
  void send(const std::string &bytes) {
    ASSERT_EQ(write(fds[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  // Passes until the pipe is empty; the number of passes that read something.
  int drain() {
    int passes = 0;
    while (splitter.pass(fds[0], collect, &lines) > 0) ++passes;
    return passes;
  }
  static void collect(void *context, const char *line, size_t len) {
    EXPECT_EQ(strlen(line), len);
    static_cast<std::vector<std::string> *>(context)->push_back(std::string(line, len));
  }
  std::vector<std::string> nonEmpty() const {
    std::vector<std::string> out;
    for (const auto &l : lines)
      if (!l.empty()) out.push_back(l);
    return out;
  }

  int fds[2] = {-1, -1};
  LineSplitter splitter;
  std::vector<std::string> lines;
};

TEST_F(Splitter, a_line_cut_at_any_byte_is_handed_over_once_whole) {
  std::string framed = kSentence + "\r\n";
  for (size_t cut = 1; cut < framed.size(); ++cut) {
    lines.clear();
    send(framed.substr(0, cut));
    drain();
    EXPECT_TRUE(lines.empty()) << "cut at " << cut;
    send(framed.substr(cut));
    drain();
    EXPECT_EQ(lines, std::vector<std::string>{kSentence}) << "cut at " << cut;
  }
}

TEST_F(Splitter, a_line_in_three_reads_up_to_the_checksum_and_the_cr_lf) {
  size_t star = kSentence.find('*');
  send(kSentence.substr(0, 10));
  drain();
  send(kSentence.substr(10, star - 10));
  drain();
  send(kSentence.substr(star) + "\r");
  drain();
  EXPECT_TRUE(lines.empty());
  send("\n");
  drain();
  EXPECT_EQ(lines, std::vector<std::string>{kSentence});
}

TEST_F(Splitter, frames_in_one_read_come_out_in_order) {
  send("\r\n#CMRPA\r\n\r\n#CMRRE\r\n$GPGGA,1*7");
  drain();
  EXPECT_EQ(nonEmpty(), (std::vector<std::string>{"#CMRPA", "#CMRRE"}));
  send("B\r\n");
  drain();
  EXPECT_EQ(nonEmpty().back(), "$GPGGA,1*7B");
}

TEST_F(Splitter, only_cr_lf_ends_a_line) {
  send("a\nb\rc\r\n");
  drain();
  EXPECT_EQ(lines, std::vector<std::string>{"a\nb\rc"});
}

TEST_F(Splitter, lines_up_to_1023_characters_pass_and_longer_ones_are_dropped_whole) {
  std::string longest(1023, 'x'), overlong(1024, 'y');
  send(longest + "\r\n");
  drain();
  send(overlong + "\r\n" + kSentence + "\r\n");
  drain();
  EXPECT_EQ(lines, (std::vector<std::string>{longest, kSentence}));
}

TEST_F(Splitter, a_stream_without_cr_lf_never_passes_the_buffer_nor_leaves_a_tail) {
  // 5000 bytes of a receiver at the wrong baud rate, a CR at a read's end, then the LF.
  std::string noise;
  for (int i = 0; i < 5000; ++i) noise += static_cast<char>('!' + i % 90);
  for (size_t at = 0; at < noise.size(); at += 700) {
    send(noise.substr(at, 700));
    drain();
  }
  send("$GPTAIL*00\r");
  drain();
  send("\n" + kSentence + "\r\n");
  drain();
  EXPECT_EQ(lines, std::vector<std::string>{kSentence});
}

TEST_F(Splitter, a_piece_with_a_nul_byte_is_dropped) {
  std::string with_nul = "$GP";
  with_nul += '\0';
  with_nul += "RMC*00\r\n";
  send(with_nul + kSentence + "\r\n");
  drain();
  EXPECT_EQ(lines, std::vector<std::string>{kSentence});
}

TEST_F(Splitter, one_pass_reads_at_most_255_bytes) {
  std::string many;
  for (int i = 0; i < 10; ++i) many += kSentence + "\r\n";
  send(many);
  EXPECT_EQ(splitter.pass(fds[0], collect, &lines), 255);
  EXPECT_EQ(lines.size(), 255 / (kSentence.size() + 2));
  EXPECT_EQ(drain(), 2);  // 740 bytes: 255, 255, 230
  EXPECT_EQ(lines.size(), 10u);
  errno = 0;
  EXPECT_EQ(splitter.pass(fds[0], collect, &lines), -1);
  EXPECT_EQ(errno, EAGAIN);
}

}  // namespace
