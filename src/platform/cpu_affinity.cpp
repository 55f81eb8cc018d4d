#include "platform/cpu_affinity.h"

#include <sched.h>

#include <cerrno>
#include <cstring>

#include <fmt/format.h>

namespace platform {

std::vector<int> process_cpus(pid_t pid, std::string* error) {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (pid <= 0 || ::sched_getaffinity(pid, sizeof set, &set) != 0) {
    if (error) *error = fmt::format("process {}: {}", pid, std::strerror(pid <= 0 ? ESRCH : errno));
    return {};
  }
  std::vector<int> cpus;
  for (int cpu = 0; cpu < CPU_SETSIZE && cpu < 1024; ++cpu)
    if (CPU_ISSET(cpu, &set)) cpus.push_back(cpu);
  return cpus;
}

}  // namespace platform
