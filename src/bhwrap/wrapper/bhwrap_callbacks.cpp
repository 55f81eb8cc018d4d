// The wrapper's event callbacks: confirming the start, signals to the
// wrapper, the stop and receive time-outs, and bhyve's end.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <spdlog/spdlog.h>

#include "bhwrap/wrapper/bhwrap.h"
#include "bhwrap/checkpoint/checkpoint_discard.h"
#include "driver/process_utils.h"
#include "hostlib/vmmapi.h"
#include "ipc/mq_send.h"
#include "ipc/shm.h"
#include "ipc/vm_runtime_record.h"
#include "model/vm_state.h"
#include "platform/cpu_affinity.h"

namespace {

constexpr int64_t kMaxVcpuClass = 9;

}  // namespace

void BhWrap::log_bhyve_cpu_set(pid_t bhyve) const {
  std::string error;
  std::vector<int> cpus = platform::process_cpus(bhyve, &error);
  if (cpus.empty()) {
    spdlog::warn("vm_id={} BhWrap::exec() CPU-set not read: {}", command_.vm_id, error);
    return;
  }
  int lowest = cpus.front();
  spdlog::info("vm_id={} BhWrap::exec() binded to the CPU-set {}:{}", command_.vm_id, lowest,
               lowest + static_cast<int>(cpus.size()) - 1);
}

void BhWrap::apply_vcpu_class(pid_t bhyve) const {
  if (!vmmapi_has_vcpu_class()) return;
  const std::string& vm_id = command_.vm_id;
  int64_t vcpu_class = command_.vcpu_class;
  if (static_cast<uint64_t>(vcpu_class) > static_cast<uint64_t>(kMaxVcpuClass)) {
    spdlog::warn(" vm_id={} {}. vcpu_class={} out of range [{}, {}], not assigned", vm_id,
                 command_.method, vcpu_class, 0, kMaxVcpuClass);
    return;
  }
  vm_handle vm(vm_id);
  if (!vm.is_open()) return;
  if (vm.set_vcpu_class(vcpu_class))
    spdlog::info(" vm_id={} {}. WRAPPER pid={}; BHYVE pid={} assigned vcpu_class={}", vm_id,
                 command_.method, ::getpid(), bhyve, vcpu_class);
  else
    spdlog::warn(" vm_id={} {}. vcpu_class={} assignment failed", vm_id, command_.method,
                 vcpu_class);
}

void BhWrap::discard_started_checkpoint() const {
  checkpoint_result result = discard_checkpoint(checkpoint_path_);
  const std::string& method = command_.method;
  const std::string& vm_id = command_.vm_id;
  if (result.code == discard_done)
    spdlog::debug("{}. vm_id={}; truncated. {}", method, vm_id, checkpoint_path_);
  else if (result.code == discard_nothing)
    spdlog::debug("{}. vm_id={}; nothing to truncate: {}: {}", method, vm_id, checkpoint_path_,
                  result.message);
  else
    spdlog::error(
        "{}. vm_id={} ### snapshot header was NOT truncated: {}: {}; the VM will look suspended "
        "after it stops",
        method, vm_id, checkpoint_path_, result.message);
}

void BhWrap::confirm_timer_cb(ev::timer& watcher, int) {
  watcher.stop();
  const std::string& vm_id = command_.vm_id;
  const std::string& method = command_.method;
  pid_t bhyve = bhyve_pid_;
  int32_t confirmed = -1;

  if (bhyve < 1 || ::kill(bhyve, 0) != 0) {
    spdlog::error("# vm_id={} BhWrap::confirm_timer_cb() {} Start NOT confirmed. SIGCHLD not received!!!",
                  vm_id, method);
    ev_break(loop_, EVBREAK_ONE);
  } else {
    int ping = vmmapi_ping(vm_id);
    if (ping > 0) {
      spdlog::debug("vm_id={} BhWrap::confirm_timer_cb() {} vmmapi::vm_ping() waiting (code={})",
                    vm_id, method, ping);
      watcher.start(timings_.confirm_interval_s, 0.0);
      return;
    }
    if (ping < 0) {
      spdlog::debug(
          "vm_id={} BhWrap::confirm_timer_cb() {} vmmapi::vm_ping() not supported. Implied success",
          vm_id, method);
    } else {
      receive_watchdog_.stop();
      set_process_title(fmt::format("qtr-bhyve: {}{}", vm_id, command_.remote ? "-r" : ""));
      spdlog::debug("vm_id={} BhWrap::confirm_timer_cb() {} vmmapi::vm_ping() success", vm_id,
                    method);
    }
    confirmed = bhyve;
  }

  if (confirmed > 0) {
    log_bhyve_cpu_set(confirmed);
    apply_vcpu_class(confirmed);
    if (!checkpoint_path_.empty()) discard_started_checkpoint();
    if (!command_.remote) {
      VmState state(command_.pool, vm_id);
      if (!state.clear_suspend_mark())
        spdlog::warn("{}. vm_id={} ### running, but the suspend mark is still in place", method,
                     vm_id);
    } else {
      detach_remote_snapshot(false);
    }
  }

  spdlog::debug("vm_id={} BhWrap::confirm_timer_cb() pid={}; '{}'", vm_id, confirmed,
                command_.corr_id + command_.reply_fifo);
  std::string error = mq_send_confirm(vm_id, confirmed, "");
  if (!error.empty()) spdlog::error("### MQ send error: {}; {} {}", error, __FILE_NAME__, __LINE__);
}

