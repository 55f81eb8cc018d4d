// The state queries against a simulated host: pools in every state, state
// directories with entries that are not VMs, suspend images.
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "bhwrap/checkpoint/checkpoint_format.h"
#include "model/pool_state.h"
#include "pool/state/host_inventory_query.h"
#include "pool/state/pool_list.h"
#include "pool/state/pool_state_dir.h"
#include "pool/state/pool_state_gate.h"
#include "pool/state/vm_rows.h"
#include "pool/state/vm_status_query.h"
#include "tests/integration/sandbox.h"

namespace {

namespace fs = std::filesystem;

// Pools "run" (started), "off" (stopped), "zzz" (suspended), "bad" (its state
// directory is a file) and "gone" (no state directory), one VM each.
class PoolQueries : public ::testing::Test {
 protected:
  PoolQueries()
      : host_({"--pool", "run", "--vms", "1", "--pool", "off", "--vms", "1", "--pool", "zzz",
               "--vms", "1", "--pool", "bad", "--vms", "1", "--pool", "gone", "--vms", "1"}) {}

  void SetUp() override {
    ASSERT_EQ(host_.made().status, 0) << host_.made().output;
    touch(state_dir("off") + "/" + PoolState::kStoppedMark);
    touch(state_dir("zzz") + "/" + PoolState::kSuspendedMark);
    fs::remove_all(state_dir("bad"));
    touch(state_dir("bad"));
    fs::remove_all(state_dir("gone"));
  }

  std::string state_dir(const std::string& pool) const {
    return host_.path("/pools/" + pool + "/.vm_V4_state");
  }
  static void touch(const std::string& path, const std::string& text = "") {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path) << text;
  }
  // The suspend image of a VM, beginning with `head`.
  void write_image(const std::string& vm_id, const std::string& pool, const std::string& head) {
    std::string page = head;
    page.resize(checkpoint::page_size, '\0');
    touch(host_.path(suspend_image_path(vm_id, pool)), page);
  }

  static std::vector<std::string> sorted(std::vector<std::string> v) {
    std::sort(v.begin(), v.end());
    return v;
  }

  Sandbox host_;
};

// Sandbox VM ids: 100000 * (pool position) + 1.
constexpr const char* kRunVm = "100001";
constexpr const char* kOffVm = "200001";
constexpr const char* kZzzVm = "300001";

TEST_F(PoolQueries, PoolListFollowsTheMarks) {
  pool_error_map errors;
  EXPECT_EQ(find_pool(false), std::vector<std::string>{"run"});
  EXPECT_EQ(sorted(find_pool(true, &errors)), (std::vector<std::string>{"off", "run", "zzz"}));
  EXPECT_EQ(errors, (pool_error_map{{"bad", ENOTDIR}}));

  struct Case {
    std::string pool;
    bool exists;
  } cases[] = {{"run", true}, {"off", true}, {"zzz", true}, {"bad", false}, {"gone", false},
               {"nosuch", false}};
  for (const auto& c : cases) EXPECT_EQ(pool_exists(c.pool), c.exists) << c.pool;
}

