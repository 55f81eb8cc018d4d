#include "daemon/ev_forkcmd.h"

#include <signal.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <optional>

#include <fmt/format.h>
#include <spdlog/spdlog.h>

#include "bhwrap/wrapper/bhwrap.h"
#include "daemon/cli_answer.h"
#include "daemon/daemon_status.h"
#include "daemon/runtime_method.h"
#include "daemon/suspend_image.h"
#include "daemon/suspend_worker.h"
#include "daemon/vm_pool_lookup.h"
#include "daemon/wrapper_entry.h"
#include "driver/config.h"
#include "driver/process_utils.h"
#include "hostlib/vmmapi.h"
#include "ipc/json_readers.h"
#include "ipc/mq_request.h"
#include "ipc/mq_send.h"
#include "ipc/shm.h"
#include "ipc/vm_runtime_record.h"
#include "model/commander.h"
#include "model/state_mark.h"
#include "model/vm_config.h"
#include "model/vm_state.h"

namespace {

constexpr double kDefaultKillDelayS = 30;

bool running(const ProcessPair& pair) { return pair.wrapper > 0 || pair.bhyve > 0; }

int32_t to_int32(int64_t value) {
  return static_cast<int32_t>(std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(),
                                                  std::numeric_limits<int32_t>::max()));
}

// The runtime record of a run that is over.
void remove_runtime_record(const std::string& vm_id) { Shm::unlink(vm_id, ShmKind::vm); }

const char* started_text(VmCommandWord word) {
  switch (word) {
    case VmCommandWord::resume:
    case VmCommandWord::force_resume: return "VM resumed";
    case VmCommandWord::restart: return "VM restarted";
    default: return "VM started";
  }
}

}  // namespace

EvForkCmd::EvForkCmd(struct ev_loop* loop, ForkPrepare prepare_child, ForkCmdOptions options)
    : loop_(loop), prepare_child_(std::move(prepare_child)), options_(std::move(options)) {
  ev_timer_init(&watchdog_, &EvForkCmd::watchdog_cb, 0, 0);
  watchdog_.data = this;
}

EvForkCmd::~EvForkCmd() { stop_watchers(); }

void EvForkCmd::start() {
  ev_timer_set(&watchdog_, options_.watchdog_interval_s, options_.watchdog_interval_s);
  ev_timer_start(loop_, &watchdog_);
}

void EvForkCmd::stop_watchers() { ev_timer_stop(loop_, &watchdog_); }

double EvForkCmd::now() const { return ev_now(loop_); }

ProcessPair EvForkCmd::vm_processes(const std::string& vm_id) {
  ProcessPair pair = find_wrapper_processes(vm_id);
  auto it = ending_wrapper_.find(vm_id);
  if (it == ending_wrapper_.end()) return pair;
  if (pair.wrapper == it->second && pair.bhyve <= 0)
    pair.wrapper = 0;  // its run is over and reported
  else if (pair.wrapper != it->second)
    ending_wrapper_.erase(it);  // gone
  return pair;
}

void EvForkCmd::retire_wrapper(const std::string& vm_id) {
  auto it = wrapper_of_.find(vm_id);
  if (it == wrapper_of_.end()) return;
  ending_wrapper_[vm_id] = it->second;
  wrapper_of_.erase(it);
}

// ---- intake ----

void EvForkCmd::process_mq_message(const mq_vm_message& record, const std::string& text) {
  switch (record.kind) {
    case MqVmMessageKind::vm_command: process_vm_command(record); return;
    case MqVmMessageKind::vm_exit: process_vm_exit(record); return;
    case MqVmMessageKind::pool_status: process_pool_status(record); return;
    case MqVmMessageKind::confirm: process_confirm(record); return;
    case MqVmMessageKind::amqp_request:
      spdlog::warn("### IPC. A broker request is not processed here: {}", text);
      return;
    case MqVmMessageKind::invalid: answer_unreadable(record, text); return;
  }
}

