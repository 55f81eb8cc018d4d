// Starting and resuming a VM whose suspend volume holds a checkpoint image
// written by the stand-in hypervisor.
#include <signal.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "bhwrap/checkpoint/checkpoint_header.h"
#include "hostlib/vmmapi.h"
#include "model/vm_state.h"
#include "tests/bhwrap/bhwrap_test_host.h"

namespace bhwrap_test {
namespace {

namespace fs = std::filesystem;

class BhWrapCheckpointRun : public ::testing::Test {
 protected:
  void SetUp() override {
    host_.control("ready_delay_ms=10\n");
    fs::create_directories(fs::path(host_.path(host_.checkpoint_volume())).parent_path());
  }

  // Runs the command until its start is confirmed; the confirmation's status.
  // (A refused start has ended its wrapper with 1.)
  int64_t start(const _command& cmd, test_support::ChildProcess** wrapper = nullptr) {
    test_support::ChildProcess& started = host_.start(cmd);
    if (wrapper) *wrapper = &started;
    auto confirm = host_.expect(MqVmMessageKind::confirm);
    if (!confirm) return -1000;
    if (confirm->status < 0) EXPECT_EQ(host_.wait_wrapper(started), 1);
    return confirm->status;
  }

  // Runs the VM and suspends it into its volume (bhyve ends once written).
  void suspend_into_volume() {
    test_support::ChildProcess* wrapper = nullptr;
    ASSERT_GT(start(host_.command(), &wrapper), 0) << host_.wrapper_log();
    auto error = vmmapi_checkpoint(kVm, host_.checkpoint_volume(), true);
    ASSERT_FALSE(error) << *error;
    auto exit = host_.expect(MqVmMessageKind::vm_exit);
    ASSERT_TRUE(exit) << host_.wrapper_log();
    EXPECT_EQ(exit->status, 1);
    EXPECT_EQ(host_.wait_wrapper(*wrapper), 0);
    ASSERT_EQ(header_code(), 0);
    VmState(kPool, kVm).set_suspend_mark(SuspendMark::own);
  }

  int32_t header_code() {
    snapshot_config image(host_.checkpoint_volume(), kVm);
    return read_checkpoint_header(image, true).code;
  }

  SuspendMark suspend_mark() {
    std::string error;
    return VmState(kPool, kVm).suspend_mark(error);
  }

  void stop(test_support::ChildProcess& wrapper) {
    wrapper.signal(SIGTERM);
    auto exit = host_.expect(MqVmMessageKind::vm_exit);
    ASSERT_TRUE(exit) << host_.wrapper_log();
    EXPECT_EQ(host_.wait_wrapper(wrapper), 0);
  }

  WrapperHost host_;
};

TEST_F(BhWrapCheckpointRun, SuspendedVmIsRefusedAStartAndResumesFromItsImage) {
  suspend_into_volume();

  // A plain start must not throw the suspended state away.
  EXPECT_EQ(start(host_.command()), -7);
  EXPECT_EQ(header_code(), 0);

  // Disks that do not fit the image refuse the resume.
  _command moved = host_.command("vms-resume");
  nlohmann::json item = nlohmann::json::parse(moved.item);
  item["disks"] = R"([{"devtype": "virtio-blk", "dev": "/dev/zvol/z05/d", "slot": 6}])"_json;
  moved.item = item.dump();
  EXPECT_EQ(start(moved), -9);
  EXPECT_TRUE(contains(host_.wrapper_log(), "Mismatched disk configuration (slot 6 missing)"));

  // The resume runs bhyve from the image, then discards the image and the mark.
  test_support::ChildProcess* wrapper = nullptr;
  ASSERT_GT(start(host_.command("vms-resume"), &wrapper), 0) << host_.wrapper_log();
  std::string trace = host_.trace();
  EXPECT_TRUE(contains(trace, "arg=/usr/sbin/bhyve\narg=-r\narg=" + host_.checkpoint_volume() +
                                  "\narg=-o\narg=pci.0.29.0.tcp=127.0.0.1:25901\narg=-U\n"))
      << trace;
  EXPECT_NE(header_code(), 0);
  EXPECT_EQ(suspend_mark(), SuspendMark::none);
  EXPECT_EQ(host_.runtime_record().method, "vms-resume");
  stop(*wrapper);

  // Nothing left to resume from.
  EXPECT_EQ(start(host_.command("vms-resume")), -8);
}

TEST_F(BhWrapCheckpointRun, ForcedStartBootsAfreshAndDropsTheImage) {
  suspend_into_volume();
  _command forced = host_.command();
  forced.force = true;
  test_support::ChildProcess* wrapper = nullptr;
  ASSERT_GT(start(forced, &wrapper), 0) << host_.wrapper_log();
  EXPECT_FALSE(contains(host_.trace(), "arg=-r\n"));
  EXPECT_TRUE(contains(host_.wrapper_log(), "VMS-START. Force mode. Skip VM suspended state"));
  EXPECT_NE(header_code(), 0);
  EXPECT_EQ(suspend_mark(), SuspendMark::none);
  stop(*wrapper);
}

}  // namespace
}  // namespace bhwrap_test
