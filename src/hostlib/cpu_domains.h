// The host's memory domains as CPU ranges, for binding a VM to one domain.
#pragma once

#include <map>

// First CPU -> number of CPUs of each memory domain of the host, in ascending
// order of first CPU; the domain index is the position in this order.
std::map<int, int> cpu_domains();
