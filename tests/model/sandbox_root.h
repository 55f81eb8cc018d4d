// A throw-away host root for the state-store tests: OMBRIX_ROOT points at a
// fresh temporary directory for the life of the object; every semaphore that
// the test names through forget_sem() is removed at the end, also on failure.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "driver/config.h"
#include "model/state_sem.h"
#include "platform/host_root.h"

class SandboxRoot {
 public:
  SandboxRoot() {
    std::string pattern = (std::filesystem::temp_directory_path() / "ombrix-model-XXXXXX").string();
    if (!mkdtemp(pattern.data())) ADD_FAILURE() << "mkdtemp failed";
    dir_ = pattern;
    setenv("OMBRIX_ROOT", dir_.c_str(), 1);
    platform::reload_host_root_for_tests();
  }
  ~SandboxRoot() {
    for (const std::string& name : sems_) state_sem::remove(name);
    unsetenv("OMBRIX_ROOT");
    platform::reload_host_root_for_tests();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  SandboxRoot(const SandboxRoot&) = delete;
  SandboxRoot& operator=(const SandboxRoot&) = delete;

  const std::string& dir() const { return dir_; }

  // The host path of a real path under this root.
  std::string path(const std::string& real) const { return dir_ + real; }

  // Creates the pool's state directory; returns its real path. The pool's
  // semaphore is removed at the end.
  std::string make_pool(const std::string& pool) {
    std::string state_dir = pool_state_dir(Config::instance(), pool);
    std::filesystem::create_directories(path(state_dir));
    forget_sem(state_sem::pool_name(pool));
    return state_dir;
  }

  void forget_sem(const std::string& plain_name) { sems_.push_back(plain_name); }

 private:
  std::string dir_;
  std::vector<std::string> sems_;
};
