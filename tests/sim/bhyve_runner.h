// Test support: a simulated host root in a temporary directory, and the
// stand-in hypervisor run as a child process inside it.
#pragma once

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
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
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/host_root.h"

namespace bhyve_test {

namespace fs = std::filesystem;

// A fresh OMBRIX_ROOT for one test, removed with everything in it; the VM
// directory "vm" inside it is where the hypervisor runs.
class TempRoot {
 public:
  // With `current` the root becomes this process's host root until the
  // object goes; otherwise it is only handed to child processes.
  explicit TempRoot(bool current = true) : current_(current) {
    char pattern[] = "/tmp/ombrix-bhyve-XXXXXX";
    path_ = ::mkdtemp(pattern);
    if (current_) {
      ::setenv("OMBRIX_ROOT", path_.c_str(), 1);
      platform::reload_host_root_for_tests();
    }
    fs::create_directories(vm_dir());
    fs::create_directories(path_ + "/dev");
  }
  ~TempRoot() {
    std::error_code ec;
    fs::remove_all(path_, ec);
    if (current_) {
      ::unsetenv("OMBRIX_ROOT");
      platform::reload_host_root_for_tests();
    }
  }
  TempRoot(const TempRoot&) = delete;
  TempRoot& operator=(const TempRoot&) = delete;

  const std::string& path() const { return path_; }
  std::string vm_dir() const { return path_ + "/vm"; }
  // A real host path as it lies under this root.
  std::string host(const std::string& real) const { return path_ + real; }

  void write(const std::string& real_or_relative, const std::string& text) const {
    std::string p = real_or_relative[0] == '/' ? host(real_or_relative) : vm_dir() + "/" + real_or_relative;
    fs::create_directories(fs::path(p).parent_path());
    std::ofstream(p) << text;
  }
  std::string read(const std::string& relative) const {
    std::ifstream in(vm_dir() + "/" + relative);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

 private:
  std::string path_;
  bool current_;
};

// Polls `done` every 5 ms until it holds or `limit` passes.
inline bool eventually(const std::function<bool()>& done,
                       std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

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
class BhyveProcess {
 public:
  // `vm_dir`: the working directory (the VM directory).
  BhyveProcess(std::string vm_dir, std::string program, const std::vector<std::string>& args,
               StartOptions options = {})
      : vm_dir_(std::move(vm_dir)) {
    std::vector<std::string> argv{"/usr/sbin/bhyve"};
    argv.insert(argv.end(), args.begin(), args.end());
    pid_ = ::fork();
    if (pid_ == 0) {
      if (::chdir(vm_dir_.c_str()) != 0) ::_exit(127);
      int log = ::open("bhyve.log", O_WRONLY | O_CREAT | O_APPEND, 0644);
      ::dup2(log, 1);
      ::dup2(log, 2);
      if (!options.root.empty()) ::setenv("OMBRIX_ROOT", options.root.c_str(), 1);
      if (options.nice >= 0) ::setpriority(PRIO_PROCESS, 0, options.nice);
      if (options.only_cpu >= 0) {
        cpu_set_t set;
        CPU_ZERO(&set);
        CPU_SET(options.only_cpu, &set);
        ::sched_setaffinity(0, sizeof set, &set);
      }
      std::vector<char*> raw;
      for (auto& a : argv) raw.push_back(a.data());
      raw.push_back(nullptr);
      ::execv(program.c_str(), raw.data());
      ::_exit(127);
    }
  }
  ~BhyveProcess() {
    if (pid_ > 0 && !status_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  BhyveProcess(const BhyveProcess&) = delete;
  BhyveProcess& operator=(const BhyveProcess&) = delete;

  pid_t pid() const { return pid_; }
  void signal(int sig) const { ::kill(pid_, sig); }

  // The wait status once the process ended within `limit`.
  std::optional<int> wait(std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    if (status_) return status_;
    eventually([&] {
      int st = 0;
      if (::waitpid(pid_, &st, WNOHANG) == pid_) status_ = st;
      return status_.has_value();
    }, limit);
    return status_;
  }
  // The exit code, or -1000 - signal, or nullopt while still running.
  std::optional<int> exit_code(std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    auto st = wait(limit);
    if (!st) return std::nullopt;
    if (WIFEXITED(*st)) return WEXITSTATUS(*st);
    if (WIFSIGNALED(*st)) return -1000 - WTERMSIG(*st);
    return std::nullopt;
  }
  bool running() {
    return !wait(std::chrono::milliseconds(0)).has_value();
  }
  std::string log() const {
    std::ifstream in(vm_dir_ + "/bhyve.log");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

 private:
  std::string vm_dir_;
  pid_t pid_ = -1;
  std::optional<int> status_;
};

}  // namespace bhyve_test
