// Memory domains (NUMA nodes) of the host and binding a process to CPUs.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>

namespace platform {

// The host's memory domains: first CPU of the domain -> number of CPUs in it,
// read from "/sys/devices/system/node" (a host path, so a simulated host can
// lay out its own tree). A node's CPUs are taken from its "cpulist"; a node
// without CPUs is left out, and a list with gaps counts every CPU it names from
// its first one. When the tree is absent or names no CPU, the result is one
// domain of all online CPUs starting at CPU 0.
std::map<int, int> memory_domains();

// Binds every thread of process `pid` to the CPUs first_cpu .. first_cpu+count-1.
// False with `error` (when given) set when the range is invalid or the kernel
// refuses; threads that ended meanwhile are not an error.
bool bind_process_cpus(pid_t pid, int first_cpu, int count, std::string* error = nullptr);

}  // namespace platform
