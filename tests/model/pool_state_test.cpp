#include "model/pool_state.h"

#include <fstream>

#include <gtest/gtest.h>

#include "tests/model/sandbox_root.h"

namespace {

class PoolStateTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = root_.make_pool("z05"); }
  bool has(const std::string& file) { return std::filesystem::exists(root_.path(dir_ + "/" + file)); }
  void put(const std::string& file) { std::ofstream(root_.path(dir_ + "/" + file)) << "x"; }

  SandboxRoot root_;
  std::string dir_;
};

TEST_F(PoolStateTest, MarksMoveThroughTheStates) {
  PoolState ps("z05");
  EXPECT_EQ(ps.dir(), dir_);
  int error = -1;
  EXPECT_EQ(ps.read(error), PoolState::started);  // no marks yet
  EXPECT_EQ(error, 0);
  for (int state : {PoolState::stopped, PoolState::started, PoolState::suspended, PoolState::stopped}) {
    ASSERT_TRUE(PoolState::set_marks("z05", state)) << state;
    EXPECT_EQ(PoolState::read("z05"), state);
    EXPECT_EQ(has(".pool.stopped"), state == PoolState::stopped) << state;
    EXPECT_EQ(has(".pool.suspended"), state == PoolState::suspended) << state;
  }
  // Nothing half-written is left behind.
  for (const auto& entry : std::filesystem::directory_iterator(root_.path(dir_)))
    EXPECT_NE(entry.path().extension(), ".tmp") << entry.path();
}

TEST_F(PoolStateTest, MarksWrittenByHand) {
  // VM marks and the lock file are not pool marks.
  for (const char* file : {"403404.suspended", "403405.pool_suspended", ".lock"}) put(file);
  EXPECT_EQ(PoolState::read("z05"), PoolState::started);
  put(".pool.stopped");
  put(".pool.suspended");
  EXPECT_EQ(PoolState::read("z05"), PoolState::suspended);  // both: suspended wins
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
  root_.write(dir, "not a directory");
  EXPECT_EQ(PoolState::read("z09", error), PoolState::unreadable);
  EXPECT_EQ(error, ENOTDIR);
  EXPECT_FALSE(PoolState::set_marks("z09", PoolState::suspended));
  root_.forget_sem(state_sem::pool_name("z09"));
}

TEST_F(PoolStateTest, BadNamesAndStates) {
  int error = 0;
  for (const char* pool : {"", "..", "a/b"}) {
    EXPECT_EQ(PoolState::read(pool, error), PoolState::unreadable) << pool;
    EXPECT_EQ(error, EINVAL);
    EXPECT_FALSE(PoolState::set_marks(pool, PoolState::stopped)) << pool;
  }
  for (int state : {int(PoolState::unknown), int(PoolState::unreadable), 9})
    EXPECT_FALSE(PoolState::set_marks("z05", state)) << state;
  EXPECT_EQ(PoolState::read("z05"), PoolState::started);
}

TEST_F(PoolStateTest, MarksAreSetEvenWhenTheSemaphoreIsHeld) {
  state_sem held(state_sem::pool_name("z05"));
  ASSERT_TRUE(held.held());
  EXPECT_TRUE(PoolState("z05").set_marks(PoolState::stopped, std::chrono::milliseconds(20)));
  EXPECT_EQ(PoolState::read("z05"), PoolState::stopped);
}

TEST(PoolStateName, NamesAndOutOfRange) {
  const char* names[] = {"unknown", "stopped", "started", "suspended", "unreadable"};
  for (int state = 0; state < 5; ++state) EXPECT_EQ(pool_state_name(state), names[state]);
  EXPECT_EQ(pool_state_name(5), "bad_enum_PoolState");
  EXPECT_EQ(pool_state_name(-1), "bad_enum_PoolState");
}

}  // namespace
