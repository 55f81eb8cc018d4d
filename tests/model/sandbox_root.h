// A throw-away host root for the state-store tests: a TempRoot whose pools'
// state directories the test makes through make_pool(); every semaphore that
// the test names through forget_sem() is removed at the end, also on failure.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "driver/config.h"
#include "model/state_sem.h"
#include "tests/support/temp_root.h"

class SandboxRoot : public test_support::TempRoot {
 public:
  // The semaphores go while this root is still the host root: their names
  // carry its tag.
  ~SandboxRoot() {
    for (const std::string& name : sems_) state_sem::remove(name);
  }

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
  std::vector<std::string> sems_;
};
