// Test support for the bindings: checks run in a child process of their own
// (the statement of an EXPECT_EXIT), where the process-wide bindings load
// afresh from a StandInRoot.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/stand_in_root.h"

namespace hostlib_test {

namespace fs = std::filesystem;

using test_support::Links;
using test_support::StandInRoot;
using test_support::stand_in_links;
using ::testing::ExitedWithCode;

// The fixture of such tests: each EXPECT_EXIT child runs this program afresh,
// so that no binding is loaded yet.
class ChildCheckTest : public ::testing::Test {
 protected:
  void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

// Checks made in the child: each failure is written to standard error, and
// finish() ends the process with status 0 only when none failed.
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
