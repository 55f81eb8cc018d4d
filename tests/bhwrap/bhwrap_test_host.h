// Test support for the VM wrapper: a simulated host with one pool and one VM,
// the daemon's queue opened by the test, and wrappers run as forked children
// (so their event loop and _exit stay out of the test process).
#pragma once

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <spdlog/spdlog.h>

#include "bhwrap/wrapper/bhwrap.h"
#include "ipc/mq_vm_message.h"
#include "ipc/posix_mq.h"
#include "ipc/shm.h"
#include "ipc/vm_runtime_record.h"
#include "model/commander.h"
#include "tests/integration/sandbox.h"
#include "tests/support/child_process.h"

namespace bhwrap_test {

inline constexpr const char* kVm = "100001";
inline constexpr const char* kPool = "z05";
inline constexpr const char* kVmDir = "/pools/z05/.vm_V4/000100001";
inline constexpr const char* kDataset = "z05/.vm_V4/000100001";

// Delays short enough for tests.
inline BhWrapTimings quick_timings() {
  BhWrapTimings t;
  t.confirm_interval_s = 0.02;
  t.kill_delay_fallback_s = 0.3;
  t.release_pause = std::chrono::milliseconds(0);
  t.temporary_vm_poll = std::chrono::milliseconds(1);
  t.lock_timeout_ms = 300;
  t.share_retry_delay = std::chrono::milliseconds(1);
  return t;
}

inline std::string read_file(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

inline bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// The wrappers' children (and whatever else runs in the root) end with the
// sandbox; the wrappers themselves, children of this process, before it.
class WrapperHost {
 public:
  WrapperHost() { queue_.open_reader(PosixMq::kDaemonQueue, MqAttributes{10, 8192}); }

  std::string path(const std::string& real) const { return sandbox_.path(real); }
  std::string vm_dir() const { return path(kVmDir); }
  std::string checkpoint_volume() const {
    return std::string("/dev/zvol/") + kDataset + "/snapshot.bvmss";
  }

  // The stand-in hypervisor's control file in the VM directory.
  void control(const std::string& text) const { std::ofstream(vm_dir() + "/bhyve-sim.ctl") << text; }

  // A command for the sandbox's VM as the daemon makes it.
  _command command(const std::string& method = "vms-start") const {
    _command cmd = Commander::make_vm_start(read_file(vm_dir() + "/vm.json"));
    cmd.method = method;
    return cmd;
  }

  // Forks a wrapper running `cmd`; its log goes to "wrapper.log" in the root.
  test_support::ChildProcess& start(const _command& cmd, BhWrapTimings timings = quick_timings()) {
    std::string log = wrapper_log_path();
    wrappers_.push_back(std::make_unique<test_support::ChildProcess>([&]() -> int {
      if (std::FILE* f = std::freopen(log.c_str(), "a", stdout)) ::dup2(::fileno(f), 2);
      spdlog::set_level(spdlog::level::debug);
      spdlog::set_pattern("[%l] %v");
      run_wrapper(cmd, timings);
    }));
    return *wrappers_.back();
  }

  // The wrapper's exit status once it ended, -1 when it did not exit (in time).
  static int wait_wrapper(test_support::ChildProcess& wrapper) {
    return wrapper.wait(std::chrono::seconds(20));
  }

  // The next record on the daemon's queue within `limit`.
  std::optional<mq_vm_message> next_message(std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    std::optional<std::string> text;
    test_support::eventually([&] { return (text = queue_.receive()).has_value(); }, limit);
    return text ? std::optional(parse_mq_vm_message(*text)) : std::nullopt;
  }

  // The next record of kind `kind`, skipping none: a record of another kind
  // is a failure the caller sees as nothing.
  std::optional<mq_vm_message> expect(MqVmMessageKind kind) {
    auto m = next_message();
    if (!m || m->kind != kind) return std::nullopt;
    return m;
  }

  // The wrapper's log so far.
  std::string wrapper_log() const { return read_file(wrapper_log_path()); }
  std::string wrapper_log_path() const { return path("/wrapper.log"); }
  // The stand-in's trace of the last bhyve start.
  std::string trace() const { return read_file(vm_dir() + "/bhyve-sim.trace"); }
  std::string start_log() const {
    return read_file(vm_dir() + "/log/vmstart-" + std::string(kVm) + ".log");
  }
  VmRuntimeRecord runtime_record() const {
    return parse_runtime_record(Shm::load_text(kVm, ShmKind::vm));
  }

 private:
  Sandbox sandbox_{{"--pool", kPool, "--vms", "1"}};
  PosixMq queue_;
  std::vector<std::unique_ptr<test_support::ChildProcess>> wrappers_;
};

}  // namespace bhwrap_test
