#include "daemon/cli_answer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "ipc/fifo.h"
#include "tests/support/temp_root.h"

namespace {

using test_support::TempRoot;

TEST(CliAnswer, Format) {
  EXPECT_EQ(format_cli_answer("100001", 1, "VM started"),
            std::string("VM_id=100001 finish Status=1\nVM started\x01"));
  EXPECT_EQ(format_cli_answer("100001", -5, "Rejected, another command is executed"),
            std::string("VM_id=100001 finish Status=-5\nRejected, another command is executed\x02"));
  // Only status 1 is success; an empty text leaves the line end before the byte.
  EXPECT_EQ(format_cli_answer("7", 0, ""), std::string("VM_id=7 finish Status=0\n\x02"));
  EXPECT_EQ(format_cli_answer("7", 2, "x").back(), kAnswerFailed);
  EXPECT_EQ(format_cli_answer("", -1, "Unknown command 'x'"),
            std::string("VM_id= finish Status=-1\nUnknown command 'x'\x02"));
}

class CliAnswerFifo : public ::testing::Test {
 protected:
  std::string fifo_path_ = "/var/run/ombrix-vm-cli-fifo.1.100001";
  TempRoot root_;
  void SetUp() override { std::filesystem::create_directories(root_.path("/var/run")); }
};

TEST_F(CliAnswerFifo, WrittenIntoTheReadersFifo) {
  Fifo reader;
  ASSERT_TRUE(reader.open(true, fifo_path_));
  EXPECT_EQ(send_cli_answer(fifo_path_, "100001", 1, "VM stopped"), "");
  char buf[256];
  ssize_t n = ::read(reader.fd(), buf, sizeof buf);
  ASSERT_GT(n, 0);
  EXPECT_EQ(std::string(buf, static_cast<size_t>(n)), format_cli_answer("100001", 1, "VM stopped"));
}

TEST_F(CliAnswerFifo, NoReaderNoBlockNothingElseTouched) {
  // A FIFO that nobody reads any more.
  ASSERT_EQ(::mkfifo(root_.path(fifo_path_).c_str(), 0660), 0);
  EXPECT_NE(send_cli_answer(fifo_path_, "100001", 1, "VM stopped"), "");
  // A path that is not a FIFO is never written to.
  std::string plain = "/var/run/plain-file";
  root_.write(plain, "keep");
  EXPECT_NE(send_cli_answer(plain, "100001", 1, "VM stopped"), "");
  std::ifstream in(root_.path(plain));
  std::string kept((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(kept, "keep");
  // A missing FIFO is not created.
  EXPECT_NE(send_cli_answer("/var/run/none", "100001", 1, "x"), "");
  EXPECT_FALSE(std::filesystem::exists(root_.path("/var/run/none")));
  // No FIFO named: nothing to write, no error.
  EXPECT_EQ(send_cli_answer("", "100001", 1, "x"), "");
}

}  // namespace
