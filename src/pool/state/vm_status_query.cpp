#include "pool/state/vm_status_query.h"

#include <fmt/format.h>

#include "bhwrap/checkpoint/checkpoint_header.h"
#include "driver/process_utils.h"
#include "hostlib/vmmapi.h"
#include "model/pool_state.h"
#include "pool/state/pool_state_dir.h"

std::string suspend_image_path(const std::string& vm_id, const std::string& pool) {
  return fmt::format("/dev/zvol/{}/.vm_V4/{:0>9}/snapshot.bvmss", pool, vm_id);
}

namespace {

VmStatus status_from_image(const std::string& vm_id, const std::string& pool) {
  snapshot_config image(suspend_image_path(vm_id, pool), vm_id);
  if (read_checkpoint_header(image, true).code == 0) return VmStatus::suspended;
  return VmStatus::offline;
}

}  // namespace

VmStatus stored_vm_status(const std::string& vm_id, const std::string& pool) {
  if (find_wrapper_processes(vm_id).bhyve >= 1) return VmStatus::started;
  return status_from_image(vm_id, pool);
}

VmStatus stored_vm_status(const std::string& vm_id, const std::string& pool,
                          const std::map<std::string, int32_t>& running) {
  auto it = running.find(vm_id);
  if (it != running.end() && it->second >= 1) return VmStatus::started;
  return status_from_image(vm_id, pool);
}

pool_vm_map read_pool_state(const std::string& pool, bool all, int& error) {
  error = 0;
  pool_vm_map vms;
  if (!all) {
    int state_error = 0;
    PoolState::Value state = PoolState::read(pool, state_error);
    if (state != PoolState::started && state != PoolState::unreadable) return vms;
  }
  std::vector<std::string> ids = load_pool_state_dir(pool, error);
  if (ids.empty()) return vms;
  const std::map<std::string, int32_t> running = find_bhyve_processes();
  for (const std::string& id : ids) vms[id] = stored_vm_status(id, pool, running);
  return vms;
}

std::map<std::string, std::string> vm_state_query(const std::string& vm_id) {
  if (find_wrapper_processes(vm_id).bhyve < 1) return {};
  return vmmapi_get_config(vm_id);
}
