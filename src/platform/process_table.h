// The host's process table.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace platform {

struct ProcessInfo {
  pid_t pid = 0;
  pid_t ppid = 0;
  // The command line as the process shows it: its arguments, or the one
  // title it set for itself. Trailing empty arguments are dropped.
  std::vector<std::string> args;
  // The arguments joined by single spaces.
  std::string title;
};

// Every live process that has a command line (kernel threads and zombies are
// left out), in ascending process id order. Processes that end while the
// table is read are simply missing.
std::vector<ProcessInfo> list_processes();

// The entry of one process; pid 0 in the result when it is not a live process
// with a command line.
ProcessInfo process_info(pid_t pid);

// True when the process exists and has not ended (a zombie has ended).
bool process_alive(pid_t pid);

// The working directory of the process, "" when it cannot be read.
std::string process_cwd(pid_t pid);

}  // namespace platform