void EvForkCmd::answer_unreadable(const mq_vm_message& record, const std::string& text) {
  spdlog::error("### IPC. Unusable record ({}): {}", record.error, text);
  // An untyped record that names a FIFO gets its answer, so that its sender
  // does not wait for ever.
  std::optional<nlohmann::json> j = json_parse_object(text);
  if (!j || !json_string_or(*j, "type", "").empty()) return;
  std::string fifo = json_string_or(*j, "reply_queue", "");
  if (fifo.empty()) return;
  send_cli_answer(fifo, json_string_or(*j, "vmid", ""), kStatusFailed,
                  fmt::format("Invalid record: {}", record.error));
}

void EvForkCmd::process_vm_command(const mq_vm_message& record) {
  const std::string& vm_id = record.vmid;
  spdlog::info(">>> VM_id={} command='{}' status={} fifo='{}'", vm_id, record.command,
               record.status, record.reply_queue);
  std::optional<VmCommandWord> word = parse_vm_command_word(record.command);
  if (!word) {
    send_cli_answer(record.reply_queue, vm_id, kStatusUnsupported,
                    fmt::format("Unknown command '{}'", record.command));
    return;
  }
  if (!valid_state_name(vm_id)) {
    send_cli_answer(record.reply_queue, vm_id, kStatusFailed, fmt::format("Invalid VM id '{}'", vm_id));
    return;
  }
  if (pending_.busy(vm_id)) {
    send_cli_answer(record.reply_queue, vm_id, kStatusFailed, kBusyText);
    return;
  }
  switch (*word) {
    case VmCommandWord::start:
    case VmCommandWord::force_start:
    case VmCommandWord::resume:
    case VmCommandWord::force_resume: start_vm(record, *word); return;
    case VmCommandWord::stop:
    case VmCommandWord::restart: stop_vm(record, *word); return;
    case VmCommandWord::suspend:
    case VmCommandWord::suspend_pool: suspend_vm(record, *word); return;
    case VmCommandWord::pause:
    case VmCommandWord::unpause: pause_vm(record, *word); return;
  }
}

void EvForkCmd::process_pool_status(const mq_vm_message& record) {
  // The AMQP daemon's report on the consumer of a pool's queue.
  if (record.command == "consume") {
    spdlog::info("## Pool '{}': queue consumer {}", record.pool,
                 record.status == 1 ? "started" : "stopped");
    return;
  }
  static const char* const kWords[] = {"start", "stop", "suspend", "resume"};
  if (std::find(std::begin(kWords), std::end(kWords), record.command) == std::end(kWords)) {
    spdlog::error("### IPC. Pool '{}': unknown pool command '{}'", record.pool, record.command);
    return;
  }
  if (!valid_state_name(record.pool)) {
    spdlog::error("### IPC. Invalid pool name '{}'", record.pool);
    return;
  }
  std::string error = mq_send_to_amqp(kPoolControlCorrid, record.pool, record.command, "");
  if (!error.empty()) {
    spdlog::error("### MQ send error: {}; {} {}", error, __FILE__, __LINE__);
    return;
  }
  spdlog::info("## Pool '{}' {}: passed on to the AMQP daemon", record.pool, record.command);
}

// ---- operations ----

std::string EvForkCmd::make_start(const std::string& vm_id, VmCommandWord word, int64_t timeout_s,
                                  const std::string& reply_fifo, std::string& pool,
                                  _command& command) {
  VmPoolLookup lookup = find_vm_pool(Config::instance(), vm_id);
  if (!lookup.found()) return lookup.error;
  VmState state(lookup.pool, vm_id);
  VmStateRead read = state.read();
  if (!read.ok()) return fmt::format("vm.json is unusable: {}", read.text);
  command = Commander::make_vm_start(read.text);
  if (command.vm_id.empty()) return "vm.json is unusable: not a VM record";
  if (command.vm_id != vm_id)
    return fmt::format("vm.json is unusable: it holds the record of VM {}", command.vm_id);
  const bool resume = word == VmCommandWord::resume || word == VmCommandWord::force_resume;
  command.method = resume ? "vms-resume" : "vms-start";
  command.force = vm_command_forced(word);
  command.reply_fifo = reply_fifo;
  // The state store is the pool that holds the VM's state link.
  command.pool = lookup.pool;
  if (timeout_s > 0) command.timeout = to_int32(timeout_s);
  pool = lookup.pool;
  return {};
}

