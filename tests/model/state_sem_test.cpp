#include "model/state_sem.h"

#include <gtest/gtest.h>

#include "tests/model/sandbox_root.h"

namespace {

TEST(StateSem, HeldUntilDestroyedAndTimedOutMeanwhile) {
  SandboxRoot root;
  const std::string name = state_sem::pool_name("semtest");
  root.forget_sem(name);
  {
    state_sem first(name);
    ASSERT_TRUE(first.held());
    EXPECT_NE(first.name().find("_state.lock"), std::string::npos);
    EXPECT_NE(first.name(), name);  // tagged by the root
    state_sem second(name, std::chrono::milliseconds(20));
    EXPECT_FALSE(second.held());
  }
  state_sem again(name, std::chrono::milliseconds(20));
  EXPECT_TRUE(again.held());
  EXPECT_TRUE(state_sem::remove("/never_made_state.lock"));  // a missing one is fine
}

}  // namespace
