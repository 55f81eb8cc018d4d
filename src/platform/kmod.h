// Kernel modules the controller needs loaded.
#pragma once

#include <string>

namespace platform {

// Makes sure the kernel module `name` is loaded. "nmdm" (null-modem devices)
// and "mqueuefs" (POSIX message queues) are known; on Linux both facilities
// are part of the kernel, so there is nothing to load. Any other name is an
// error: false with `error` (when given) set.
bool load_kernel_module(const std::string& name, std::string* error = nullptr);

}  // namespace platform
