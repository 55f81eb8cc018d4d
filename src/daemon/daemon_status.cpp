#include "daemon/daemon_status.h"

#include <fmt/format.h>

std::string wrapper_result_text(int32_t status) {
  switch (status) {
    case -1: return "The hypervisor did not start or ended before the start was confirmed";
    case -2: return "/usr/sbin/bhyve not found or access is denied";
    case -3: return "The VM record cannot be parsed";
    case -4: return "Remote disk attach error";
    case -5: return "bhyve start parameters error";
    case -6: return "The checkpoint check failed";
    case -7: return "VM is suspended";
    case -8: return "VM is not suspended";
    case -9: return "Mismatched disks configuration";
    case -10: return "Unsupported network backend";
    default: return fmt::format("The VM wrapper failed with status {}", status);
  }
}

std::string suspend_result_text(int32_t status) {
  switch (status) {
    case kStatusOk: return "VM suspended";
    case kSuspendNotSupported: return "Suspend/Resume operations not supported";
    case kSuspendVolumeFailed: return "The suspend image volume cannot be prepared";
    case kSuspendCheckpointFailed: return "The hypervisor did not write the checkpoint";
    case kSuspendMarkFailed: return "The image is written, but the suspend mark is not set";
    default: return fmt::format("Suspend failed with status {}", status);
  }
}
