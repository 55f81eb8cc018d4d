#include "pool/state/host_inventory_query.h"

#include "driver/process_utils.h"
#include "pool/state/pool_list.h"
#include "pool/state/running_vm.h"
#include "pool/state/vm_status_query.h"

host_inventory collect_host_inventory() {
  host_inventory inventory;
  std::map<std::string, int32_t> running = find_bhyve_processes();
  std::map<std::string, host_inventory_pool> pools;
  for (const std::string& pool : find_pool(true, &inventory.errors)) {
    host_inventory_pool entry;
    entry.state = PoolState::read(pool);
    int error = 0;
    entry.vms = read_pool_state(pool, false, error);
    if (error != 0) inventory.errors[pool] = error;
    pools[pool] = std::move(entry);
  }
  for (const auto& [vm_id, pid] : running) {
    std::optional<running_vm> vm = read_running_vm(vm_id);
    if (!vm) continue;
    auto it = pools.find(vm->pool);
    if (it != pools.end()) it->second.vms[vm->vm_id] = VmStatus::started;
  }
  inventory.nodes["localhost"] = std::move(pools);
  return inventory;
}
