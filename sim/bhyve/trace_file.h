// What the stand-in hypervisor was started with, for tests: the file
// "bhyve-sim.trace" in its working directory, written once at start:
//
//   pid=<pid>
//   cwd=<working directory>
//   nice=<nice value>
//   cpus=<CPU list, e.g. 0-3,6>
//   arg=<argument>        one line per argument, the program name first
//
// Arguments are escaped: a backslash is doubled, a line feed and a carriage
// return become a backslash followed by "n" and "r".
#pragma once

#include <string>
#include <vector>

namespace bhyve_sim {

inline constexpr const char* trace_file_name = "bhyve-sim.trace";

// Writes the trace of this process into `dir` (through a ".tmp" file);
// false with `error` set on failure.
bool write_trace(const std::string& dir, const std::vector<std::string>& args, std::string* error);

// The CPUs this process may run on, as a list of ranges ("0-3,6").
std::string affinity_text();

}  // namespace bhyve_sim
