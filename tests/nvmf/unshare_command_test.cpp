// "ombrix-vm vm unshare" in a simulated host whose storage target exports the
// volumes of its VMs.
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "nvmf/nvmf_share.h"
#include "tests/integration/sandbox.h"
#include "tests/nvmf/nvmf_stand_ins.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kDisk = "/dev/zvol/z05/.vm_V4/000100001/disk0";
constexpr const char* kImage = "/dev/zvol/z05/.vm_V4/000100001/snapshot.bvmss";

class UnshareCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(host_.made().status, 0) << host_.made().output;
    ASSERT_TRUE(stand_ins_.ready());
  }

  // The cluster configuration that gives pool z05 this host's target.
  void give_nvmf_address() const {
    std::string config = host_.path("/usr/local/etc/tesk/config.json");
    fs::create_directories(fs::path(config).parent_path());
    std::ofstream(config) << R"({"nodes": [{"name": "n1", "interfaces": [{"label": "NVMf", "address": "127.0.0.1"}]}],
                                 "services": [{"name": "z05", "type": "pool", "pool": "z05", "node": "n1"}]})";
  }

  // Volume `zvol` shared and mounted by `mounts` hosts (this one, as far as
  // the target can tell).
  void share(const std::string& zvol, int mounts) const {
    if (!fs::exists(host_.path(zvol))) stand_ins_.make_zvol(zvol.substr(10));
    share_result shared = nvmf::share_nqn("127.0.0.1", zvol, 4096, "");
    ASSERT_NE(shared.port, 0u) << shared.text;
    for (int i = 0; i < mounts; ++i)
      stand_ins_.target("sim_connect", {{"nqn", shared.text}, {"hostnqn", "nqn.2014-08.h:" + std::to_string(i)}});
  }

  test_support::RunResult vm_unshare(const std::vector<std::string>& more) const {
    std::vector<std::string> args{"vm", "unshare"};
    args.insert(args.end(), more.begin(), more.end());
    return host_.ombrix(args);
  }

  test_support::RunResult pool_unshare(const std::vector<std::string>& more) const {
    std::vector<std::string> args{"pool", "unshare"};
    args.insert(args.end(), more.begin(), more.end());
    return host_.ombrix(args);
  }

  Sandbox host_{{"--pool", "z05", "--vms", "2"}};
  test_support::NvmfStandIns stand_ins_{false, false};
};

TEST_F(UnshareCommand, ReportsSharesAndWithdrawsThemWithForce) {
  give_nvmf_address();
  share(kDisk, 1);
  share(kImage, 0);
  const std::string head = "VM_id=100001 Pool=z05 NVMf_ip=127.0.0.1\n";
  const struct {
    std::vector<std::string> args;
    int status;
    std::string output;
  } cases[] = {
      {{"--id=100001"}, 0,
       head + "Snapshot shared:    " + kImage + "; mounted: 0\n" + "Device shared:      " + kDisk + "; mounted: 1\n"},
      {{"--id=100001", "--force"}, 0,
       head + "Snapshot unshared: " + kImage + "; were mounted: 0\n" + "Device unshared:    " + kDisk +
           "; were mounted: 1\n"},
      {{"--id=100001", "--force"}, 0,
       head + "No shared snapshot: " + kImage + "\n" + "No shared device:    " + kDisk + "\n"},
      {{"--id=999"}, 1, "999       : does not exist\n"},
  };
  for (const auto& c : cases) {
    test_support::RunResult r = vm_unshare(c.args);
    EXPECT_EQ(r.status, c.status) << testing::PrintToString(c.args) << "\n" << r.output;
    EXPECT_EQ(r.output, c.output) << testing::PrintToString(c.args);
  }
  EXPECT_EQ(stand_ins_.target_result("nvmf_get_subsystems").size(), 1u) << "only the discovery subsystem is left";
}

TEST_F(UnshareCommand, NeedsTheAddressAndTakesAnUnansweredCountAsNotShared) {
  test_support::RunResult r = vm_unshare({"--id=100001"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, "Pool 'z05': No IP-interface with NVMf-label\n");

  // A target that closes instead of counting: nothing is withdrawn.
  give_nvmf_address();
  share(kDisk, 0);
  stand_ins_.fault("nvmf_subsystem_get_controllers", "close", {{"times", -1}});
  r = vm_unshare({"--id=100001", "--force"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.output, std::string("VM_id=100001 Pool=z05 NVMf_ip=127.0.0.1\nNo shared snapshot: ") + kImage +
                          "\nNo shared device:    " + kDisk + "\n");
  EXPECT_EQ(stand_ins_.target_result("nvmf_get_subsystems").size(), 2u) << "the disk stays shared";
}

TEST_F(UnshareCommand, PoolUnshareCoversEveryVmOfAStartedPool) {
  const std::string disk2 = "/dev/zvol/z05/.vm_V4/000100002/disk0";
  const std::string head = "POOL 'z05': NVMf IP=127.0.0.1\n";
  EXPECT_EQ(pool_unshare({"--id=z05"}).output, "Error: Pool 'z05': No IP-interface with NVMf-label\n");
  give_nvmf_address();
  share(kDisk, 2);
  share(disk2, 0);
  const struct {
    std::vector<std::string> args;
    int status;
    std::string output;
  } cases[] = {
      {{"--id=z05"}, 0,
       head + "Device shared:      " + kDisk + "; mounted: 2\n" + "Device shared:      " + disk2 + "; mounted: 0\n"},
      {{"--id=z05", "--force"}, 0,
       head + "Device unshared:    " + kDisk + "; were mounted: 2\n" + "Device unshared:    " + disk2 +
           "; were mounted: 0\n"},
      {{"--id=z05", "--force"}, 0, head},
      {{"--id=nopool"}, 1, "Error: Pool not found: 'nopool'\n"},
  };
  for (const auto& c : cases) {
    test_support::RunResult r = pool_unshare(c.args);
    EXPECT_EQ(r.status, c.status) << testing::PrintToString(c.args) << "\n" << r.output;
    EXPECT_EQ(r.output, c.output) << testing::PrintToString(c.args);
  }

  std::ofstream(host_.path("/pools/z05/.vm_V4_state/.pool.stopped")) << "";
  test_support::RunResult stopped = pool_unshare({"--id=z05"});
  EXPECT_EQ(stopped.status, 1);
  EXPECT_EQ(stopped.output, head + "Error: Pool 'z05' hould only be started\n");
}

}  // namespace
