#include "bhwrap/wrapper/bhyve_child_start.h"

#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <utility>

namespace {

// The status of a child that could not execute bhyve (as a shell reports a
// program it cannot run); the wrapper reports it like any exit code.
constexpr int kExecFailedStatus = 127;

void write_all(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

}  // namespace

BhyveChildStart::BhyveChildStart(std::vector<std::string> args, std::string program, int log_fd,
                                 int null_fd, std::string workdir, std::string header,
                                 std::string exec_failed)
    : args_(std::move(args)),
      program_(std::move(program)),
      log_fd_(log_fd),
      null_fd_(null_fd),
      workdir_(std::move(workdir)),
      header_(std::move(header)),
      exec_failed_(std::move(exec_failed)) {
  argv_.reserve(args_.size() + 1);
  for (auto& arg : args_) argv_.push_back(arg.data());
  argv_.push_back(nullptr);
  CPU_ZERO(&cpus_);
}

void BhyveChildStart::set_cpus(const std::vector<int>& cpus) {
  CPU_ZERO(&cpus_);
  for (int cpu : cpus)
    if (cpu >= 0 && cpu < CPU_SETSIZE) CPU_SET(cpu, &cpus_);
  bind_cpus_ = CPU_COUNT(&cpus_) > 0;
}

void BhyveChildStart::exec() const {
  // The wrapper's handlers (its event loop's) are not bhyve's.
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGSEGV, SIGCHLD}) ::signal(sig, SIG_DFL);
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);

  if (log_fd_) {
    ::dup2(log_fd_.get(), 1);
    ::dup2(log_fd_.get(), 2);
  }
  if (null_fd_) ::dup2(null_fd_.get(), 0);
  if (priority_) ::setpriority(PRIO_PROCESS, 0, *priority_);
  // The child has one thread: its own affinity is the process's.
  if (bind_cpus_) ::sched_setaffinity(0, sizeof cpus_, &cpus_);
  if (!workdir_.empty() && ::chdir(workdir_.c_str()) != 0) {
    // bhyve runs where it is; its paths are absolute.
  }
  write_all(2, header_);
  ::execve(program_.c_str(), argv_.data(), environ);
  write_all(2, exec_failed_);
  ::_exit(kExecFailedStatus);
}

void BhyveChildStart::close_descriptors() {
  log_fd_.reset();
  null_fd_.reset();
}
