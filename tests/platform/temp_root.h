// Test support: a fresh host root in a temporary directory for the life of
// the object (OMBRIX_ROOT set and re-read), removed afterwards.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/host_root.h"

class TempRoot {
 public:
  TempRoot() {
    std::string pattern = (std::filesystem::temp_directory_path() / "ombrix-test-XXXXXX").string();
    if (char* made = ::mkdtemp(pattern.data())) dir_ = made;
    ::setenv("OMBRIX_ROOT", dir_.c_str(), 1);
    platform::reload_host_root_for_tests();
  }
  ~TempRoot() {
    ::unsetenv("OMBRIX_ROOT");
    platform::reload_host_root_for_tests();
    std::error_code ec;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
  }
  TempRoot(const TempRoot&) = delete;
  TempRoot& operator=(const TempRoot&) = delete;

  const std::string& dir() const { return dir_; }

  // The mapped path of a real host path, e.g. path("/etc/x") = <dir>/etc/x.
  std::string path(const std::string& real) const { return dir_ + real; }

  // Writes `text` to the real host path `real` under the root, making its
  // directories.
  std::string write(const std::string& real, const std::string& text) const {
    std::string p = path(real);
    std::filesystem::create_directories(std::filesystem::path(p).parent_path());
    std::ofstream(p) << text;
    return p;
  }

 private:
  std::string dir_;
};
