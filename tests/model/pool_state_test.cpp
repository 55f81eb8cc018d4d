#include "model/pool_state.h"

#include <fstream>

#include <gtest/gtest.h>

#include "tests/model/sandbox_root.h"

namespace {

class PoolStateTest : public ::testing::Test {
 protected:
  SandboxRoot root_;
};

TEST_F(PoolStateTest, MarksMoveThroughTheStates) {
  std::string dir = root_.make_pool("z05");
  PoolState ps("z05");
  EXPECT_EQ(ps.dir(), dir);
  int error = -1;
  EXPECT_EQ(ps.read(error), PoolState::started);  // no marks yet
  EXPECT_EQ(error, 0);

  ASSERT_TRUE(PoolState::set_marks("z05", PoolState::stopped));
  EXPECT_EQ(PoolState::read("z05"), PoolState::stopped);
  EXPECT_TRUE(std::filesystem::exists(root_.path(dir + "/.pool.stopped")));

  ASSERT_TRUE(PoolState::set_marks("z05", PoolState::started));
  EXPECT_EQ(PoolState::read("z05"), PoolState::started);

  ASSERT_TRUE(PoolState::set_marks("z05", PoolState::suspended));
  EXPECT_EQ(PoolState::read("z05"), PoolState::suspended);
  EXPECT_FALSE(std::filesystem::exists(root_.path(dir + "/.pool.stopped")));

  ASSERT_TRUE(PoolState::set_marks("z05", PoolState::stopped));
  EXPECT_EQ(PoolState::read("z05"), PoolState::stopped);
  EXPECT_FALSE(std::filesystem::exists(root_.path(dir + "/.pool.suspended")));
  // Nothing half-written is left behind.
  for (const auto& entry : std::filesystem::directory_iterator(root_.path(dir)))
    EXPECT_NE(entry.path().extension(), ".tmp") << entry.path();
}

TEST_F(PoolStateTest, BothMarksReadAsSuspended) {
  std::string dir = root_.make_pool("z05");
  std::ofstream(root_.path(dir + "/.pool.stopped")) << "x";
  std::ofstream(root_.path(dir + "/.pool.suspended")) << "x";
  EXPECT_EQ(PoolState::read("z05"), PoolState::suspended);
}

TEST_F(PoolStateTest, VmMarksAreNotPoolMarks) {
  std::string dir = root_.make_pool("z05");
  std::ofstream(root_.path(dir + "/403404.suspended")) << "x";
  std::ofstream(root_.path(dir + "/403405.pool_suspended")) << "x";
  std::ofstream(root_.path(dir + "/.lock")) << "";
  EXPECT_EQ(PoolState::read("z05"), PoolState::started);
}

TEST_F(PoolStateTest, MissingAndUnreadableDirectories) {
  int error = 0;
  EXPECT_EQ(PoolState::read("nopool", error), PoolState::unknown);
  EXPECT_EQ(error, ENOENT);
  EXPECT_FALSE(PoolState::set_marks("nopool", PoolState::stopped));
  root_.forget_sem(state_sem::pool_name("nopool"));

  // A state directory that is not a directory cannot be used (root can read
  // any directory, so a file stands in for an unreadable one).
  std::string dir = pool_state_dir(Config::instance(), "z09");
  std::filesystem::create_directories(std::filesystem::path(root_.path(dir)).parent_path());
  std::ofstream(root_.path(dir)) << "not a directory";
  EXPECT_EQ(PoolState::read("z09", error), PoolState::unreadable);
  EXPECT_EQ(error, ENOTDIR);
  EXPECT_FALSE(PoolState::set_marks("z09", PoolState::suspended));
  root_.forget_sem(state_sem::pool_name("z09"));
}

TEST_F(PoolStateTest, BadNamesAndStates) {
  root_.make_pool("z05");
  int error = 0;
  for (const char* pool : {"", "..", "a/b"}) {
    EXPECT_EQ(PoolState::read(pool, error), PoolState::unreadable) << pool;
    EXPECT_EQ(error, EINVAL);
    EXPECT_FALSE(PoolState::set_marks(pool, PoolState::stopped)) << pool;
  }
  EXPECT_FALSE(PoolState::set_marks("z05", PoolState::unknown));
  EXPECT_FALSE(PoolState::set_marks("z05", PoolState::unreadable));
  EXPECT_FALSE(PoolState::set_marks("z05", 9));
  EXPECT_EQ(PoolState::read("z05"), PoolState::started);
}

TEST_F(PoolStateTest, MarksAreSetEvenWhenTheSemaphoreIsHeld) {
  root_.make_pool("z05");
  state_sem held(state_sem::pool_name("z05"));
  ASSERT_TRUE(held.held());
  EXPECT_TRUE(PoolState("z05").set_marks(PoolState::stopped, std::chrono::milliseconds(20)));
  EXPECT_EQ(PoolState::read("z05"), PoolState::stopped);
}

TEST(PoolStateName, Names) {
  EXPECT_EQ(pool_state_name(0), "unknown");
  EXPECT_EQ(pool_state_name(1), "stopped");
  EXPECT_EQ(pool_state_name(2), "started");
  EXPECT_EQ(pool_state_name(3), "suspended");
  EXPECT_EQ(pool_state_name(4), "unreadable");
  EXPECT_EQ(pool_state_name(5), "bad_enum_PoolState");
  EXPECT_EQ(pool_state_name(-1), "bad_enum_PoolState");
}

}  // namespace
