#include "bhwrap/checkpoint_discard.h"

#include <cerrno>

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "checkpoint_test_image.h"

namespace {

using namespace checkpoint_test;

class CheckpointDiscard : public ::testing::Test {
 protected:
  void write_image(bool with_ident, size_t size = 3 * checkpoint::page_size) {
    Bytes data(size, 0x11);
    if (with_ident) std::memcpy(data.data(), checkpoint::ident.data(), checkpoint::ident.size());
    write_file(path_, data);
  }
  static int refuse(int, uint64_t, uint64_t) { return EOPNOTSUPP; }

  TempDir dir_;
  std::string path_ = dir_.file("snapshot.bvmss");
};

TEST_F(CheckpointDiscard, DeletesTheWholeImage) {
  write_image(true);
  checkpoint_result r = discard_checkpoint(path_);
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.message, "");
  EXPECT_EQ(read_file(path_), Bytes(3 * checkpoint::page_size, 0));
}

TEST_F(CheckpointDiscard, DeleteIsAskedForTheWholeSize) {
  write_image(true, 5 * checkpoint::page_size + 7);
  uint64_t asked_offset = 1, asked_length = 0;
  checkpoint_result r = discard_checkpoint(path_, [&](int fd, uint64_t offset, uint64_t length) {
    asked_offset = offset;
    asked_length = length;
    return 0;
  });
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(asked_offset, 0u);
  EXPECT_EQ(asked_length, 5 * checkpoint::page_size + 7);
}

TEST_F(CheckpointDiscard, MissingImageIsNothingToDiscard) {
  checkpoint_result r = discard_checkpoint(dir_.file("absent"));
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.message, "failed to open snapshot: No such file or directory");
}

TEST_F(CheckpointDiscard, UnopenableImageFails) {
  checkpoint_result r = discard_checkpoint(dir_.path());  // a directory
  EXPECT_EQ(r.code, 2);
  EXPECT_EQ(r.message, "failed to open snapshot: Is a directory");
}

TEST_F(CheckpointDiscard, RefusedDeleteDependsOnTheHeaderLeft) {
  write_image(true);
  checkpoint_result r = discard_checkpoint(path_, refuse);
  EXPECT_EQ(r.code, 2);
  EXPECT_EQ(r.message, "DIOCGDELETE: Operation not supported");

  write_image(false);
  r = discard_checkpoint(path_, refuse);
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.message, "DIOCGDELETE: Operation not supported");

  // The identification alone, without a full page after it, is no header.
  write_file(path_, Bytes(checkpoint::ident.begin(), checkpoint::ident.end()));
  EXPECT_EQ(discard_checkpoint(path_, refuse).code, 1);
  write_file(path_, Bytes());
  EXPECT_EQ(discard_checkpoint(path_, refuse).code, 1);
}

TEST_F(CheckpointDiscard, UnsizableImageFails) {
  // A FIFO opens but has no end to seek to.
  ASSERT_EQ(mkfifo(path_.c_str(), 0600), 0);
  checkpoint_result r = discard_checkpoint(path_);
  EXPECT_EQ(r.code, 2);
  EXPECT_EQ(r.message, "lseek: Illegal seek");
}

}  // namespace
