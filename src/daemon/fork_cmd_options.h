// The timing of the daemon's VM operations.
#pragma once

#include "bhwrap/wrapper/bhwrap_timings.h"
#include "daemon/command_deadline.h"

struct ForkCmdOptions {
  // How often the watchdog looks at the waiting commands (s).
  double watchdog_interval_s = 5;
  DeadlineOptions deadlines;
  // The delays of the VM wrappers the daemon starts.
  BhWrapTimings wrapper_timings;
};

// The production values, except on a simulated host (OMBRIX_ROOT set), where
// the environment may shorten them for tests:
//   OMBRIX_WATCHDOG_INTERVAL_S  the watchdog's interval
//   OMBRIX_CONFIRM_DEADLINE_S   replaces both deadlines (300 s and 3600 s)
//   OMBRIX_WRAPPER_RELEASE_PAUSE_MS  the wrappers' pause after a run (ms)
// Values that are not positive numbers (the pause: not 0 or more) are ignored.
ForkCmdOptions fork_cmd_options_from_environment();
