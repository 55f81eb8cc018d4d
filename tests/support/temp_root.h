// Test support: a fresh host root (OMBRIX_ROOT) in a temporary directory for
// the life of the object, removed with everything in it afterwards, together
// with the POSIX IPC objects (message queues, shared memory, semaphores) that
// carry the root's tag.
//
// Queues outlive a test process killed with SIGKILL (a time-out) and would eat
// the user's message-queue budget of every later test of the run. So each
// root is noted in a registry (/tmp/ombrix-test-roots/<tag>: the creating
// process's pid, the directory, the test run and the build directory), and
// every new root first removes the IPC objects, processes and directories of
// the roots its own run left whose creator is gone. Roots of another run (a
// second checkout's suite, a test program of another build run by hand) or of
// another user are never touched: their run may still be using them. The
// entry stays after the root itself is gone, until its creator has ended, so
// that what a straggling thread or child made afterwards is removed too.
#pragma once

#include <errno.h>
#include <mqueue.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
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

// The test run a root belongs to: the run's id (OMBRIX_TEST_RUN, which the
// test command sets; otherwise the process that started this test program,
// e.g. ctest, by pid and start time) and the build directory the program
// lies in (the nearest directory above it holding CMakeCache.txt).
struct TestRun {
  std::string id;
  std::string build;
};

// The start time of process `pid` (field 22 of /proc/<pid>/stat), "" when it
// cannot be read.
inline std::string process_start_time(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t pos = stat.rfind(')');  // the command name may hold spaces
  if (pos == std::string::npos) return "";
  std::istringstream fields(stat.substr(pos + 2));
  std::string field;
  for (int i = 3; i <= 22 && fields >> field; ++i) {
    if (i == 22) return field;
  }
  return "";
}

// This process's run, worked out once (a forked child keeps its parent's) and
// handed on to the programs it starts through OMBRIX_TEST_RUN.
inline const TestRun& this_test_run() {
  static const TestRun run = [] {
    TestRun r;
    if (const char* id = ::getenv("OMBRIX_TEST_RUN"); id && *id) {
      r.id = id;
    } else {
      pid_t parent = ::getppid();
      r.id = "parent-" + std::to_string(parent) + "-" + process_start_time(parent);
      ::setenv("OMBRIX_TEST_RUN", r.id.c_str(), 1);
    }
    std::error_code ec;
    std::filesystem::path dir = std::filesystem::read_symlink("/proc/self/exe", ec).parent_path();
    for (std::filesystem::path d = dir; !ec && d.has_relative_path(); d = d.parent_path()) {
      if (std::filesystem::exists(d / "CMakeCache.txt", ec)) {
        dir = d;
        break;
      }
    }
    r.build = dir.string();
    return r;
  }();
  return run;
}

// One root's entry in the registry: four lines (pid, directory, run id, build
// directory).
struct RootEntry {
  long pid = 0;
  std::string dir;
  TestRun run;
};

inline void write_root_entry(const std::string& path, const RootEntry& e) {
  std::ofstream(path) << e.pid << '\n' << e.dir << '\n' << e.run.id << '\n' << e.run.build << '\n';
}

inline RootEntry read_root_entry(const std::string& path) {
  RootEntry e;
  std::ifstream in(path);
  std::string pid;
  std::getline(in, pid);
  std::getline(in, e.dir);
  std::getline(in, e.run.id);
  std::getline(in, e.run.build);
  e.pid = std::strtol(pid.c_str(), nullptr, 10);
  return e;
}

// Removes what the roots of `run` in `registry` left behind whose creator has
// ended: their processes, IPC objects and directories. Only entries this user
// wrote are looked at.
inline void sweep_abandoned_roots(const std::string& registry, const TestRun& run) {
  std::error_code ec;
  for (std::filesystem::directory_iterator it(registry, ec), end; !ec && it != end; it.increment(ec)) {
    if (it->path().extension() == ".new") continue;
    struct stat st {};
    if (::lstat(it->path().c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) continue;
    RootEntry e = read_root_entry(it->path());
    if (e.run.id != run.id || e.run.build != run.build) continue;
    if (e.pid <= 0 || ::kill(static_cast<pid_t>(e.pid), 0) == 0 || errno == EPERM) continue;
    if (e.dir.rfind("/tmp/ombrix-", 0) == 0) kill_processes_in(e.dir);
    remove_tagged_ipc_objects(it->path().filename().string());
    std::error_code ignored;
    if (e.dir.rfind("/tmp/ombrix-", 0) == 0) std::filesystem::remove_all(e.dir, ignored);
    std::filesystem::remove(it->path(), ignored);
  }
}

// Notes the root `dir` with `tag` in `registry` as this process's, of `run`.
// The registry is shared by every user (sticky, like /tmp).
inline void register_root(const std::string& registry, const std::string& tag, const std::string& dir,
                          const TestRun& run) {
  std::error_code ec;
  if (std::filesystem::create_directory(registry, ec)) ::chmod(registry.c_str(), 01777);
  std::string entry = registry + "/" + tag;
  write_root_entry(entry + ".new", RootEntry{::getpid(), dir, run});
  std::filesystem::rename(entry + ".new", entry, ec);  // whole, for a concurrent sweep
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
    sweep_abandoned_roots(kRootRegistry, this_test_run());
    register_root(kRootRegistry, tag_, dir_, this_test_run());
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
