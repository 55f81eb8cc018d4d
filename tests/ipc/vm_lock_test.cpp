#include "ipc/vm_lock.h"

#include <gtest/gtest.h>

#include "ipc_fixture.h"

namespace {

TEST(VmLock, AnotherProcessWaitsUntilTheHolderLetsGoOrItsTimeOut) {
  IpcSandbox sandbox;
  SignalPipe held, release;
  ChildProcess holder([&] {
    VmLock lock("21", 0);
    if (!lock.locked()) return 1;
    held.post();
    release.await();
    ::usleep(100 * 1000);  // lets go while the test already waits
    return 0;
  });
  ASSERT_TRUE(held.await());
  EXPECT_FALSE(VmLock("21", 50, 5).locked());
  EXPECT_TRUE(VmLock("22", 0).locked());  // other VMs are not affected
  release.post();
  VmLock after("21", 10000, 5);
  EXPECT_TRUE(after.locked());
  EXPECT_EQ(holder.wait(), 0);
}

TEST(VmLock, ExcludesWithinOneProcessAndReleasesOnDestruction) {
  IpcSandbox sandbox;
  EXPECT_FALSE(VmLock("", 0).locked());
  EXPECT_FALSE(VmLock("../x", 0).locked());
  {
    VmLock first("41", 0);
    ASSERT_TRUE(first.locked());
    EXPECT_TRUE(std::filesystem::exists(sandbox.path("/var/run/ombrix-vm.vm.41.lock")));
    VmLock second("41", 20, 5);
    EXPECT_FALSE(second.locked());
    // The failed attempt closed its own descriptor; the first lock holds on.
    ChildProcess probe([] { return VmLock("41", 0).locked() ? 1 : 0; });
    EXPECT_EQ(probe.wait(), 0);
  }
  VmLock again("41", 0);
  EXPECT_TRUE(again.locked());
}

}  // namespace
