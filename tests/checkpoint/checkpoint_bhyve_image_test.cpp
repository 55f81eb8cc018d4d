// Images written by the stand-in hypervisor, in both memory-table layouts:
// read, converted (and resumed from by the hypervisor), discarded.
#include <gtest/gtest.h>

#include "bhwrap/checkpoint/checkpoint_discard.h"
#include "bhwrap/checkpoint/checkpoint_header.h"
#include "bhwrap/checkpoint/checkpoint_lookup.h"
#include "tests/checkpoint/checkpoint_test_header.h"
#include "sim/include/vmm_sim_protocol.h"
#include "tests/sim/bhyve_runner.h"

namespace {

using bhyve_test::BhyveProcess;
using bhyve_test::vmm_request;
using checkpoint_test::Bytes;
using test_support::eventually;

constexpr const char* image_path = "/pools/tank/snapshot.bvmss";  // a real host path

class CheckpointFromBhyve : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(checkpoint_test::load_stand_in_libnv());
    root_.write("bhyve-sim.ctl", "ready_delay_ms=0\n");
    std::filesystem::create_directories(root_.path("/pools/tank"));
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
                    {.root = root_.dir()});
    ASSERT_TRUE(running("vm1")) << vm.log();
    ASSERT_EQ(vmm_request("vm1", "CHECKPOINT stop " + vmm_sim::escape(image_path)), "OK")
        << vm.log();
    EXPECT_TRUE(vm.exit_code().has_value());
  }
  checkpoint_result read(bool ident_only = false) {
    snapshot_ = snapshot_config(image_path, "1");
    return read_checkpoint_header(snapshot_, ident_only);
  }
  Bytes image() { return checkpoint_test::read_file(root_.path(image_path)); }

  bhyve_test::TempRoot root_;
  snapshot_config snapshot_{"", ""};
};

TEST_F(CheckpointFromBhyve, OldLayoutIsReadConvertedResumedAndDiscarded) {
  set_kernel_format("1");
  write_image();
  EXPECT_EQ(read(true).code, 0);
  Bytes written = image();

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
  EXPECT_EQ(read().code, 0);
  EXPECT_EQ(snapshot_.memory_format, 1);
  {
    BhyveProcess resumed(root_.vm_dir(), SIM_BHYVE, {"-r", image_path, "vm2"}, {.root = root_.dir()});
    ASSERT_TRUE(running("vm2")) << resumed.log();
    EXPECT_EQ(vmm_request("vm2", "VCPUS"), "OK 2");
    resumed.signal(SIGTERM);
    EXPECT_TRUE(resumed.exit_code().has_value());
  }

  EXPECT_EQ(checkpoint_test::text(discard_checkpoint(image_path)), "0 ");
  EXPECT_EQ(checkpoint_test::text(read(true)), "-3 Mismatched Ident");  // not suspended any more
}

TEST_F(CheckpointFromBhyve, NewLayoutIsReadAsItIs) {
  set_kernel_format("2");
  write_image();
  Bytes written = image();
  checkpoint_result r = read();
  ASSERT_EQ(r.code, 0) << r.message;
  EXPECT_EQ(snapshot_.memory_format, 1);
  EXPECT_EQ(snapshot_.config.at("pci.0.7.0.device"), "virtio-blk");
  EXPECT_EQ(image(), written);
  EXPECT_EQ(discard_checkpoint(image_path).code, 0);
  EXPECT_EQ(read(true).code, -3);
  EXPECT_EQ(discard_checkpoint("/pools/tank/none.bvmss").code, 1);
}

}  // namespace
