// Memory domains (NUMA nodes) of the host and binding a process to CPUs.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

namespace platform {

// The host's memory domains: first CPU of the domain -> number of CPUs in it,
// read from "/sys/devices/system/node" (a host path, so a simulated host can
// lay out its own tree). A node's CPUs are taken from its "cpulist"; a node
// without CPUs is left out, and a list with gaps counts every CPU it names from
// its first one. When the tree is absent or names no CPU, the result is one
// domain of all online CPUs starting at CPU 0.
std::map<int, int> memory_domains();

// The CPUs of each memory domain, in ascending order, the domains in the order
// of memory_domains() (so a domain's index is the same in both). A domain's
// CPUs need not be contiguous ("8-9,12" is {8, 9, 12}).
std::vector<std::vector<int>> memory_domain_cpus();

// Binds every thread of process `pid` to exactly the CPUs `cpus`. False with
// `error` (when given) set when the set is empty or names a CPU out of range,
// or the kernel refuses; threads that ended meanwhile are not an error.
bool bind_process_cpus(pid_t pid, const std::vector<int>& cpus, std::string* error = nullptr);

}  // namespace platform
