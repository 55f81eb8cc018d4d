// Test support: a host root (OMBRIX_ROOT) in a temporary directory whose
// library directories hold links to the built stand-in libraries, and a way
// to run checks in a child process of their own.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "hostlib/host_library_paths.h"
#include "platform/host_root.h"

namespace hostlib_test {

namespace fs = std::filesystem;

// (path under the root, file the link points to)
using Links = std::vector<std::pair<std::string, std::string>>;

// The three stand-ins where the bindings look for them.
inline Links stand_in_links() {
  return {{hostlib::libzfs_path, SIM_LIBZFS},
          {hostlib::libnvpair_path, SIM_LIBNVPAIR},
          {hostlib::libnv_path, SIM_LIBNV}};
}

// A fresh root made the process's host root; removed, and the previous
// OMBRIX_ROOT restored, when the object goes.
class StandInRoot {
 public:
  explicit StandInRoot(const Links& links) {
    char pattern[] = "/tmp/ombrix-hostlib-XXXXXX";
    path_ = ::mkdtemp(pattern);
    for (const auto& [where, target] : links) {
      fs::path link = path_ + where;
      fs::create_directories(link.parent_path());
      fs::create_symlink(target, link);
    }
    const char* old = ::getenv("OMBRIX_ROOT");
    if (old) old_root_ = old;
    had_root_ = old != nullptr;
    use();
  }
  ~StandInRoot() {
    if (had_root_)
      ::setenv("OMBRIX_ROOT", old_root_.c_str(), 1);
    else
      ::unsetenv("OMBRIX_ROOT");
    platform::reload_host_root_for_tests();
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  StandInRoot(const StandInRoot&) = delete;
  StandInRoot& operator=(const StandInRoot&) = delete;

  const std::string& path() const { return path_; }
  // Makes this root the process's host root again.
  void use() const {
    ::setenv("OMBRIX_ROOT", path_.c_str(), 1);
    platform::reload_host_root_for_tests();
  }

 private:
  std::string path_;
  std::string old_root_;
  bool had_root_ = false;
};

// Checks made in a child process (the statement of an EXPECT_EXIT), where
// the process-wide bindings load afresh: each failure is written to standard
// error, and finish() ends the process with status 0 only when none failed.
class ChildChecks {
 public:
  void expect(bool ok, const std::string& what) {
    if (ok) return;
    std::fprintf(stderr, "failed: %s\n", what.c_str());
    ++failures_;
  }
  [[noreturn]] void finish() {
    std::fflush(stderr);
    ::_exit(failures_ == 0 ? 0 : 1);
  }

 private:
  int failures_ = 0;
};

// The whole of a child process: `body` runs with a root holding `links`,
// the root is removed, and the process ends with the checks' verdict.
[[noreturn]] inline void run_in_child(
    const Links& links, const std::function<void(const StandInRoot&, ChildChecks&)>& body) {
  ChildChecks checks;
  {
    StandInRoot root(links);
    body(root, checks);
  }
  checks.finish();
}

}  // namespace hostlib_test
