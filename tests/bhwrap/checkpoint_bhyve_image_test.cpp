// Images written by the stand-in hypervisor, in both memory-table layouts:
// read, converted (and resumed from by the hypervisor), discarded.
#include <gtest/gtest.h>

#include "bhwrap/checkpoint_discard.h"
#include "bhwrap/checkpoint_header.h"
#include "bhwrap/checkpoint_lookup.h"
#include "checkpoint_test_header.h"
#include "platform/sysctl.h"
#include "sim/include/vmm_sim_protocol.h"
#include "tests/sim/bhyve_runner.h"

namespace {

#ifdef SIM_BHYVE

using bhyve_test::BhyveProcess;
using bhyve_test::eventually;
using bhyve_test::vmm_request;

constexpr const char* image_path = "/pools/tank/snapshot.bvmss";  // a real host path

class CheckpointFromBhyve : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(checkpoint_test::load_stand_in_libnv());
    root_.write("bhyve-sim.ctl", "ready_delay_ms=0\n");
    std::filesystem::create_directories(root_.host("/pools/tank"));
  }
  void TearDown() override {
    for (const char* vm : {"vm1", "vm2"}) bhyve_test::unlink_vm_shm(vm);
  }
  void set_kernel_format(const char* value) {
    ASSERT_TRUE(platform::sysctl_set("hw.vmm.features.snapshot_memory_format", value));
  }
  bool running(const std::string& vm) {
    return eventually([&] { return vmm_request(vm, "PING") == "OK 0"; });
  }
  // Runs a VM and has it write its checkpoint and stop.
  void write_image() {
    BhyveProcess vm(root_.vm_dir(), SIM_BHYVE,
                    {"-c", "2", "-m", "3G", "-s", "0,hostbridge", "-s", "5,virtio-net,tap0",
                     "-s", "7,virtio-blk,/dev/zvol/tank/disk0", "vm1"},
                    {.root = root_.path()});
    ASSERT_TRUE(running("vm1")) << vm.log();
    ASSERT_EQ(vmm_request("vm1", "CHECKPOINT stop " + vmm_sim::escape(image_path)), "OK")
        << vm.log();
    EXPECT_TRUE(vm.exit_code().has_value());
  }
  checkpoint_result read(bool ident_only = false) {
    snapshot_ = snapshot_config(image_path, "1");
    return read_checkpoint_header(snapshot_, ident_only);
  }
  checkpoint_test::Bytes image() { return checkpoint_test::read_file(root_.host(image_path)); }

  bhyve_test::TempRoot root_;
  snapshot_config snapshot_{"", ""};
};

TEST_F(CheckpointFromBhyve, OldLayoutIsReadConvertedResumedAndDiscarded) {
  set_kernel_format("1");
  write_image();
  EXPECT_EQ(read(true).code, 0);
  checkpoint_test::Bytes written = image();

  checkpoint_result r = read();
  ASSERT_EQ(r.code, 0) << r.message;
  EXPECT_EQ(snapshot_.memory_format, 0);
  EXPECT_EQ(checkpoint_slot_device(snapshot_, 7), "virtio-blk");
  EXPECT_EQ(checkpoint_slot_device(snapshot_, 5), "virtio-net");
  auto port = snapshot_port_backend(snapshot_.config);
  ASSERT_TRUE(port);
  EXPECT_EQ(port->first, "pci.0.5.0.backend");
  EXPECT_EQ(image(), written);  // the kernel asks for layout 1: no conversion

  // A kernel of layout 2: converted in place, and the hypervisor, reading
  // layout 1 now, resumes from it.
  set_kernel_format("2");
  r = read();
  ASSERT_EQ(r.code, 0) << r.message;
  EXPECT_EQ(snapshot_.memory_format, 0);
  EXPECT_NE(image(), written);
  r = read();
  EXPECT_EQ(snapshot_.memory_format, 1);
  {
    BhyveProcess resumed(root_.vm_dir(), SIM_BHYVE, {"-r", image_path, "vm2"},
                         {.root = root_.path()});
    ASSERT_TRUE(running("vm2")) << resumed.log();
    EXPECT_EQ(vmm_request("vm2", "VCPUS"), "OK 2");
    resumed.signal(SIGTERM);
    EXPECT_TRUE(resumed.exit_code().has_value());
  }

  r = discard_checkpoint(image_path);
  EXPECT_EQ(r.code, 0) << r.message;
  r = read(true);
  EXPECT_EQ(r.code, -3);  // not suspended any more
  EXPECT_EQ(r.message, "Mismatched Ident");
}

TEST_F(CheckpointFromBhyve, NewLayoutIsReadAsItIs) {
  set_kernel_format("2");
  write_image();
  checkpoint_test::Bytes written = image();
  checkpoint_result r = read();
  ASSERT_EQ(r.code, 0) << r.message;
  EXPECT_EQ(snapshot_.memory_format, 1);
  EXPECT_EQ(snapshot_.config.at("pci.0.7.0.device"), "virtio-blk");
  EXPECT_EQ(image(), written);
  EXPECT_EQ(discard_checkpoint(image_path).code, 0);
  EXPECT_EQ(read(true).code, -3);
  EXPECT_EQ(discard_checkpoint("/pools/tank/none.bvmss").code, 1);
}

#else

TEST(CheckpointFromBhyve, NeedsTheStandInHypervisor) {
  GTEST_SKIP() << "built without the stand-in hypervisor (SIM_BHYVE)";
}

#endif

}  // namespace
