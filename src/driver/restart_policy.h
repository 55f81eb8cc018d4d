// When and after what delay a service process restarts the child it
// supervises.
#pragma once

#include <vector>

class RestartPolicy {
 public:
  struct Options {
    // The n-th restart in a row waits delays[min(n - 1, last)] seconds.
    std::vector<double> delays{1, 2, 5, 15, 30};
    // A child that ran at least this long starts the count again.
    double steady_run = 35;
    // No restart waits less than this.
    double min_delay = 0;
  };

  RestartPolicy() : RestartPolicy(Options{}) {}
  explicit RestartPolicy(Options options);

  // Whether a child that ended with `wait_status` (as from waitpid) is
  // restarted: not after exit status 0, nor after SIGINT, SIGKILL or SIGTERM.
  static bool should_restart(int wait_status);

  // Counts one more restart of a child that ran `run_seconds` and returns how
  // long to wait before it.
  double next_delay(double run_seconds);

  // Restarts counted since the count last started again.
  int restarts() const { return restarts_; }

 private:
  Options options_;
  int restarts_ = 0;
};
