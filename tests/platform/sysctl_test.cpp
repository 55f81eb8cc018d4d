#include "platform/sysctl.h"

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "platform/kmod.h"
#include "tests/support/temp_root.h"

namespace {

using test_support::TempRoot;

TEST(Sysctl, UnknownNamesAreErrors) {
  std::string error;
  EXPECT_FALSE(platform::sysctl_get("kern.nothing", &error));
  EXPECT_NE(error.find("kern.nothing"), std::string::npos);
  error.clear();
  EXPECT_FALSE(platform::sysctl_set("kern.nothing", "1", &error));
  EXPECT_FALSE(error.empty());
}

TEST(Sysctl, MaxMessageSizeIsTheKernelsOwn) {
  TempRoot root;  // never mapped under the root
  std::ifstream in("/proc/sys/fs/mqueue/msgsize_max");
  std::string kernel;
  in >> kernel;
  auto value = platform::sysctl_get("kern.mqueue.maxmsgsize");
  ASSERT_TRUE(value);
  EXPECT_EQ(*value, kernel);
  std::string error;
  EXPECT_TRUE(platform::sysctl_set("kern.mqueue.maxmsgsize", kernel, &error)) << error;
  EXPECT_FALSE(platform::sysctl_set("kern.mqueue.maxmsgsize", "8k", &error));
  EXPECT_FALSE(platform::sysctl_set("kern.mqueue.maxmsgsize", "", &error));
}

TEST(Sysctl, SnapshotMemoryFormatLivesUnderTheRoot) {
  TempRoot root;
  const char* name = "hw.vmm.features.snapshot_memory_format";
  EXPECT_EQ(platform::sysctl_get(name), "1");
  std::string error;
  ASSERT_TRUE(platform::sysctl_set(name, "2", &error)) << error;
  EXPECT_EQ(platform::sysctl_get(name), "2");
  std::ifstream in(root.path("/var/run/vmm/features.snapshot_memory_format"));
  std::string stored;
  in >> stored;
  EXPECT_EQ(stored, "2");
  EXPECT_FALSE(platform::sysctl_set(name, "two", &error));
  EXPECT_EQ(platform::sysctl_get(name), "2");

  root.write("/var/run/vmm/features.snapshot_memory_format", "garbage\n");
  error.clear();
  EXPECT_FALSE(platform::sysctl_get(name, &error));
  EXPECT_FALSE(error.empty());
}

TEST(Sysctl, VmNodesAreCreatedAndDestroyed) {
  TempRoot root;
  std::string node = root.path("/dev/vmm/403404_tmp");
  std::string error;
  ASSERT_TRUE(platform::sysctl_set("hw.vmm.create", "403404_tmp", &error)) << error;
  EXPECT_TRUE(std::filesystem::exists(node));
  EXPECT_FALSE(platform::sysctl_set("hw.vmm.create", "403404_tmp", &error));  // exists
  EXPECT_FALSE(platform::sysctl_get("hw.vmm.create", &error));                // write-only
  ASSERT_TRUE(platform::sysctl_set("hw.vmm.destroy", "403404_tmp", &error)) << error;
  EXPECT_FALSE(std::filesystem::exists(node));
  EXPECT_FALSE(platform::sysctl_set("hw.vmm.destroy", "403404_tmp", &error));  // gone
  for (const char* bad : {"", ".", "..", "a/b", "../x"}) {
    EXPECT_FALSE(platform::sysctl_set("hw.vmm.create", bad, &error)) << bad;
    EXPECT_FALSE(platform::sysctl_set("hw.vmm.destroy", bad, &error)) << bad;
  }
}

TEST(KernelModules, KnownModulesAreThere) {
  EXPECT_TRUE(platform::load_kernel_module("nmdm"));
  EXPECT_TRUE(platform::load_kernel_module("mqueuefs"));
  std::string error;
  EXPECT_FALSE(platform::load_kernel_module("vmm", &error));
  EXPECT_NE(error.find("vmm"), std::string::npos);
}

}  // namespace
