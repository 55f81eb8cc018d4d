#include "driver/logger.h"

#include <syslog.h>

#include <spdlog/sinks/stdout_color_sinks.h>
#include <spdlog/sinks/syslog_sink.h>
#include <spdlog/spdlog.h>

#include "driver/config.h"

void init_logger(LogTarget target) {
  spdlog::sink_ptr sink;
  if (target == LogTarget::syslog) {
    sink = std::make_shared<spdlog::sinks::syslog_sink_mt>(program_name, LOG_PID, LOG_DAEMON, true);
    sink->set_pattern("%v");
  } else {
    sink = std::make_shared<spdlog::sinks::stderr_color_sink_mt>();
    sink->set_pattern("%^%L%$ %v");
  }
  auto logger = std::make_shared<spdlog::logger>(program_name, sink);
  if (auto old = spdlog::default_logger()) logger->set_level(old->level());
  spdlog::set_default_logger(logger);
}

bool set_log_level(const std::string& level) {
  std::string name = level == "warning" ? "warn" : level;
  auto parsed = spdlog::level::from_str(name);
  if (parsed == spdlog::level::off && name != "off") return false;
  spdlog::set_level(parsed);
  return true;
}
