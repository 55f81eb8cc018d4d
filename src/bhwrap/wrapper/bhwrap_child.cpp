// The forked child that becomes bhyve: start log, priority, CPU binding,
// working directory, exec.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <spdlog/spdlog.h>

#include "bhwrap/wrapper/bhwrap.h"
#include "driver/config.h"
#include "hostlib/cpu_domains.h"
#include "platform/cpu_set.h"
#include "platform/host_root.h"

namespace {

constexpr const char* kBhyve = "/usr/sbin/bhyve";
// The null device is the machine's own, not part of a host layout.
constexpr const char* kNullDevice = "/dev/null";
// The status of a child that could not execute bhyve (as a shell reports a
// program it cannot run); the wrapper reports it like any exit code.
constexpr int kExecFailedStatus = 127;

// Opens the start log for appending, creating its directory; the null device
// when that fails.
int open_start_log(const std::string& real_path) {
  std::string path = platform::host_path(real_path);
  std::error_code ec;
  std::filesystem::path dir = std::filesystem::path(path).parent_path();
  if (!dir.empty() && !std::filesystem::exists(dir, ec))
    std::filesystem::create_directories(dir, ec);
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  if (fd < 0) {
    fd = ::open(kNullDevice, O_WRONLY);
    spdlog::warn("Unable to open log-file {}. The output will be redirected to /dev/null.", real_path);
  }
  return fd;
}

void write_all(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
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

// Binds this process to the memory domain the daemon chose, when the VM's
// CPUs fit into it.
void bind_to_memory_domain(const std::string& vm_id, uint16_t topology) {
  int64_t domain = Config::instance().cpu_domain;
  if (domain < 0) return;
  std::map<int, int> domains = cpu_domains();
  if (static_cast<uint64_t>(domain) >= domains.size()) return;
  auto it = std::next(domains.begin(), static_cast<long>(domain));
  uint64_t cores = topology & 0xff;
  uint64_t sockets = (topology >> 8) & 0x0f;
  uint64_t threads = (topology >> 12) & 0x0f;
  if (threads * cores * sockets > static_cast<uint64_t>(it->second)) return;
  std::string error;
  if (!platform::bind_process_cpus(::getpid(), it->first, it->second, &error)) {
    spdlog::warn("vm_id={} BhWrap::exec() binding to the numa-domain failed: {}", vm_id, error);
    return;
  }
  spdlog::info("vm_id={} BhWrap::exec() binding to the numa-domain: CPU {}:{}", vm_id, it->first,
               it->first + it->second - 1);
}

}  // namespace

void BhWrap::run_bhyve_child(const std::vector<std::string>& args) const {
  ev_loop_fork(loop_);
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);

  int log = open_start_log(start_log_path());
  if (log >= 0) {
    ::dup2(log, 1);
    ::dup2(log, 2);
    if (log > 2) ::close(log);
  }
  int null_fd = ::open(kNullDevice, O_RDWR);
  if (null_fd >= 0 && null_fd != 0) {
    ::dup2(null_fd, 0);
    ::close(null_fd);
  }

  if (static_cast<uint64_t>(command_.cpu_priority) <= 20)
    ::setpriority(PRIO_PROCESS, 0, static_cast<int>(command_.cpu_priority));
  bind_to_memory_domain(command_.vm_id, command_.topology);
  if (::chdir(platform::host_path(command_.root_fs).c_str()) != 0) {
    // bhyve runs where it is; its paths are absolute.
  }

  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  write_all(2, start_header() + argument_line(args));

  std::string program = platform::host_path(args.front());
  ::execv(program.c_str(), argv.data());

  // Only this child ends here: the wrapper sees its exit status like any
  // other bhyve exit and reports the run.
  spdlog::error("{}. vm_id={} {} not found or access is denied.", log_prefix(), command_.vm_id,
                kBhyve);
  spdlog::default_logger()->flush();
  ::_exit(kExecFailedStatus);
}
