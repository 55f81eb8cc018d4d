#include "driver/restart_policy.h"

#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <utility>

RestartPolicy::RestartPolicy(Options options) : options_(std::move(options)) {
  if (options_.delays.empty()) options_.delays.push_back(0);
}

bool RestartPolicy::should_restart(int wait_status) {
  if (WIFEXITED(wait_status)) return WEXITSTATUS(wait_status) != 0;
  if (WIFSIGNALED(wait_status)) {
    int sig = WTERMSIG(wait_status);
    return sig != SIGINT && sig != SIGKILL && sig != SIGTERM;
  }
  return false;  // stopped or continued: still there
}

double RestartPolicy::next_delay(double run_seconds) {
  if (run_seconds >= options_.steady_run) restarts_ = 0;
  ++restarts_;
  size_t index = std::min(static_cast<size_t>(restarts_ - 1), options_.delays.size() - 1);
  return std::max(options_.delays[index], options_.min_delay);
}