pid_t EvForkCmd::launch_wrapper(const _command& command) {
  const BhWrapTimings& timings = options_.wrapper_timings;
  pid_t pid = fork_detached(wrapper_title_prefix + command.vm_id, prepare_child_,
                            [&command, &timings]() -> int { become_wrapper(command, timings); });
  const int error = errno;
  if (pid > 0) wrapper_of_[command.vm_id] = pid;
  if (pid > 0)
    spdlog::info("{}. vm_id={} WRAPPER pid={} forked", command.method, command.vm_id, pid);
  else
    spdlog::error("{}. vm_id={} ### Can't fork the VM wrapper: {}", command.method, command.vm_id,
                  std::strerror(error));
  errno = error;
  return pid;
}

void EvForkCmd::start_vm(const mq_vm_message& record, VmCommandWord word) {
  const std::string& vm_id = record.vmid;
  ProcessPair pair = vm_processes(vm_id);
  if (running(pair)) {
    send_cli_answer(record.reply_queue, vm_id, kStatusFailed,
                    fmt::format("VM is already running: wrapper pid={}, bhyve pid={}",
                                pair.wrapper, pair.bhyve));
    return;
  }
  std::string pool;
  _command command;
  std::string error = make_start(vm_id, word, record.status, record.reply_queue, pool, command);
  if (!error.empty()) {
    send_cli_answer(record.reply_queue, vm_id, kStatusFailed, error);
    return;
  }
  pid_t pid = launch_wrapper(command);
  if (pid < 0) {
    send_cli_answer(record.reply_queue, vm_id, kStatusFailed,
                    fmt::format("Can't fork the VM wrapper: {}", std::strerror(errno)));
    return;
  }
  PendingCommand pending;
  pending.vm_id = vm_id;
  pending.word = word;
  pending.reply_fifo = record.reply_queue;
  pending.timeout_s = record.status;
  pending.pool = pool;
  pending.phase = PendingPhase::confirm;
  pending.deadline = now() + command_deadline_s(command.method, record.status, options_.deadlines);
  pending.watch = platform::ProcessHandle(pid);
  unconfirmed_runs_.erase(vm_id);
  pending_.try_add(std::move(pending));
}

