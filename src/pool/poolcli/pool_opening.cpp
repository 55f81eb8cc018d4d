#include "pool/poolcli/pool_opening.h"

#include <cstdio>

#include <fmt/format.h>

#include "driver/process_utils.h"
#include "hostlib/vmmapi.h"
#include "ipc/mq_send.h"
#include "model/commander.h"
#include "model/pool_state.h"
#include "model/vm_state.h"
#include "pool/state/pool_list.h"
#include "pool/state/pool_state_dir.h"
#include "pool/state/running_vm.h"
#include "pool/request/vm_request.h"

namespace {

constexpr int kAdminStatusUp = 3;

struct OpText {
  const char* banner;
  const char* record;
  int unsupported_code;
  int marks_code;
  int send_code;
  int send_line;
  int target_state;
};

OpText op_text(PoolOp op) {
  switch (op) {
    case PoolOp::start: return {"*** Starting pool '%s'\n", "start", 0, -5, -5, 336, PoolState::started};
    case PoolOp::stop: return {"*** Stopping pool '%s'\n", "stop", 0, -5, -5, 436, PoolState::stopped};
    case PoolOp::suspend:
      return {"*** Suspending pool '%s'\n", "suspend", -15251, -15254, -15255, 536, PoolState::suspended};
    case PoolOp::resume:
      return {"*** Resumption pool '%s'\n", "resume", -15351, -15354, -15355, 636, PoolState::started};
  }
  return {};
}

// The refusal of the pool's current state, if any.
std::optional<pool_op_result> state_refusal(PoolOp op, const std::string& pool, int state) {
  auto refuse = [&](int code, const char* text) {
    return pool_op_result{code, fmt::format(fmt::runtime(text), pool)};
  };
  switch (op) {
    case PoolOp::start:
      if (state == PoolState::suspended)
        return refuse(-5, "Pool '{}' was previously been suspended. Should only be resumed");
      break;
    case PoolOp::stop:
      if (state == PoolState::suspended)
        return refuse(-5, "Pool '{}' was previously suspended. Should only be resumed");
      if (state == PoolState::stopped) return refuse(-5, "Pool '{}' already stopped");
      break;
    case PoolOp::suspend:
      if (state == PoolState::stopped)
        return refuse(-15252, "Pool '{}' was previously stopped. Should only be started");
      if (state == PoolState::suspended) return refuse(-15253, "Pool '{}' already suspended");
      break;
    case PoolOp::resume:
      if (state == PoolState::stopped)
        return refuse(-15352, "Pool '{}' was previously been stopped. Should only be started");
      if (state != PoolState::suspended)
        return pool_op_result{-15353, fmt::format("Pool '{}' has not previously been suspended. "
                                                  "Failed to resume. Current state={}",
                                                  pool, pool_state_name(state))};
      break;
  }
  return std::nullopt;
}

// The refusal of a pool that does not exist. A pool that is gone (exported,
// destroyed) may still have running VMs: a stop or suspend acts on them all
// the same.
pool_op_result pool_not_found_result(PoolOp op, const std::string& pool) {
  for (const auto& [vm_id, pid] : find_bhyve_processes()) {
    std::optional<running_vm> vm = read_running_vm(vm_id);
    if (!vm || vm->pool != pool) continue;
    if (op == PoolOp::stop) vm_stop_request(vm->vm_id);
    if (op == PoolOp::suspend) vm_suspend_request(vm->vm_id, pool);
  }
  return pool_op_result{kPoolFailed, fmt::format("Pool not found: '{}'", pool)};
}

}  // namespace

std::string send_pool_record(const std::string& pool, const std::string& command, int line) {
  std::string error = mq_send_pool_status(pool, command, -1);
  if (error.empty()) return {};
  return fmt::format("### MQ send error: {}; {} {}", error, "src/pool", line);
}

pool_opening open_pool_operation(PoolOp op, const std::string& pool) {
  pool_opening opening;
  const OpText text = op_text(op);
  if ((op == PoolOp::suspend || op == PoolOp::resume) && !libvmmapi::has_vm_checkpoint()) {
    opening.refused = pool_op_result{text.unsupported_code, "Suspend/Resume operations not supported"};
    return opening;
  }
  const bool banner_first = op == PoolOp::stop || op == PoolOp::suspend;
  if (banner_first) std::printf(text.banner, pool.c_str());

  if (auto unreadable = pool_state_dir_check(pool)) {
    opening.refused = pool_op_result{unreadable->code, unreadable->text};
    return opening;
  }
  if (!pool_exists(pool)) {
    opening.refused = pool_not_found_result(op, pool);
    return opening;
  }
  if (!banner_first) std::printf(text.banner, pool.c_str());
  std::fflush(stdout);

  opening.lock = LockFile(PoolState(pool).dir() + "/.lock");
  if (opening.lock.try_lock() == 1) {
    opening.refused =
        pool_op_result{kPoolFailed, fmt::format("Pool '{}' is busy performing another operation", pool)};
    return opening;
  }
  const int previous = PoolState::read(pool);
  if (auto refused = state_refusal(op, pool, previous)) {
    opening.refused = refused;
    return opening;
  }

  if (op == PoolOp::resume) {
    int error = 0;
    opening.states = read_pool_state(pool, true, error);
    if (error != 0) {
      pool_error unreadable = pool_state_dir_error(pool, error);
      opening.refused = pool_op_result{unreadable.code, unreadable.text};
      return opening;
    }
  } else if (auto unreadable = pool_vm_list(pool, opening.vms)) {
    opening.refused = pool_op_result{unreadable->code, unreadable->text};
    return opening;
  }

  if (!PoolState::set_marks(pool, text.target_state)) {
    opening.refused = pool_op_result{text.marks_code, fmt::format("Pool '{}' status setting error", pool)};
    return opening;
  }
  if (std::string error = send_pool_record(pool, text.record, text.send_line); !error.empty()) {
    // Nothing was done to the VMs: the pool keeps the state it had.
    if (previous >= PoolState::stopped && previous <= PoolState::suspended)
      PoolState::set_marks(pool, previous);
    opening.refused = pool_op_result{text.send_code, error};
  }
  return opening;
}

pool_vm_lists select_pool_vms(PoolOp op, const std::string& pool,
                              const std::vector<std::string>& vms) {
  pool_vm_lists lists;
  const VmStatus wanted = op == PoolOp::start ? VmStatus::offline : VmStatus::started;
  const auto running = find_bhyve_processes();
  for (const std::string& id : vms) {
    if (stored_vm_status(id, pool, running) != wanted) continue;
    VmState state(pool, id);
    VmStateRead read = state.read();
    if (!read.ok()) {
      std::fprintf(stderr, op == PoolOp::start ? "### VM_id=%s skipped, vm.json is unusable: %s\n"
                                               : "### VM_id=%s vm.json is unusable: %s\n",
                   id.c_str(), state.read_result_text().c_str());
      if (op == PoolOp::stop) lists.service.push_back(id);
      continue;
    }
    _command record = Commander::make_vm_start(read.text);
    if (record.vm_id.empty()) continue;
    if (op == PoolOp::start && record.admin_status != kAdminStatusUp) continue;
    (record.service ? lists.service : lists.regular).push_back(id);
  }
  return lists;
}
