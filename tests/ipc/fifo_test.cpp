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
#include "tests/support/eventually.h"

namespace {

const std::string kFifo = "/var/run/ombrix-vm-cli-fifo.100.403404";

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
  std::string got;
  test_support::eventually([&] {
    char buf[64];
    ssize_t n = ::read(fifo.fd(), buf, sizeof buf);
    if (n > 0) got.append(buf, static_cast<size_t>(n));
    return got.size() >= answer.size();
  });
  EXPECT_EQ(got, answer);
  EXPECT_EQ(child.wait(), 0);

  // Neither closing nor a second open removes or replaces the node.
  fifo.close();
  EXPECT_FALSE(fifo.is_open());
  EXPECT_EQ(::stat(mapped.c_str(), &st), 0);
  ASSERT_TRUE(fifo.open(true, kFifo));
  ASSERT_TRUE(fifo.open(true, mapped));  // an already mapped path is not mapped twice

  Fifo missing;
  errno = 0;
  EXPECT_FALSE(missing.open(true, "/no/such/dir/fifo"));
  EXPECT_EQ(errno, ENOENT);
  EXPECT_FALSE(missing.is_open());
}

TEST(FifoWriter, RefusesWhatIsNoFifoWithAReaderWithoutHanging) {
  IpcSandbox sandbox;
  ASSERT_EQ(::mkfifo(platform::host_path(kFifo).c_str(), 0660), 0);  // nobody reads it
  const std::string file = sandbox.write("/var/run/not-a-fifo", "precious");
  for (auto [path, reason] : {std::pair{kFifo, "no reader"}, {"/var/run/missing-fifo", "No such file"},
                              {"/var/run/not-a-fifo", "not a FIFO"}}) {
    std::string error = fifo_write_answer(path, "VM_id=1 finish Status=1\n\x01");
    EXPECT_NE(error.find(reason), std::string::npos) << path << ": " << error;
  }
  std::ifstream in(file);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "precious");
}

TEST(FifoWriter, AReaderThatDoesNotTakeTheAnswerIsReported) {
  IpcSandbox sandbox;
  Fifo fifo;
  ASSERT_TRUE(fifo.open(true, kFifo));
  // More than a pipe holds, never read.
  std::string error = fifo_write_answer(kFifo, std::string(1 << 20, 'a'), 30);
  EXPECT_NE(error.find("not read within 30 ms"), std::string::npos) << error;

  ASSERT_TRUE(fifo.open(true, kFifo));  // empty again
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
