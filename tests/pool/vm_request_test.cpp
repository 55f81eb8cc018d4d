// The wait for the daemon's answer on a reply FIFO, and the requests' ends
// when the daemon does not answer or cannot be reached. The "daemon" here is
// this test: a writer thread on the FIFO, or a queue nobody reads.
#include <ev.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "ipc/fifo.h"
#include "ipc/posix_mq.h"
#include "platform/host_root.h"
#include "pool/request/fifo_reply_wait.h"
#include "pool/vmcli/vm_exec.h"
#include "pool/request/vm_request.h"
#include "tests/support/temp_root.h"

namespace {

namespace fs = std::filesystem;
using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

struct Loop {
  struct ev_loop* loop = ev_loop_new(0);
  ~Loop() { ev_loop_destroy(loop); }
};

class ReplyFifo : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(root_.path("/var/run")); }
  // Nothing may be left of the requests' FIFOs.
  bool run_dir_empty() const { return fs::is_empty(root_.path("/var/run")); }

  test_support::TempRoot root_;
};

TEST_F(ReplyFifo, AnswerIsGatheredUpToTheTerminator) {
  struct Case {
    std::vector<std::string> chunks;  // written apart, so they come in separate reads
    double timeout_s;
    std::string printed;
    bool ok;
    bool timed_out;
  } cases[] = {
      {{"VM_id=7 finish Status=1\nVM started\x01"}, 0, "VM_id=7 finish Status=1\nVM started\n", true, false},
      {{"VM_id=7 fin", "ish Status=-5\n", "no such VM\x02"}, 0,
       "VM_id=7 finish Status=-5\nno such VM\n", false, false},
      {{"done\x01", "late bytes"}, 0, "done\n", true, false},
      {{"done\x01left over in the same read"}, 0, "done\n", true, false},
      {{"\x02"}, 0, "", false, false},
      // The daemon writes part of an answer and goes away: the text is still
      // shown when the wait gives up.
      {{"VM_id=7 fin"}, 0.3, "VM_id=7 fin\n", false, true},
  };
  for (const auto& c : cases) {
    const std::string path = "/var/run/reply-test";
    Loop loop;
    FifoReplyWait wait(loop.loop, c.timeout_s);
    ASSERT_TRUE(wait.open(path));
    std::thread daemon([&] {
      Fifo writer;
      if (!writer.open(false, path)) return;
      for (const auto& chunk : c.chunks) {
        if (::write(writer.fd(), chunk.data(), chunk.size()) < 0) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
    });
    CaptureStdout();
    wait.run();
    std::string printed = GetCapturedStdout();
    daemon.join();
    wait.close();
    fs::remove(root_.path(path));
    EXPECT_EQ(printed, c.printed) << c.chunks.front();
    EXPECT_EQ(wait.reply_ok(), c.ok) << c.chunks.front();
    EXPECT_EQ(wait.timed_out(), c.timed_out) << c.chunks.front();
    // A writer that closed its end must not wake the loop again and again.
    EXPECT_LT(ev_iteration(loop.loop), 100u) << c.chunks.front();
  }
}

TEST_F(ReplyFifo, PauseGivesUpWhenTheDaemonDoesNotAnswer) {
  PosixMq queue;  // the daemon's queue, which nobody reads
  ASSERT_TRUE(queue.open_reader(PosixMq::kDaemonQueue, MqAttributes{2, 1024}));
  struct Case {
    bool (*request)(const std::string&, double);
    std::string command;
    std::string verb;
  } cases[] = {{vm_pause_request, "pause", "pausing"}, {vm_unpause_request, "unpause", "unpausing"}};
  for (const auto& c : cases) {
    CaptureStdout();
    bool ok = c.request("42", 0.2);
    std::string printed = GetCapturedStdout();
    EXPECT_FALSE(ok);
    EXPECT_EQ(printed, "VM_id=42 " + c.verb + "; fifo=" + cli_fifo_path("42") +
                           "\n### No reply from the daemon in 0 s: VM_id=42 command='" + c.command +
                           "'. The operation may have been applied - check the VM state\n");
    EXPECT_TRUE(run_dir_empty());
    auto record = queue.receive();
    ASSERT_TRUE(record);
    EXPECT_NE(record->find("\"command\":\"" + c.command + "\""), std::string::npos) << *record;
  }
  PosixMq::unlink(PosixMq::kDaemonQueue);
}

TEST_F(ReplyFifo, UnreachableDaemonFailsAtOnce) {
  struct Case {
    bool (*request)(const std::string&);
    std::string command;
  } cases[] = {{vm_stop_request, "stop"},
               {vm_restart_request, "restart"},
               {[](const std::string& id) { return vm_start_request(id, true, "force"); }, "force_start"},
               {[](const std::string& id) { return vm_start_request(id, false, ""); }, "start"},
               {[](const std::string& id) { return vm_suspend_request(id, "p"); }, "suspend_pool"},
               {[](const std::string& id) { return vm_resume_request(id, ""); }, "resume"}};
  for (const auto& c : cases) {
    CaptureStderr();
    CaptureStdout();
    bool ok = c.request("42");
    GetCapturedStdout();
    EXPECT_FALSE(ok);
    EXPECT_EQ(GetCapturedStderr(),
              "### MQ send error: MQ not opened; VM_id=42 command='" + c.command + "'\n");
    EXPECT_TRUE(run_dir_empty());
  }
}

TEST_F(ReplyFifo, FifoThatCannotBeMadeIsReported) {
  CaptureStderr();
  EXPECT_FALSE(vm_request("42", "stop", "/var/run/missing/dir/fifo", 30, 0));
  EXPECT_EQ(GetCapturedStderr(),
            "### FIFO open error: No such file or directory, '/var/run/missing/dir/fifo'\n");
}

TEST(VmExec, ArgumentsAreCheckedFirst) {
  struct Case {
    std::string action, id, error;
  } cases[] = {
      {"bogus", "1", "Unknown command: 'bogus'\n"},
      {"status", "", "Missing parameter '--id' for implementation of 'status'\n"},
      {"setnice", "", "Missing parameter '--id' for implementation of 'setnice'\n"},
      {"start", "../1", "Error: Invalid VM id '../1'\n"},
      {"nice", "..", "Error: Invalid VM id '..'\n"},
  };
  for (const auto& c : cases) {
    CaptureStderr();
    EXPECT_FALSE(VM::exec(c.action, c.id, ""));
    EXPECT_EQ(GetCapturedStderr(), c.error);
  }
}

}  // namespace
