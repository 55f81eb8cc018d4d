#include <string>

#include <gtest/gtest.h>

#include "bhwrap/checkpoint/filestream_reader.h"
#include "bhwrap/checkpoint/filestream_writer.h"
#include "tests/support/temp_root.h"

namespace {

using test_support::TempRoot;

TEST(Filestream, WrittenBytesReadBack) {
  TempRoot dir(false);
  std::string path = dir.path("/stream.bin");
  for (size_t buffer : {size_t{0}, size_t{3}, size_t{65536}}) {
    {
      auto out = filestream::writer::create(path, buffer);
      ASSERT_TRUE(out->is_open());
      EXPECT_EQ(out->write("hello", 5), 5);
      EXPECT_EQ(out->put_byte('!'), '!');
      EXPECT_EQ(out->skip(2), 8);  // leaves a gap of zeros
      EXPECT_EQ(out->put_byte(0x1FF), 0xFF);
      EXPECT_TRUE(out->flush());
    }
    auto in = filestream::reader::create(path, buffer);
    ASSERT_TRUE(in->is_open());
    char text[6] = {};
    EXPECT_EQ(in->read(text, 5), 5);
    EXPECT_EQ(std::string(text), "hello");
    EXPECT_EQ(in->position(), 5);
    EXPECT_EQ(in->next_byte(), '!');
    EXPECT_EQ(in->skip(1), 7);
    EXPECT_EQ(in->next_byte(), 0);
    EXPECT_EQ(in->next_byte(), 0xFF);
    EXPECT_EQ(in->next_byte(), -1);
    EXPECT_EQ(in->read(text, 5), 0);
    EXPECT_EQ(in->skip(-10), -1);  // before the start
    EXPECT_EQ(in->skip(-9), 0);
  }
}

TEST(Filestream, ClosedStreamsAnswerMinusOne) {
  TempRoot dir(false);
  auto in = filestream::reader::create(dir.path("/absent"), 16);
  EXPECT_FALSE(in->is_open());
  char c;
  EXPECT_EQ(in->read(&c, 1), -1);
  EXPECT_EQ(in->skip(0), -1);
  EXPECT_EQ(in->position(), -1);
  EXPECT_EQ(in->next_byte(), -1);

  auto out = filestream::writer::create(dir.path("/no/such/dir"), 16);
  EXPECT_FALSE(out->is_open());
  EXPECT_FALSE(out->flush());
  EXPECT_EQ(out->write("x", 1), -1);
  EXPECT_EQ(out->skip(0), -1);
  EXPECT_EQ(out->put_byte('x'), -1);

  filestream::writer w;
  ASSERT_TRUE(w.open(dir.path("/f"), 0));
  w.close();
  EXPECT_FALSE(w.is_open());
  EXPECT_EQ(w.put_byte('x'), -1);

  // A buffer that cannot be had leaves the stream closed.
  filestream::reader r;
  EXPECT_FALSE(r.open(dir.path("/f"), SIZE_MAX));
  EXPECT_FALSE(r.is_open());
}

}  // namespace
