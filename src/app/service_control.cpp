#include "app/service_control.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <thread>

#include "driver/process_utils.h"
#include "platform/host_root.h"
#include "platform/process_table.h"
#include "platform/self.h"

std::vector<int32_t> ServiceProcesses::all() const {
  std::vector<int32_t> pids = amqp_daemons;
  pids.insert(pids.end(), daemons.begin(), daemons.end());
  return pids;
}

ServiceProcesses find_service_processes() {
  return {find_titled_processes(daemon_title), find_titled_processes(amqp_daemon_title)};
}

bool wait_until_gone(const std::vector<int32_t>& pids, int polls,
                     std::chrono::milliseconds interval) {
  for (int i = 0;; ++i) {
    bool any = false;
    for (int32_t pid : pids) any = any || platform::process_alive(pid);
    if (!any) return true;
    if (i >= polls) return false;
    std::this_thread::sleep_for(interval);
  }
}

void signal_all(const std::vector<int32_t>& pids, int signal) {
  for (int32_t pid : pids)
    if (pid > 0) ::kill(pid, signal);
}

bool detach_from_terminal(std::string* error, int keep_fd) {
  if (::setsid() < 0) {
    if (error) *error = std::string("setsid: ") + std::strerror(errno);
    return false;
  }
  ::umask(0);
  std::string root = platform::host_path("/");
  if (::chdir(root.c_str()) != 0) {
    if (error) *error = "chdir " + root + ": " + std::strerror(errno);
    return false;
  }
  platform::close_descriptors_from(keep_fd >= 3 ? keep_fd + 1 : 3);
  int null = ::open("/dev/null", O_RDWR);
  if (null >= 0) {
    for (int fd = 0; fd <= 2; ++fd) ::dup2(null, fd);
    if (null > 2) ::close(null);
  }
  return true;
}
