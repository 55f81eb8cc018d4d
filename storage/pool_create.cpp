#include "storage/pool_create.h"

#include <algorithm>
#include <cstring>

#include <fmt/format.h>

#include "storage/device_check.h"
#include "storage/nvlist_read.h"
#include "storage/pool_add.h"
#include "storage/pool_history.h"
#include "storage/pool_spec_check.h"
#include "storage/pool_status.h"
#include "storage/vdev_nvlist.h"
#include "storage/zpool_ref.h"

namespace {

// The entry that ends the table, as libzfs lays it out.
bool ends_table(const zfeature_info_t& entry, size_t index) {
  return entry.fi_feature != index || !entry.fi_uname || !entry.fi_guid || entry.fi_uname[0] == '\0' ||
         !std::strchr(entry.fi_guid, ':');
}

pool_result check_props(const pool_property_list& pool_props) {
  for (const auto& [key, value] : pool_props.values()) {
    if (key.starts_with("feature@")) {
      const std::string* text = std::get_if<std::string>(&value);
      if (!text || *text != "enabled")
        return {pool_error::bad_pool_properties,
                fmt::format("pool property '{}' may only be set to 'enabled' here; to disable a feature use "
                            "pool_spec::features_disabled - the kernel enables any feature whose entry is "
                            "merely present in the properties",
                            key)};
    } else if (pool_result r = check_pool_property(key); !r.ok()) {
      return r;
    }
  }
  return {};
}

// Whether the pool `zhp` is built of every device of `devices`: the pool a
// failed zpool_create left behind, not one that was there before under
// that name.
bool made_of(zpool_handle_t* zhp, const std::vector<std::string>& devices) {
  nvlist_t* config = libzfs::zpool_get_config(zhp, nullptr);
  nvlist_t* tree = config ? nv_list(config, "vdev_tree") : nullptr;
  if (!tree || devices.empty()) return false;
  std::string type;
  return std::all_of(devices.begin(), devices.end(),
                     [&](const std::string& device) { return find_vdev_path(tree, device, type); });
}

}  // namespace

pool_result check_pool_property(const std::string& name) {
  if (name.find(':') != std::string::npos || libzfs::zpool_name_to_prop(name.c_str()) != ZPROP_INVAL)
    return {};
  return {pool_error::bad_pool_properties, fmt::format("unknown pool property '{}'", name)};
}

bool probe_pool(libzfs_handle_t* handle, const std::string& name) {
  libzfs::libzfs_print_on_error(handle, B_FALSE);
  zpool_ref pool(libzfs::zpool_open_canfail(handle, name.c_str()));
  libzfs::libzfs_print_on_error(handle, B_TRUE);
  return pool != nullptr;
}

void enable_pool_features(pool_result& result, pool_property_list& pool_props,
                          const std::vector<std::string>& features_disabled,
                          const zfeature_info_t* table, size_t entries) {
  if (!table) {
    result = {pool_error::internal_error, "libzfs feature table is unavailable"};
    return;
  }
  size_t supported = 0;
  for (size_t i = 0; i < std::min(entries, max_feature_entries); ++i) {
    const zfeature_info_t& entry = table[i];
    if (ends_table(entry, i)) break;
    if (entry.fi_zfs_mod_supported == 0) continue;
    ++supported;
    std::string name = entry.fi_uname;
    if (std::find(features_disabled.begin(), features_disabled.end(), name) != features_disabled.end())
      continue;
    std::string key = "feature@" + name;
    if (pool_props.values().contains(key)) continue;
    if (pool_props.set(key, "enabled") != property_stored) {
      result = {pool_error::internal_error, "pool properties nvlist creation fault"};
      return;
    }
  }
  // What is counted is the table's supported features: a short count means
  // the table is not what this library reads, whatever the caller disabled
  // or enabled itself.
  if (supported < min_supported_features) {
    result = {pool_error::internal_error,
              fmt::format("only {} pool features could be enabled: libzfs feature table layout mismatch",
                          supported)};
    return;
  }
  result = {};
}

void make_pool_props_nvlist(pool_result& result, pool_property_list& pool_props,
                            const std::vector<std::string>& features_disabled) {
  enable_pool_features(result, pool_props, features_disabled, libzfs::spa_feature_table(),
                       libzfs::spa_feature_table_entries(max_feature_entries));
}

pool_result create_pool(zfs_session& zfs, const pool_spec& spec, pool_property_list& pool_props,
                        const dataset_property_list& fs_props) {
  if (!zfs.ok()) return {pool_error::internal_error, libzfs_not_initialized};
  if (pool_result r = validate_pool_spec(spec, true); !r.ok()) return r;
  if (pool_result r = check_props(pool_props); !r.ok()) return r;
  if (probe_pool(zfs.handle(), spec.name))
    return {pool_error::pool_exists, fmt::format("pool '{}' already exists", spec.name)};
  std::vector<vdev_layout> layouts(spec.vdevs.size());
  for (size_t i = 0; i < spec.vdevs.size(); ++i)
    if (pool_result r = check_vdev_geometry(spec.vdevs[i], layouts[i]); !r.ok()) return r;
  std::vector<std::string> devices = collect_spec_devices(spec);
  if (pool_result r = check_device_sizes(zfs, devices, spec); !r.ok()) return r;
  if (spec.dry_run) return {};

  owned_nvlist root;
  if (!make_vdev_nvlist(spec, layouts, spec.ashift, root))
    return {pool_error::internal_error, "vdev nvlist creation fault"};
  if (spec.ashift != 0 && pool_props.set_prop(ZPOOL_PROP_ASHIFT, fmt::format("{}", spec.ashift)) != 0)
    return {pool_error::internal_error, "pool properties nvlist creation fault"};
  pool_result features;
  make_pool_props_nvlist(features, pool_props, spec.features_disabled);
  if (!features.ok()) return features;
  if (pool_result r = clear_labels(devices, spec.full_label_clear); !r.ok()) return r;

  if (libzfs::zpool_create(zfs.handle(), spec.name.c_str(), root.get(), pool_props.list(),
                           fs_props.list()) != 0) {
    std::string error = zfs_error_text(zfs.handle());
    // Only a pool of this call's devices is destroyed: a pool of that name
    // that the existence probe missed is left as it is.
    if (probe_pool(zfs.handle(), spec.name)) {
      zpool_ref pool{libzfs::zpool_open_canfail(zfs.handle(), spec.name.c_str())};
      if (pool && made_of(pool.get(), devices)) {
        std::string log = pool_history_line(history_verb::rollback_failed_create, spec.name);
        libzfs::zpool_destroy(pool.get(), log.c_str());
      }
    }
    return {pool_error::zfs_failure,
            fmt::format("failed to create pool '{}': {}. ZFS labels on the listed devices have been cleared",
                        spec.name, error)};
  }
  log_pool_history(zfs, history_verb::create_pool, spec.name + join_vdev_names(layouts));

  zpool_ref pool(libzfs::zpool_open(zfs.handle(), spec.name.c_str()));
  if (!pool) return {};
  uint64_t guid = libzfs::zpool_get_prop_int(pool.get(), ZPOOL_PROP_GUID, nullptr);
  if (spec.mount_datasets) libzfs::zpool_enable_datasets(pool.get(), nullptr, 0);
  return {pool_error::ok, fmt::format("{}", guid)};
}
