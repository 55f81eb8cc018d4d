#include "platform/block_discard.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace {

class BlockDiscard : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/ombrix-discard-XXXXXX";
    fd_ = mkstemp(tmpl);
    ASSERT_GE(fd_, 0);
    path_ = tmpl;
    std::vector<char> data(3 * 4096, 'x');
    ASSERT_EQ(write(fd_, data.data(), data.size()), static_cast<ssize_t>(data.size()));
  }
  void TearDown() override {
    if (fd_ >= 0) close(fd_);
    unlink(path_.c_str());
  }
  std::string read_all() {
    std::vector<char> buf(3 * 4096 + 16);
    ssize_t n = pread(fd_, buf.data(), buf.size(), 0);
    return std::string(buf.data(), n > 0 ? static_cast<size_t>(n) : 0);
  }

  int fd_ = -1;
  std::string path_;
};

TEST_F(BlockDiscard, RegularFileRangeReadsZerosAndKeepsItsSize) {
  ASSERT_EQ(platform::discard_range(fd_, 4096, 4096), 0);
  std::string data = read_all();
  ASSERT_EQ(data.size(), 3u * 4096);
  EXPECT_EQ(data.substr(0, 4096), std::string(4096, 'x'));
  EXPECT_EQ(data.substr(4096, 4096), std::string(4096, '\0'));
  EXPECT_EQ(data.substr(8192), std::string(4096, 'x'));

  ASSERT_EQ(platform::discard_range(fd_, 0, 3 * 4096), 0);
  EXPECT_EQ(read_all(), std::string(3 * 4096, '\0'));
}

TEST_F(BlockDiscard, EmptyRangeIsASuccess) {
  EXPECT_EQ(platform::discard_range(fd_, 0, 0), 0);
  EXPECT_EQ(read_all(), std::string(3 * 4096, 'x'));
}

TEST_F(BlockDiscard, RefusesWhatCannotBeDiscarded) {
  EXPECT_EQ(platform::discard_range(fd_, UINT64_MAX - 10, 100), EINVAL);
  EXPECT_EQ(read_all(), std::string(3 * 4096, 'x'));

  int pipe_fds[2];
  ASSERT_EQ(pipe(pipe_fds), 0);
  EXPECT_EQ(platform::discard_range(pipe_fds[0], 0, 4096), ENOTTY);
  close(pipe_fds[0]);
  close(pipe_fds[1]);

  EXPECT_EQ(platform::discard_range(-1, 0, 4096), EBADF);
}

}  // namespace
