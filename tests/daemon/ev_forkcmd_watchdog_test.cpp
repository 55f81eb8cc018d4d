// The watchdog follows the process it waits for as that process, not as a
// pid that the system may give to another process once it is reaped.
#include "daemon/ev_forkcmd.h"

#include <ev.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "driver/process_utils.h"
#include "ipc/mq_vm_message.h"
#include "tests/ipc/ipc_fixture.h"
#include "tests/support/eventually.h"

namespace {

constexpr const char* kVm = "100001";

// A process with the id `pid` (the kernel's last pid is set just below it),
// which ends when the write end of `hold` is closed; -1 when other processes
// took the id first every time.
pid_t fork_with_pid(pid_t pid, const int hold[2]) {
  for (int attempt = 0; attempt < 50; ++attempt) {
    std::ofstream("/proc/sys/kernel/ns_last_pid") << pid - 1;
    pid_t child = ::fork();
    if (child == 0) {
      ::close(hold[1]);
      char byte;
      while (::read(hold[0], &byte, 1) < 0) {
      }
      ::_exit(0);
    }
    if (child == pid || child < 0) return child;
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
  }
  return -1;
}

// The pipe that holds the stand-ins, the process given the reused pid, the loop.
struct Leftovers {
  int hold[2] = {-1, -1};
  pid_t reused = -1;
  struct ev_loop* loop = ev_loop_new(EVFLAG_AUTO);
  ~Leftovers() {
    for (int fd : hold)
      if (fd >= 0) ::close(fd);
    if (reused > 0) ::waitpid(reused, nullptr, 0);
    ev_loop_destroy(loop);
  }
};

TEST(EvForkCmdWatchdog, AStoppedWrapperWhosePidIsReusedIsSeenGone) {
  IpcSandbox sandbox;
  sandbox.track_shm(kVm);
  Leftovers left;
  int* hold = left.hold;
  ASSERT_EQ(::pipe(hold), 0);

  // A process that looks like the VM's wrapper, started by somebody else.
  test_support::ExecArgs cat("/bin/cat", {wrapper_title_prefix + std::string(kVm)});
  const std::string dir = sandbox.dir();
  ChildProcess wrapper([&]() -> int {
    ::close(hold[1]);
    if (::chdir(dir.c_str()) != 0) return 126;
    ::dup2(hold[0], 0);
    cat.exec();
  });
  ASSERT_TRUE(test_support::eventually([&] { return find_wrapper_processes(kVm).wrapper == wrapper.pid(); }));

  ForkCmdOptions options;
  options.watchdog_interval_s = 0.01;
  struct ev_loop* loop = left.loop;
  {
    EvForkCmd cmd(loop, [] {}, options);
    cmd.start();
    mq_vm_message stop = make_vm_command_message(kVm, "stop", "", -1);
    cmd.process_mq_message(stop, mq_vm_message_text(stop));
    ASSERT_TRUE(cmd.pending().busy(kVm));

    // The wrapper ends on the SIGTERM without a report and is reaped; its pid
    // goes to another process.
    ASSERT_TRUE(wrapper.wait_status());
    left.reused = fork_with_pid(wrapper.pid(), hold);
    if (left.reused != wrapper.pid()) GTEST_SKIP() << "the wrapper's pid could not be given again";

    bool done = test_support::eventually([&] {
      ev_run(loop, EVRUN_NOWAIT);
      return !cmd.pending().busy(kVm);
    }, std::chrono::seconds(5));
    EXPECT_TRUE(done) << "the stop waits for a process that is not the wrapper";
  }
}

}  // namespace