void EvForkCmd::stop_vm(const mq_vm_message& record, VmCommandWord word) {
  const std::string& vm_id = record.vmid;
  const std::string method = vm_command_method(word);
  ProcessPair pair = vm_processes(vm_id);
  if (!running(pair)) {
    if (word == VmCommandWord::stop) {
      // Nothing runs: a runtime record left by an earlier run goes too.
      remove_runtime_record(vm_id);
      send_cli_answer(record.reply_queue, vm_id, kStatusOk, "VM is not running");
    } else {
      send_cli_answer(record.reply_queue, vm_id, kStatusFailed, "VM is not running");
    }
    return;
  }
  std::string error = write_pending_method(vm_id, method, record.status);
  if (!error.empty())
    spdlog::warn("{}. vm_id={} ### the runtime record is not written: {}", method, vm_id, error);

  PendingCommand pending;
  pending.vm_id = vm_id;
  pending.word = word;
  pending.reply_fifo = record.reply_queue;
  pending.timeout_s = record.status;
  pending.phase = PendingPhase::exit;
  pending.deadline = now() + command_deadline_s(method, record.status, options_.deadlines);
  if (pair.wrapper > 0) {
    pending.watch = platform::ProcessHandle(pair.wrapper);
    if (!pending.watch.signal(SIGTERM)) {
      send_cli_answer(record.reply_queue, vm_id, kStatusFailed,
                      fmt::format("Can't signal the VM wrapper pid={}: {}", pair.wrapper,
                                  std::strerror(errno)));
      return;
    }
    wrapper_of_[vm_id] = pair.wrapper;
    spdlog::info("{}. vm_id={} SIGTERM sent to WRAPPER pid={}", method, vm_id, pair.wrapper);
  } else {
    // The hypervisor runs without its wrapper: the daemon stops it itself and
    // reports the end of the run once it is gone.
    pending.watch = platform::ProcessHandle(pair.bhyve);
    if (!pending.watch.signal(SIGTERM)) {
      send_cli_answer(record.reply_queue, vm_id, kStatusFailed,
                      fmt::format("Can't signal the hypervisor pid={}: {}", pair.bhyve,
                                  std::strerror(errno)));
      return;
    }
    pending.orphan_bhyve = pair.bhyve;
    pending.kill_at = now() + (record.status > 0 ? static_cast<double>(record.status) : kDefaultKillDelayS);
    spdlog::warn("{}. vm_id={} no wrapper runs; SIGTERM sent to BHYVE pid={}", method, vm_id, pair.bhyve);
  }
  pending_.try_add(std::move(pending));
}

void EvForkCmd::suspend_vm(const mq_vm_message& record, VmCommandWord word) {
  const std::string& vm_id = record.vmid;
  auto refuse = [&](int32_t status, const std::string& text) {
    send_cli_answer(record.reply_queue, vm_id, status, text);
  };
  if (!libvmmapi::has_vm_checkpoint())
    return refuse(kSuspendNotSupported, suspend_result_text(kSuspendNotSupported));
  ProcessPair pair = vm_processes(vm_id);
  if (pair.wrapper <= 0 || pair.bhyve <= 0)
    return refuse(kStatusFailed, pair.bhyve > 0 ? "VM runs without its wrapper" : "VM is not running");
  VmPoolLookup lookup = find_vm_pool(Config::instance(), vm_id);
  if (!lookup.found()) return refuse(kStatusFailed, lookup.error);
  // The record the VM runs with; the stored one when the run has none.
  std::string text = parse_runtime_record(Shm::load_text(vm_id, ShmKind::vm)).item;
  if (text.empty()) text = VmState(lookup.pool, vm_id).read_text();
  VmConfigResult parsed = parse_vm_config(text);
  if (!parsed.error.empty())
    return refuse(kStatusFailed, fmt::format("The VM record cannot be read: {}", parsed.error));
  if (!valid_dataset_name(parsed.config.root_dataset_name))
    return refuse(kStatusFailed, fmt::format("The VM record has no usable root_dataset_name: '{}'",
                                             parsed.config.root_dataset_name));

  SuspendJob job{vm_id, parsed.config.root_dataset_name, parsed.config.ram};
  pid_t pid = fork_detached("qtr-suspend: " + vm_id, prepare_child_,
                            [job]() -> int { return suspend_worker_main(job); });
  if (pid < 0)
    return refuse(kStatusFailed, fmt::format("Can't fork the suspend worker: {}", std::strerror(errno)));
  spdlog::info("VMS-SUSPEND. vm_id={} worker pid={} forked", vm_id, pid);

  PendingCommand pending;
  pending.vm_id = vm_id;
  pending.word = word;
  pending.reply_fifo = record.reply_queue;
  pending.timeout_s = record.status;
  pending.pool = lookup.pool;
  pending.phase = PendingPhase::suspend;
  pending.deadline = now() + command_deadline_s("vms-suspend", record.status, options_.deadlines);
  pending.watch = platform::ProcessHandle(pid);
  pending.wrapper = platform::ProcessHandle(pair.wrapper);
  pending.mark = word == VmCommandWord::suspend_pool ? SuspendMark::pool : SuspendMark::own;
  pending_.try_add(std::move(pending));
}

