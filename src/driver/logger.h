// The process-wide default logger.
#pragma once

#include <string>

enum class LogTarget {
  terminal,  // the command line: standard error
  syslog,    // the service processes and VM wrappers
};

// Replaces spdlog's default logger by one writing to the target; the syslog
// identity is the program name.
void init_logger(LogTarget target);

// Applies a level name ("trace", "debug", "info", "warning"/"warn", "error",
// "critical", "off"); false and no change for an unknown name.
bool set_log_level(const std::string& level);