TEST_F(PoolQueries, PoolOfAVm) {
  struct Case {
    std::string vm_id;
    bool all;
    std::string pool;
  } cases[] = {
      {kRunVm, false, "run"}, {kOffVm, false, ""},    {kOffVm, true, "off"},
      {kZzzVm, true, "zzz"},  {"400001", true, ""},   // unreadable pool
      {"999", true, ""},      {"../100001", true, ""}, {"..", true, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(vm_pool_of(c.vm_id, c.all), c.pool) << c.vm_id;
}

TEST_F(PoolQueries, StateDirectoryListsOnlyVmLinks) {
  std::string dir = state_dir("run");
  const std::string longest(255 - 6, 'a');  // the longest file name the host allows
  for (const std::string& name : std::vector<std::string>{
           "7.state", "42.state", ".state", "8.state.tmp", ".pool.stopped", "9.suspended",
           longest + ".state"})
    touch(dir + "/" + name);
  int error = -1;
  EXPECT_EQ(load_pool_state_dir("run", error),
            (std::vector<std::string>{"100001", "42", "7", longest}));
  EXPECT_EQ(error, 0);

  std::vector<std::string> out{"stale"};
  auto refused = pool_vm_list("bad", out);
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->code, -5);
  EXPECT_EQ(refused->text, "### Pool 'bad' state directory '/pools/bad/.vm_V4_state' error: " +
                               std::string(std::strerror(ENOTDIR)));
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(pool_state_dir_check("bad")->text, refused->text);
  EXPECT_FALSE(pool_state_dir_check("run"));
  EXPECT_FALSE(pool_state_dir_check("off"));
}

TEST_F(PoolQueries, StoredStatusReadsTheSuspendImage) {
  write_image(kZzzVm, "zzz", std::string(checkpoint::ident));
  write_image(kOffVm, "off", "BHYVE SOMETHING ELSE");
  EXPECT_EQ(suspend_image_path("42", "p"), "/dev/zvol/p/.vm_V4/000000042/snapshot.bvmss");
  EXPECT_EQ(stored_vm_status(kZzzVm, "zzz"), VmStatus::suspended);
  EXPECT_EQ(stored_vm_status(kOffVm, "off"), VmStatus::offline);
  EXPECT_EQ(stored_vm_status(kRunVm, "run"), VmStatus::offline);  // no image at all

  int error = -1;
  EXPECT_TRUE(read_pool_state("zzz", false, error).empty());
  EXPECT_EQ(error, 0);
  EXPECT_EQ(read_pool_state("zzz", true, error), (pool_vm_map{{kZzzVm, VmStatus::suspended}}));
  EXPECT_EQ(read_pool_state("run", false, error), (pool_vm_map{{kRunVm, VmStatus::offline}}));
  EXPECT_TRUE(read_pool_state("bad", true, error).empty());
  EXPECT_EQ(error, ENOTDIR);
  EXPECT_TRUE(vm_state_query(kRunVm).empty());
}

TEST_F(PoolQueries, GateRefusesStoppedAndSuspendedPools) {
  struct Case {
    std::string pool;
    bool hint;
    int code;  // 0: passes
    std::string text;
  } cases[] = {
      {"", true, 0, ""},
      {"run", true, 0, ""},
      {"bad", true, 0, ""},
      {"gone", true, 0, ""},
      {"off", false, -461, "Pool 'off' is stopped. Should only be started"},
      {"off", true, -461,
       "Pool 'off' is stopped. Should only be started (use 'ombrix-vm pool start --id=off')"},
      {"zzz", false, -460, "Pool 'zzz' is suspended. Should only be resumed"},
      {"zzz", true, -460,
       "Pool 'zzz' is suspended. Should only be resumed (use 'ombrix-vm pool resume --id=zzz')"},
  };
  for (const auto& c : cases) {
    auto refused = pool_state_gate(c.pool, c.hint);
    ASSERT_EQ(refused.has_value(), c.code != 0) << c.pool;
    if (!refused) continue;
    EXPECT_EQ(refused->code, c.code);
    EXPECT_EQ(refused->text, c.text);
  }
}

TEST_F(PoolQueries, RowsAreKeyedByNineDigitIds) {
  touch(state_dir("run") + "/7.state");
  pool_error_map errors;
  vm_row_map rows = list_vm_rows(true, &errors);
  std::vector<std::string> keys;
  for (const auto& [key, row] : rows) keys.push_back(key + " " + row.vm_id + " " + row.pool);
  EXPECT_EQ(keys, (std::vector<std::string>{"000000007 7 run", "000100001 100001 run",
                                            "000200001 200001 off", "000300001 300001 zzz"}));
  EXPECT_EQ(errors, (pool_error_map{{"bad", ENOTDIR}}));
  EXPECT_EQ(list_vm_rows(false).size(), 2u);
}

TEST_F(PoolQueries, InventoryHasEveryPoolWithTheVmsOfStartedOnes) {
  host_inventory inventory = collect_host_inventory();
  ASSERT_EQ(inventory.nodes.size(), 1u);
  const auto& pools = inventory.nodes.at("localhost");
  std::vector<std::string> seen;
  for (const auto& [name, pool] : pools)
    seen.push_back(name + " " + pool_state_name(pool.state) + " " + std::to_string(pool.vms.size()));
  EXPECT_EQ(seen, (std::vector<std::string>{"off stopped 0", "run started 1", "zzz suspended 0"}));
  EXPECT_EQ(inventory.errors, (pool_error_map{{"bad", ENOTDIR}}));
}

}  // namespace
