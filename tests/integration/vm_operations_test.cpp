// The daemon's VM operations in a sandbox: commands sent as the command line
// sends them, answers read from a FIFO of the test's own, the VMs run by the
// stand-in hypervisor under real wrappers.
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "bhwrap/checkpoint/checkpoint_format.h"
#include "driver/process_utils.h"
#include "ipc/fifo.h"
#include "ipc/mq_send.h"
#include "ipc/posix_mq.h"
#include "ipc/shm.h"
#include "ipc/vm_runtime_record.h"
#include "platform/process_table.h"
#include "tests/integration/sandbox.h"
#include "tests/support/eventually.h"

namespace {

namespace fs = std::filesystem;
using test_support::eventually;

struct Answer {
  std::string text;    // the line(s) before the terminating byte
  char end = 0;        // 0x01, 0x02, or 0 when none came
  bool ok() const { return end == 0x01; }
};

// A FIFO path of this test process; each request has its own.
std::string fifo_path(const std::string& tag) {
  static int serial = 0;
  return fmt::format("/var/run/ombrix-vm-cli-fifo.{}-{}.{}", ::getpid(), ++serial, tag);
}

// One command and its answer, as the command line waits for it: the FIFO is
// made before the record is sent and removed when the object goes.
class Request {
 public:
  Request(const std::string& vm_id, const std::string& command, int64_t status)
      : path_(fifo_path(vm_id)) {
    if (!fifo_.open(true, path_)) {
      ADD_FAILURE() << "FIFO " << path_;
      return;
    }
    sent_ = mq_send_vm_command(vm_id, command, path_, status);
  }
  // A raw record naming this FIFO as "reply_queue".
  explicit Request(const std::string& record_without_fifo, const std::string& tag)
      : path_(fifo_path(tag)) {
    if (!fifo_.open(true, path_)) return;
    std::string record = record_without_fifo;
    record.insert(record.size() - 1, fmt::format(",\"reply_queue\":\"{}\"", path_));
    sent_ = mq_send_text(PosixMq::kDaemonQueue, record);
  }
  ~Request() {
    fifo_.close();
    fs::remove(platform::host_path(path_));
  }

  const std::string& sent() const { return sent_; }

  // Reads until the terminating byte, or gives up after `limit`.
  Answer wait(std::chrono::seconds limit = std::chrono::seconds(60)) {
    Answer answer;
    eventually([&] {
      char buf[512];
      // Nothing yet, or no writer (yet, or any more): tried again shortly.
      for (ssize_t n; (n = ::read(fifo_.fd(), buf, sizeof buf)) > 0;) {
        for (ssize_t i = 0; i < n; ++i) {
          if (buf[i] == 0x01 || buf[i] == 0x02) {
            answer.end = buf[i];
            return true;
          }
          answer.text += buf[i];
        }
      }
      return false;
    }, limit);
    return answer;
  }

 private:
  std::string path_;
  Fifo fifo_;
  std::string sent_ = "not sent";
};

Answer ask(const std::string& vm_id, const std::string& command, int64_t status = -1) {
  Request request(vm_id, command, status);
  EXPECT_EQ(request.sent(), "") << command;
  return request.wait();
}

std::string status_line(const std::string& vm_id, int status) {
  return fmt::format("VM_id={} finish Status={}\n", vm_id, status);
}

bool starts_with(const std::string& text, const std::string& head) { return text.rfind(head, 0) == 0; }

// A service with three VMs in pool z05 (100001 .. 100003).
class VmOperations : public ::testing::Test {
 protected:
  // Starts the service; `deadline_s` shortens the confirmation deadline.
  void start_service(const char* deadline_s = nullptr) {
    ASSERT_EQ(sandbox_.made().status, 0) << sandbox_.made().output;
    ::setenv("OMBRIX_WATCHDOG_INTERVAL_S", "0.2", 1);
    ::setenv("OMBRIX_WRAPPER_RELEASE_PAUSE_MS", "0", 1);
    if (deadline_s) ::setenv("OMBRIX_CONFIRM_DEADLINE_S", deadline_s, 1);
    auto run = sandbox_.ombrix({"start", "--daemon"});
    for (const char* name : {"OMBRIX_WATCHDOG_INTERVAL_S", "OMBRIX_WRAPPER_RELEASE_PAUSE_MS",
                             "OMBRIX_CONFIRM_DEADLINE_S"})
      ::unsetenv(name);
    ASSERT_EQ(run.status, 0) << run.output;
    ASSERT_TRUE(eventually([] {
      return find_titled_processes(daemon_title).size() == 1 &&
             find_titled_processes(amqp_daemon_title).size() == 1;
    }));
  }

