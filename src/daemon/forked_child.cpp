#include "daemon/forked_child.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <exception>

#include <spdlog/spdlog.h>

#include "driver/process_utils.h"
#include "platform/host_root.h"

namespace {

void detach_child() {
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  for (int sig : {SIGHUP, SIGINT, SIGTERM}) ::signal(sig, SIG_DFL);
  ::setsid();
  if (::chdir(platform::host_path("/").c_str()) != 0)
    spdlog::warn("### Can't change to the host's root directory");
  int null_fd = ::open("/dev/null", O_RDWR);
  if (null_fd >= 0) {
    for (int fd = 0; fd <= 2; ++fd) ::dup2(null_fd, fd);
    if (null_fd > 2) ::close(null_fd);
  }
}

}  // namespace

pid_t fork_detached(const std::string& title, const ForkPrepare& prepare,
                    const std::function<int()>& body) {
  pid_t pid = ::fork();
  if (pid != 0) return pid;
  int status = 1;
  try {
    // The title first: until it changes the child shows the daemon's title.
    set_process_title(title);
    if (prepare) prepare();
    detach_child();
    status = body();
  } catch (const std::exception& e) {
    spdlog::error("### Terminate on unhandled exception: {}", e.what());
  } catch (...) {
    spdlog::error("### Terminate on unhandled exception: unknown");
  }
  ::_exit(status);
}
