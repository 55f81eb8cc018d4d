#include "app/driver.h"

#include <signal.h>
#include <sys/utsname.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <string>
#include <thread>

#include <spdlog/spdlog.h>

#include "app/main_daemon.h"
#include "app/service_control.h"
#include "app/service_lock.h"
#include "driver/command_line.h"
#include "driver/config.h"
#include "hostlib/host_library_check.h"
#include "driver/logger.h"
#include "driver/process_utils.h"
#include "platform/host_root.h"
#include "platform/kmod.h"
#include "platform/self.h"
#include "pool/state/host_inventory_query.h"
#include "pool/poolcli/pool_exec.h"
#include "pool/vmcli/vm_exec.h"

namespace {

// The daemon's descriptor of the pid file: the first one after the standard
// three, which detaching keeps.
constexpr int kServiceLockFd = 3;

// Whether the host libraries (libnvpair, libnv, libzfs, libvmmapi) load with
// every function the controller needs. Stand-in until the host-library
// bindings provide the real check.
void terminate_handler() {
  std::string what = "unknown exception";
  if (auto e = std::current_exception()) {
    try {
      std::rethrow_exception(e);
    } catch (const std::exception& ex) {
      what = ex.what();
    } catch (...) {
    }
  }
  if (platform::host_root().empty())
    ::syslog(LOG_ERR, "### Terminate on unhandled exception: %s", what.c_str());
  else
    spdlog::critical("### Terminate on unhandled exception: {}", what);
  std::abort();
}

std::string os_version() {
  struct utsname u {};
  if (::uname(&u) != 0) return "unknown";
  return std::string(u.sysname) + " " + u.release + " " + u.version + " " + u.machine;
}

std::string pid_list(const std::vector<int32_t>& pids) {
  std::string text;
  for (int32_t pid : pids) text += (text.empty() ? "" : ",") + std::to_string(pid);
  return text;
}

int error(const std::string& text) {
  std::fprintf(stderr, "Error: %s\n", text.c_str());
  return 1;
}

}  // namespace

int app_main(int argc, char** argv) {
  std::set_terminate(terminate_handler);
  init_logger(LogTarget::terminal);

  Config& config = Config::instance();
  int parsed = parse_command_line(argc, argv, config);
  if (parsed > 0) return 0;
  if (parsed < 0) return 1;

  config.load();
  if (!set_log_level(config.effective_log_level()))
    spdlog::warn("### Unknown log level '{}'", config.effective_log_level());

  std::string file_name = std::filesystem::path(platform::executable_path()).filename().string();
  std::string expected = program_name;
  if (file_name != expected && file_name != expected + ".debug") {
    std::fprintf(stderr, "Bad execution file name: [%s] <> [%s[.debug]]\n", file_name.c_str(),
                 program_name);
    return 1;
  }
  if (::geteuid() != 0) {
    std::fprintf(stderr, "The program must be run at root\n");
    return 1;
  }

  MainDaemon daemon;
  return Driver(daemon, config).exec();
}

int Driver::exec() {
  if (config_.system == "vm") return VM::exec(config_.action, config_.id, config_.action_param) ? 0 : 1;
  if (config_.system == "pool") return Pool::exec(config_.action, config_.id, config_.action_param) ? 1 : 0;
  if (config_.action == "start") return start();
  if (config_.action == "stop") return stop();
  if (config_.action == "status") return status();
  if (config_.action == "inventory") return inventory();
  return error("unknown action '" + config_.action + "'");
}

