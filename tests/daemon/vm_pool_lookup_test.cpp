#include "daemon/vm_pool_lookup.h"

#include <filesystem>

#include <gtest/gtest.h>

#include "tests/support/temp_root.h"

namespace {

using test_support::TempRoot;

namespace fs = std::filesystem;

class VmPoolLookupTest : public ::testing::Test {
 protected:
  // A state link of the VM in the pool, pointing at `target` (real path).
  void link(const std::string& pool, const std::string& vm_id, const std::string& target) {
    std::string dir = root_.path(pool_state_dir(config_, pool));
    fs::create_directories(dir);
    fs::create_symlink(target, dir + "/" + vm_id + ".state");
  }

  TempRoot root_;
  Config config_;
};

TEST_F(VmPoolLookupTest, FindsThePoolOfTheStateLink) {
  link("z05", "100001", "/pools/z05/.vm_V4/000100001/vm.json");
  link("z06", "200001", "/pools/z06/.vm_V4/000200001/vm.json");
  fs::create_directories(root_.path("/pools/empty"));
  VmPoolLookup found = find_vm_pool(config_, "100001");
  EXPECT_TRUE(found.found());
  EXPECT_EQ(found.pool, "z05");
  EXPECT_EQ(found.error, "");
  EXPECT_EQ(find_vm_pool(config_, "200001").pool, "z06");
  // A dangling link still names the VM's pool; reading it is the caller's job.
  link("z05", "100009", "/pools/z05/.vm_V4/none/vm.json");
  EXPECT_EQ(find_vm_pool(config_, "100009").pool, "z05");
}

TEST_F(VmPoolLookupTest, ConfiguredRootAndStateDirectory) {
  config_.pools_root = "/tank";
  config_.state_dir = ".state";
  link("p1", "5", "/tank/p1/vm/vm.json");
  EXPECT_TRUE(fs::exists(root_.path("/tank/p1/.state")));
  EXPECT_EQ(find_vm_pool(config_, "5").pool, "p1");
}

TEST_F(VmPoolLookupTest, Errors) {
  link("z05", "100001", "/x");
  VmPoolLookup missing = find_vm_pool(config_, "100002");
  EXPECT_FALSE(missing.found());
  EXPECT_EQ(missing.error, "VM does not exist: 100002");
  // A mark file of the VM is no state link.
  root_.write(pool_state_dir(config_, "z05") + "/100003.suspended", "");
  EXPECT_FALSE(find_vm_pool(config_, "100003").found());

  for (const char* bad : {"", "..", ".", "a/b", "../z05/.vm_V4_state/100001"}) {
    VmPoolLookup r = find_vm_pool(config_, bad);
    EXPECT_FALSE(r.found()) << bad;
    EXPECT_EQ(r.error, std::string("Invalid VM id '") + bad + "'");
  }

  link("z06", "100001", "/y");
  VmPoolLookup twice = find_vm_pool(config_, "100001");
  EXPECT_FALSE(twice.found());
  EXPECT_EQ(twice.error, "VM 100001 has state links in several pools: z05, z06");
}

TEST_F(VmPoolLookupTest, NoPoolsRoot) {
  VmPoolLookup r = find_vm_pool(config_, "100001");
  EXPECT_FALSE(r.found());
  EXPECT_EQ(r.error, "VM does not exist: 100001");
}

}  // namespace
