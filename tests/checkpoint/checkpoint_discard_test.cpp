#include "bhwrap/checkpoint/checkpoint_discard.h"

#include <cerrno>

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "tests/checkpoint/checkpoint_test_image.h"

namespace {

using namespace checkpoint_test;

class CheckpointDiscard : public ::testing::Test {
 protected:
  static Bytes image(bool with_ident, size_t size = 3 * checkpoint::page_size) {
    Bytes data(size, 0x11);
    if (with_ident) std::memcpy(data.data(), checkpoint::ident.data(), checkpoint::ident.size());
    return data;
  }
  static int refuse(int, uint64_t, uint64_t) { return EOPNOTSUPP; }

  TempRoot dir_{false};
  std::string path_ = dir_.path("/snapshot.bvmss");
};

TEST_F(CheckpointDiscard, DeletesTheWholeImage) {
  write_file(path_, image(true));
  EXPECT_EQ(text(discard_checkpoint(path_)), "0 ");
  EXPECT_EQ(read_file(path_), Bytes(3 * checkpoint::page_size, 0));

  write_file(path_, image(true, 5 * checkpoint::page_size + 7));
  uint64_t asked_offset = 1, asked_length = 0;
  checkpoint_result r = discard_checkpoint(path_, [&](int, uint64_t offset, uint64_t length) {
    asked_offset = offset;
    asked_length = length;
    return 0;
  });
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(asked_offset, 0u);
  EXPECT_EQ(asked_length, 5 * checkpoint::page_size + 7);
}

TEST_F(CheckpointDiscard, RefusedDeleteFailsOnlyWhileAHeaderIsLeft) {
  // The identification alone, without a full page after it, is no header.
  Bytes ident_only(checkpoint::ident.begin(), checkpoint::ident.end());
  for (auto [contents, code] :
       {std::pair{image(true), 2}, {image(false), 1}, {ident_only, 1}, {Bytes(), 1}}) {
    write_file(path_, contents);
    EXPECT_EQ(text(discard_checkpoint(path_, refuse)),
              std::to_string(code) + " DIOCGDELETE: Operation not supported")
        << contents.size();
  }
}

TEST_F(CheckpointDiscard, ImagesThatCannotBeOpenedOrSized) {
  EXPECT_EQ(text(discard_checkpoint(dir_.path("/absent"))),
            "1 failed to open snapshot: No such file or directory");  // nothing to discard
  EXPECT_EQ(text(discard_checkpoint(dir_.dir())), "2 failed to open snapshot: Is a directory");
  // A FIFO opens but has no end to seek to.
  ASSERT_EQ(mkfifo(path_.c_str(), 0600), 0);
  EXPECT_EQ(text(discard_checkpoint(path_)), "2 lseek: Illegal seek");
}

}  // namespace
