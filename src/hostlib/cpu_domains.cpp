#include "hostlib/cpu_domains.h"

#include "platform/cpu_set.h"

std::map<int, int> cpu_domains() { return platform::memory_domains(); }
