#include "ipc/fifo.h"
#include "ipc/fifo_writer.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include <gtest/gtest.h>

#include "ipc_fixture.h"

namespace {

const std::string kFifo = "/var/run/ombrix-vm-cli-fifo.100.403404";

// Reads from `fd` until the byte 0x01 or 0x02, end of file or 5 s of silence.
std::string read_answer(int fd) {
  std::string text;
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 5000) <= 0) return text + "<silence>";
    char buf[64];
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EAGAIN) continue;
    if (n <= 0) return text + "<eof>";
    text.append(buf, static_cast<size_t>(n));
    if (text.back() == '\x01' || text.back() == '\x02') return text;
  }
}

TEST(Fifo, AnswerFromAnotherProcess) {
  IpcSandbox sandbox;
  const std::string mapped = platform::host_path(kFifo);
  Fifo fifo;
  ASSERT_TRUE(fifo.open(true, kFifo)) << std::strerror(errno);
  struct stat st {};
  ASSERT_EQ(::stat(mapped.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
  EXPECT_TRUE(::fcntl(fifo.fd(), F_GETFL) & O_NONBLOCK);

  const std::string answer = "VM_id=403404 finish Status=1\nstopped\x01";
  ChildProcess child([&] { return fifo_write_answer(kFifo, answer).empty() ? 0 : 1; });
  EXPECT_EQ(read_answer(fifo.fd()), answer);
  EXPECT_EQ(child.wait(), 0);

  // Neither closing nor a second open removes or replaces the node.
  fifo.close();
  EXPECT_FALSE(fifo.is_open());
  EXPECT_EQ(::stat(mapped.c_str(), &st), 0);
  ASSERT_TRUE(fifo.open(true, kFifo));
  ASSERT_TRUE(fifo.open(true, mapped));  // an already mapped path is not mapped twice
}

TEST(Fifo, ReaderOpenFailureKeepsErrno) {
  IpcSandbox sandbox;
  Fifo fifo;
  errno = 0;
  EXPECT_FALSE(fifo.open(true, "/no/such/dir/fifo"));
  EXPECT_EQ(errno, ENOENT);
  EXPECT_FALSE(fifo.is_open());
}

TEST(FifoWriter, NoReaderIsAnErrorNotAHang) {
  IpcSandbox sandbox;
  ASSERT_EQ(::mkfifo(platform::host_path(kFifo).c_str(), 0660), 0);
  std::string error = fifo_write_answer(kFifo, "x\x01");
  EXPECT_NE(error.find("no reader"), std::string::npos) << error;
  error = fifo_write_answer("/var/run/missing-fifo", "x\x01");
  EXPECT_NE(error.find("No such file"), std::string::npos) << error;
}

TEST(FifoWriter, NeverWritesIntoSomethingElse) {
  IpcSandbox sandbox;
  const std::string file = "/var/run/not-a-fifo";
  { std::ofstream(platform::host_path(file)) << "precious"; }
  std::string error = fifo_write_answer(file, "VM_id=1 finish Status=1\n\x01");
  EXPECT_NE(error.find("not a FIFO"), std::string::npos) << error;
  std::ifstream in(platform::host_path(file));
  std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(content, "precious");
}

TEST(FifoWriter, StalledReaderTimesOut) {
  IpcSandbox sandbox;
  Fifo fifo;
  ASSERT_TRUE(fifo.open(true, kFifo));
  // More than a pipe holds, never read.
  std::string error = fifo_write_answer(kFifo, std::string(1 << 20, 'a'), 30);
  EXPECT_NE(error.find("not read within 30 ms"), std::string::npos) << error;
}

TEST(FifoWriter, ReaderGoneMidwayIsReportedAndSurvived) {
  IpcSandbox sandbox;
  Fifo fifo;
  ASSERT_TRUE(fifo.open(true, kFifo));
  ChildProcess child([&] {
    fifo.close();  // the parent's read end, inherited
    // The writer fills the pipe and waits; the reader then goes away.
    std::string error = fifo_write_answer(kFifo, std::string(1 << 20, 'a'), 5000);
    return error.find("went away") != std::string::npos ? 0 : 1;
  });
  // Wait until the child's data is there, then close the only reader.
  pollfd p{fifo.fd(), POLLIN, 0};
  ASSERT_EQ(::poll(&p, 1, 5000), 1);
  fifo.close();
  EXPECT_EQ(child.wait(), 0);  // returned an error, not killed by SIGPIPE
}

}  // namespace
