// The body of the suspend worker: prepares the VM's image zvol and has the
// hypervisor write its checkpoint there and stop. Its result goes back to the
// daemon as a "confirm" record whose "reply_queue" is kSuspendWorkerTag, so
// that the daemon tells it from a wrapper's start confirmation.
#pragma once

#include <cstdint>
#include <string>

inline constexpr const char* kSuspendWorkerTag = "vms-suspend-worker";

struct SuspendJob {
  std::string vm_id;
  std::string root_dataset_name;
  uint64_t ram = 0;  // bytes
};

// kStatusOk, or kSuspendNotSupported, kSuspendVolumeFailed,
// kSuspendCheckpointFailed (daemon/daemon_status.h); every failure is logged.
int32_t run_suspend(const SuspendJob& job);

// run_suspend, then its confirmation to the daemon; the worker's exit status.
int suspend_worker_main(const SuspendJob& job);
