// The CPUs a process may run on.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace platform {

// The CPUs (0 to 1023) that process `pid` may run on, in ascending order.
// Empty, with `error` (when given) set, when the set cannot be read.
std::vector<int> process_cpus(pid_t pid, std::string* error = nullptr);

}  // namespace platform
