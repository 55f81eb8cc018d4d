#include "pool/request/vm_request.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>

#include <fmt/format.h>

#include "ipc/mq_send.h"
#include "platform/host_root.h"
#include "pool/request/fifo_cleanup.h"
#include "pool/request/fifo_reply_wait.h"

namespace {

struct LoopDeleter {
  void operator()(struct ev_loop* loop) const { ev_loop_destroy(loop); }
};

// Prints the sender's opening line, then runs the request with a FIFO.
bool announced_request(const std::string& vm_id, const std::string& command, int64_t status,
                       double timeout_s, const char* verb) {
  std::string fifo = cli_fifo_path(vm_id);
  if (verb) {
    std::printf("VM_id=%s %s; fifo=%s\n", vm_id.c_str(), verb, fifo.c_str());
    std::fflush(stdout);
  }
  return vm_request(vm_id, command, fifo, status, timeout_s);
}

}  // namespace

std::string cli_fifo_path(const std::string& vm_id) {
  return fmt::format("/var/run/ombrix-vm-cli-fifo.{}.{}", ::getpid(), vm_id);
}

bool vm_request_send(const std::string& vm_id, const std::string& command,
                     const std::string& fifo_path, int64_t status) {
  std::string error = mq_send_vm_command(vm_id, command, fifo_path, status);
  if (error.empty()) return true;
  std::fprintf(stderr, "### MQ send error: %s; VM_id=%s command='%s'\n", error.c_str(),
               vm_id.c_str(), command.c_str());
  return false;
}

bool vm_request(const std::string& vm_id, const std::string& command,
                const std::string& fifo_path, int64_t status, double timeout_s) {
  if (fifo_path.empty()) return vm_request_send(vm_id, command, fifo_path, status);

  std::unique_ptr<struct ev_loop, LoopDeleter> loop(ev_loop_new(0));
  if (!loop) throw std::runtime_error("can't create an event loop for the reply FIFO");
  // The FIFO goes when the request ends, however it ends.
  FifoCleanup node(platform::host_path(fifo_path));
  FifoReplyWait wait(loop.get(), timeout_s);
  if (!wait.open(fifo_path)) {
    int saved = errno;
    std::fprintf(stderr, "### FIFO open error: %s, '%s'\n", std::strerror(saved),
                 fifo_path.c_str());
    return false;
  }
  if (!vm_request_send(vm_id, command, fifo_path, status)) return false;
  wait.run();
  if (wait.timed_out()) {
    std::printf(
        "### No reply from the daemon in %d s: VM_id=%s command='%s'. The operation may have "
        "been applied - check the VM state\n",
        static_cast<int>(timeout_s), vm_id.c_str(), command.c_str());
    std::fflush(stdout);
  }
  wait.close();
  return wait.reply_ok();
}

bool vm_start_request(const std::string& vm_id, bool with_fifo, const std::string& param) {
  std::string command = param == "force" ? "force_start" : "start";
  std::string fifo = with_fifo ? cli_fifo_path(vm_id) : "";
  std::printf("VM_id=%s starting%s\n", vm_id.c_str(), with_fifo ? ("; fifo=" + fifo).c_str() : "");
  std::fflush(stdout);
  return vm_request(vm_id, command, fifo, -1, 0);
}

bool vm_stop_request(const std::string& vm_id) {
  return announced_request(vm_id, "stop", kStopTimeout, 0, "stopping");
}

bool vm_restart_request(const std::string& vm_id) {
  return announced_request(vm_id, "restart", kStopTimeout, 0, nullptr);
}

bool vm_suspend_request(const std::string& vm_id, const std::string& pool) {
  return announced_request(vm_id, pool.empty() ? "suspend" : "suspend_pool", kStopTimeout, 0,
                           "suspending");
}

bool vm_resume_request(const std::string& vm_id, const std::string& param) {
  return announced_request(vm_id, param == "force" ? "force_resume" : "resume", -1, 0,
                           "resumption");
}

bool vm_pause_request(const std::string& vm_id, double wait_s) {
  return announced_request(vm_id, "pause", kStopTimeout, wait_s, "pausing");
}

bool vm_unpause_request(const std::string& vm_id, double wait_s) {
  return announced_request(vm_id, "unpause", kStopTimeout, wait_s, "unpausing");
}
