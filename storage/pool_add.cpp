#include "storage/pool_add.h"

#include <algorithm>

#include <fmt/format.h>

#include "storage/device_check.h"
#include "storage/nvlist_read.h"
#include "storage/pool_history.h"
#include "storage/pool_spec_check.h"
#include "storage/pool_status.h"
#include "storage/vdev_nvlist.h"
#include "storage/zpool_ref.h"

namespace {

bool is_raid(const std::string& type) { return type == "raidz" || type == "draid"; }

pool_result mismatch(const vdev_geometry& e, const vdev_geometry& n, const char* ending) {
  return {pool_error::redundancy_mismatch,
          fmt::format("mismatched replication level: pool consists of {}, requested vdev is {}{}",
                      describe_vdev_geometry(e), describe_vdev_geometry(n), ending)};
}

}  // namespace

bool find_vdev_path(nvlist_t* tree, const std::string& path, std::string& type) {
  if (!tree) return false;
  if (nv_string(tree, "path") == path) {
    type = nv_string(tree, "type").value_or("");
    return true;
  }
  for (const char* member : {"children", "spares", "l2cache"})
    if (auto members = nv_lists(tree, member))
      for (nvlist_t* child : *members)
        if (find_vdev_path(child, path, type)) return true;
  return false;
}

void read_pool_geometry(pool_result& result, zpool_handle_t* zhp, std::vector<vdev_geometry>& geometries,
                        bool& has_indirect) {
  geometries.clear();
  has_indirect = false;
  nvlist_t* config = libzfs::zpool_get_config(zhp, nullptr);
  if (!config) {
    result = {pool_error::zfs_failure, "pool configuration is unavailable"};
    return;
  }
  nvlist_t* tree = nv_list(config, "vdev_tree");
  if (!tree) {
    result = {pool_error::zfs_failure, "pool configuration has no vdev tree"};
    return;
  }
  auto children = nv_lists(tree, "children");
  if (!children) {
    result = {pool_error::zfs_failure, "pool vdev tree has no children"};
    return;
  }
  for (nvlist_t* child : *children) {
    auto type = nv_string(child, "type");
    if (!type || *type == "hole") continue;
    if (*type == "indirect") {
      has_indirect = true;
      continue;
    }
    if (nv_uint64(child, "is_log").value_or(0) != 0) continue;
    auto members = nv_lists(child, "children");
    geometries.push_back({*type, members ? members->size() : 1, nv_uint64(child, "nparity").value_or(0)});
  }
  result = {};
}

pool_result check_add_geometry(const std::vector<vdev_geometry>& existing,
                               const std::vector<vdev_geometry>& added, bool force) {
  if (force || existing.empty() || added.empty()) return {};
  const vdev_geometry& e = existing.front();
  if (!std::all_of(existing.begin(), existing.end(), [&](const vdev_geometry& g) { return g == e; }))
    return {};  // a mixed pool: nothing to repeat
  for (const vdev_geometry& n : added) {
    if (is_raid(e.type) && is_raid(n.type)) {
      if (n.parity != e.parity) return mismatch(e, n, "; parity levels differ");
      if (n.device_count != e.device_count)
        return mismatch(e, n,
                        ". An existing dRAID group cannot be widened, and RAIDZ expansion is not supported by "
                        "the controller; a new top-level vdev must repeat the existing geometry");
    } else if (is_raid(e.type) && n.type == "mirror") {
      if (n.device_count - 1 != e.parity) return mismatch(e, n, "");
    } else if (e.type == "mirror" && is_raid(n.type)) {
      if (n.parity != e.device_count - 1) return mismatch(e, n, "");
    } else if (n.type != e.type || n.device_count != e.device_count) {
      return mismatch(e, n, "");
    }
  }
  return {};
}

