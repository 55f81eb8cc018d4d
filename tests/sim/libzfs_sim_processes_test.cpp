// The libzfs stand-in's model shared by several processes through its state
// file.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "tests/sim/libzfs_sim_fixture.h"
#include "tests/support/child_process.h"

namespace libzfs_sim_test {
namespace {

using test_support::ChildProcess;

TEST_F(LibzfsSimTest, ProcessesShareOneModel) {
  auto creator = [this](const std::string& prefix) {
    return [this, prefix] {
      int failures = 0;
      for (int i = 0; i < 20; ++i) failures += create_volume(prefix + std::to_string(i), 65536) != 0;
      return failures == 0 ? 0 : 1;
    };
  };
  ChildProcess first(creator("tank/a"));
  ChildProcess second(creator("tank/b"));
  EXPECT_EQ(first.wait(), 0);
  EXPECT_EQ(second.wait(), 0);

  // Every zvol of both is in the model, seen by this process and the tool.
  for (const char* prefix : {"tank/a", "tank/b"})
    for (int i = 0; i < 20; ++i) {
      std::string name = prefix + std::to_string(i);
      EXPECT_EQ(zfs_.zfs_dataset_exists(h_, name.c_str(), ZFS_TYPE_VOLUME), B_TRUE) << name;
    }
  std::string listing = ctl_output("list tank");
  EXPECT_EQ(std::count(listing.begin(), listing.end(), '\n'), 41);

  ASSERT_EQ(ctl("destroy tank/a0"), 0);
  EXPECT_EQ(zfs_.zfs_open(h_, "tank/a0", ZFS_TYPE_VOLUME), nullptr) << "a handle sees the change";
}

TEST_F(LibzfsSimTest, DamagedStateIsReportedAndKept) {
  std::string path = root_.path("/var/db/libzfs-sim.json");
  { std::ofstream(path, std::ios::trunc) << "{\"pools\": "; }
  EXPECT_EQ(zfs_.zfs_open(h_, "tank", ZFS_TYPE_FILESYSTEM), nullptr);
  EXPECT_EQ(zfs_.libzfs_errno(h_), EZFS_IO);
  EXPECT_EQ(error(), "the state file " + path + " is damaged");
  EXPECT_EQ(zfs_.libzfs_init(), nullptr);
  EXPECT_EQ(ctl("pool-create more"), 1);
  std::stringstream kept;
  kept << std::ifstream(path).rdbuf();
  EXPECT_EQ(kept.str(), "{\"pools\": ");
}

}  // namespace
}  // namespace libzfs_sim_test
