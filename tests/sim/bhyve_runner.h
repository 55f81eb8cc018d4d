// Test support: a simulated host root in a temporary directory, and the
// stand-in hypervisor run as a child process inside it.
#pragma once

#include <fcntl.h>
#include <sched.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "platform/host_root.h"
#include "tests/support/child_process.h"
#include "tests/support/eventually.h"
#include "tests/support/temp_root.h"

namespace bhyve_test {

namespace fs = std::filesystem;

using test_support::eventually;

// A TempRoot with /dev and the VM directory "vm", where the hypervisor runs.
class TempRoot : public test_support::TempRoot {
 public:
  // `current`: as for test_support::TempRoot.
  explicit TempRoot(bool current = true) : test_support::TempRoot(current) {
    fs::create_directories(vm_dir());
    fs::create_directories(path("/dev"));
  }

  std::string vm_dir() const { return path("/vm"); }

  // `real_or_relative`: a real host path, or a path in the VM directory.
  std::string write(const std::string& real_or_relative, const std::string& text) const {
    return test_support::TempRoot::write(
        real_or_relative[0] == '/' ? real_or_relative : "/vm/" + real_or_relative, text);
  }
  // A file of the VM directory.
  std::string read(const std::string& relative) const {
    std::ifstream in(vm_dir() + "/" + relative);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
};

// One request line to the hypervisor listening at `node`; the reply line, or
// "" when nobody answered.
inline std::string vmm_request_at(const std::string& node, const std::string& line) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, node.c_str(), sizeof addr.sun_path - 1);
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  timeval tv{5, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  std::string reply;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
    std::string out = line + "\n";
    if (::send(fd, out.data(), out.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(out.size())) {
      char c;
      while (::recv(fd, &c, 1, 0) == 1 && c != '\n') reply += c;
    }
  }
  ::close(fd);
  return reply;
}

// The same to the hypervisor of VM `vm` under the current host root.
inline std::string vmm_request(const std::string& vm, const std::string& line) {
  return vmm_request_at(platform::host_path("/dev/vmm/" + vm), line);
}

// Removes the hypervisor's shared-memory objects of `vm` (they outlive a
// killed hypervisor).
inline void unlink_vm_shm(const std::string& vm) {
  for (const char* kind : {"devices", "reconfig"})
    ::shm_unlink(platform::ipc_name("/bhyve.vm." + vm + "." + kind).c_str());
}

inline bool shm_exists(const std::string& vm, const std::string& kind) {
  int fd = ::shm_open(platform::ipc_name("/bhyve.vm." + vm + "." + kind).c_str(), O_RDONLY, 0);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

inline std::string shm_text(const std::string& vm, const std::string& kind) {
  int fd = ::shm_open(platform::ipc_name("/bhyve.vm." + vm + "." + kind).c_str(), O_RDONLY, 0);
  if (fd < 0) return "";
  std::string text;
  char buf[4096];
  ssize_t n;
  while ((n = ::read(fd, buf, sizeof buf)) > 0) text.append(buf, static_cast<size_t>(n));
  ::close(fd);
  return text;
}

struct StartOptions {
  int nice = -1;       // setpriority before exec when 0..20
  int only_cpu = -1;   // bind to this CPU before exec when >= 0
  std::string root;    // OMBRIX_ROOT of the child when not empty
};

// The hypervisor as a child process: started in the VM directory with its
// output in "bhyve.log" there; killed and reaped when the object goes.
class BhyveProcess : public test_support::ChildProcess {
 public:
  // `vm_dir`: the working directory (the VM directory).
  BhyveProcess(std::string vm_dir, std::string program, const std::vector<std::string>& args,
               StartOptions options = {})
      : BhyveProcess(std::move(vm_dir), *prepare(program, args, options), options) {}

  // The exit code, or -1000 - signal, or nullopt while still running after
  // `limit`.
  std::optional<int> exit_code(std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    auto st = wait_status(limit);
    if (!st) return std::nullopt;
    if (WIFEXITED(*st)) return WEXITSTATUS(*st);
    if (WIFSIGNALED(*st)) return -1000 - WTERMSIG(*st);
    return std::nullopt;
  }
  std::string log() const {
    std::ifstream in(vm_dir_ + "/bhyve.log");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

 private:
  static std::unique_ptr<test_support::ExecArgs> prepare(const std::string& program,
                                                         const std::vector<std::string>& args,
                                                         const StartOptions& options) {
    std::vector<std::string> argv{"/usr/sbin/bhyve"};
    argv.insert(argv.end(), args.begin(), args.end());
    auto exec = std::make_unique<test_support::ExecArgs>(program, std::move(argv));
    if (!options.root.empty()) exec->set_env("OMBRIX_ROOT", options.root);
    return exec;
  }
  // Makes only calls that are safe after a fork: everything was prepared.
  BhyveProcess(std::string vm_dir, const test_support::ExecArgs& exec, const StartOptions& options)
      : ChildProcess([&]() -> int {
          if (::chdir(vm_dir.c_str()) != 0) return 127;
          int log = ::open("bhyve.log", O_WRONLY | O_CREAT | O_APPEND, 0644);
          ::dup2(log, 1);
          ::dup2(log, 2);
          if (options.nice >= 0) ::setpriority(PRIO_PROCESS, 0, options.nice);
          if (options.only_cpu >= 0) {
            cpu_set_t set;
            CPU_ZERO(&set);
            CPU_SET(options.only_cpu, &set);
            ::sched_setaffinity(0, sizeof set, &set);
          }
          exec.exec();
        }),
        vm_dir_(std::move(vm_dir)) {}

  std::string vm_dir_;
};

}  // namespace bhyve_test
