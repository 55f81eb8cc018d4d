// The service in a sandbox: start, status, restarts, stop.
#include <fcntl.h>
#include <mqueue.h>
#include <signal.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <thread>

#include <gtest/gtest.h>

#include "platform/process_table.h"
#include "tests/integration/sandbox.h"
#include "tests/support/child_process.h"

namespace {

using test_support::eventually;
using Pids = std::vector<int32_t>;

Pids daemons() { return find_titled_processes(daemon_title); }
Pids amqp_daemons() { return find_titled_processes(amqp_daemon_title); }

bool queue_exists(const std::string& name) {
  mqd_t q = ::mq_open(name.c_str(), O_RDONLY);
  if (q == static_cast<mqd_t>(-1)) return errno != ENOENT;
  ::mq_close(q);
  return true;
}

bool gone(const Pids& pids) {
  Sandbox::reap_children();
  for (int32_t pid : pids)
    if (platform::process_alive(pid)) return false;
  return true;
}

// Waits for one daemon with one AMQP daemon as its child; returns {daemon, AMQP daemon}.
std::pair<int32_t, int32_t> wait_for_service(int32_t not_this_amqp = 0) {
  std::pair<int32_t, int32_t> found;
  eventually([&] {
    Pids d = daemons(), a = amqp_daemons();
    if (d.size() != 1 || a.size() != 1 || a[0] == not_this_amqp) return false;
    if (platform::process_info(a[0]).ppid != d[0]) return false;
    found = {d[0], a[0]};
    return true;
  });
  return found;
}

TEST(Service, StartStatusRestartStop) {
  Sandbox sandbox;
  ASSERT_EQ(sandbox.made().status, 0) << sandbox.made().output;
  EXPECT_EQ(sandbox.made().output, "export OMBRIX_ROOT=" + sandbox.dir() + "\n");

  auto run = sandbox.ombrix({"start"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.output.find("Error: Starting only as daemon"), std::string::npos) << run.output;
  EXPECT_TRUE(daemons().empty());

  // A descriptor the starting process inherits does not reach the daemon.
  std::string marker = sandbox.dir() + "/inherited-marker";
  int marker_fd = ::open(marker.c_str(), O_CREAT | O_RDWR, 0600);
  ASSERT_GE(marker_fd, 0);
  run = sandbox.ombrix({"start", "--daemon"});
  ::close(marker_fd);
  ASSERT_EQ(run.status, 0) << run.output;
  auto [daemon, amqp] = wait_for_service();
  ASSERT_GT(daemon, 0);
  ASSERT_GT(amqp, 0);
  // Both run inside the sandbox, detached in a session of their own.
  EXPECT_EQ(platform::process_cwd(daemon), sandbox.dir());
  EXPECT_EQ(::getsid(daemon), daemon);
  for (int32_t pid : {daemon, amqp}) {
    std::error_code ec;
    for (const auto& fd : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec))
      EXPECT_NE(std::filesystem::read_symlink(fd.path(), ec).string(), marker) << pid;
  }
  for (const auto& name : Sandbox::queue_names())
    EXPECT_TRUE(eventually([&] { return queue_exists(name); })) << name;

  run = sandbox.ombrix({"status"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.output, "Ombrix QTR (daemon): running, pid=" + std::to_string(daemon) +
                            "\nOmbrix QTR (AMQP-daemon): running, pid=" + std::to_string(amqp) + "\n");

  // A second start finds the service running, leaves it alone and fails.
  run = sandbox.ombrix({"start", "--daemon"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.output.find("Ombrix QTR is already running, pid=" + std::to_string(daemon)),
            std::string::npos)
      << run.output;
  EXPECT_EQ(daemons(), Pids{daemon});

  // SIGHUP re-reads the configuration; nothing ends.
  ASSERT_EQ(::kill(daemon, SIGHUP), 0);
  EXPECT_FALSE(eventually([&] { return gone({daemon}) || gone({amqp}); }, std::chrono::milliseconds(300)));

  // An AMQP daemon that fails is restarted (the first restart waits 1 s).
  ASSERT_EQ(::kill(amqp, SIGUSR1), 0);
  auto [daemon2, amqp2] = wait_for_service(amqp);
  EXPECT_EQ(daemon2, daemon);
  ASSERT_GT(amqp2, 0);
  EXPECT_NE(amqp2, amqp);

  run = sandbox.ombrix({"stop"});
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(run.output, "Ombrix QTR stopped\n");
  EXPECT_TRUE(eventually([&] { return gone({daemon, amqp2}); }));
  EXPECT_TRUE(daemons().empty());
  EXPECT_TRUE(amqp_daemons().empty());
  for (const auto& name : Sandbox::queue_names()) EXPECT_FALSE(queue_exists(name)) << name;
  EXPECT_TRUE(Sandbox::tagged_objects().empty());

  run = sandbox.ombrix({"stop"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.output, "Ombrix QTR is not running\n");
  run = sandbox.ombrix({"status"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.output, "Ombrix QTR (daemon): not running\nOmbrix QTR (AMQP-daemon): not running\n");
}

TEST(Service, OfTwoStartsAtOnceOneStartsTheServiceAndTheOtherFails) {
  Sandbox sandbox;
  test_support::RunResult runs[2];
  std::thread other([&] { runs[1] = sandbox.ombrix({"start", "--daemon"}); });
  runs[0] = sandbox.ombrix({"start", "--daemon"});
  other.join();
  auto [daemon, amqp] = wait_for_service();
  ASSERT_GT(daemon, 0);
  EXPECT_EQ(runs[0].status + runs[1].status, 1) << runs[0].output << "\n" << runs[1].output;
  const std::string& refused = runs[0].status == 1 ? runs[0].output : runs[1].output;
  EXPECT_NE(refused.find("Ombrix QTR is already running"), std::string::npos) << refused;
  // One service: its daemon holds the pid file with its pid.
  EXPECT_FALSE(eventually([&] { return daemons().size() > 1; }, std::chrono::milliseconds(500)));
  EXPECT_EQ(daemons(), Pids{daemon});
  const std::string pid_path = sandbox.path("/var/run/ombrix-vm.pid");
  std::ifstream pid_file(pid_path);
  int32_t recorded = 0;
  pid_file >> recorded;
  EXPECT_EQ(recorded, daemon);
  // The daemon's children do not keep the lock once the daemon is gone.
  auto holds_pid_file = [&](int32_t pid) {
    std::error_code ec;
    for (const auto& fd : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec))
      if (std::filesystem::read_symlink(fd.path(), ec).string() == pid_path) return true;
    return false;
  };
  EXPECT_TRUE(holds_pid_file(daemon));
  EXPECT_FALSE(holds_pid_file(amqp));

  EXPECT_EQ(sandbox.ombrix({"stop"}).status, 0);
  EXPECT_TRUE(eventually([&] { return daemons().empty() && amqp_daemons().empty(); }));
  // With the service gone a start succeeds again.
  ASSERT_EQ(sandbox.ombrix({"start", "--daemon"}).status, 0);
  EXPECT_GT(wait_for_service().first, 0);
}

TEST(Service, KilledAmqpDaemonStaysDownAndStartRepairsIt) {
  Sandbox sandbox;
  ASSERT_EQ(sandbox.ombrix({"start", "--daemon"}).status, 0);
  auto [daemon, amqp] = wait_for_service();
  ASSERT_GT(amqp, 0);

  // SIGKILL is an order, not a failure: no restart (which would come after 1 s).
  ASSERT_EQ(::kill(amqp, SIGKILL), 0);
  ASSERT_TRUE(eventually([&] { return gone({amqp}); }));
  EXPECT_FALSE(eventually([&] { return !amqp_daemons().empty(); }, std::chrono::milliseconds(2000)));
  auto run = sandbox.ombrix({"status"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.output.find("Ombrix QTR (AMQP-daemon): not running"), std::string::npos);

  // start replaces the partial service with a whole one.
  run = sandbox.ombrix({"start", "--daemon"});
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_NE(run.output.find("Ombrix QTR partially runned, it will be restarted"), std::string::npos);
  EXPECT_TRUE(eventually([&] { return gone({daemon}); }));
  auto [daemon2, amqp2] = wait_for_service();
  ASSERT_GT(daemon2, 0);
  EXPECT_NE(daemon2, daemon);

  EXPECT_EQ(sandbox.ombrix({"stop"}).status, 0);
  EXPECT_TRUE(eventually([&] { return gone({daemon2, amqp2}); }));
}

TEST(Service, ChecksBeforeAnyAction) {
  Sandbox sandbox;
  // The program file must be named ombrix-vm (or ombrix-vm.debug).
  std::string copy = sandbox.dir() + "/usr/sbin/other-name";
  std::filesystem::copy_file(OMBRIX_BUILD_DIR "/src/app/ombrix-vm", copy);
  auto run = Sandbox::run_program(copy, {"status"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.output, "Bad execution file name: [other-name] <> [ombrix-vm[.debug]]\n");
  std::string debug = sandbox.dir() + "/usr/sbin/ombrix-vm.debug";
  std::filesystem::copy_file(OMBRIX_BUILD_DIR "/src/app/ombrix-vm", debug);
  run = Sandbox::run_program(debug, {"status"});
  EXPECT_EQ(run.output, "Ombrix QTR (daemon): not running\nOmbrix QTR (AMQP-daemon): not running\n");

  // Only root may run it.
  std::string out = sandbox.path("/nobody.out");
  const char* program = OMBRIX_BUILD_DIR "/src/app/ombrix-vm";
  test_support::ExecArgs status(program, {program, "status"});
  test_support::ChildProcess nobody([&]() -> int {
    int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0 || ::dup2(fd, 1) < 0 || ::dup2(fd, 2) < 0 || ::setuid(65534) != 0) return 126;
    status.exec();
  });
  EXPECT_EQ(nobody.wait(), 1);
  // (The sandbox is not readable for that user: the configuration is missed too.)
  std::ifstream written(out);
  std::string output((std::istreambuf_iterator<char>(written)), std::istreambuf_iterator<char>());
  EXPECT_NE(output.find("The program must be run at root\n"), std::string::npos) << output;

  EXPECT_EQ(sandbox.ombrix({"--version"}).status, 0);
  EXPECT_EQ(sandbox.ombrix({"--bogus"}).status, 1);
  run = sandbox.ombrix({"vm", "status", "--id=1"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.output.find("Error: "), std::string::npos);
}

}  // namespace