void EvForkCmd::pause_vm(const mq_vm_message& record, VmCommandWord word) {
  const std::string& vm_id = record.vmid;
  if (find_wrapper_processes(vm_id).bhyve <= 0) {
    send_cli_answer(record.reply_queue, vm_id, kStatusFailed, "VM is not running");
    return;
  }
  const bool pause = word == VmCommandWord::pause;
  std::optional<std::string> error = pause ? vmmapi_pause(vm_id) : vmmapi_resume(vm_id);
  if (error) {
    send_cli_answer(record.reply_queue, vm_id, kStatusFailed,
                    fmt::format("{} failed: {}", vm_command_method(word), *error));
    return;
  }
  send_cli_answer(record.reply_queue, vm_id, kStatusOk, pause ? "VM paused" : "VM unpaused");
}

bool EvForkCmd::start_again(PendingCommand& pending, const std::string& context) {
  const std::string vm_id = pending.vm_id;
  VmCommandWord word = pending.word == VmCommandWord::restart ? VmCommandWord::start : pending.word;
  std::string pool;
  _command command;
  std::string error = make_start(vm_id, word, pending.timeout_s, pending.reply_fifo, pool, command);
  pid_t pid = -1;
  if (error.empty()) {
    command.restart_started = true;
    pid = launch_wrapper(command);
    if (pid < 0) error = fmt::format("Can't fork the VM wrapper: {}", std::strerror(errno));
  }
  if (!error.empty()) {
    spdlog::error("## VM_id={} ### not started again after {}: {}", vm_id, context, error);
    remove_runtime_record(vm_id);
    finish(vm_id, kStatusFailed, fmt::format("VM is down and not started again: {}", error));
    return false;
  }
  spdlog::info("## VM_id={} started again after {}", vm_id, context);
  pending.pool = pool;
  pending.phase = PendingPhase::confirm;
  pending.deadline = now() + command_deadline_s(command.method, pending.timeout_s, options_.deadlines);
  pending.watch = platform::ProcessHandle(pid);
  pending.gone_since = -1;
  pending.orphan_bhyve = 0;
  pending.kill_at = -1;
  unconfirmed_runs_.erase(vm_id);
  return true;
}

// ---- what comes back ----

void EvForkCmd::process_confirm(const mq_vm_message& record) {
  const std::string& vm_id = record.vmid;
  const int32_t status = to_int32(record.status);
  PendingCommand* pending = pending_.find(vm_id);
  if (record.reply_queue == kSuspendWorkerTag) {
    if (!pending || pending->phase != PendingPhase::suspend || pending->worker_done) {
      spdlog::warn("IPC. vm_id={} suspend result {} with no suspend waiting for it", vm_id, status);
      return;
    }
    on_suspend_result(*pending, status);
    return;
  }
  if (!pending || pending->phase != PendingPhase::confirm) {
    spdlog::warn("IPC. vm_id={} start confirmation {} with no start waiting for it", vm_id, status);
    return;
  }
  on_confirmed(*pending, status);
}

void EvForkCmd::on_confirmed(PendingCommand& pending, int32_t status) {
  const std::string vm_id = pending.vm_id;
  if (status > 0) {
    finish(vm_id, kStatusOk, fmt::format("{}; bhyve pid={}", started_text(pending.word), status));
    return;
  }
  // The run did not take place, or its hypervisor was gone before it
  // answered; an exit report of that run may still come and is then no
  // guest reset.
  unconfirmed_runs_.insert(vm_id);
  if (find_wrapper_processes(vm_id).bhyve <= 0) {
    remove_runtime_record(vm_id);
    retire_wrapper(vm_id);  // it only exits now
  }
  finish(vm_id, status, wrapper_result_text(status));
}

