// Test support: a simulated host made by scripts/sandbox (from the stand-ins
// of this build) in a test_support::TempRoot, the process's host root while it
// lives; the built ombrix-vm run inside it; and a clean-up that leaves nothing
// of it behind: every process of the root (service, wrappers, hypervisors) is
// killed and reaped, its queues and shared-memory objects removed, the
// directory deleted.
#pragma once

#include <mqueue.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "driver/process_utils.h"
#include "platform/host_root.h"
#include "platform/process_table.h"
#include "tests/support/eventually.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_root.h"

class Sandbox : public test_support::TempRoot {
 public:
  // `layout` is passed on to scripts/sandbox, e.g. {"--pool", "z05", "--vms", "3"}.
  explicit Sandbox(const std::vector<std::string>& layout = {}) {
    // Orphaned service processes become our children, so that we reap them.
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
    ::setenv("OMBRIX_BUILD", OMBRIX_BUILD_DIR, 1);
    std::vector<std::string> args{dir()};
    args.insert(args.end(), layout.begin(), layout.end());
    made_ = run_program(OMBRIX_SOURCE_DIR "/scripts/sandbox", args);
  }

  ~Sandbox() {
    // The service first, so that nothing starts a VM again; then the rest,
    // until each process killed is gone: reaped by us, the subreaper (a
    // dying process may already be missing from the table).
    std::set<pid_t> killed;
    auto kill_all = [&](const std::vector<pid_t>& pids) {
      for (pid_t pid : pids)
        if (::kill(pid, SIGKILL) == 0) killed.insert(pid);
    };
    for (const char* title : {daemon_title, amqp_daemon_title}) kill_all(find_titled_processes(title));
    test_support::eventually([&] {
      reap_children();
      kill_all(processes());
      std::erase_if(killed, [](pid_t pid) { return ::kill(pid, 0) != 0; });
      return killed.empty();
    });
    for (const auto& name : queue_names()) ::mq_unlink(name.c_str());
    for (const auto& path : tagged_objects()) std::filesystem::remove(path);
  }

  const test_support::RunResult& made() const { return made_; }

  // Runs the built ombrix-vm with `args` in the sandbox.
  test_support::RunResult ombrix(const std::vector<std::string>& args) const {
    return run_program(OMBRIX_BUILD_DIR "/src/app/ombrix-vm", args);
  }

  // Runs `program` with `args` (without args[0]) in the environment of this
  // process; the output holds what it writes to standard output and error.
  static test_support::RunResult run_program(const std::string& program, std::vector<std::string> args) {
    args.insert(args.begin(), {"-c", "exec \"$0\" \"$@\" 2>&1", program});
    return test_support::run_program("/bin/sh", args);
  }

  // Reaps the children that have ended (service processes adopted by us).
  static void reap_children() {
    while (::waitpid(-1, nullptr, WNOHANG) > 0) {
    }
  }

  // The live processes that run in the current root, this one left out.
  static std::vector<pid_t> processes() {
    std::vector<pid_t> found;
    if (platform::host_root().empty()) return found;  // every process would count
    for (const auto& p : platform::list_processes())
      if (p.pid != ::getpid() && process_belongs_to_host(p.pid)) found.push_back(p.pid);
    return found;
  }

  // The service's two queues as this root names them.
  static std::vector<std::string> queue_names() {
    return {platform::ipc_name("/ombrix-vm.mq"), platform::ipc_name("/ombrix-vm-amqp.mq")};
  }

  // Queues and shared-memory objects that carry this root's tag.
  static std::vector<std::filesystem::path> tagged_objects() {
    return test_support::tagged_ipc_objects(platform::ipc_tag(platform::host_root()));
  }

 private:
  test_support::RunResult made_;
};
