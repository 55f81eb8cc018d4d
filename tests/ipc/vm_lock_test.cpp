#include "ipc/vm_lock.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "ipc_fixture.h"

namespace {

// A child body that takes the VM's lock, says so on `held`, and keeps the lock
// until `until` returns.
std::function<int()> lock_holder(const std::string& vm_id, SignalPipe& held,
                                 std::function<void()> until) {
  return [vm_id, &held, until] {
    VmLock lock(vm_id, 0);
    if (!lock.locked()) return 1;
    held.post();
    until();
    return 0;
  };
}

TEST(VmLock, LockFileLivesUnderTheHostRoot) {
  IpcSandbox sandbox;
  EXPECT_EQ(VmLock::lock_path("403404"), "/var/run/ombrix-vm.vm.403404.lock");
  VmLock lock("403404", 0);
  EXPECT_TRUE(lock.locked());
  struct stat st {};
  EXPECT_EQ(::stat((sandbox.dir() + "/var/run/ombrix-vm.vm.403404.lock").c_str(), &st), 0);
  EXPECT_FALSE(VmLock("", 0).locked());
  EXPECT_FALSE(VmLock("../x", 0).locked());
}

TEST(VmLock, AnotherProcessWaitsUntilItsTimeOut) {
  IpcSandbox sandbox;
  SignalPipe held, release;
  ChildProcess holder(lock_holder("21", held, [&] { release.await(); }));
  ASSERT_TRUE(held.await());
  {
    VmLock second("21", 50, 5);
    EXPECT_FALSE(second.locked());
  }
  VmLock other("22", 0);  // other VMs are not affected
  EXPECT_TRUE(other.locked());

  release.post();
  EXPECT_EQ(holder.wait(), 0);
  VmLock after("21", 0);
  EXPECT_TRUE(after.locked());
}

TEST(VmLock, TakenOnceTheHolderLetsGoWithinTheTimeOut) {
  IpcSandbox sandbox;
  SignalPipe held;
  // Let go a little later, while the test is already waiting for the lock.
  ChildProcess holder(lock_holder("31", held, [] { ::usleep(100 * 1000); }));
  ASSERT_TRUE(held.await());
  VmLock lock("31", 10000, 5);
  EXPECT_TRUE(lock.locked());
  EXPECT_EQ(holder.wait(), 0);
}

TEST(VmLock, ExcludesWithinOneProcessAndReleasesOnDestruction) {
  IpcSandbox sandbox;
  {
    VmLock first("41", 0);
    ASSERT_TRUE(first.locked());
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
