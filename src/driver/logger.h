// The process-wide default logger.
#pragma once

#include <string>

enum class LogTarget {
  terminal,  // the command line: standard error
  syslog,    // the service processes and VM wrappers
};

// Where the syslog lines go under a host root (OMBRIX_ROOT): this file of the
// root, "<month> <day> <time> ombrix-vm[<pid>]: <message>" per line, appended
// by every process of the simulated host.
inline constexpr const char* kHostLogFile = "/var/log/ombrix-vm.log";

// Replaces spdlog's default logger by one writing to the target; the syslog
// identity is the program name. On a real host the syslog target is syslog;
// under a host root it is kHostLogFile.
void init_logger(LogTarget target);

// Applies a level name ("trace", "debug", "info", "warning"/"warn", "error",
// "critical", "off"); false and no change for an unknown name.
bool set_log_level(const std::string& level);
