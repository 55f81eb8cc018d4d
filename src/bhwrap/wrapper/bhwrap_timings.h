// The delays of a VM wrapper run. The defaults are the production values;
// tests pass shorter ones.
#pragma once

#include <chrono>

struct BhWrapTimings {
  // Polling the hypervisor's readiness before the start is confirmed (s).
  double confirm_interval_s = 0.5;
  // SIGKILL after a SIGTERM when the runtime record names no stop time-out,
  // and after a SIGSEGV to the wrapper of a migration receive (s).
  double kill_delay_fallback_s = 30.0;
  // The pause after the remote resources of a run were released.
  std::chrono::milliseconds release_pause{5000};
  // Waiting for the temporary VM node of the end-of-run step to go.
  std::chrono::milliseconds temporary_vm_poll{10};
  int temporary_vm_polls = 200;
  // The longest wait for the VM's lock file (ms).
  int lock_timeout_ms = 1000;
  // Retrying a remote share that the target could not create yet.
  std::chrono::milliseconds share_retry_delay{1000};
  int share_attempts = 15;
};
