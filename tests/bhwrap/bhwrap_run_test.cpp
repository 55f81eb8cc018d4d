// Whole wrapper runs against the stand-in hypervisor in a simulated host.
#include <signal.h>

#include <cstring>
#include <filesystem>

#include <fmt/format.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "driver/config.h"
#include "driver/uuid.h"
#include "platform/cpu_affinity.h"
#include "platform/process_table.h"
#include "tests/bhwrap/bhwrap_test_host.h"
#include "tests/support/free_port.h"

namespace bhwrap_test {
namespace {

namespace fs = std::filesystem;

// Waits for the confirmation of a start; its status is bhyve's pid.
pid_t confirmed_pid(WrapperHost& host) {
  auto confirm = host.expect(MqVmMessageKind::confirm);
  if (!confirm) return -1;
  EXPECT_EQ(confirm->vmid, kVm);
  return static_cast<pid_t>(confirm->status);
}

// The exit report of the run, whose status must be `status`.
mq_exit_info exit_report(WrapperHost& host, int64_t status) {
  auto exit = host.expect(MqVmMessageKind::vm_exit);
  EXPECT_TRUE(exit && exit->exit) << host.wrapper_log();
  if (!exit || !exit->exit) return {};
  EXPECT_EQ(exit->status, status);
  return *exit->exit;
}

TEST(BhWrapRun, StartConfirmsRecordsLogsAndStopsOnSigterm) {
  WrapperHost host;
  host.control("ready_delay_ms=30\n");
  _command cmd = host.command();
  auto& wrapper = host.start(cmd);

  pid_t bhyve = confirmed_pid(host);
  ASSERT_GT(bhyve, 0) << host.wrapper_log();
  std::string trace = host.trace();
  EXPECT_TRUE(contains(trace, fmt::format("pid={}\n", bhyve))) << trace;
  EXPECT_TRUE(contains(trace, "cwd=" + host.vm_dir() + "\n")) << trace;
  EXPECT_TRUE(contains(trace, "nice=10\n")) << trace;

  // The runtime record names this run.
  VmRuntimeRecord record = host.runtime_record();
  EXPECT_EQ(record.vmid, kVm);
  EXPECT_EQ(record.method, "vms-start");
  EXPECT_EQ(record.pid, bhyve);
  EXPECT_EQ(record.ppid, wrapper.pid());
  EXPECT_EQ(record.tstamp, 30);
  EXPECT_EQ(record.item, cmd.item);

  // The serial ports are null-modem pairs while the VM runs.
  for (const char* side : {"A", "B", "ciA", "ciB"})
    EXPECT_TRUE(fs::is_symlink(host.path(fmt::format("/dev/nmdm{}{}", kVm, side)))) << side;

  // The start log: a header, then the whole line ending in the UUID and the VM name.
  std::string uuid = sha1_uuid(kVm, std::strlen(kVm));
  std::string log = host.start_log();
  EXPECT_EQ(log.rfind("--- ", 0), 0u) << log;
  EXPECT_TRUE(contains(log, "/usr/sbin/bhyve -A -H -c 2 -m 1073741824 -s 0,hostbridge ")) << log;
  EXPECT_TRUE(contains(log, fmt::format(" -U {} {} \n", uuid, kVm))) << log;
  EXPECT_FALSE(contains(log, "seed.iso")) << log;
  std::string wrapper_log = host.wrapper_log();
  EXPECT_TRUE(contains(wrapper_log, fmt::format("VMS-START. vm_id={} LOCAL", kVm)));
  EXPECT_TRUE(contains(wrapper_log, "BhWrap::exec() binded to the CPU-set ")) << wrapper_log;
  EXPECT_TRUE(contains(wrapper_log, fmt::format("BHYVE pid={} assigned vcpu_class=3", bhyve)))
      << wrapper_log;

  wrapper.signal(SIGTERM);
  mq_exit_info exit = exit_report(host, 1);
  EXPECT_EQ(exit.code, 1);
  EXPECT_FALSE(exit.signal);
  EXPECT_EQ(exit.initiator, "command");
  EXPECT_EQ(exit.method, "");
  EXPECT_EQ(host.wait_wrapper(wrapper), 0);

  // After a power-off the run leaves nothing behind.
  EXPECT_FALSE(Shm::exists(kVm, ShmKind::vm));
  EXPECT_FALSE(fs::is_symlink(host.path(fmt::format("/dev/nmdm{}A", kVm))));
  EXPECT_FALSE(fs::is_symlink(host.path(fmt::format("/dev/nmdm{}ciB", kVm))));
  EXPECT_FALSE(host.next_message(std::chrono::milliseconds(50)));

  // A second run appends a second header to the same log.
  auto& second = host.start(cmd);
  ASSERT_GT(confirmed_pid(host), 0) << host.wrapper_log();
  second.signal(SIGTERM);
  ASSERT_TRUE(host.expect(MqVmMessageKind::vm_exit));
  EXPECT_EQ(host.wait_wrapper(second), 0);
  log = host.start_log();
  EXPECT_NE(log.find("--- ", 1), std::string::npos) << log;
}

TEST(BhWrapRun, MemoryDomainBindingAppliesTheDomainsOwnCpus) {
  std::vector<int> usable = platform::process_cpus(::getpid());
  if (usable.size() < 3) GTEST_SKIP() << "needs three CPUs";
  WrapperHost host;
  host.control("ready_delay_ms=10\n");
  // Domain 0 holds two CPUs that are not neighbours; domain 1 the one between.
  for (const char* node : {"node0", "node1"})
    fs::create_directories(host.path(fmt::format("/sys/devices/system/node/{}", node)));
  std::ofstream(host.path("/sys/devices/system/node/node0/cpulist"))
      << fmt::format("{},{}\n", usable[0], usable[2]);
  std::ofstream(host.path("/sys/devices/system/node/node1/cpulist")) << usable[1] << "\n";
  struct DomainGuard {
    int64_t saved = Config::instance().cpu_domain;
    ~DomainGuard() { Config::instance().cpu_domain = saved; }
  } guard;
  Config::instance().cpu_domain = 0;

  auto& wrapper = host.start(host.command());
  ASSERT_GT(confirmed_pid(host), 0) << host.wrapper_log();
  EXPECT_TRUE(contains(host.trace(), fmt::format("cpus={},{}\n", usable[0], usable[2])))
      << host.trace();
  wrapper.signal(SIGTERM);
  ASSERT_TRUE(host.expect(MqVmMessageKind::vm_exit));
  EXPECT_EQ(host.wait_wrapper(wrapper), 0);
}

TEST(BhWrapRun, StopEscalatesToSigkillWhenBhyveIgnoresSigterm) {
  WrapperHost host;
  host.control("ready_delay_ms=10\nignore_sigterm=1\n");
  _command cmd = host.command();
  cmd.timeout = 0;  // no stop time-out in the runtime record: the fallback delay applies
  auto& wrapper = host.start(cmd);
  ASSERT_GT(confirmed_pid(host), 0) << host.wrapper_log();
  EXPECT_EQ(host.runtime_record().tstamp, 0);

  wrapper.signal(SIGTERM);
  mq_exit_info exit = exit_report(host, 1);
  EXPECT_EQ(exit.signal, SIGKILL);
  EXPECT_FALSE(exit.code);
  EXPECT_EQ(exit.initiator, "timeout");
  EXPECT_EQ(host.wait_wrapper(wrapper), 0);
  EXPECT_TRUE(contains(host.wrapper_log(), "force stop (SIGKILL)")) << host.wrapper_log();
  EXPECT_FALSE(Shm::exists(kVm, ShmKind::devices));
}

TEST(BhWrapRun, BhyveKilledWhileAStopIsPendingReportsTheCommand) {
  WrapperHost host;
  host.control("ready_delay_ms=10\n");
  auto& wrapper = host.start(host.command());
  pid_t bhyve = confirmed_pid(host);
  ASSERT_GT(bhyve, 0) << host.wrapper_log();

  // The daemon writes its pending stop into the runtime record.
  VmRuntimeRecord record = host.runtime_record();
  record.method = "vms-stop";
  ASSERT_TRUE(Shm(kVm, ShmKind::vm).write(record.to_text()));
  ASSERT_TRUE(Shm::exists(kVm, ShmKind::devices));

  ::kill(bhyve, SIGKILL);
  mq_exit_info exit = exit_report(host, 1);
  EXPECT_EQ(exit.signal, SIGKILL);
  EXPECT_EQ(exit.initiator, "command");
  EXPECT_EQ(exit.method, "vms-stop");
  EXPECT_EQ(host.wait_wrapper(wrapper), 0);
  EXPECT_FALSE(Shm::exists(kVm, ShmKind::devices));
  EXPECT_FALSE(Shm::exists(kVm, ShmKind::reconfig));
}

TEST(BhWrapRun, SignalsDuringTheReleasePauseDoNotLoseTheExitReport) {
  WrapperHost host;
  host.control("ready_delay_ms=10\n");
  BhWrapTimings timings = quick_timings();
  timings.release_pause = std::chrono::milliseconds(1000);
  auto& wrapper = host.start(host.command(), timings);
  pid_t bhyve = confirmed_pid(host);
  ASSERT_GT(bhyve, 0) << host.wrapper_log();

  ::kill(bhyve, SIGKILL);
  ASSERT_TRUE(test_support::eventually([&] { return contains(host.wrapper_log(), "stopped event loop"); }))
      << host.wrapper_log();
  wrapper.signal(SIGHUP);
  wrapper.signal(SIGTERM);
  mq_exit_info exit = exit_report(host, 1);
  EXPECT_EQ(exit.signal, SIGKILL);
  EXPECT_EQ(host.wait_wrapper(wrapper), 0);
  EXPECT_FALSE(Shm::exists(kVm, ShmKind::vm));
}

// An NVMe-oF client whose target shares and mounts the checkpoint volume (a
// device without an image) and is lost once the VM runs.
struct TargetLostOnceRunning : RemoteDisks {
  RemoteShare share(const std::string&, const std::string&, uint64_t, const std::string&) override {
    return {4420, "nqn.2014-08.org.test:snapshot", "shared"};
  }
  std::optional<std::string> unshare(const std::string&, const std::string&, const std::string&) override {
    return std::nullopt;
  }
  RemoteMount mount(const std::string&, const std::string&, const std::string&) override {
    return {"/dev/no-such-device", ""};
  }
  std::optional<std::string> unmount(const std::string&, const std::string&) override {
    throw std::runtime_error("target lost");
  }
  int shared_count(const std::string&, const std::string&) override { return 0; }
  std::string disk_host_nqn(const std::string&, uint8_t) override { return ""; }
  std::string snapshot_host_nqn(const std::string&) override { return ""; }
};

TEST(BhWrapRun, AnErrorWhileBhyveRunsStopsItAndReportsTheRun) {
  WrapperHost host;
  host.control("ready_delay_ms=10\n");
  _command cmd = host.command();
  cmd.remote = true;
  nlohmann::json record = nlohmann::json::parse(cmd.item);
  record["suspend-device"] = {{"trtype", "tcp"}, {"traddr", "10.0.0.3"}};
  cmd.item = record.dump();
  auto& wrapper = host.start(cmd, quick_timings(), std::make_unique<TargetLostOnceRunning>());

  auto exit = host.next_message();
  ASSERT_TRUE(exit) << host.wrapper_log();
  EXPECT_EQ(exit->kind, MqVmMessageKind::vm_exit) << mq_vm_message_text(*exit);
  EXPECT_EQ(host.wait_wrapper(wrapper), 1);
  std::string log = host.wrapper_log();
  EXPECT_TRUE(contains(log, "unexpected error: target lost")) << log;
  std::string trace = host.trace();
  pid_t bhyve = 0;
  ASSERT_EQ(std::sscanf(trace.c_str(), "pid=%d", &bhyve), 1) << trace;
  EXPECT_FALSE(platform::process_alive(bhyve));
  EXPECT_FALSE(Shm::exists(kVm, ShmKind::vm));
}

TEST(BhWrapRun, ReceiveThatNeverCompletesIsStoppedByItsWatchdog) {
  WrapperHost host;
  _command cmd = host.command("vms-receive");
  cmd.cloudinit_port = test_support::free_tcp_port();  // bhyve listens here
  ASSERT_NE(cmd.cloudinit_port, 0);
  cmd.timeout = 1;
  auto& wrapper = host.start(cmd);
  auto exit = host.next_message();
  ASSERT_TRUE(exit) << host.wrapper_log();
  ASSERT_EQ(exit->kind, MqVmMessageKind::vm_exit) << mq_vm_message_text(*exit);
  ASSERT_TRUE(exit->exit);
  EXPECT_EQ(exit->exit->initiator, "timeout");
  EXPECT_EQ(exit->exit->method, "vms-receive");
  EXPECT_EQ(host.wait_wrapper(wrapper), 0);
  EXPECT_TRUE(contains(host.trace(), fmt::format("arg=-L\narg={}\narg=-o\narg=pci.0.29.0.tcp=127.0.0.1:25901\n",
                                                 cmd.cloudinit_port)))
      << host.trace();
}

TEST(BhWrapRun, GuestResetsAreRestartedUntilTheLimit) {
  WrapperHost host;
  host.control("ready_delay_ms=5\nreset_after_ms=60\n");
  _command cmd = host.command();
  ASSERT_EQ(cmd.abort_restarts, 3u);
  ASSERT_EQ(cmd.abort_interval, 40u);

  for (int run = 1; run <= 4; ++run) {
    auto& wrapper = host.start(cmd);
    std::optional<mq_vm_message> exit;
    // A confirmation may come first; the exit report ends the run.
    for (int i = 0; i < 2 && !(exit && exit->kind == MqVmMessageKind::vm_exit); ++i)
      exit = host.next_message();
    ASSERT_TRUE(exit && exit->kind == MqVmMessageKind::vm_exit) << "run " << run << "\n"
                                                               << host.wrapper_log();
    EXPECT_EQ(host.wait_wrapper(wrapper), 0);
    ASSERT_TRUE(exit->exit);
    EXPECT_EQ(exit->exit->code, 0);
    if (run < 4) {
      EXPECT_EQ(exit->status, 0) << "run " << run;
      VmRuntimeRecord record = host.runtime_record();
      EXPECT_EQ(record.abort_count, run);
      EXPECT_EQ(record.pid, -1);
      EXPECT_GT(record.abort_time, 0);
    } else {
      EXPECT_EQ(exit->status, -2);
      EXPECT_FALSE(Shm::exists(kVm, ShmKind::vm));
    }
  }
  EXPECT_TRUE(contains(host.wrapper_log(), "<restart> sigabrt_restart_count=3"));
  EXPECT_TRUE(contains(host.wrapper_log(), "<stop> sigabrt_restart_count=4"));
}

TEST(BhWrapRun, FailuresBeforeTheStartAreReportedOnceAsConfirmations) {
  WrapperHost host;
  // A record that is not JSON: nothing runs, the daemon gets -3.
  _command bad = host.command();
  bad.item = "{\"id\": ";
  auto& wrapper = host.start(bad);
  auto confirm = host.expect(MqVmMessageKind::confirm);
  ASSERT_TRUE(confirm) << host.wrapper_log();
  EXPECT_EQ(confirm->status, -3);
  EXPECT_EQ(host.wait_wrapper(wrapper), 1);
  EXPECT_FALSE(fs::exists(host.vm_dir() + "/bhyve-sim.trace"));
  EXPECT_TRUE(contains(host.wrapper_log(), "### BhWrap: item parse error:"));

  // A hypervisor that cannot be executed: the run is reported once, by the
  // wrapper, with the status of the child that failed to become bhyve.
  fs::remove(host.path("/usr/sbin/bhyve"));
  auto& unstartable = host.start(host.command());
  auto exit = host.next_message();
  ASSERT_TRUE(exit) << host.wrapper_log();
  EXPECT_EQ(exit->kind, MqVmMessageKind::vm_exit) << mq_vm_message_text(*exit);
  EXPECT_EQ(exit->status, 127);
  EXPECT_EQ(host.wait_wrapper(unstartable), 0);
  EXPECT_FALSE(host.next_message(std::chrono::milliseconds(100)));
  EXPECT_TRUE(contains(host.start_log(), "/usr/sbin/bhyve not found or access is denied.")) << host.start_log();
}

}  // namespace
}  // namespace bhwrap_test
