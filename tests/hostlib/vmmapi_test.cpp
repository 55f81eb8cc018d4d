// The libvmmapi binding against the stand-in library and a running stand-in
// hypervisor, against a library without the product's extensions, and
// without a library.
#include "hostlib/vmmapi.h"

#include <signal.h>

#include <gtest/gtest.h>

#include "tests/hostlib/child_checks.h"
#include "tests/sim/bhyve_runner.h"

namespace hostlib_test {
namespace {

using bhyve_test::BhyveProcess;
using test_support::eventually;

constexpr const char* kVm = "vm7";
constexpr const char* kLibrary = "/usr/lib/libvmmapi.so.6";
constexpr const char* kBasicLibrary = "/usr/lib/libvmmapi-basic.so.6";

const std::vector<std::string> kAllEntryPoints = {
    "vm_open",     "vm_close",         "vm_ping",         "vm_get_vcpu_class", "vm_set_vcpu_class",
    "vm_livestream", "vm_get_config",  "vm_pause",        "vm_resume",         "vm_reconfig",
    "vm_checkpoint", "vm_get_stats",   "vm_get_stat_desc", "vm_vcpu_open",     "vm_vcpu_close"};

Links vmmapi_links() { return {{kLibrary, SIM_VMMAPI}, {kBasicLibrary, SIM_VMMAPI_BASIC}}; }

// A host root with the libraries, the VM directory "vm" and what a VM's
// command line names; the hypervisors started in it are ended with it.
class VmmapiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_.write("/vm/bhyve-sim.ctl", "ready_delay_ms=1\n");
    root_.write("/dev/nmdm7A", "");
  }
  void TearDown() override {
    processes_.clear();
    bhyve_test::unlink_vm_shm(kVm);
  }

  BhyveProcess& start_bhyve() {
    processes_.push_back(std::make_unique<BhyveProcess>(
        root_.path("/vm"), SIM_BHYVE,
        std::vector<std::string>{"-c", "2", "-m", "1G", "-s", "0,hostbridge", "-s", "31,lpc", "-l",
                                 "com1,/dev/nmdm7A", kVm}));
    return *processes_.back();
  }

  StandInRoot root_{vmmapi_links()};
  std::vector<std::unique_ptr<BhyveProcess>> processes_;
};

TEST_F(VmmapiTest, WithoutTheLibraryEveryOperationFailsSafely) {
  VmmapiLibrary lib("/usr/lib/no-such-libvmmapi.so.6");
  EXPECT_FALSE(lib.loaded());
  EXPECT_FALSE(lib.load_error().empty());
  EXPECT_EQ(lib.missing_symbols(), kAllEntryPoints);
  EXPECT_FALSE(lib.has_vcpu_class());
  EXPECT_FALSE(lib.has_vm_checkpoint());
  EXPECT_EQ(lib.ping(kVm), -1);
  EXPECT_TRUE(lib.get_config(kVm).empty());

  vm_handle vm(lib, kVm);
  EXPECT_FALSE(vm.is_open());
  EXPECT_EQ(vm.open_error(), "libvmmapi offers no vm_open");
  EXPECT_EQ(vm.get_vcpu_class(), -1);
  EXPECT_FALSE(vm.set_vcpu_class(3));
  EXPECT_EQ(vm.pause(), "libvmmapi offers no vm_open");
  EXPECT_TRUE(vm.get_config().empty());
}

TEST_F(VmmapiTest, ALibraryWithoutTheExtensionsStillPausesAndReadsTheConfiguration) {
  VmmapiLibrary lib(kBasicLibrary);
  ASSERT_TRUE(lib.loaded()) << lib.load_error();
  EXPECT_EQ(lib.missing_symbols(),
            (std::vector<std::string>{"vm_ping", "vm_get_vcpu_class", "vm_set_vcpu_class",
                                      "vm_livestream", "vm_checkpoint"}));
  EXPECT_FALSE(lib.has_vcpu_class());
  EXPECT_FALSE(lib.has_vm_checkpoint());
  EXPECT_EQ(lib.ping(kVm), -1);  // not supported: the wrapper takes it as success

  BhyveProcess& bhyve = start_bhyve();
  ASSERT_TRUE(eventually([&] { return lib.get_config(kVm).count("name"); })) << bhyve.log();
  vm_handle vm(lib, kVm);
  ASSERT_TRUE(vm.is_open()) << vm.open_error();
  EXPECT_EQ(vm.get_vcpu_class(), -1);
  EXPECT_FALSE(vm.set_vcpu_class(2));
  EXPECT_EQ(vm.checkpoint("/x", false), "libvmmapi offers no vm_checkpoint");
  EXPECT_EQ(vm.livestream("127.0.0.1", 7), "libvmmapi offers no vm_livestream");
  ASSERT_TRUE(eventually([&] { return !vm.pause().has_value(); })) << bhyve.log();
  EXPECT_EQ(vm.resume(), std::nullopt);
}

