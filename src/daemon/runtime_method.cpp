#include "daemon/runtime_method.h"

#include <algorithm>
#include <limits>

#include <spdlog/spdlog.h>

#include "ipc/shm.h"
#include "ipc/vm_lock.h"
#include "ipc/vm_runtime_record.h"

std::string write_pending_method(const std::string& vm_id, const std::string& method,
                                 int64_t stop_timeout_s, int lock_timeout_ms) {
  VmLock lock(vm_id, lock_timeout_ms);
  if (!lock.locked()) spdlog::warn("SHM. vm_id={} the VM lock is not taken; writing without it", vm_id);
  Shm shm(vm_id, ShmKind::vm);
  if (!shm.is_open()) return shm.error();
  VmRuntimeRecord record = parse_runtime_record(shm.read());
  if (record.vmid.empty()) record.vmid = vm_id;
  record.method = method;
  if (stop_timeout_s >= 1)
    record.tstamp = static_cast<int32_t>(
        std::min<int64_t>(stop_timeout_s, std::numeric_limits<int32_t>::max()));
  if (!shm.write(record.to_text())) return shm.error();
  return {};
}
