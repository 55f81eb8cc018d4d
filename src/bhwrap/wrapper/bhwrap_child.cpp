// The start of the child that becomes bhyve, prepared in the wrapper before
// the fork: start log, priority, CPU binding, working directory, arguments.
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <spdlog/spdlog.h>

#include "bhwrap/wrapper/bhwrap.h"
#include "driver/config.h"
#include "platform/cpu_set.h"
#include "platform/host_root.h"

namespace {

constexpr const char* kBhyve = "/usr/sbin/bhyve";
// The null device is the machine's own, not part of a host layout.
constexpr const char* kNullDevice = "/dev/null";

// Opens the start log for appending, creating its directory; the null device
// when that fails.
int open_start_log(const std::string& real_path) {
  std::string path = platform::host_path(real_path);
  std::error_code ec;
  std::filesystem::path dir = std::filesystem::path(path).parent_path();
  if (!dir.empty() && !std::filesystem::exists(dir, ec))
    std::filesystem::create_directories(dir, ec);
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) {
    fd = ::open(kNullDevice, O_WRONLY | O_CLOEXEC);
    spdlog::warn("Unable to open log-file {}. The output will be redirected to /dev/null.", real_path);
  }
  return fd;
}

std::string start_header() {
  char stamp[100] = {0};
  time_t now = ::time(nullptr);
  struct tm local {};
  ::localtime_r(&now, &local);
  ::strftime(stamp, sizeof stamp, "%F %T", &local);
  std::string header = std::string("--- ") + stamp + " ---\n";
  return header;
}

std::string argument_line(const std::vector<std::string>& args) {
  std::string line;
  for (size_t i = 0; i < args.size(); ++i) {
    if (i > 0) line += " ";
    line += args[i];
  }
  return line + " \n";
}

// The CPUs of the memory domain the daemon chose, when the VM's CPUs fit
// into it; none otherwise.
std::vector<int> memory_domain_binding(const std::string& vm_id, uint16_t topology) {
  int64_t domain = Config::instance().cpu_domain;
  if (domain < 0) return {};
  std::vector<std::vector<int>> domains = platform::memory_domain_cpus();
  if (static_cast<uint64_t>(domain) >= domains.size()) return {};
  // The domain's own CPU set: its CPUs need not be contiguous.
  const std::vector<int>& cpus = domains[static_cast<size_t>(domain)];
  uint64_t cores = topology & 0xff;
  uint64_t sockets = (topology >> 8) & 0x0f;
  uint64_t threads = (topology >> 12) & 0x0f;
  if (threads * cores * sockets > cpus.size()) return {};
  spdlog::info("vm_id={} BhWrap::exec() binding to the numa-domain: CPU {}:{}", vm_id,
               cpus.front(), cpus.front() + static_cast<int>(cpus.size()) - 1);
  return cpus;
}

}  // namespace

std::unique_ptr<BhyveChildStart> BhWrap::prepare_bhyve_child(const std::vector<std::string>& args) const {
  std::string exec_failed = fmt::format("{}. vm_id={} {} not found or access is denied.\n",
                                        log_prefix(), command_.vm_id, kBhyve);
  auto start = std::make_unique<BhyveChildStart>(
      args, platform::host_path(args.front()), open_start_log(start_log_path()),
      ::open(kNullDevice, O_RDWR | O_CLOEXEC), platform::host_path(command_.root_fs),
      start_header() + argument_line(args), std::move(exec_failed));
  if (static_cast<uint64_t>(command_.cpu_priority) <= 20)
    start->set_priority(static_cast<int>(command_.cpu_priority));
  start->set_cpus(memory_domain_binding(command_.vm_id, command_.topology));
  return start;
}
