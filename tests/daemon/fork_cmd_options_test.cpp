#include "daemon/fork_cmd_options.h"

#include <stdlib.h>

#include <gtest/gtest.h>

#include "tests/support/temp_root.h"

namespace {

using test_support::TempRoot;

// Sets the three variables for the life of the object.
class TimingEnv {
 public:
  TimingEnv(const char* interval, const char* deadline, const char* pause) {
    set("OMBRIX_WATCHDOG_INTERVAL_S", interval);
    set("OMBRIX_CONFIRM_DEADLINE_S", deadline);
    set("OMBRIX_WRAPPER_RELEASE_PAUSE_MS", pause);
  }
  ~TimingEnv() {
    for (const char* name :
         {"OMBRIX_WATCHDOG_INTERVAL_S", "OMBRIX_CONFIRM_DEADLINE_S", "OMBRIX_WRAPPER_RELEASE_PAUSE_MS"})
      ::unsetenv(name);
  }

 private:
  static void set(const char* name, const char* value) {
    if (value) ::setenv(name, value, 1); else ::unsetenv(name);
  }
};

void expect_production_values(const ForkCmdOptions& options) {
  EXPECT_EQ(options.watchdog_interval_s, 5);
  EXPECT_EQ(options.deadlines.base_s, 300);
  EXPECT_EQ(options.deadlines.long_s, 3600);
  EXPECT_EQ(options.wrapper_timings.release_pause.count(), 5000);
}

TEST(ForkCmdOptions, ProductionValuesOnTheRealHost) {
  TimingEnv env("0.5", "2", "0");
  expect_production_values(fork_cmd_options_from_environment());
}

TEST(ForkCmdOptions, ShortenedOnASimulatedHost) {
  TempRoot root;
  {
    TimingEnv env("0.5", "2", "0");
    ForkCmdOptions options = fork_cmd_options_from_environment();
    EXPECT_EQ(options.watchdog_interval_s, 0.5);
    EXPECT_EQ(options.deadlines.base_s, 2);
    EXPECT_EQ(options.deadlines.long_s, 2);
    EXPECT_EQ(options.wrapper_timings.release_pause.count(), 0);
  }
  {
    // Unusable values leave the defaults.
    TimingEnv env("0", "-3", "soon");
    expect_production_values(fork_cmd_options_from_environment());
  }
  {
    TimingEnv env("2x", "nan", "1e300");
    ForkCmdOptions options = fork_cmd_options_from_environment();
    EXPECT_EQ(options.watchdog_interval_s, 5);
    EXPECT_EQ(options.deadlines.base_s, 300);
    EXPECT_EQ(options.wrapper_timings.release_pause.count(), 3600000);
  }
}

}  // namespace