  std::string vm_dir(const std::string& id) const {
    return sandbox_.path(fmt::format("/pools/z05/.vm_V4/{:0>9}", id));
  }
  std::string state_dir() const { return sandbox_.path("/pools/z05/.vm_V4_state"); }
  std::string image_path(const std::string& id) const {
    return sandbox_.path(fmt::format("/dev/zvol/z05/.vm_V4/{:0>9}/snapshot.bvmss", id));
  }
  void control(const std::string& id, const std::string& text) const {
    std::ofstream(vm_dir(id) + "/bhyve-sim.ctl") << text;
  }
  static int32_t bhyve_pid(const std::string& id) { return find_wrapper_processes(id).bhyve; }
  // Starts the VM, told how to behave by `control_text` when given; its
  // hypervisor's pid (0 when it did not start).
  int32_t start_vm(const std::string& id, const std::string& control_text = "") const {
    if (!control_text.empty()) control(id, control_text);
    Answer a = ask(id, "start");
    EXPECT_TRUE(a.ok()) << a.text;
    return a.ok() ? bhyve_pid(id) : 0;
  }
  static bool down(const std::string& id) {
    ProcessPair pair = find_wrapper_processes(id);
    return pair.wrapper == 0 && pair.bhyve == 0;
  }
  // The image's first bytes are the checkpoint identification.
  bool image_has_header(const std::string& id) const {
    std::ifstream in(image_path(id), std::ios::binary);
    std::string head(checkpoint::ident.size(), '\0');
    in.read(head.data(), static_cast<std::streamsize>(head.size()));
    return in && head == checkpoint::ident;
  }

