#include "driver/logger.h"

#include <fcntl.h>
#include <syslog.h>
#include <unistd.h>

#include <mutex>

#include <spdlog/sinks/base_sink.h>
#include <spdlog/sinks/stdout_color_sinks.h>
#include <spdlog/sinks/syslog_sink.h>
#include <spdlog/spdlog.h>

#include "driver/config.h"
#include "platform/host_root.h"

namespace {

// The syslog lines of a simulated host: appended to one file that every
// process of the host shares. Each line is one write() to a descriptor opened
// with O_APPEND, so lines of several processes never mix; the file is opened
// for each line, so a process that closed its descriptors after a fork still
// logs.
class HostLogFileSink : public spdlog::sinks::base_sink<std::mutex> {
 public:
  explicit HostLogFileSink(std::string path) : path_(std::move(path)) {}

 protected:
  void sink_it_(const spdlog::details::log_msg& msg) override {
    spdlog::memory_buf_t line;
    formatter_->format(msg, line);
    int fd = ::open(path_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0640);
    if (fd < 0) return;
    ssize_t written = ::write(fd, line.data(), line.size());
    (void)written;  // nowhere left to report a failed log line
    ::close(fd);
  }
  void flush_() override {}

 private:
  std::string path_;
};

}  // namespace

void init_logger(LogTarget target) {
  spdlog::sink_ptr sink;
  if (target == LogTarget::syslog && !platform::host_root().empty()) {
    sink = std::make_shared<HostLogFileSink>(platform::host_path(kHostLogFile));
    sink->set_pattern(std::string("%b %d %H:%M:%S ") + program_name + "[%P]: %v");
  } else if (target == LogTarget::syslog) {
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
