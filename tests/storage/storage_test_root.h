// Test support: the libzfs and libnvpair stand-ins loaded into the
// process-wide bindings, a fresh host root per test (TempRoot) for the
// stand-in's model, and its control tool.
#pragma once

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "hostlib/libzfs_api.h"
#include "hostlib/nvpair_api.h"
#include "storage/zfs_session.h"
#include "tests/support/run_program.h"
#include "tests/support/stand_in_root.h"
#include "tests/support/temp_root.h"

namespace storage_test {

using test_support::TempRoot;

// Loads the stand-ins once, from a root that holds links to them; the
// bindings keep them loaded after that root is gone.
inline bool load_stand_ins() {
  static bool loaded = [] {
    test_support::StandInRoot root(test_support::zfs_stand_in_links());
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

// Runs the stand-in's control tool with `args` in the current host root.
inline test_support::RunResult zfs_sim(const std::vector<std::string>& args) {
  return test_support::run_program(SIM_ZFS_CTL, args);
}

// The tool's answer, with the test failing when the tool did.
inline std::string zfs_sim_ok(const std::vector<std::string>& args) {
  test_support::RunResult run = zfs_sim(args);
  EXPECT_EQ(run.status, 0) << "zfs-sim " << args.front();
  return run.output;
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

// A fresh host root with the pool "tank" and a session on it.
class TankTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(load_stand_ins());
    zfs_sim_ok({"pool-create", "tank"});
    ASSERT_TRUE(session_.ok());
  }
  // A property's value as the control tool reads it.
  std::string prop(const std::string& name, const std::string& property) {
    std::string out = zfs_sim_ok({"get", name, property});
    if (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
  }
  bool exists(const std::string& name) { return zfs_sim({"get", name, "guid"}).status == 0; }

  TempRoot root_;
  zfs_session session_;
};

}  // namespace storage_test
