#include "platform/host_root.h"

#include <cstdlib>

#include <gtest/gtest.h>

namespace {

struct RootGuard {
  explicit RootGuard(const char* root) {
    if (root) setenv("OMBRIX_ROOT", root, 1); else unsetenv("OMBRIX_ROOT");
    platform::reload_host_root_for_tests();
  }
  ~RootGuard() {
    unsetenv("OMBRIX_ROOT");
    platform::reload_host_root_for_tests();
  }
};

TEST(HostRoot, WithoutRootEverythingIsReal) {
  RootGuard g(nullptr);
  EXPECT_EQ(platform::host_path("/var/run/x"), "/var/run/x");
  EXPECT_EQ(platform::ipc_name("/ombrix-vm.mq"), "/ombrix-vm.mq");
  EXPECT_EQ(platform::host_port(7000), 7000);
}

TEST(HostRoot, PathsMapOnceAndBack) {
  RootGuard g("/tmp/sb/");
  EXPECT_EQ(platform::host_path("/var/run/x"), "/tmp/sb/var/run/x");
  EXPECT_EQ(platform::host_path("/tmp/sb/var/run/x"), "/tmp/sb/var/run/x");
  EXPECT_EQ(platform::host_path("/tmp/sbx"), "/tmp/sb/tmp/sbx");
  EXPECT_EQ(platform::host_path("relative/p"), "relative/p");
  EXPECT_EQ(platform::real_path("/tmp/sb/var/run/x"), "/var/run/x");
  EXPECT_EQ(platform::real_path("/tmp/sbx/y"), "/tmp/sbx/y");
}

TEST(HostRoot, IpcNamesAndPortsDifferPerRoot) {
  std::string a, b;
  int pa, pb;
  {
    RootGuard g("/tmp/one");
    a = platform::ipc_name("/qtr.vm.1");
    pa = platform::host_port(7000);
  }
  {
    RootGuard g("/tmp/two");
    b = platform::ipc_name("/qtr.vm.1");
    pb = platform::host_port(7000);
  }
  EXPECT_NE(a, b);
  EXPECT_NE(pa, pb);
  // Mapped ports stay below the kernel's range for outgoing connections.
  for (int p : {pa, pb}) {
    EXPECT_GE(p, 20000);
    EXPECT_LT(p, 32000);
  }
  for (const auto& n : {a, b}) {
    EXPECT_EQ(n.front(), '/');
    EXPECT_EQ(n.find('/', 1), std::string::npos);
    EXPECT_EQ(n.rfind("/qtr.vm.1", 0), 0u);
  }
}

}  // namespace
