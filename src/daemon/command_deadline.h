// How long the daemon waits for a forked operation to confirm (a wrapper's
// start, a worker's result, a VM's exit after a stop) before the watchdog
// gives the command up.
#pragma once

#include <cstdint>
#include <string>

struct DeadlineOptions {
  double base_s = 300;        // every method
  double long_s = 3600;       // "vms-resume" and "vms-suspend"
  int64_t max_timeout_s = 604800;  // a longer command time-out is not added
};

// Seconds from the start of the operation: `long_s` for "vms-resume" and
// "vms-suspend"; the command's time-out plus `base_s` for "vms-send",
// "vms-stop", "vms-receive" and "vms-restart" when that time-out is 1 to
// `max_timeout_s`; `base_s` otherwise.
double command_deadline_s(const std::string& method, int64_t timeout_s,
                          const DeadlineOptions& options = {});
