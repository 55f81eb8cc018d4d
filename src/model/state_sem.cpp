#include "model/state_sem.h"

#include <fcntl.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include <spdlog/spdlog.h>

#include "platform/host_root.h"

namespace {

timespec deadline_after(std::chrono::milliseconds wait) {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  long long ns = ts.tv_nsec + (wait.count() % 1000) * 1000000LL;
  ts.tv_sec += static_cast<time_t>(wait.count() / 1000 + ns / 1000000000LL);
  ts.tv_nsec = static_cast<long>(ns % 1000000000LL);
  return ts;
}

}  // namespace

state_sem::state_sem(const std::string& name, std::chrono::milliseconds wait)
    : name_(platform::ipc_name(name)) {
  sem_ = sem_open(name_.c_str(), O_CREAT, 0600, 1);
  if (sem_ == SEM_FAILED) {
    spdlog::warn("### state_sem: can't open semaphore '{}': {}; going on without it", name_,
                 std::strerror(errno));
    return;
  }
  timespec deadline = deadline_after(wait);
  int rc;
  while ((rc = sem_timedwait(sem_, &deadline)) != 0 && errno == EINTR) {
  }
  if (rc == 0) {
    held_ = true;
    return;
  }
  spdlog::warn("### state_sem: can't take semaphore '{}' in {} ms: {}; going on without it",
               name_, wait.count(), std::strerror(errno));
}

state_sem::~state_sem() {
  if (sem_ == SEM_FAILED) return;
  if (held_) sem_post(sem_);
  sem_close(sem_);
}

std::string state_sem::pool_name(const std::string& pool) { return "/" + pool + "_state.lock"; }

std::string state_sem::vm_name(const std::string& vm_id) { return "/vm." + vm_id + "_state.lock"; }

bool state_sem::remove(const std::string& name) {
  std::string mapped = platform::ipc_name(name);
  return sem_unlink(mapped.c_str()) == 0 || errno == ENOENT;
}
