// Test support: the libzfs and libnvpair stand-ins loaded into the
// process-wide bindings, a fresh host root per test for the stand-in's
// model, and its control tool.
#pragma once

#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "hostlib/host_library_paths.h"
#include "hostlib/libzfs_api.h"
#include "hostlib/nvpair_api.h"
#include "platform/host_root.h"

namespace storage_test {

namespace fs = std::filesystem;

// OMBRIX_ROOT names a fresh directory while the object lives.
class TestRoot {
 public:
  TestRoot() {
    char pattern[] = "/tmp/ombrix-storage-XXXXXX";
    if (::mkdtemp(pattern)) path_ = pattern;
    const char* old = ::getenv("OMBRIX_ROOT");
    had_root_ = old != nullptr;
    if (old) old_root_ = old;
    ::setenv("OMBRIX_ROOT", path_.c_str(), 1);
    platform::reload_host_root_for_tests();
  }
  ~TestRoot() {
    if (had_root_) ::setenv("OMBRIX_ROOT", old_root_.c_str(), 1); else ::unsetenv("OMBRIX_ROOT");
    platform::reload_host_root_for_tests();
    std::error_code ec;
    if (!path_.empty()) fs::remove_all(path_, ec);
  }
  TestRoot(const TestRoot&) = delete;
  TestRoot& operator=(const TestRoot&) = delete;

  const std::string& path() const { return path_; }

 private:
  std::string path_;
  std::string old_root_;
  bool had_root_ = false;
};

// Loads the stand-ins once, from a root that holds links to them; the
// bindings keep them loaded after that root is gone.
inline bool load_stand_ins() {
  static bool loaded = [] {
    TestRoot root;
    for (auto [where, target] : {std::pair{hostlib::libzfs_path, SIM_LIBZFS},
                                 std::pair{hostlib::libnvpair_path, SIM_LIBNVPAIR}}) {
      fs::path link = root.path() + where;
      fs::create_directories(link.parent_path());
      fs::create_symlink(target, link);
    }
    bool ok = libzfs_api::instance().library().loaded() &&
              nvpair_api::instance().library().loaded();
    if (!ok)
      ADD_FAILURE() << "stand-ins not loaded: " << libzfs_api::instance().library().load_error()
                    << " / " << nvpair_api::instance().library().load_error();
    return ok;
  }();
  return loaded;
}

class StandInEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { load_stand_ins(); }
};
inline ::testing::Environment* const stand_in_environment =
    ::testing::AddGlobalTestEnvironment(new StandInEnvironment);

struct ToolRun {
  int status = -1;
  std::string out;
};

// Runs the stand-in's control tool with `args` in the current host root.
inline ToolRun zfs_sim(const std::vector<std::string>& args) {
  int out_pipe[2];
  if (::pipe(out_pipe) != 0) return {};
  pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(out_pipe[1], 1);
    ::close(out_pipe[0]);
    ::close(out_pipe[1]);
    std::vector<char*> argv{const_cast<char*>(SIM_ZFS_CTL)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(SIM_ZFS_CTL, argv.data());
    ::_exit(127);
  }
  ::close(out_pipe[1]);
  ToolRun run;
  char buf[4096];
  ssize_t n;
  while ((n = ::read(out_pipe[0], buf, sizeof buf)) > 0) run.out.append(buf, static_cast<size_t>(n));
  ::close(out_pipe[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

// The tool's answer, with the test failing when the tool did.
inline std::string zfs_sim_ok(const std::vector<std::string>& args) {
  ToolRun run = zfs_sim(args);
  EXPECT_EQ(run.status, 0) << "zfs-sim " << args.front();
  return run.out;
}

// The pool history, one entry per line.
inline std::vector<std::string> history(const std::string& pool) {
  std::vector<std::string> lines;
  std::string out = zfs_sim_ok({"history", pool});
  size_t start = 0;
  for (size_t end; (end = out.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(out.substr(start, end - start));
  return lines;
}

}  // namespace storage_test
