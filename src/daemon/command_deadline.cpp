#include "daemon/command_deadline.h"

double command_deadline_s(const std::string& method, int64_t timeout_s,
                          const DeadlineOptions& options) {
  if (method == "vms-resume" || method == "vms-suspend") return options.long_s;
  const bool timed = method == "vms-send" || method == "vms-stop" || method == "vms-receive" ||
                     method == "vms-restart";
  if (timed && timeout_s >= 1 && timeout_s <= options.max_timeout_s)
    return static_cast<double>(timeout_s) + options.base_s;
  return options.base_s;
}
