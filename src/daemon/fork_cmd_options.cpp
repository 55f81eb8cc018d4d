#include "daemon/fork_cmd_options.h"

#include <stdlib.h>

#include <algorithm>
#include <cmath>
#include <optional>

#include "platform/host_root.h"

namespace {

std::optional<double> number_env(const char* name, bool zero_allowed) {
  const char* text = ::getenv(name);
  if (!text || !*text) return std::nullopt;
  char* end = nullptr;
  double value = std::strtod(text, &end);
  if (*end != '\0' || !std::isfinite(value) || value < 0 || (value == 0 && !zero_allowed))
    return std::nullopt;
  return value;
}

}  // namespace

ForkCmdOptions fork_cmd_options_from_environment() {
  ForkCmdOptions options;
  if (platform::host_root().empty()) return options;
  if (auto interval = number_env("OMBRIX_WATCHDOG_INTERVAL_S", false)) options.watchdog_interval_s = *interval;
  if (auto deadline = number_env("OMBRIX_CONFIRM_DEADLINE_S", false)) {
    options.deadlines.base_s = *deadline;
    options.deadlines.long_s = *deadline;
  }
  if (auto pause = number_env("OMBRIX_WRAPPER_RELEASE_PAUSE_MS", true))
    options.wrapper_timings.release_pause = std::chrono::milliseconds(static_cast<int64_t>(std::min(*pause, 3.6e6)));
  return options;
}
