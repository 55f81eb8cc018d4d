// The simulated host that scripts/sandbox lays out: its pools and VM records
// must be usable by the controller as they are.
#include <filesystem>

#include <gtest/gtest.h>

#include "bhwrap/wrapper/bhyve_args.h"
#include "hostlib/host_library_check.h"
#include "model/pool_state.h"
#include "model/vm_config.h"
#include "model/vm_state.h"
#include "platform/host_root.h"
#include "sandbox.h"

namespace {

TEST(SandboxLayout, PoolsHoldUsableVmRecordsWithTheirDisks) {
  Sandbox sandbox({"--pool", "z05", "--vms", "3", "--pool", "z06", "--vms", "1"});
  ASSERT_EQ(sandbox.made().status, 0) << sandbox.made().output;

  for (const auto& [pool, ids] :
       {std::pair<std::string, std::vector<std::string>>{"z05", {"100001", "100002", "100003"}},
        {"z06", {"200001"}}}) {
    EXPECT_EQ(PoolState::read(pool), PoolState::started) << pool;
    for (const auto& id : ids) {
      VmState state(pool, id);
      ASSERT_TRUE(state.exists()) << id;
      VmConfigResult parsed = parse_vm_config(state.read_text());
      ASSERT_EQ(parsed.error, "") << id;
      const VmConfig& vm = parsed.config;
      EXPECT_EQ(vm.id, id);
      EXPECT_FALSE(check_netgraph_ports(vm).has_value());
      EXPECT_FALSE(make_bhyve_args(vm).empty());
      ASSERT_EQ(vm.disks.size(), 1u);
      EXPECT_TRUE(std::filesystem::exists(platform::host_path(vm.disks[0].dev))) << vm.disks[0].dev;
      EXPECT_TRUE(std::filesystem::is_directory(platform::host_path(vm.root_fs + "/log")));
    }
  }
}

TEST(SandboxLayout, HostLibrariesPassTheStartUpCheck) {
  Sandbox sandbox;
  ASSERT_EQ(sandbox.made().status, 0) << sandbox.made().output;
  HostLibraryCheck check = check_host_libraries();
  EXPECT_TRUE(check.passed());
  for (const auto& lib : check.libraries) EXPECT_TRUE(lib.ok()) << lib.name << ": " << lib.load_error;
}

TEST(SandboxLayout, RefusesBadArguments) {
  EXPECT_NE(Sandbox::run_program(OMBRIX_SOURCE_DIR "/scripts/sandbox", {}).status, 0);
  EXPECT_NE(Sandbox::run_program(OMBRIX_SOURCE_DIR "/scripts/sandbox", {"/tmp/x", "--vms", "2"}).status, 0);
  EXPECT_NE(Sandbox::run_program(OMBRIX_SOURCE_DIR "/scripts/sandbox", {"/tmp/x", "--pool", "a/b"}).status, 0);
}

}  // namespace
