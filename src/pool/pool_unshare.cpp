#include <fmt/format.h>

#include "driver/config.h"
#include "pool/pool_list.h"
#include "pool/pool_operations.h"
#include "pool/pool_state_dir.h"

// The pool's remote disks need the host's NVMe-oF address and services; this
// host has neither yet.
pool_op_result run_pool_unshare(const std::string& pool, const std::string&) {
  if (auto unreadable = pool_state_dir_check(pool)) return {unreadable->code, unreadable->text};
  if (!pool_exists(pool)) return {kPoolFailed, fmt::format("Pool not found: '{}'", pool)};
  return {kPoolFailed, "remote disks are not available on this host"};
}