pool_result expansion_refusal_text(const std::string& pool, const std::string& vdev, const std::string& type) {
  if (type == "draid")
    return {pool_error::unsupported,
            fmt::format("dRAID vdev '{}' cannot be expanded: its geometry (parity, data stripe width, distributed "
                        "spares, children count) is fixed at creation time and no ZFS operation changes it. To "
                        "grow pool '{}', add a NEW top-level vdev of the same geometry, or replace disks one by "
                        "one with larger ones keeping pool property autoexpand=on",
                        vdev, pool)};
  if (type == "raidz")
    return {pool_error::unsupported,
            fmt::format("RAIDZ vdev '{}' cannot be expanded by this method: RAIDZ expansion is not implemented in "
                        "ombrix-storage, and on OpenZFS older than 2.3 it does not exist at all. To grow pool "
                        "'{}', add a NEW top-level vdev of the same geometry",
                        vdev, pool)};
  return {pool_error::unsupported,
          fmt::format("vdev '{}' cannot be expanded by this method. To grow pool '{}', add a NEW top-level vdev "
                      "of the same geometry",
                      vdev, pool)};
}

pool_result add_vdev(zfs_session& zfs, const std::string& pool, const pool_spec& spec) {
  if (!zfs.ok()) return {pool_error::internal_error, libzfs_not_initialized};
  if (pool_result r = validate_pool_spec(spec, false); !r.ok()) return r;
  zpool_ref zhp(libzfs::zpool_open(zfs.handle(), pool.c_str()));
  if (!zhp)
    return {pool_error::pool_not_found, fmt::format("pool '{}' not found: {}", pool, zfs_error_text(zfs.handle()))};
  std::vector<vdev_layout> layouts(spec.vdevs.size());
  for (size_t i = 0; i < spec.vdevs.size(); ++i)
    if (pool_result r = check_vdev_geometry(spec.vdevs[i], layouts[i]); !r.ok()) return r;
  std::vector<std::string> devices = collect_spec_devices(spec);
  if (pool_result r = check_device_sizes(zfs, devices, spec); !r.ok()) return r;

  nvlist_t* config = libzfs::zpool_get_config(zhp.get(), nullptr);
  nvlist_t* tree = config ? nv_list(config, "vdev_tree") : nullptr;
  for (const std::string& path : devices) {
    std::string type;
    if (find_vdev_path(tree, path, type))
      return {pool_error::device_in_use,
              fmt::format("'{}' already belongs to pool '{}'. Widening an existing redundancy group is not "
                          "supported; zpool add only creates a new top-level vdev",
                          path, pool)};
  }
  pool_result result;
  std::vector<vdev_geometry> existing;
  bool has_indirect = false;
  read_pool_geometry(result, zhp.get(), existing, has_indirect);
  if (!result.ok()) return result;
  bool adds_raid = std::any_of(spec.vdevs.begin(), spec.vdevs.end(), [](const vdev_spec& v) {
    return v.type == vdev_type::raidz || v.type == vdev_type::draid;
  });
  if (has_indirect && adds_raid)
    return {pool_error::unsupported,
            fmt::format("pool '{}' contains removed (indirect) vdevs and does not support adding raidz or dRAID vdevs",
                        pool)};
  std::vector<vdev_geometry> added;
  for (size_t i = 0; i < spec.vdevs.size(); ++i)
    if (spec.vdevs[i].role == vdev_role::data)
      added.push_back({layouts[i].type_name, layouts[i].device_count, layouts[i].nparity});
  if (pool_result r = check_add_geometry(existing, added, spec.force); !r.ok()) return r;
  if (spec.dry_run) return {};

  uint64_t ashift = spec.ashift;
  if (ashift == 0) {
    zprop_source_t source = ZPROP_SRC_DEFAULT;
    uint64_t pool_ashift = libzfs::zpool_get_prop_int(zhp.get(), ZPOOL_PROP_ASHIFT, &source);
    ashift = source == ZPROP_SRC_DEFAULT ? 0 : pool_ashift;
  }
  owned_nvlist root;
  if (!make_vdev_nvlist(spec, layouts, ashift, root)) return {pool_error::internal_error, "vdev nvlist creation fault"};
  if (pool_result r = clear_labels(devices, spec.full_label_clear); !r.ok()) return r;
  if (libzfs::zpool_add(zhp.get(), root.get(), spec.force ? B_FALSE : B_TRUE) != 0)
    return {pool_error::zfs_failure,
            fmt::format("failed to add vdev to pool '{}': {}. ZFS labels on the listed devices have been cleared",
                        pool, zfs_error_text(zfs.handle()))};
  log_pool_history(zfs, history_verb::add_vdev, pool);
  return {pool_error::ok, fmt::format("{}", libzfs::zpool_get_prop_int(zhp.get(), ZPOOL_PROP_GUID, nullptr))};
}
