// Test support: a fresh host root (OMBRIX_ROOT) in a temporary directory for
// the life of the object, removed with everything in it afterwards, together
// with the POSIX IPC objects (message queues, shared memory, semaphores) that
// carry the root's tag.
//
// Queues outlive a test process killed with SIGKILL (a time-out) and would eat
// the user's message-queue budget of every later run on the machine. So each
// root is noted in a registry (/tmp/ombrix-test-roots/<tag>: the creating
// process's pid and the directory), and every new root first removes the IPC
// objects and the directories of the roots whose creator is gone. The entry
// stays after the root itself is gone, until its creator has ended, so that
// what a straggling thread or child made afterwards is removed too.
#pragma once

#include <errno.h>
#include <mqueue.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/host_root.h"

namespace test_support {

// The IPC objects whose names end with `tag` (see platform::ipc_tag).
inline std::vector<std::filesystem::path> tagged_ipc_objects(const std::string& tag) {
  std::vector<std::filesystem::path> found;
  if (tag.empty()) return found;
  for (const char* dir : {"/dev/mqueue", "/dev/shm"}) {
    std::error_code ec;
    for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
      std::string name = it->path().filename().string();
      if (name.size() >= tag.size() && name.compare(name.size() - tag.size(), tag.size(), tag) == 0)
        found.push_back(it->path());
    }
  }
  return found;
}

// Removes the IPC objects of the root with `tag`: the service's two queues by
// name (/dev/mqueue, where queues are listed, is not mounted everywhere) and
// whatever /dev/mqueue and /dev/shm list with the tag.
inline void remove_tagged_ipc_objects(const std::string& tag) {
  if (tag.empty()) return;
  for (const char* queue : {"/ombrix-vm.mq", "/ombrix-vm-amqp.mq"})
    ::mq_unlink((std::string(queue) + tag).c_str());
  std::error_code ec;
  for (const auto& path : tagged_ipc_objects(tag)) std::filesystem::remove(path, ec);
}

inline const char* kRootRegistry = "/tmp/ombrix-test-roots";

// Kills (SIGKILL) every process whose working directory lies in `dir`, also
// when `dir` has been removed since: the service processes, wrappers and
// hypervisors of a simulated host. They hold its queues open, and a removed
// queue still counts against the budget while it is open.
inline void kill_processes_in(const std::string& dir) {
  std::error_code ec;
  for (std::filesystem::directory_iterator it("/proc", ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::error_code link_ec;
    std::string cwd = std::filesystem::read_symlink(it->path() / "cwd", link_ec).string();
    if (link_ec) continue;
    const std::string deleted = " (deleted)";
    if (cwd.size() > deleted.size() && cwd.compare(cwd.size() - deleted.size(), deleted.size(), deleted) == 0)
      cwd.resize(cwd.size() - deleted.size());
    if (cwd == dir || cwd.rfind(dir + "/", 0) == 0) ::kill(std::stoi(name), SIGKILL);
  }
}

// Removes what the roots of ended test processes left behind: their
// processes, IPC objects and directories.
inline void sweep_abandoned_roots() {
  std::error_code ec;
  for (std::filesystem::directory_iterator it(kRootRegistry, ec), end; !ec && it != end; it.increment(ec)) {
    if (it->path().extension() == ".new") continue;
    long pid = 0;
    std::string dir;
    std::ifstream(it->path()) >> pid >> dir;
    if (pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM)) continue;
    if (dir.rfind("/tmp/ombrix-", 0) == 0) kill_processes_in(dir);
    remove_tagged_ipc_objects(it->path().filename().string());
    std::error_code ignored;
    if (dir.rfind("/tmp/ombrix-", 0) == 0) std::filesystem::remove_all(dir, ignored);
    std::filesystem::remove(it->path(), ignored);
  }
}

class TempRoot {
 public:
  // With `current` the root is this process's host root until the object goes
  // (the previous OMBRIX_ROOT is restored then); otherwise it is only made,
  // e.g. to be handed to child processes.
  explicit TempRoot(bool current = true) : current_(current) {
    // Under /tmp, named after the test program: short enough for the socket
    // paths under it, and a leftover tells where it came from.
    std::string pattern = std::string("/tmp/ombrix-") + program_invocation_short_name + "-XXXXXX";
    if (!::mkdtemp(pattern.data()))
      throw std::runtime_error("mkdtemp " + pattern + ": " + std::strerror(errno));
    dir_ = pattern;
    tag_ = platform::ipc_tag(dir_);
    sweep_abandoned_roots();
    std::error_code ec;
    std::filesystem::create_directories(kRootRegistry, ec);
    std::string entry = std::string(kRootRegistry) + "/" + tag_;
    std::ofstream(entry + ".new") << ::getpid() << ' ' << dir_ << '\n';
    std::filesystem::rename(entry + ".new", entry, ec);  // whole, for a concurrent sweep
    if (!current_) return;
    if (const char* old = ::getenv("OMBRIX_ROOT")) old_root_ = old;
    ::setenv("OMBRIX_ROOT", dir_.c_str(), 1);
    platform::reload_host_root_for_tests();
  }
  ~TempRoot() {
    if (current_) {
      if (old_root_)
        ::setenv("OMBRIX_ROOT", old_root_->c_str(), 1);
      else
        ::unsetenv("OMBRIX_ROOT");
      platform::reload_host_root_for_tests();
    }
    remove_tagged_ipc_objects(tag_);
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  TempRoot(const TempRoot&) = delete;
  TempRoot& operator=(const TempRoot&) = delete;

  // The root directory itself.
  const std::string& dir() const { return dir_; }

  // The mapped path of a real host path, e.g. path("/etc/x") = <dir>/etc/x.
  std::string path(const std::string& real) const { return dir_ + real; }

  // Writes `text` to the real host path `real` under the root, making its
  // directories; returns the mapped path.
  std::string write(const std::string& real, const std::string& text) const {
    std::string p = path(real);
    std::filesystem::create_directories(std::filesystem::path(p).parent_path());
    std::ofstream(p) << text;
    return p;
  }

 private:
  std::string dir_;
  std::string tag_;
  bool current_;
  std::optional<std::string> old_root_;
};

}  // namespace test_support
