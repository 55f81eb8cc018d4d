// VMs whose disk or checkpoint lives on a storage target, run end to end in a
// simulated host with the stand-in target and initiator service.
#include <signal.h>

#include <filesystem>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "bhwrap/checkpoint/checkpoint_header.h"
#include "hostlib/vmmapi.h"
#include "model/vm_state.h"
#include "tests/bhwrap/bhwrap_test_host.h"
#include "tests/nvmf/nvmf_stand_ins.h"
#include "tests/support/child_process.h"

namespace bhwrap_test {
namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;

constexpr const char* kRemoteVolume = "/dev/zvol/z05/remote/disk1";
constexpr const char* kRemoteNqn = "nqn.2023-08.io.ombrix:remote.disk1";

class BhWrapRemoteRun : public ::testing::Test {
 protected:
  void SetUp() override {
    host_.control("ready_delay_ms=10\n");
    fs::create_directories(host_.path("/var/run"));
    target_ = std::make_unique<test_support::ChildProcess>(SIM_SPDK_TGT, std::vector<std::string>{"spdk_tgt"});
    initiator_ = std::make_unique<test_support::ChildProcess>(SIM_NVMF_INITIATOR,
                                                              std::vector<std::string>{"nvmf_initiator"});
    ASSERT_TRUE(test_support::eventually([] { return nvmf_subsystems().is_array(); }));
    ASSERT_TRUE(test_support::eventually(
        [&] { return fs::exists(host_.path("/var/run/ombrix_nvmf_initiator.sock")); }));
  }

  // The target's subsystems other than the discovery one (null when it does not answer).
  static json nvmf_subsystems() {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(platform::host_port(7000)));
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    json answer = test_support::raw_call(reinterpret_cast<sockaddr*>(&sa), sizeof sa, AF_INET, "nvmf_get_subsystems");
    if (!answer.is_object() || !answer.contains("result")) return nullptr;
    json own = json::array();
    for (const json& s : answer["result"])
      if (s.value("subtype", "") != "Discovery") own.push_back(s);
    return own;
  }

  // Runs `cmd` until its start is confirmed; the confirmation's status.
  int64_t start(const _command& cmd, test_support::ChildProcess** wrapper) {
    test_support::ChildProcess& started = host_.start(cmd);
    *wrapper = &started;
    auto confirm = host_.expect(MqVmMessageKind::confirm);
    return confirm ? confirm->status : -1000;
  }

  void stop(test_support::ChildProcess& wrapper) {
    wrapper.signal(SIGTERM);
    ASSERT_TRUE(host_.expect(MqVmMessageKind::vm_exit)) << host_.wrapper_log();
    EXPECT_EQ(host_.wait_wrapper(wrapper), 0);
  }

  // `cmd` with a disk at slot 6 that the target at 127.0.0.1 holds.
  _command with_remote_disk(_command cmd) const {
    if (!fs::exists(host_.path(kRemoteVolume))) {
      fs::create_directories(fs::path(host_.path(kRemoteVolume)).parent_path());
      std::ofstream(host_.path(kRemoteVolume)) << "remote disk";
    }
    json item = json::parse(cmd.item);
    item["disks"].push_back({{"devtype", "nvme"}, {"trtype", "tcp"}, {"traddr", "127.0.0.1"}, {"dev", kRemoteVolume},
                             {"slot", 6}, {"size", 1073741824},
                             {"sector_size", {{"logical", 4096}, {"physical", 4096}}}});
    cmd.item = item.dump();
    return cmd;
  }

  WrapperHost host_;
  std::unique_ptr<test_support::ChildProcess> target_;
  std::unique_ptr<test_support::ChildProcess> initiator_;
};

TEST_F(BhWrapRemoteRun, RemoteDiskIsSharedForTheRunAndWithdrawnAfterIt) {
  test_support::ChildProcess* wrapper = nullptr;
  ASSERT_GT(start(with_remote_disk(host_.command()), &wrapper), 0) << host_.wrapper_log();
  json shared = nvmf_subsystems();
  ASSERT_EQ(shared.size(), 1u) << shared;
  EXPECT_EQ(shared[0]["nqn"], kRemoteNqn);
  EXPECT_TRUE(contains(host_.trace(), std::string("arg=6:0,nvme,nvmf,trtype=tcp,adrfam=IPv4,traddr=127.0.0.1,"
                                                  "trsvcid=4420,subnqn=") + kRemoteNqn))
      << host_.trace();

  stop(*wrapper);
  EXPECT_EQ(nvmf_subsystems(), json::array()) << "nobody is connected: the share is withdrawn";
}

TEST_F(BhWrapRemoteRun, RemoteCheckpointAndDiskComeThroughTheTargetOnResume) {
  // A checkpoint image in the VM's suspend volume, written by a local run.
  fs::create_directories(fs::path(host_.path(host_.checkpoint_volume())).parent_path());
  test_support::ChildProcess* wrapper = nullptr;
  ASSERT_GT(start(with_remote_disk(host_.command()), &wrapper), 0) << host_.wrapper_log();
  ASSERT_FALSE(vmmapi_checkpoint(kVm, host_.checkpoint_volume(), true));
  ASSERT_TRUE(host_.expect(MqVmMessageKind::vm_exit)) << host_.wrapper_log();
  EXPECT_EQ(host_.wait_wrapper(*wrapper), 0);
  VmState(kPool, kVm).set_suspend_mark(SuspendMark::own);

  // Resumed as a VM of another host: the image comes through the target.
  _command resume = with_remote_disk(host_.command("vms-resume"));
  resume.remote = true;
  json item = json::parse(resume.item);
  item["suspend-device"] = {{"trtype", "tcp"}, {"traddr", "127.0.0.1"}};
  resume.item = item.dump();
  ASSERT_GT(start(resume, &wrapper), 0) << host_.wrapper_log();
  std::string trace = host_.trace();
  EXPECT_TRUE(contains(trace, "arg=-r\narg=/dev/nvme0ns1\n")) << trace;
  for (const std::string& option : std::vector<std::string>{
           "pci.0.6.0.nvmf=true", "pci.0.6.0.trtype=tcp", "pci.0.6.0.adrfam=IPv4", "pci.0.6.0.traddr=127.0.0.1",
           "pci.0.6.0.trsvcid=4420", std::string("pci.0.6.0.subnqn=") + kRemoteNqn, "pci.0.6.0.dpdk_core_mask=0x1"})
    EXPECT_TRUE(contains(trace, "arg=-o\narg=" + option + "\n")) << option << " in\n" << trace;

  // Once the VM runs the image is unmounted and unshared; the disk stays.
  EXPECT_TRUE(test_support::eventually([] { return nvmf_subsystems().size() == 1; }))
      << nvmf_subsystems() << host_.wrapper_log();
  EXPECT_EQ(nvmf_subsystems()[0]["nqn"], kRemoteNqn);
  stop(*wrapper);
  EXPECT_EQ(nvmf_subsystems(), json::array());
  EXPECT_EQ(host_.wrapper_log().find("### remote snapshot"), std::string::npos) << "released once";
}

}  // namespace
}  // namespace bhwrap_test
