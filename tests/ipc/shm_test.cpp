#include "ipc/shm.h"

#include <gtest/gtest.h>

#include "ipc_fixture.h"

namespace {

TEST(Shm, WriteReadExistsUnlink) {
  IpcSandbox sandbox;
  sandbox.track_shm("77");
  EXPECT_FALSE(Shm::exists("77", ShmKind::vm));
  EXPECT_EQ(Shm::load_text("77", ShmKind::vm), "");
  EXPECT_FALSE(Shm::exists("77", ShmKind::vm));  // loading never creates

  Shm shm("77", ShmKind::vm);
  ASSERT_TRUE(shm.is_open()) << shm.error();
  EXPECT_TRUE(Shm::exists("77", ShmKind::vm));
  EXPECT_FALSE(Shm::exists("77", ShmKind::devices));
  EXPECT_EQ(shm.read(), "");

  const std::string long_text(10000, 'L');
  ASSERT_TRUE(shm.write(long_text));
  EXPECT_EQ(shm.read(), long_text);
  ASSERT_TRUE(shm.write("short"));  // no tail of the longer text remains
  EXPECT_EQ(shm.read(), "short");
  EXPECT_EQ(Shm::load_text("77", ShmKind::vm), "short");
  EXPECT_EQ(Shm("77", ShmKind::vm).read(), "short");
  ASSERT_TRUE(shm.write(""));
  EXPECT_EQ(Shm::load_text("77", ShmKind::vm), "");

  EXPECT_TRUE(Shm::unlink("77", ShmKind::vm));
  EXPECT_FALSE(Shm::exists("77", ShmKind::vm));
  EXPECT_FALSE(Shm::unlink("77", ShmKind::vm));

  Shm unnamed("", ShmKind::vm);
  EXPECT_FALSE(unnamed.is_open());
  EXPECT_FALSE(unnamed.write("x"));
  EXPECT_FALSE(Shm::exists("", ShmKind::vm));
}

TEST(Shm, KindsAreSeparateObjects) {
  IpcSandbox sandbox;
  sandbox.track_shm("5");
  Shm("5", ShmKind::vm).write("vm");
  Shm("5", ShmKind::devices).write("devices");
  Shm("5", ShmKind::reconfig).write("reconfig");
  EXPECT_EQ(Shm::load_text("5", ShmKind::vm), "vm");
  EXPECT_EQ(Shm::load_text("5", ShmKind::devices), "devices");
  EXPECT_EQ(Shm::load_text("5", ShmKind::reconfig), "reconfig");
  // The hypervisor finds its objects by these names.
  EXPECT_EQ(Shm::object_name("5", ShmKind::vm), "/qtr.vm.5");
  EXPECT_EQ(Shm::object_name("5", ShmKind::devices), "/bhyve.vm.5.devices");
}

TEST(Shm, ReaderNeverSeesAHalfText) {
  IpcSandbox sandbox;
  sandbox.track_shm("9");
  const std::string a(40000, 'a');
  const std::string b(300, 'b');
  Shm shm("9", ShmKind::vm);
  ASSERT_TRUE(shm.write(a));
  ChildProcess writer([&] {
    Shm own("9", ShmKind::vm);
    for (int i = 0; i < 400; ++i)
      if (!own.write(i % 2 ? a : b)) return 1;
    return 0;
  });
  int bad = 0;
  for (int i = 0; i < 400; ++i) {
    std::string text = Shm::load_text("9", ShmKind::vm);
    if (text != a && text != b) ++bad;
  }
  EXPECT_EQ(writer.wait(), 0);
  EXPECT_EQ(bad, 0);
}

}  // namespace