void BhWrap::signal_cb(ev::sig& watcher, int) {
  watcher.stop();
  const std::string& vm_id = command_.vm_id;
  pid_t bhyve = bhyve_pid_;
  switch (watcher.signum) {
    case SIGINT:
      spdlog::debug("vm_id={} BhWrap::signal_cb('SIGINT') WRAPPER pid={}; BHYVE pid={}; Force stop bhyve",
                    vm_id, ::getpid(), bhyve);
      exit_info_.initiator = "command";
      if (exit_info_.method.empty()) exit_info_.method = pending_method(vm_id);
      ::kill(bhyve, SIGKILL);
      break;
    case SIGTERM: {
      VmRuntimeRecord record = parse_runtime_record(Shm::load_text(vm_id, ShmKind::vm));
      double delay = record.tstamp > 0 ? record.tstamp : timings_.kill_delay_fallback_s;
      exit_info_.initiator = "command";
      if (exit_info_.method.empty()) exit_info_.method = pending_method(vm_id);
      kill_timer_.stop();
      kill_timer_.start(delay, 0.0);
      spdlog::debug(
          "vm_id={} BhWrap::signal_cb('SIGTERM') WRAPPER pid={}; BHYVE pid={}; Start bhyve-kill-timer on {} sec",
          vm_id, ::getpid(), bhyve, delay);
      ::kill(bhyve, SIGTERM);
      break;
    }
    case SIGSEGV: {
      const char* text = " vm_id={} BhWRAP::signal_cb({}) WRAPPER pid={}; BHYVE pid={}; SIGSEGV (11) received";
      spdlog::info(fmt::runtime(text), vm_id, "_1_", ::getpid(), bhyve);
      ::kill(bhyve, SIGTERM);
      spdlog::info(fmt::runtime(text), vm_id, "_2_", ::getpid(), bhyve);
      double delay = command_.method == "vms-receive" ? timings_.kill_delay_fallback_s
                                                      : static_cast<double>(command_.timeout);
      kill_timer_.stop();
      kill_timer_.start(delay, 0.0);
      spdlog::info(fmt::runtime(text), vm_id, "_3_", ::getpid(), bhyve);
      break;
    }
    default:  // SIGHUP
      break;
  }
  watcher.start();
}

void BhWrap::child_cb(ev::child& watcher, int) {
  const std::string& vm_id = command_.vm_id;
  pid_t bhyve = watcher.pid;
  int wait_status = watcher.rstatus;
  watcher.stop();
  kill_timer_.stop();
  confirm_timer_.stop();
  receive_watchdog_.stop();
  spdlog::debug("vm_id={} BhWrap::child_cb() WRAPPER pid={}; BHYVE pid={}; Reset bhyve-kill-timer",
                vm_id, ::getpid(), bhyve);

  int32_t status = -255;
  if (WIFEXITED(wait_status)) {
    exit_info_.code = WEXITSTATUS(wait_status);
    status = WEXITSTATUS(wait_status);
  } else if (WIFSIGNALED(wait_status)) {
    int sig = WTERMSIG(wait_status);
    exit_info_.signal = sig;
    if (exit_info_.method.empty()) {
      std::string pending = pending_method(vm_id);
      if (!pending.empty() && pending != command_.method) {
        exit_info_.method = pending;
        if (exit_info_.initiator == "none") exit_info_.initiator = "command";
      }
    }
    if (sig == SIGTERM) {
      status = 1;
    } else if (sig == SIGKILL) {
      Shm::unlink(vm_id, ShmKind::devices);
      Shm::unlink(vm_id, ShmKind::reconfig);
      status = 1;
    } else {
      status = -sig;
    }
  }
  status_ = status;
  spdlog::debug("vm_id={} BhWrap::child_cb() WRAPPER pid={}; BHYVE pid={} process stopped with status:{}",
                vm_id, ::getpid(), bhyve, status_);
  ev_break(loop_, EVBREAK_ONE);
}

void BhWrap::stop_bhyve_on_timer(ev::timer& watcher, const char* text, int signal) {
  watcher.stop();
  if (!child_watcher_.is_active()) return;
  spdlog::debug(fmt::runtime(text), command_.vm_id, ::getpid(), bhyve_pid_);
  exit_info_.initiator = "timeout";
  ::kill(bhyve_pid_, signal);
}

void BhWrap::timeout_cb(ev::timer& watcher, int) {
  if (child_watcher_.is_active()) exit_info_.method = command_.method;
  stop_bhyve_on_timer(
      watcher, "vm_id={} BhWRAP::timeout_cb() WRAPPER pid={}; BHYVE pid={}; stop by timeout (SIGTERM)",
      SIGTERM);
}

void BhWrap::kill_timer_cb(ev::timer& watcher, int) {
  stop_bhyve_on_timer(
      watcher, "vm_id={} BhWRAP::kill_timer_cb() WRAPPER pid={}; BHYVE pid={}; force stop (SIGKILL)",
      SIGKILL);
}