TEST_F(VmmapiTest, PingsFromNoNodeThroughBootingToRunning) {
  VmmapiLibrary lib(kLibrary);
  ASSERT_TRUE(lib.loaded()) << lib.load_error();
  EXPECT_TRUE(lib.missing_symbols().empty());
  EXPECT_TRUE(lib.has_vcpu_class());
  EXPECT_TRUE(lib.has_vm_checkpoint());

  EXPECT_EQ(lib.ping(kVm), VM_PING_NO_NODE);
  vm_handle absent(lib, kVm);
  EXPECT_FALSE(absent.is_open());
  EXPECT_EQ(absent.open_error(), "vm_open(vm7): No such file or directory");
  EXPECT_EQ(absent.get_vcpu_class(), -1);

  // A node nobody answers on (left by a killed hypervisor, or made by
  // hw.vmm.create) is not a running VM.
  root_.write("/dev/vmm/vm7", "");
  EXPECT_EQ(lib.ping(kVm), VM_PING_NO_ANSWER);
  EXPECT_EQ(lib.ping("../etc"), -1);

  root_.write("/vm/bhyve-sim.ctl", "never_ready=1\n");
  BhyveProcess& booting = start_bhyve();
  ASSERT_TRUE(eventually([&] { return lib.ping(kVm) == VM_PING_BOOTING; })) << booting.log();
  EXPECT_NE(vm_handle(lib, kVm).pause(), std::nullopt);
  booting.signal(SIGTERM);
  ASSERT_EQ(booting.exit_code(), 1);

  root_.write("/vm/bhyve-sim.ctl", "ready_delay_ms=1\n");
  BhyveProcess& running = start_bhyve();
  ASSERT_TRUE(eventually([&] { return lib.ping(kVm) == 0; })) << running.log();
  running.signal(SIGTERM);
  ASSERT_EQ(running.exit_code(), 1);
  EXPECT_EQ(lib.ping(kVm), VM_PING_NO_NODE);
}

TEST_F(VmmapiTest, DrivesARunningVm) {
  VmmapiLibrary lib(kLibrary);
  BhyveProcess& bhyve = start_bhyve();
  ASSERT_TRUE(eventually([&] { return lib.ping(kVm) == 0; })) << bhyve.log();

  vm_handle opened(lib, kVm);
  vm_handle vm = std::move(opened);
  EXPECT_FALSE(opened.is_open());
  ASSERT_TRUE(vm.is_open()) << vm.open_error();

  EXPECT_EQ(vm.get_vcpu_class(), 0);
  EXPECT_TRUE(vm.set_vcpu_class(4));
  EXPECT_FALSE(vm.set_vcpu_class(10));
  EXPECT_FALSE(vm.set_vcpu_class(-1));
  EXPECT_EQ(vm.get_vcpu_class(), 4);

  std::map<std::string, std::string> config = lib.get_config(kVm);
  EXPECT_EQ(config["name"], "vm7");
  EXPECT_EQ(config["cpus"], "2");
  EXPECT_EQ(config["memory.size"], "1073741824");
  EXPECT_EQ(config["lpc.com1.path"], "/dev/nmdm7A");

  EXPECT_EQ(vm.pause(), std::nullopt);
  EXPECT_EQ(vm.pause(), std::nullopt);  // already paused
  EXPECT_EQ(vm.resume(), std::nullopt);

  EXPECT_EQ(vm.reconfig("pci.0.31.0.ratelimit=10\nballoon.size=512M\n"), std::nullopt);
  EXPECT_EQ(vm.get_config()["balloon.size"], "512M");
  EXPECT_EQ(vm.reconfig("no setting"), "vm_reconfig(vm7): Invalid argument");

  root_.write("/dev/zvol/z05/vm7/.keep", "");
  EXPECT_EQ(vm.checkpoint("/dev/zvol/z05/vm7/snapshot.bvmss", false), std::nullopt);
  EXPECT_TRUE(fs::exists(root_.path("/dev/zvol/z05/vm7/snapshot.bvmss")));
  EXPECT_EQ(vm.checkpoint("/dev/zvol/none/snapshot.bvmss", false).value_or("").rfind("vm_checkpoint(vm7): ", 0), 0u);

  // Nothing listens on port 1.
  auto refused = vm.livestream("127.0.0.1", 1);
  ASSERT_TRUE(refused.has_value());
  EXPECT_EQ(refused->rfind("vm_livestream(vm7): ", 0), 0u) << *refused;
  EXPECT_TRUE(bhyve.running());

  // A stopping checkpoint ends the hypervisor with the powered-off status.
  EXPECT_EQ(vm.checkpoint("/dev/zvol/z05/vm7/snapshot.bvmss", true), std::nullopt);
  EXPECT_EQ(bhyve.exit_code(), 1);
}

class VmmapiProcessWideTest : public ChildCheckTest {};

TEST_F(VmmapiProcessWideTest, LoadsTheHostLibraryOnFirstUse) {
  EXPECT_EXIT(
      run_in_child({{kLibrary, SIM_VMMAPI}}, [](const StandInRoot& root, ChildChecks& c) {
        c.expect(vmmapi_loaded(), "loaded: " + vmmapi_load_error());
        c.expect(vmmapi_missing_symbols().empty(), "nothing missing");
        c.expect(vmmapi_has_vcpu_class() && libvmmapi::has_vm_checkpoint(), "extensions");
        c.expect(vmmapi_ping(kVm) == VM_PING_NO_NODE, "no node yet");

        root.write("/vm/bhyve-sim.ctl", "ready_delay_ms=1\n");
        {
          BhyveProcess bhyve(root.path("/vm"), SIM_BHYVE, {"-m", "512M", kVm});
          c.expect(eventually([] { return vmmapi_ping(kVm) == 0; }), "running: " + bhyve.log());
          c.expect(vmmapi_get_config(kVm)["memory.size"] == "536870912", "configuration");
          c.expect(!vmmapi_pause(kVm) && !vmmapi_resume(kVm), "pause and resume");
          c.expect(!vmmapi_reconfig(kVm, "a.b=1"), "reconfigure");
          c.expect(vm_handle(kVm).set_vcpu_class(9) && vm_handle(kVm).get_vcpu_class() == 9,
                   "vCPU class");
        }
        bhyve_test::unlink_vm_shm(kVm);
      }),
      ExitedWithCode(0), "");
}

}  // namespace
}  // namespace hostlib_test
