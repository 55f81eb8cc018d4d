// The states of a VM as the controller reports them.
#pragma once

#include <string>

enum class VmStatus : int {
  undefined = 0,
  offline = 1,
  starting = 2,
  started = 3,
  stopping = 4,
  restarting = 5,
  pausing = 6,
  paused = 7,
  unpausing = 8,
  reconfiguring = 9,
  suspending = 10,
  suspended = 11,
  resuming = 12,
  sending = 13,
  receiving = 14,
  removing = 15,
  reconfig_failed = 16,
};

// The name of a status: lower case ("reconfig_failed") or with its first
// letter capitalised ("Reconfig_failed"); "unknown" for a value beyond the table.
std::string vm_status_name(int status, bool lower);
inline std::string vm_status_name(VmStatus status, bool lower) {
  return vm_status_name(static_cast<int>(status), lower);
}
