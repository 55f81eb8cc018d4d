#include <cstdio>

#include <spdlog/spdlog.h>

#include "model/pool_state.h"
#include "pool/poolcli/pool_operations.h"

bool pool_rollback_mark(const std::string& pool) {
  if (PoolState::set_marks(pool, PoolState::started)) return true;
  spdlog::error(
      "Pool '{}' ### rollback left the pool marked not-started: its VMs are restored, but per-VM "
      "commands stay rejected until the state directory is fixed",
      pool);
  std::fprintf(stderr,
               "### Pool '%s' rollback failed to restore state: VMs are restored, but the pool "
               "stays marked not-started\n",
               pool.c_str());
  return false;
}
