#include "pool/vm_status_query.h"

#include <fmt/format.h>

#include "bhwrap/checkpoint_header.h"
#include "driver/process_utils.h"
#include "hostlib/vmmapi.h"
#include "model/pool_state.h"
#include "pool/pool_state_dir.h"

std::string suspend_image_path(const std::string& vm_id, const std::string& pool) {
  return fmt::format("/dev/zvol/{}/.vm_V4/{:0>9}/snapshot.bvmss", pool, vm_id);
}

VmStatus stored_vm_status(const std::string& vm_id, const std::string& pool) {
  if (find_wrapper_processes(vm_id).bhyve >= 1) return VmStatus::started;
  snapshot_config image(suspend_image_path(vm_id, pool), vm_id);
  if (read_checkpoint_header(image, true).code == 0) return VmStatus::suspended;
  return VmStatus::offline;
}

pool_vm_map read_pool_state(const std::string& pool, bool all, int& error) {
  error = 0;
  pool_vm_map vms;
  if (!all) {
    int state_error = 0;
    PoolState::Value state = PoolState::read(pool, state_error);
    if (state != PoolState::started && state != PoolState::unreadable) return vms;
  }
  for (const std::string& id : load_pool_state_dir(pool, error)) vms[id] = stored_vm_status(id, pool);
  return vms;
}

std::map<std::string, std::string> vm_state_query(const std::string& vm_id) {
  if (find_wrapper_processes(vm_id).bhyve < 1) return {};
  return vmmapi_get_config(vm_id);
}