int Driver::start() {
  if (!config_.daemon) return error("Starting only as daemon");
  spdlog::info("***** {} starting; OS: {}", version_text(), os_version());
  for (const char* module : {"nmdm", "mqueuefs"}) {
    std::string why;
    if (!platform::load_kernel_module(module, &why)) {
      spdlog::critical("!!! Can't load kernel module '{}': {}", module, why);
      return 1;
    }
  }
  HostLibraryCheck libraries = check_host_libraries();
  libraries.log();
  if (!libraries.passed()) return 1;

  // Whoever holds the pid file's lock is the service's daemon, or the start
  // that is bringing it up.
  ServiceLock lock;
  std::string lock_error;
  bool locked = lock.acquire(&lock_error);
  if (!locked && !lock_error.empty()) return error(lock_error);
  ServiceProcesses running = find_service_processes();
  auto already_running = [&] {
    pid_t pid = running.daemons.empty() ? lock.recorded_pid() : running.daemons.front();
    spdlog::info("Ombrix QTR is already running, pid={}", pid);
    return 1;
  };
  if (!locked && !running.complete()) {
    // A daemon that is still starting completes in a moment.
    for (int i = 0; i < options_.start_polls && !running.complete(); ++i) {
      std::this_thread::sleep_for(options_.stop_poll_interval);
      running = find_service_processes();
    }
    if (running.none()) return already_running();
  }
  if (running.complete()) return already_running();
  if (!running.none()) {
    spdlog::warn("Ombrix QTR partially runned, it will be restarted");
    signal_all(running.all(), SIGKILL);
    if (!wait_until_gone(running.all(), options_.stop_polls, options_.stop_poll_interval))
      return error("the processes " + pid_list(running.all()) + " do not end");
    running = {};
  }
  if (!locked) {
    locked = lock.acquire(&lock_error);
    if (!locked) return lock_error.empty() ? already_running() : error(lock_error);
  }

  std::fflush(nullptr);
  pid_t pid = ::fork();
  if (pid < 0) return error(std::string("fork: ") + std::strerror(errno));
  if (pid > 0) {
    spdlog::info("## Ombrix QTR (daemon) started, pid={}", pid);
    return 0;
  }

  // The daemon keeps the lock, on a descriptor that detaching leaves open.
  std::string why;
  if (!lock.move_to(kServiceLockFd)) why = "the pid file's lock is lost";
  set_service_lock_fd(kServiceLockFd);
  lock.record_own_pid();
  if (!why.empty() || !detach_from_terminal(&why, kServiceLockFd)) {
    init_logger(LogTarget::syslog);
    spdlog::critical("!!! Can't detach the daemon: {}", why);
    ::_exit(1);
  }
  init_logger(LogTarget::syslog);
  set_process_title(daemon_title);
  ::_exit(daemon_.run());
}

int Driver::stop() {
  ServiceProcesses running = find_service_processes();
  if (running.none()) {
    std::printf("Ombrix QTR is not running\n");
    return 0;
  }
  // The daemon passes SIGTERM on to the AMQP daemon; a lone AMQP daemon gets
  // it directly.
  signal_all(running.daemons.empty() ? running.amqp_daemons : running.daemons, SIGTERM);
  if (!wait_until_gone(running.all(), options_.stop_polls, options_.stop_poll_interval)) {
    spdlog::warn("## Ombrix QTR does not end on SIGTERM; it is killed");
    signal_all(running.amqp_daemons, SIGKILL);
    signal_all(running.daemons, SIGKILL);
    if (!wait_until_gone(running.all(), options_.stop_polls, options_.stop_poll_interval))
      return error("Ombrix QTR processes " + pid_list(running.all()) + " do not end");
  }
  std::printf("Ombrix QTR stopped\n");
  return 0;
}

int Driver::status() {
  ServiceProcesses running = find_service_processes();
  auto line = [](const char* title, const std::vector<int32_t>& pids) {
    if (pids.empty())
      std::printf("%s: not running\n", title);
    else
      std::printf("%s: running, pid=%s\n", title, pid_list(pids).c_str());
  };
  line(daemon_title, running.daemons);
  line(amqp_daemon_title, running.amqp_daemons);
  return running.complete() ? 0 : 1;
}

int Driver::inventory() {
  std::printf("%s\n", make_jsonrpc_pool_reply(collect_host_inventory()).dump(2).c_str());
  return 0;
}
