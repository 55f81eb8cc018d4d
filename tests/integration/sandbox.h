// Test support: a simulated host made by scripts/sandbox in a temporary
// directory, the built ombrix-vm run inside it, and a clean-up that leaves
// nothing of it behind: every service process of the root is killed and
// reaped, its queues and shared-memory objects removed, the directory deleted.
#pragma once

#include <mqueue.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <string>
#include <vector>

#include "driver/process_utils.h"
#include "platform/host_root.h"

struct RunResult {
  int status = -1;  // exit status, -1 when the program did not exit normally
  std::string output;  // standard output and error together
};

class Sandbox {
 public:
  // `layout` is passed on to scripts/sandbox, e.g. {"--pool", "z05", "--vms", "3"}.
  explicit Sandbox(const std::vector<std::string>& layout = {}) {
    // Orphaned service processes become our children, so that we reap them.
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
    std::string pattern = (std::filesystem::temp_directory_path() / "ombrix-sandbox-XXXXXX").string();
    if (char* made = ::mkdtemp(pattern.data())) dir_ = made;
    std::vector<std::string> args{dir_};
    args.insert(args.end(), layout.begin(), layout.end());
    made_ = run_program(OMBRIX_SOURCE_DIR "/scripts/sandbox", args);
    ::setenv("OMBRIX_ROOT", dir_.c_str(), 1);
    platform::reload_host_root_for_tests();
  }

  ~Sandbox() {
    for (const char* title : {amqp_daemon_title, daemon_title})
      for (int32_t pid : find_titled_processes(title)) ::kill(pid, SIGKILL);
    reap_children();
    for (const auto& name : queue_names()) ::mq_unlink(name.c_str());
    for (const auto& path : tagged_objects()) std::filesystem::remove(path);
    ::unsetenv("OMBRIX_ROOT");
    platform::reload_host_root_for_tests();
    std::error_code ec;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
  }

  const std::string& dir() const { return dir_; }
  const RunResult& made() const { return made_; }

  // Runs the built ombrix-vm with `args` in the sandbox.
  RunResult ombrix(const std::vector<std::string>& args) const {
    return run_program(OMBRIX_BUILD_DIR "/src/app/ombrix-vm", args);
  }

  // Runs `program` with `args`, the environment of this process (with
  // OMBRIX_ROOT), as user `uid` (root by default), and collects what it writes.
  static RunResult run_program(const std::string& program, const std::vector<std::string>& args,
                               uid_t uid = 0) {
    int pipe_fds[2];
    if (::pipe(pipe_fds) != 0) return {};
    pid_t pid = ::fork();
    if (pid == 0) {
      ::dup2(pipe_fds[1], 1);
      ::dup2(pipe_fds[1], 2);
      ::close(pipe_fds[0]);
      ::close(pipe_fds[1]);
      if (uid != 0 && ::setuid(uid) != 0) ::_exit(126);
      std::vector<char*> argv{const_cast<char*>(program.c_str())};
      for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      ::execv(program.c_str(), argv.data());
      ::_exit(127);
    }
    ::close(pipe_fds[1]);
    RunResult result;
    std::array<char, 4096> buf;
    ssize_t n;
    // The daemon's descriptors go to /dev/null, so the pipe ends with the program.
    while ((n = ::read(pipe_fds[0], buf.data(), buf.size())) > 0) result.output.append(buf.data(), n);
    ::close(pipe_fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
  }

  // Reaps the children that have ended (service processes adopted by us).
  static void reap_children() {
    while (::waitpid(-1, nullptr, WNOHANG) > 0) {
    }
  }

  // The service's two queues as this root names them.
  static std::vector<std::string> queue_names() {
    return {platform::ipc_name("/ombrix-vm.mq"), platform::ipc_name("/ombrix-vm-amqp.mq")};
  }

  // Queues and shared-memory objects that carry this root's tag.
  static std::vector<std::filesystem::path> tagged_objects() {
    std::string probe = platform::ipc_name("/x");
    std::string tag = probe.substr(2);  // ".r<hash>"
    std::vector<std::filesystem::path> found;
    for (const char* dir : {"/dev/mqueue", "/dev/shm"}) {
      std::error_code ec;
      for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        std::string name = it->path().filename().string();
        if (name.size() >= tag.size() && name.find(tag) != std::string::npos) found.push_back(it->path());
      }
    }
    return found;
  }

 private:
  std::string dir_;
  RunResult made_;
};
