#include "driver/restart_policy.h"

#include <signal.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

namespace {

int exited(int code) { return W_EXITCODE(code, 0); }
int killed(int sig) { return W_EXITCODE(0, sig); }

TEST(RestartPolicy, WhichEndsAreRestarted) {
  EXPECT_FALSE(RestartPolicy::should_restart(exited(0)));
  EXPECT_TRUE(RestartPolicy::should_restart(exited(1)));
  EXPECT_TRUE(RestartPolicy::should_restart(exited(255)));
  EXPECT_FALSE(RestartPolicy::should_restart(killed(SIGINT)));
  EXPECT_FALSE(RestartPolicy::should_restart(killed(SIGKILL)));
  EXPECT_FALSE(RestartPolicy::should_restart(killed(SIGTERM)));
  EXPECT_TRUE(RestartPolicy::should_restart(killed(SIGSEGV)));
  EXPECT_TRUE(RestartPolicy::should_restart(killed(SIGABRT)));
  EXPECT_TRUE(RestartPolicy::should_restart(killed(SIGUSR1)));
}

TEST(RestartPolicy, BackOffGrowsAndStays) {
  RestartPolicy policy;
  std::vector<double> delays;
  for (int i = 0; i < 7; ++i) delays.push_back(policy.next_delay(0.5));
  EXPECT_EQ(delays, (std::vector<double>{1, 2, 5, 15, 30, 30, 30}));
  EXPECT_EQ(policy.restarts(), 7);
}

TEST(RestartPolicy, SteadyRunStartsTheCountAgain) {
  RestartPolicy policy;
  policy.next_delay(1);
  policy.next_delay(1);
  EXPECT_EQ(policy.next_delay(34.9), 5);
  EXPECT_EQ(policy.next_delay(35), 1);
  EXPECT_EQ(policy.restarts(), 1);
  EXPECT_EQ(policy.next_delay(0), 2);
}

TEST(RestartPolicy, InjectedDelaysAndFloor) {
  RestartPolicy policy({{0.01, 0.02}, 0.5, 0});
  EXPECT_EQ(policy.next_delay(0), 0.01);
  EXPECT_EQ(policy.next_delay(0), 0.02);
  EXPECT_EQ(policy.next_delay(0), 0.02);
  EXPECT_EQ(policy.next_delay(0.6), 0.01);

  RestartPolicy floored({{1, 2, 5}, 35, 4});
  EXPECT_EQ(floored.next_delay(0), 4);
  EXPECT_EQ(floored.next_delay(0), 4);
  EXPECT_EQ(floored.next_delay(0), 5);

  RestartPolicy empty({{}, 35, 0});
  EXPECT_EQ(empty.next_delay(0), 0);
}

}  // namespace