  Sandbox sandbox_{{"--pool", "z05", "--vms", "3"}};
};

TEST_F(VmOperations, StartPauseStop) {
  start_service();
  Answer a = ask("100001", "start");
  ASSERT_TRUE(a.ok()) << a.text;
  int32_t bhyve = bhyve_pid("100001");
  ASSERT_GT(bhyve, 0);
  EXPECT_EQ(a.text, status_line("100001", 1) + fmt::format("VM started; bhyve pid={}", bhyve));

  // The wrapper's runtime record and the start log.
  VmRuntimeRecord record = parse_runtime_record(Shm::load_text("100001", ShmKind::vm));
  EXPECT_EQ(record.vmid, "100001");
  EXPECT_EQ(record.method, "vms-start");
  EXPECT_EQ(record.pid, bhyve);
  EXPECT_EQ(record.ppid, find_wrapper_processes("100001").wrapper);
  EXPECT_TRUE(fs::exists(vm_dir("100001") + "/log/vmstart-100001.log"));

  // A running VM is not started twice.
  a = ask("100001", "start");
  EXPECT_FALSE(a.ok());
  EXPECT_TRUE(starts_with(a.text, status_line("100001", -5) + "VM is already running")) << a.text;
  EXPECT_EQ(bhyve_pid("100001"), bhyve);

  a = ask("100001", "pause", 30);
  EXPECT_TRUE(a.ok()) << a.text;
  EXPECT_EQ(a.text, status_line("100001", 1) + "VM paused");
  a = ask("100001", "unpause", 30);
  EXPECT_TRUE(a.ok()) << a.text;
  EXPECT_EQ(a.text, status_line("100001", 1) + "VM unpaused");

  a = ask("100001", "stop", 30);
  EXPECT_TRUE(a.ok()) << a.text;
  EXPECT_EQ(a.text, status_line("100001", 1) + "VM stopped");
  EXPECT_EQ(bhyve_pid("100001"), 0);
  EXPECT_FALSE(Shm::exists("100001", ShmKind::vm));
  // Started again at once: the wrapper of the run that is over may still be
  // exiting, which does not make the VM a running one.
  a = ask("100001", "start");
  ASSERT_TRUE(a.ok()) << a.text;
  a = ask("100001", "stop", 30);
  EXPECT_TRUE(a.ok()) << a.text;
  EXPECT_TRUE(eventually([] { return down("100001"); }));

  // Nothing runs any more: stop succeeds as it is, the others fail.
  a = ask("100001", "stop", 30);
  EXPECT_TRUE(a.ok());
  EXPECT_EQ(a.text, status_line("100001", 1) + "VM is not running");
  for (const char* command : {"pause", "unpause", "restart", "suspend"}) {
    a = ask("100001", command, 30);
    EXPECT_FALSE(a.ok()) << command;
    EXPECT_EQ(a.text, status_line("100001", -5) + "VM is not running") << command;
  }
}

TEST_F(VmOperations, RestartAndStopWithSigkill) {
  start_service();
  int32_t first = start_vm("100002", "ignore_sigterm=1\n");
  ASSERT_GT(first, 0);

  // The hypervisor ignores SIGTERM: the wrapper kills it after the command's
  // time-out (1 s), the VM comes back.
  Answer a = ask("100002", "restart", 1);
  ASSERT_TRUE(a.ok()) << a.text;
  EXPECT_TRUE(starts_with(a.text, status_line("100002", 1) + "VM restarted; bhyve pid=")) << a.text;
  int32_t second = bhyve_pid("100002");
  EXPECT_GT(second, 0);
  EXPECT_NE(second, first);
  EXPECT_FALSE(platform::process_alive(first));

  a = ask("100002", "stop", 1);
  EXPECT_TRUE(a.ok()) << a.text;
  EXPECT_EQ(a.text, status_line("100002", 1) + "VM stopped");
  EXPECT_EQ(bhyve_pid("100002"), 0);
  EXPECT_TRUE(eventually([] { return down("100002"); }));
  EXPECT_FALSE(Shm::exists("100002", ShmKind::vm));
}

TEST_F(VmOperations, StopOfAHypervisorWithoutItsWrapper) {
  start_service();
  ASSERT_GT(start_vm("100003"), 0);
  ProcessPair pair = find_wrapper_processes("100003");
  ASSERT_GT(pair.wrapper, 0);
  ASSERT_GT(pair.bhyve, 0);
  ASSERT_EQ(::kill(pair.wrapper, SIGKILL), 0);
  ASSERT_TRUE(eventually([&] {
    Sandbox::reap_children();
    return find_wrapper_processes("100003").wrapper == 0;
  }));

  // The daemon stops the hypervisor itself and reports the end of its run.
  Request stop("100003", "stop", 30);
  ASSERT_EQ(stop.sent(), "");
  // The hypervisor is this process's child now (the sandbox adopts orphans).
  EXPECT_TRUE(eventually([&] {
    Sandbox::reap_children();
    return !platform::process_alive(pair.bhyve);
  }));
  Answer a = stop.wait();
  EXPECT_TRUE(a.ok()) << a.text;
  EXPECT_EQ(a.text, status_line("100003", 1) + "VM stopped");
  EXPECT_TRUE(eventually([] { return down("100003"); }));
  EXPECT_FALSE(Shm::exists("100003", ShmKind::vm));
}

TEST_F(VmOperations, SuspendAndResume) {
  start_service();
  ASSERT_GT(start_vm("100001"), 0);

  Answer a = ask("100001", "suspend", 30);
  ASSERT_TRUE(a.ok()) << a.text;
  EXPECT_EQ(a.text, status_line("100001", 1) + "VM suspended");
  EXPECT_EQ(bhyve_pid("100001"), 0);
  EXPECT_TRUE(eventually([] { return down("100001"); }));
  EXPECT_FALSE(Shm::exists("100001", ShmKind::vm));
  EXPECT_TRUE(image_has_header("100001"));
  EXPECT_TRUE(fs::exists(state_dir() + "/100001.suspended"));
  EXPECT_FALSE(fs::exists(state_dir() + "/100001.pool_suspended"));

  // A suspended VM is not started over its image without force.
  a = ask("100001", "start");
  EXPECT_FALSE(a.ok());
  EXPECT_EQ(a.text, status_line("100001", -7) + "VM is suspended");
  EXPECT_EQ(bhyve_pid("100001"), 0);
  EXPECT_TRUE(image_has_header("100001"));

  a = ask("100001", "resume");
  ASSERT_TRUE(a.ok()) << a.text;
  EXPECT_TRUE(starts_with(a.text, status_line("100001", 1) + "VM resumed; bhyve pid=")) << a.text;
  EXPECT_GT(bhyve_pid("100001"), 0);
  // Resumed: the image no longer reads as a checkpoint and the mark is gone.
  EXPECT_TRUE(eventually([&] { return !image_has_header("100001"); }));
  EXPECT_FALSE(fs::exists(state_dir() + "/100001.suspended"));

  // Suspended with its pool, then started afresh by force.
  a = ask("100001", "suspend_pool", 30);
  ASSERT_TRUE(a.ok()) << a.text;
  EXPECT_TRUE(fs::exists(state_dir() + "/100001.pool_suspended"));
  EXPECT_FALSE(fs::exists(state_dir() + "/100001.suspended"));
  a = ask("100001", "force_start");
  ASSERT_TRUE(a.ok()) << a.text;
  EXPECT_GT(bhyve_pid("100001"), 0);
  EXPECT_TRUE(eventually([&] { return !image_has_header("100001"); }));
  EXPECT_FALSE(fs::exists(state_dir() + "/100001.pool_suspended"));

  // Resume of a VM that is not suspended fails and starts nothing.
  ASSERT_TRUE(ask("100001", "stop", 30).ok());
  a = ask("100001", "resume");
  EXPECT_FALSE(a.ok());
  EXPECT_EQ(a.text, status_line("100001", -8) + "VM is not suspended");
  EXPECT_EQ(bhyve_pid("100001"), 0);
  EXPECT_TRUE(eventually([] { return down("100001"); }));
}

TEST_F(VmOperations, WatchdogCatchesAHypervisorThatNeverGetsReady) {
  start_service("2");
  control("100003", "never_ready=1\n");
  Request start("100003", "start", -1);
  ASSERT_EQ(start.sent(), "");
  // While the start waits, the VM takes no other command.
  EXPECT_TRUE(eventually([] { return bhyve_pid("100003") > 0; }));
  Answer busy = ask("100003", "stop", 30);
  EXPECT_FALSE(busy.ok());
  EXPECT_EQ(busy.text, status_line("100003", -5) + "Rejected, another command is executed");

  Answer a = start.wait();
  EXPECT_EQ(a.end, 0x02);
  EXPECT_EQ(a.text, status_line("100003", -5) + "No confirmation of 'start' in time");
  // The VM is free again: it can be stopped.
  a = ask("100003", "stop", 1);
  EXPECT_TRUE(a.ok()) << a.text;
  EXPECT_TRUE(eventually([] { return down("100003"); }));
}

TEST_F(VmOperations, GuestResetsRestartUntilTheLimit) {
  start_service();
  // Every run resets soon after its start was confirmed; the fourth reset
  // within 40 s stops the VM.
  int32_t first = start_vm("100002", "reset_after_seen_ms=300\n");
  ASSERT_GT(first, 0);
  EXPECT_TRUE(eventually([&] {
    int32_t now = bhyve_pid("100002");
    return now > 0 && now != first;
  }, std::chrono::seconds(30)));
  EXPECT_TRUE(eventually([&] { return down("100002") && !Shm::exists("100002", ShmKind::vm); },
                         std::chrono::seconds(30)));
  // Down for good: nothing starts it again.
  EXPECT_FALSE(eventually([&] { return !down("100002"); }, std::chrono::milliseconds(1500)));
}

TEST_F(VmOperations, BadInputIsAnsweredAndChangesNothing) {
  start_service();
  const std::string stored = vm_dir("100003") + "/vm.json";
  std::ofstream(stored, std::ios::trunc) << "{not a VM record";

  Answer a = ask("100001", "jump", 30);
  EXPECT_EQ(a.text, status_line("100001", -1) + "Unknown command 'jump'");
  EXPECT_EQ(a.end, 0x02);

  a = ask("999999", "start");
  EXPECT_EQ(a.text, status_line("999999", -5) + "VM does not exist: 999999");

  a = ask("..", "start");
  EXPECT_EQ(a.text, status_line("..", -5) + "Invalid VM id '..'");

  a = ask("100003", "start");
  EXPECT_EQ(a.text, status_line("100003", -5) + "vm.json is unusable: not a VM record");

  {
    Request raw(R"({"command":"start","status":-1})", "novm");
    ASSERT_EQ(raw.sent(), "");
    a = raw.wait();
    EXPECT_EQ(a.end, 0x02);
    EXPECT_EQ(a.text, status_line("", -5) + "Invalid record: record names neither a VM nor a pool");
  }

  // Nothing ran, nothing was written.
  for (const char* id : {"100001", "100003", "999999"}) {
    EXPECT_TRUE(down(id)) << id;
    EXPECT_FALSE(Shm::exists(id, ShmKind::vm)) << id;
  }
  std::ifstream in(stored);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text, "{not a VM record");

  // A reader that went away does not hold the daemon up.
  {
    Request gone("100001", "pause", 30);
  }
  a = ask("100001", "stop", 30);
  EXPECT_EQ(a.text, status_line("100001", 1) + "VM is not running");
}

}  // namespace
