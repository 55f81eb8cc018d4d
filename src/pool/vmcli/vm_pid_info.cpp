#include "pool/vmcli/vm_pid_info.h"

#include "driver/process_utils.h"
#include "pool/state/pool_list.h"

int64_t vm_pid_info(const std::string& vm_id) {
  ProcessPair pair = find_wrapper_processes(vm_id);
  if (pair.bhyve == 0 && vm_pool_of(vm_id).empty()) return -1;
  return (static_cast<int64_t>(pair.bhyve) << 32) | static_cast<uint32_t>(pair.wrapper);
}
