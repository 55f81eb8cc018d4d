// Replication streams between datasets through a pipe, driven through the
// libzfs binding against the stand-in.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <thread>

#include <gtest/gtest.h>

#include "storage/datasets.h"
#include "storage/send_receive.h"
#include "storage/snapshots.h"
#include "storage/zvol.h"
#include "storage_test_root.h"

namespace {

using namespace storage_test;

struct fd_closer {
  int fd = -1;
  ~fd_closer() {
    if (fd >= 0) ::close(fd);
  }
};

class SendReceive : public TankTest {
 protected:
  void SetUp() override {
    TankTest::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_GE(create_filesystem(session_, "tank/src", nullptr).code, 0);
    uint64_t size = 1 << 20;
    ASSERT_EQ(create_volume(session_, "tank/src/vol", size, 8192).code, 0);
    zfs_sim_ok({"set", "tank/src", "com.example:tier", "gold"});
    snapshot("s1");
  }
  void snapshot(const std::string& name) {
    ASSERT_EQ(create_snapshot(session_, "tank/src", name).code, 0) << name;
  }
  // Sends from another thread (its own session) through a pipe into
  // receive_snapshot here.
  std::pair<dataset_result, receive_result> transfer(const std::string& target,
                                                     const std::string& source, bool single_step,
                                                     const std::string& into) {
    int fds[2];
    EXPECT_EQ(::pipe2(fds, O_CLOEXEC), 0);
    fd_closer read_end{fds[0]};
    dataset_result sent;
    std::thread sender([&, write_fd = fds[1]] {
      fd_closer write_end{write_fd};
      zfs_session own;
      sent = send_snapshot(own, write_end.fd, "tank/src", target, source, single_step);
    });
    receive_result received = receive_snapshot(session_, read_end.fd, into);
    sender.join();
    return {sent, received};
  }
};

TEST_F(SendReceive, FullThenIncrementalUnderANewName) {
  auto [sent, received] = transfer("s1", "", false, "tank/copy");
  ASSERT_EQ(sent.code, 0) << sent.text;
  ASSERT_EQ(received.code, 0) << received.text;
  EXPECT_EQ(received.error_number, 0);
  EXPECT_EQ(prop("tank/copy@s1", "guid"), prop("tank/src@s1", "guid"));
  EXPECT_EQ(prop("tank/copy/vol@s1", "guid"), prop("tank/src/vol@s1", "guid"));
  EXPECT_EQ(prop("tank/copy/vol", "volsize"), "1048576");
  EXPECT_EQ(prop("tank/copy", "com.example:tier"), "gold");
  std::vector<std::string> h = history("tank");
  EXPECT_EQ(std::vector<std::string>(h.end() - 2, h.end()),
            (std::vector<std::string>{"ombrix-vm send       tank/src", "ombrix-vm receive in tank/copy"}));
  ASSERT_EQ(transfer("s1", "", false, "tank/step").second.code, 0);

  snapshot("s2");
  snapshot("s3");
  // Every snapshot in between, or one step.
  struct Case {
    std::string into;
    bool single_step;
    bool has_s2;
  } cases[] = {{"tank/copy", false, true}, {"tank/step", true, false}};
  for (const Case& c : cases) {
    auto [sent, received] = transfer("s3", "s1", c.single_step, c.into);
    ASSERT_EQ(sent.code, 0) << sent.text;
    ASSERT_EQ(received.code, 0) << received.text;
    EXPECT_EQ(exists(c.into + "@s2"), c.has_s2) << c.into;
    EXPECT_EQ(exists(c.into + "/vol@s2"), c.has_s2) << c.into;
    EXPECT_EQ(prop(c.into + "@s3", "guid"), prop("tank/src@s3", "guid")) << c.into;
  }

  // A target changed since the source snapshot is rolled back first.
  snapshot("s4");
  ASSERT_EQ(create_snapshot(session_, "tank/copy", "local").code, 0);
  auto [sent4, received4] = transfer("s4", "s3", true, "tank/copy");
  ASSERT_EQ(received4.code, 0) << received4.text;
  EXPECT_FALSE(exists("tank/copy@local"));
  EXPECT_TRUE(exists("tank/copy@s4"));
}

TEST_F(SendReceive, StreamHeaderCarriesTheFlags) {
  snapshot("s2");
  struct Case {
    std::string source;
    bool single_step;
    uint32_t flags;  // 1 replicate, 2 every snapshot, 4 properties, 8 large blocks
  } cases[] = {{"", false, 15}, {"", true, 15}, {"s1", false, 15}, {"s1", true, 13}};
  for (const Case& c : cases) {
    FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    dataset_result sent = send_snapshot(session_, fileno(file), "tank/src", "s2", c.source, c.single_step);
    ASSERT_EQ(sent.code, 0) << sent.text;
    unsigned char header[16] = {};
    std::rewind(file);
    ASSERT_EQ(std::fread(header, 1, sizeof header, file), sizeof header);
    std::fclose(file);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(header), 8), "OMBXZSND");
    EXPECT_EQ(header[8] | header[9] << 8, 1);  // version
    EXPECT_EQ(uint32_t(header[12] | header[13] << 8 | header[14] << 16 | header[15] << 24), c.flags)
        << c.source << " " << c.single_step;
  }
}

TEST_F(SendReceive, FailuresAreReportedAndRecorded) {
  dataset_result sent = send_snapshot(session_, 1, "tank/src", "none", "", false);
  EXPECT_EQ(sent.code, -1);
  EXPECT_EQ(sent.text, "snapshot 'tank/src@none' does not exist");
  EXPECT_EQ(history("tank").back(), "ombrix-vm send error snapshot 'tank/src@none' does not exist");
  EXPECT_EQ(send_snapshot(session_, 1, "tank/nothing", "s1", "", false).code, -1);

  FILE* garbage = std::tmpfile();
  std::fputs("not a stream at all, but long enough to have a header", garbage);
  std::fflush(garbage);
  std::rewind(garbage);
  receive_result received = receive_snapshot(session_, fileno(garbage), "tank/copy");
  std::fclose(garbage);
  EXPECT_EQ(received.code, -1);
  EXPECT_EQ(received.error_number, EZFS_BADSTREAM);
  EXPECT_EQ(received.text, "invalid stream (bad magic number)");
  EXPECT_EQ(history("tank").back(), "ombrix-vm receive error invalid stream (bad magic number)");

  struct Case {
    std::string target, source, into;
    int error_number;
  } cases[] = {
      {"s1", "", "tank/src", EZFS_EXISTS},        // a full stream needs a new dataset
      {"s1", "", "tank/none/copy", EZFS_NOENT},   // its parent must exist
      {"s2", "s1", "tank/fresh", EZFS_BADRESTORE},  // an incremental one needs the source
  };
  snapshot("s2");
  for (const Case& c : cases) {
    auto [sent, received] = transfer(c.target, c.source, false, c.into);
    EXPECT_EQ(sent.code, 0) << sent.text;
    EXPECT_EQ(received.code, -1) << c.into;
    EXPECT_EQ(received.error_number, c.error_number) << c.into << ": " << received.text;
  }
  EXPECT_FALSE(exists("tank/fresh"));
  EXPECT_FALSE(exists("tank/fresh/vol"));
}

}  // namespace
