#include "pool/request/daemon_handle.h"

#include <unistd.h>

#include <algorithm>

#include "driver/process_utils.h"
#include "platform/process_table.h"

platform::ProcessHandle open_daemon_handle() {
  std::vector<int32_t> pids = find_titled_processes(daemon_title);
  std::erase(pids, static_cast<int32_t>(::getpid()));
  auto titled = [&](int32_t pid) { return std::find(pids.begin(), pids.end(), pid) != pids.end(); };
  // A child the daemon has just forked carries its title for a moment: the
  // daemon is the one whose parent is not titled so (or ours, for a worker).
  std::vector<int32_t> daemons;
  const int32_t parent = static_cast<int32_t>(::getppid());
  if (titled(parent)) daemons.push_back(parent);
  for (int32_t pid : pids)
    if (pid != parent && !titled(platform::process_info(pid).ppid)) daemons.push_back(pid);
  for (int32_t pid : daemons) {
    platform::ProcessHandle handle(pid);
    // The id may have gone to another process between the table and the
    // handle: the handle counts only while it holds the daemon.
    if (handle.valid() && platform::process_info(pid).title == daemon_title) return handle;
  }
  return {};
}
