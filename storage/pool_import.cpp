#include "storage/pool_import.h"

#include <cstring>
#include <vector>

#include <fmt/format.h>

#include "storage/nvlist_read.h"
#include "storage/owned_nvlist.h"
#include "storage/pool_create.h"
#include "storage/pool_history.h"
#include "storage/pool_status.h"
#include "storage/zpool_ref.h"

namespace {

// The configurations of the importable pools named `pool`; null when the
// search found none.
owned_nvlist search_pool(zfs_session& zfs, const std::string& pool) {
  libpc_handle_t search;
  std::memset(&search, 0, sizeof search);
  search.lpc_lib_handle = zfs.handle();
  search.lpc_ops = libzfs::libzfs_config_ops();
  importargs_t args;
  std::memset(&args, 0, sizeof args);
  args.poolname = pool.c_str();
  return owned_nvlist(libzfs::zpool_search_import(&search, &args));
}

}  // namespace

pool_result set_pool_property(zfs_session& zfs, const std::string& pool, const std::string& name,
                              const std::string& value) {
  if (!zfs.ok()) return {pool_error::internal_error, libzfs_not_initialized};
  if (!name.starts_with("feature@")) {
    if (pool_result r = check_pool_property(name); !r.ok()) return r;
  }
  libzfs::libzfs_print_on_error(zfs.handle(), B_FALSE);
  pool_result result;
  if (zpool_ref zhp{libzfs::zpool_open(zfs.handle(), pool.c_str())}) {
    if (libzfs::zpool_set_prop(zhp.get(), name.c_str(), value.c_str()) != 0)
      result = {pool_error::zfs_failure, zfs_error_text(zfs.handle())};
  } else {
    result = {pool_error::pool_not_found, fmt::format("pool '{}' not found: {}", pool, zfs_error_text(zfs.handle()))};
  }
  libzfs::libzfs_print_on_error(zfs.handle(), B_TRUE);
  return result;
}

zfs_call_result export_pool(zfs_session& zfs, const std::string& pool, bool force, bool hardforce) {
  if (!zfs.ok()) return {-1, libzfs_not_initialized};
  zpool_ref zhp(libzfs::zpool_open_canfail(zfs.handle(), pool.c_str()));
  if (!zhp) return {-1, zfs.error_description()};
  int32_t code = 0;
  if (libzfs::zpool_get_state(zhp.get()) == POOL_STATE_UNAVAIL) {
    code = -1;
  } else if (libzfs::zpool_disable_datasets(zhp.get(), force ? B_TRUE : B_FALSE) != 0) {
    code = -1;
  } else {
    std::string log = pool_history_line(history_verb::export_pool,
                                        pool + (hardforce ? "(hardforce)" : force ? " (force)" : ""));
    int rc = hardforce ? libzfs::zpool_export_force(zhp.get(), log.c_str())
                       : libzfs::zpool_export(zhp.get(), force ? B_TRUE : B_FALSE, log.c_str());
    code = rc == 0 ? 0 : -1;
  }
  return {code, zfs.error_description()};
}

zfs_call_result import_pool(zfs_session& zfs, const std::string& pool, const pool_property_list& props,
                            int32_t import_flags) {
  if (!zfs.ok()) return {-1, libzfs_not_initialized};
  owned_nvlist found = search_pool(zfs, pool);
  if (!found) return {-1, fmt::format("no such pool available to import: {}", pool)};
  // Destroyed pools are not importable; a name that several pools carry
  // does not say which one is meant.
  nvlist_t* config = nullptr;
  size_t candidates = 0, destroyed = 0;
  for (nvpair_t* pair = nvpair::nvlist_next_nvpair(found.get(), nullptr); pair;
       pair = nvpair::nvlist_next_nvpair(found.get(), pair)) {
    nvlist_t* value = nullptr;
    if (nvpair::nvpair_value_nvlist(pair, &value) != 0 || !value) continue;
    if (nv_uint64(value, "state").value_or(POOL_STATE_ACTIVE) == POOL_STATE_DESTROYED) {
      ++destroyed;
      continue;
    }
    if (++candidates == 1) config = value;
  }
  if (candidates > 1)
    return {-1, fmt::format("{} pools available to import are named {}; import one of them by its guid",
                            candidates, pool)};
  if (!config && destroyed > 0) return {-1, fmt::format("no such pool available to import: {}", pool)};
  if (!config) return {-1, fmt::format("no such pool available: {}", pool)};
  if (libzfs::zpool_import_props(zfs.handle(), config, nullptr, props.list(), import_flags) != 0)
    return {-1, fmt::format("import pool failed: {}", pool)};
  zfs_call_result result{0, fmt::format("{}", nv_uint64(config, "pool_guid").value_or(0))};
  log_pool_history(zfs, history_verb::import_pool, pool);
  found.reset();
  if (!(import_flags & ZFS_IMPORT_ONLY)) {
    zpool_ref zhp(libzfs::zpool_open_canfail(zfs.handle(), pool.c_str()));
    if (zhp && libzfs::zpool_get_state(zhp.get()) != POOL_STATE_UNAVAIL)
      libzfs::zpool_enable_datasets(zhp.get(), nullptr, 0);
  }
  return result;
}
