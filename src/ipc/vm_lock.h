// The per-VM lock file "/var/run/<program>.vm.<id>.lock": whoever changes a
// VM's run (the daemon, a worker, the VM's wrapper) holds it meanwhile. The
// lock is a record lock on the file, so it goes with its holder when that
// process dies; the file itself stays.
#pragma once

#include <string>

#include "ipc/unique_fd.h"

class VmLock {
 public:
  static constexpr int kRetryIntervalMs = 10;

  // Takes the VM's lock, trying again every `retry_interval_ms` until
  // `timeout_ms` has passed. When it cannot be taken the object holds no lock
  // (locked() is false) and the caller goes on without it.
  VmLock(const std::string& vm_id, int timeout_ms, int retry_interval_ms = kRetryIntervalMs);
  // Releases the lock.
  ~VmLock() = default;
  VmLock(const VmLock&) = delete;
  VmLock& operator=(const VmLock&) = delete;

  bool locked() const { return fd_.valid(); }

  // The lock file of the VM (real path, before host-root mapping).
  static std::string lock_path(const std::string& vm_id);

 private:
  UniqueFd fd_;
};
