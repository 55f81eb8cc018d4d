#include "bhwrap/wrapper/bhwrap.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <thread>

#include <fmt/format.h>
#include <spdlog/spdlog.h>

#include "bhwrap/wrapper/bhwrap_guest_channels.h"
#include "driver/uuid.h"
#include "ipc/shm.h"
#include "ipc/vm_lock.h"
#include "ipc/vm_runtime_record.h"
#include "model/commander.h"
#include "model/vm_state.h"
#include "platform/host_root.h"

namespace {

constexpr int kWrapperSignals[4] = {SIGINT, SIGTERM, SIGHUP, SIGSEGV};

bool is_stop_method(const std::string& method) {
  return method == "vms-restart" || method == "vms-remove" || method == "vms-stop";
}

}  // namespace

BhWrap::BhWrap(const _command& command, BhWrapTimings timings, std::unique_ptr<RemoteDisks> remote)
    : command_(command),
      timings_(timings),
      remote_(remote ? std::move(remote) : make_remote_disks()) {}

BhWrap::~BhWrap() {
  if (loop_) stop_watchers();
}

int32_t BhWrap::stop_timeout() const {
  return command_.method == "vms-receive" ? 30 : command_.timeout;
}

std::string BhWrap::log_prefix() const {
  std::string prefix = command_.method;
  std::transform(prefix.begin(), prefix.end(), prefix.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return prefix;
}

std::string BhWrap::pending_method(const std::string& vm_id) const {
  VmLock lock(vm_id, timings_.lock_timeout_ms);
  VmRuntimeRecord record = parse_runtime_record(Shm::load_text(vm_id, ShmKind::vm));
  if (record.vmid == vm_id && is_stop_method(record.method)) return record.method;
  return "";
}

void BhWrap::release_remote_resources(bool quiet) {
  VmConfigResult parsed = parse_vm_config(command_.item);
  detach_remote_disks(parsed.config, quiet);
  detach_remote_snapshot(quiet);
  std::this_thread::sleep_for(timings_.release_pause);
}

void BhWrap::stop_watchers() {
  child_watcher_.stop();
  kill_timer_.stop();
  confirm_timer_.stop();
  receive_watchdog_.stop();
  for (auto& watcher : signal_watchers_) watcher.stop();
}

void BhWrap::write_runtime_record(pid_t bhyve) {
  VmLock lock(command_.vm_id, timings_.lock_timeout_ms);
  VmRuntimeRecord before = parse_runtime_record(Shm::load_text(command_.vm_id, ShmKind::vm));
  VmRuntimeRecord record;
  record.vmid = command_.vm_id;
  record.method = command_.method;
  record.pid = bhyve;
  record.ppid = ::getpid();
  record.tstamp = stop_timeout();
  record.abort_count = before.abort_count;
  record.abort_time = before.abort_time;
  record.item = command_.item;
  record.restart_started = command_.restart_started;
  Shm shm(command_.vm_id, ShmKind::vm);
  if (!shm.write(record.to_text()))
    spdlog::error("SHM. vm_id={} ### BhWrap: runtime record not written: {}", command_.vm_id,
                  shm.error());
}

int BhWrap::exec() {
  const std::string prefix = log_prefix();
  const std::string& vm_id = command_.vm_id;
  const std::string& method = command_.method;

  VmConfigResult parsed = parse_vm_config(command_.item);
  if (!parsed.error.empty()) {
    spdlog::error("{}. vm_id={} ### BhWrap: item parse error: {}", prefix, vm_id, parsed.error);
    return -3;
  }
  VmConfig record = std::move(parsed.config);
  if (auto error = check_netgraph_ports(record)) {
    spdlog::error("{}. vm_id={} ### BhWrap: {}", prefix, vm_id, *error);
    return -10;
  }

  int32_t check = method == "vms-receive" ? kNoCheckpoint : check_snapshot_config(record);
  if (check == kCheckpointCheckFailed) return -6;
  if (method == "vms-resume") {
    if (check == kCheckpointMismatch) {
      spdlog::error("{}. vm_id={} failed to resume. Mismatched disks configuration", prefix, vm_id);
      return -9;
    }
    if (check == kNoCheckpoint) {
      spdlog::error("{}. vm_id={} failed to resume. VM is not suspended", prefix, vm_id);
      return -8;
    }
    if (bad_net_backend_) {
      spdlog::error("{}. vm_id={} failed to resume. Snapshot contains unsupported network backend",
                    prefix, vm_id);
      return -10;
    }
  } else if (method == "vms-start" && (check == kCheckpointFits || check == kCheckpointMismatch)) {
    if (!command_.force) {
      spdlog::error("{}. vm_id={} failed to operate. VM is suspended", prefix, vm_id);
      return -7;
    }
    spdlog::info("{}. Force mode. Skip VM suspended state", prefix);
  }

  if (auto error = attach_remote_disks(record)) {
    spdlog::error("{}. vm_id={} ### BhWrap: remote disk attach error: {}", prefix, vm_id, *error);
    return -4;
  }

  std::vector<std::string> args = make_argument_list(record);
  if (args.empty()) {
    spdlog::error("{}. vm_id={} ### BhWrap: bhyve start parameters error", prefix, vm_id);
    return -5;
  }
  args.push_back("-U");
  args.push_back(sha1_uuid(vm_id.data(), vm_id.size()));
  args.push_back(vm_id);

  std::string joined;
  for (const auto& arg : args) joined += arg + " ";
  spdlog::info("{}. vm_id={} {}", prefix, vm_id, command_.remote ? "REMOTE" : "LOCAL");
  spdlog::info("{}", joined);
  spdlog::info("Logfile: {}", start_log_path());

  loop_ = ev_default_loop(EVFLAG_NOENV);
  if (!loop_) throw ev::bad_loop();
  ev_loop_fork(loop_);
  child_watcher_.set(loop_);
  child_watcher_.set<BhWrap, &BhWrap::child_cb>(this);
  kill_timer_.set(loop_);
  kill_timer_.set<BhWrap, &BhWrap::kill_timer_cb>(this);
  confirm_timer_.set(loop_);
  confirm_timer_.set<BhWrap, &BhWrap::confirm_timer_cb>(this);
  receive_watchdog_.set(loop_);
  receive_watchdog_.set<BhWrap, &BhWrap::timeout_cb>(this);

  // The serial ports must be there when bhyve opens them.
  GuestSerialPorts ports = make_guest_serial_ports(record, prefix, vm_id);

  pid_t bhyve = ::fork();
  if (bhyve < 0) return -1;
  if (bhyve == 0) run_bhyve_child(args);
  bhyve_pid_ = bhyve;

  child_watcher_.set(bhyve, 0);
  child_watcher_.start();
  confirm_timer_.start(timings_.confirm_interval_s, 0.0);
  if (method == "vms-receive" && command_.timeout > 0) {
    receive_watchdog_.start(command_.timeout, 0.0);
    spdlog::debug(
        "vm_id={} BhWrap::exec() WRAPPER pid={}; BHYVE pid={}; Start receive-watchdog-timer on {} sec",
        vm_id, ::getpid(), bhyve, command_.timeout);
  }
  for (size_t i = 0; i < std::size(kWrapperSignals); ++i) {
    signal_watchers_[i].set(loop_);
    signal_watchers_[i].set<BhWrap, &BhWrap::signal_cb>(this);
    signal_watchers_[i].set(kWrapperSignals[i]);
    signal_watchers_[i].start();
  }
  spdlog::info("{}. vm_id={} STARTED; WRAPPER pid={}; BHYVE pid={}", prefix, vm_id, ::getpid(),
               bhyve);

  write_runtime_record(bhyve);

  if (command_.rtty_port != 0)
    start_console_bridge(vm_id, command_.rtty_host, command_.rtty_port);
  if (command_.cloudinit_port != 0 && method != "vms-resume" && method != "vms-receive")
    start_cloudinit_channel(command_, ports.cloudinit_device());

  ev_run(loop_, 0);

  stop_watchers();
  spdlog::info("vm_id={} BhWrap::exec() stopped event loop. Status={}", vm_id, status_);
  ports.remove();
  after_run(record, status_);
  return 0;
}

void BhWrap::after_run(const VmConfig& record, int32_t loop_status) {
  const std::string& vm_id = command_.vm_id;
  release_remote_resources(false);

  if (status_ == 1 && record.os_type == kOsTypeOpenStack) {
    std::error_code ec;
    std::filesystem::remove(platform::host_path(command_.root_fs + "/seed.iso"), ec);
  }
  if (status_ == 11)
    spdlog::error("{}. vm_id={}; ### BhWrap::exec() UEFI checksum error", command_.method, vm_id);

  if (status_ == 0)
    account_guest_reset();
  else
    Shm::unlink(vm_id, ShmKind::vm);

  spdlog::info("vm_id={} BhWrap::exec() last method '{}'", vm_id, command_.method);

  if (status_ == 0 && !command_.remote) {
    VmState state(command_.pool, vm_id);
    _command stored = Commander::make_vm_start(state.read_text());
    if (stored.incarnation != command_.incarnation)
      spdlog::info("vm_id={} BhWrap::exec() guest restart with reseting VM data", vm_id);
  }

  // A resumed or received VM is not held to the reset limit.
  if (command_.method == "vms-resume" || command_.method == "vms-receive") status_ = loop_status;

  std::optional<mq_exit_info> exit;
  if (exit_info_.code || exit_info_.signal) exit = exit_info_;
  temporary_vm(vm_id, true, status_, exit, timings_);
}
