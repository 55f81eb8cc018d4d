#include "ipc/vm_lock.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include <spdlog/spdlog.h>

#include "driver/config.h"
#include "ipc/file_lock.h"
#include "platform/host_root.h"

std::string VmLock::lock_path(const std::string& vm_id) {
  return std::string("/var/run/") + program_name + ".vm." + vm_id + ".lock";
}

VmLock::VmLock(const std::string& vm_id, int timeout_ms, int retry_interval_ms) {
  const std::string path = platform::host_path(lock_path(vm_id));
  if (vm_id.empty() || vm_id.find('/') != std::string::npos) {
    spdlog::error("### IPC. VM lock: bad VM id '{}'", vm_id);
    return;
  }
  UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
  if (!fd) {
    spdlog::error("### IPC. vm_id={} Can't open lock file '{}': {}", vm_id, path, std::strerror(errno));
    return;
  }
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    int err = lock_whole_file(fd.get(), F_WRLCK, false);
    if (err == 0) {
      fd_ = std::move(fd);
      return;
    }
    if (err != EAGAIN && err != EACCES) {
      spdlog::error("### IPC. vm_id={} Can't lock '{}': {}", vm_id, path, std::strerror(err));
      return;
    }
    if (Clock::now() >= deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(std::max(1, retry_interval_ms)));
  }
  spdlog::warn("### IPC. vm_id={} VM lock not taken in {} ms; going on without it", vm_id, timeout_ms);
}
