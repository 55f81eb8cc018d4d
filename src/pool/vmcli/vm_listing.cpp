#include "pool/vmcli/vm_listing.h"

#include <cstdio>
#include <cstring>
#include <map>

#include "driver/process_utils.h"
#include "model/pool_state.h"
#include "pool/state/running_vm.h"
#include "pool/state/vm_rows.h"
#include "pool/state/vm_status_query.h"

namespace {

constexpr const char* kRowFormat = "%-10s %4s  %10s  %-6s  %s\n";

void print_row(const std::string& id, const std::string& pool, VmStatus status, bool remote,
               const std::string& pool_state) {
  std::printf(kRowFormat, id.c_str(), pool.c_str(), vm_status_name(status, false).c_str(),
              remote ? "remote" : "", remote ? "" : pool_state.c_str());
}

std::string pool_state_text(const std::string& pool) {
  return pool.empty() ? "" : pool_state_name(PoolState::read(pool));
}

}  // namespace

bool vm_list() {
  pool_error_map errors;
  vm_row_map rows = list_vm_rows(true, &errors);
  for (const auto& [pool, error] : errors)
    std::fprintf(stderr, "### Pool '%s' state directory error: %s; its VMs are not reported\n",
                 pool.c_str(), std::strerror(error));
  for (const auto& [vm_id, pid] : find_bhyve_processes()) {
    std::optional<running_vm> vm = read_running_vm(vm_id);
    if (!vm) continue;
    auto [it, added] = rows.try_emplace(vm_row_key(vm->vm_id), vm_row{vm->vm_id, vm->pool});
    it->second.status = VmStatus::started;
    it->second.remote = vm->remote;
  }
  std::printf(kRowFormat, "VMID", "POOL", "STATUS", "REMOTE", "POOL_STATE");
  std::map<std::string, std::string> pool_states;
  for (const auto& [key, row] : rows) {
    auto state = pool_states.find(row.pool);
    if (state == pool_states.end()) state = pool_states.emplace(row.pool, pool_state_text(row.pool)).first;
    print_row(key, row.pool, row.status, row.remote, state->second);
  }
  return true;
}

bool vm_status(const std::string& vm_id) {
  std::string pool;
  VmStatus status = VmStatus::offline;
  bool remote = false;
  std::optional<running_vm> vm;
  if (find_wrapper_processes(vm_id).bhyve >= 1) vm = read_running_vm(vm_id);
  if (vm) {
    pool = vm->pool;
    status = VmStatus::started;
    remote = vm->remote;
  } else {
    // Not running, or running without its runtime record yet: as stored.
    pool = vm_pool_of(vm_id);
    if (!pool.empty()) status = stored_vm_status(vm_id, pool);
  }
  if (pool.empty()) {
    std::fprintf(stderr, "Error: VM does not exist: %s\n", vm_id.c_str());
    return false;
  }
  print_row(vm_id, pool, status, remote, pool_state_text(pool));
  return true;
}