void EvForkCmd::on_suspend_result(PendingCommand& pending, int32_t status) {
  const std::string vm_id = pending.vm_id;
  if (status != kStatusOk) {
    std::string text = suspend_result_text(status);
    if (pending.exit_seen) text += "; the VM has stopped";
    finish(vm_id, status, text);
    return;
  }
  VmState state(pending.pool, vm_id);
  pending.worker_status = state.set_suspend_mark(pending.mark) ? kStatusOk : kSuspendMarkFailed;
  if (pending.worker_status != kStatusOk)
    spdlog::error("VMS-SUSPEND. vm_id={} ### the suspend mark is not set", vm_id);
  pending.worker_done = true;
  // From now on the end of the run is awaited from the wrapper.
  pending.watch = std::move(pending.wrapper);
  pending.gone_since = -1;
  if (pending.exit_seen) finish_suspend(vm_id);
}

void EvForkCmd::finish_suspend(const std::string& vm_id) {
  PendingCommand* pending = pending_.find(vm_id);
  if (!pending) return;
  int32_t status = pending->worker_status;
  finish(vm_id, status, suspend_result_text(status));
}

void EvForkCmd::process_vm_exit(const mq_vm_message& record) {
  const std::string& vm_id = record.vmid;
  const int32_t status = to_int32(record.status);
  std::string how;
  if (record.exit) {
    const mq_exit_info& e = *record.exit;
    how = fmt::format(" code={} signal={} initiator={} method='{}'",
                      e.code ? std::to_string(*e.code) : "-", e.signal ? std::to_string(*e.signal) : "-",
                      e.initiator, e.method);
  }
  spdlog::info("## VM_id={} run ended, status={}{}", vm_id, status, how);
  // The wrapper that reported is about to exit; it no longer counts as a run.
  retire_wrapper(vm_id);
  if (PendingCommand* pending = pending_.find(vm_id)) {
    on_vm_down(*pending, status);
    return;
  }
  const bool unconfirmed = unconfirmed_runs_.erase(vm_id) != 0;
  if (status == 0 && !unconfirmed) {
    restart_after_reset(vm_id);
    return;
  }
  if (status == -2) spdlog::warn("## VM_id={} stopped after too many guest resets", vm_id);
  if (status == 11) spdlog::error("## VM_id={} ### UEFI boot ROM verification failed", vm_id);
  remove_runtime_record(vm_id);
}

void EvForkCmd::on_vm_down(PendingCommand& pending, int32_t status) {
  const std::string vm_id = pending.vm_id;
  switch (pending.phase) {
    case PendingPhase::confirm:
      // A guest reset before the start was confirmed: the wrapper allowed
      // another run. A resume is not repeated: its image is still there.
      if (status == 0 && pending.word != VmCommandWord::resume &&
          pending.word != VmCommandWord::force_resume) {
        start_again(pending, "a guest reset");
        return;
      }
      remove_runtime_record(vm_id);
      finish(vm_id, kStatusFailed,
             fmt::format("VM ended before its start was confirmed, status {}", status));
      return;
    case PendingPhase::exit:
      if (pending.word == VmCommandWord::restart) {
        start_again(pending, "the restart's stop");
        return;
      }
      remove_runtime_record(vm_id);
      finish(vm_id, kStatusOk, "VM stopped");
      return;
    case PendingPhase::suspend:
      remove_runtime_record(vm_id);
      pending.exit_seen = true;
      if (pending.worker_done) finish_suspend(vm_id);
      return;
  }
}

void EvForkCmd::restart_after_reset(const std::string& vm_id) {
  PendingCommand pending;
  pending.vm_id = vm_id;
  pending.word = VmCommandWord::start;
  pending.phase = PendingPhase::confirm;
  pending_.try_add(std::move(pending));
  start_again(*pending_.find(vm_id), "a guest reset");
}

// ---- watchdog ----

void EvForkCmd::watchdog_cb(struct ev_loop*, ev_timer* watcher, int) {
  static_cast<EvForkCmd*>(watcher->data)->check_pending();
}

