#include <cstdio>

#include <fmt/format.h>

#include "driver/config.h"
#include "model/pool_state.h"
#include "pool/state/lock_file.h"
#include "pool/state/pool_list.h"
#include "pool/poolcli/pool_operations.h"
#include "pool/state/pool_state_dir.h"
#include "pool/poolcli/pool_vm_loop.h"
#include "pool/vmcli/vm_unshare.h"

// Reports, and with "force" withdraws, the NVMe-oF shares of every VM of a
// started pool, one VM after the other on this thread.
pool_op_result run_pool_unshare(const std::string& pool, const std::string& param) {
  if (auto unreadable = pool_state_dir_check(pool)) return {unreadable->code, unreadable->text};
  if (!pool_exists(pool)) return {kPoolFailed, fmt::format("Pool not found: '{}'", pool)};
  std::optional<std::string> address = nvmf_address(pool);
  if (!address || address->empty())
    return {kPoolFailed, fmt::format("Pool '{}': No IP-interface with NVMf-label", pool)};
  std::printf("POOL '%s': NVMf IP=%s\n", pool.c_str(), address->c_str());
  std::fflush(stdout);

  LockFile lock(PoolState(pool).dir() + "/.lock");
  if (lock.try_lock() == 1)
    return {kPoolFailed, fmt::format("Pool '{}' is busy performing another operation", pool)};
  if (PoolState::read(pool) != PoolState::started)
    return {kPoolFailed, fmt::format("Pool '{}' hould only be started", pool)};
  std::vector<std::string> vms;
  if (auto unreadable = pool_vm_list(pool, vms)) return {unreadable->code, unreadable->text};

  failed_vm_set failed;
  for (const std::string& id : vms)
    if (!vm_unshare(id, param, pool, *address)) failed.insert(id);
  std::fflush(stdout);
  if (failed.empty()) return {kPoolOk, ""};
  return {kPoolFailed, join_vm_ids(failed)};
}
