// Test support: a fresh host root (OMBRIX_ROOT) in a temporary directory for
// the life of the object, removed with everything in it afterwards.
#pragma once

#include <errno.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>

#include "platform/host_root.h"

namespace test_support {

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
  bool current_;
  std::optional<std::string> old_root_;
};

}  // namespace test_support