void EvForkCmd::check_pending() {
  const double t = now();
  for (const std::string& vm_id : pending_.expired(t)) {
    const VmCommandWord word = pending_.find(vm_id)->word;
    spdlog::error("## VM_id={} ### {} not confirmed in time", vm_id, vm_command_word_text(word));
    if (pending_.find(vm_id)->phase == PendingPhase::confirm) unconfirmed_runs_.insert(vm_id);
    finish(vm_id, kStatusFailed,
           fmt::format("No confirmation of '{}' in time", vm_command_word_text(word)));
  }
  for (const std::string& vm_id : pending_.ids()) {
    PendingCommand* pending = pending_.find(vm_id);
    if (!pending) continue;
    if (pending->orphan_bhyve > 0 && pending->kill_at >= 0 && t >= pending->kill_at) {
      spdlog::warn("VM-STOP vm_id={} BHYVE pid={}: SIGKILL", vm_id, pending->orphan_bhyve);
      pending->watch.signal(SIGKILL);
      pending->kill_at = -1;
    }
    if (pending->watch.valid() && pending->watch.ended()) {
      // Seen gone on two rounds: whatever it sent before it ended has been
      // taken from the queue by now.
      if (pending->gone_since < 0)
        pending->gone_since = t;
      else
        on_watched_process_gone(*pending);
    }
  }
}

void EvForkCmd::on_watched_process_gone(PendingCommand& pending) {
  const std::string vm_id = pending.vm_id;
  pending.gone_since = -1;
  switch (pending.phase) {
    case PendingPhase::confirm:
      if (find_wrapper_processes(vm_id).bhyve <= 0) remove_runtime_record(vm_id);
      finish(vm_id, kStatusFailed, "The VM wrapper ended without confirming the start");
      return;
    case PendingPhase::exit: {
      if (pending.orphan_bhyve > 0) {
        // The wrapperless hypervisor is gone: its run ends as a wrapper's does.
        pending.orphan_bhyve = 0;
        pending.kill_at = -1;
        mq_exit_info exit;
        exit.initiator = "command";
        exit.method = vm_command_method(pending.word);
        const BhWrapTimings& timings = options_.wrapper_timings;
        pid_t pid = fork_detached("qtr-vm-end: " + vm_id, prepare_child_, [&]() -> int {
          temporary_vm(vm_id, true, 1, exit, timings);
          return 0;
        });
        if (pid > 0) {
          pending.watch = platform::ProcessHandle(pid);
          return;
        }
      }
      ProcessPair pair = find_wrapper_processes(vm_id);
      if (pair.bhyve > 0) {
        finish(vm_id, kStatusFailed,
               fmt::format("The VM wrapper ended, but the hypervisor pid={} still runs", pair.bhyve));
        return;
      }
      spdlog::warn("## VM_id={} the run ended without an exit report", vm_id);
      on_vm_down(pending, 1);
      return;
    }
    case PendingPhase::suspend:
      if (!pending.worker_done) {
        finish(vm_id, kStatusFailed, "The suspend worker ended without a result");
        return;
      }
      if (find_wrapper_processes(vm_id).bhyve > 0) {
        finish(vm_id, kStatusFailed, "The VM wrapper ended, but the hypervisor still runs");
        return;
      }
      spdlog::warn("## VM_id={} the run ended without an exit report", vm_id);
      on_vm_down(pending, 1);
      return;
  }
}

// ---- answers ----

void EvForkCmd::finish(const std::string& vm_id, int64_t status, const std::string& text) {
  std::optional<PendingCommand> done = pending_.take(vm_id);
  if (!done) return;
  send_cli_answer(done->reply_fifo, vm_id, status, text);
}

void EvForkCmd::abandon_all(const std::string& reason) {
  for (const std::string& vm_id : pending_.ids()) finish(vm_id, kStatusFailed, reason);
}
