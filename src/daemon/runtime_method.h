// The daemon's note in a running VM's runtime record: which command is ending
// the run (the wrapper reports it as the exit's method) and how long the
// hypervisor gets between SIGTERM and SIGKILL.
#pragma once

#include <cstdint>
#include <string>

inline constexpr int kRuntimeLockTimeoutMs = 1000;

// Under the VM's lock (going on without it after `lock_timeout_ms`): sets
// "method" to `method` and, when `stop_timeout_s` is 1 or more, "tstamp" to
// it; the rest of the record stays. "" or why the record was not written.
std::string write_pending_method(const std::string& vm_id, const std::string& method,
                                 int64_t stop_timeout_s, int lock_timeout_ms = kRuntimeLockTimeoutMs);
