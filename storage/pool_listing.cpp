#include "storage/pool_listing.h"

#include <array>
#include <cstring>
#include <string_view>

#include "storage/nvlist_read.h"
#include "storage/owned_nvlist.h"
#include "storage/pool_create.h"
#include "storage/zpool_ref.h"

namespace {

constexpr size_t value_buffer = 1024;

bool is_numeric(const char* values) {
  static constexpr std::array<std::string_view, 8> prefixes = {"<size", "<guid", "<vers", "on | ",
                                                               "<perc", "<thre", "<ashi", "<load"};
  if (!values) return false;
  std::string_view head(values, strnlen(values, 5));
  for (std::string_view prefix : prefixes)
    if (head == prefix) return true;
  return false;
}

struct property_walk {
  zpool_handle_t* pool;
  pool_property_map* properties;
};

int property_step(int prop, void* data) {
  auto& walk = *static_cast<property_walk*>(data);
  auto id = static_cast<zpool_prop_t>(prop);
  const char* name = libzfs::zpool_prop_to_name(id);
  if (!name) return ZPROP_CONT;
  pool_property entry;
  if (is_numeric(libzfs::zpool_prop_values(id))) entry.number = libzfs::zpool_get_prop_int(walk.pool, id, nullptr);
  char buffer[value_buffer] = "";
  zprop_source_t source = ZPROP_SRC_NONE;
  if (libzfs::zpool_get_prop(walk.pool, id, buffer, sizeof buffer, &source, B_FALSE) == 0) {
    entry.value = buffer;
    entry.source = source;
  }
  walk.properties->emplace(name, entry);
  return ZPROP_CONT;
}

void add_feature(zpool_handle_t* pool, const std::string& name, pool_property_map& properties) {
  char buffer[value_buffer] = "";
  if (libzfs::zpool_prop_get_feature(pool, name.c_str(), buffer, sizeof buffer) == 0)
    properties.emplace(name, pool_property{buffer, UINT64_MAX, ZPROP_SRC_LOCAL});
}

void add_features(zpool_handle_t* pool, pool_property_map& properties) {
  const zfeature_info_t* table = libzfs::spa_feature_table();
  nvlist_t* features = libzfs::zpool_get_features(pool);
  if (!table || !features) return;
  size_t entries = libzfs::spa_feature_table_entries(max_feature_entries);
  for (size_t i = 0; i < entries; ++i) {
    const zfeature_info_t& entry = table[i];
    if (entry.fi_feature != i || !entry.fi_uname || !entry.fi_guid || entry.fi_uname[0] == '\0' ||
        !std::strchr(entry.fi_guid, ':'))
      break;
    add_feature(pool, std::string("feature@") + entry.fi_uname, properties);
  }
  for (nvpair_t* pair = nvpair::nvlist_next_nvpair(features, nullptr); pair;
       pair = nvpair::nvlist_next_nvpair(features, pair)) {
    const char* name = nvpair::nvpair_name(pair);
    if (name && !libzfs::zfeature_is_supported(name)) add_feature(pool, std::string("unsupported@") + name, properties);
  }
}

int pool_step(zpool_handle_t* handle, void* data) {
  auto& pools = *static_cast<std::map<std::string, pool_property_map>*>(data);
  zpool_ref pool(handle);
  pool_property_map properties;
  property_walk walk{handle, &properties};
  libzfs::zprop_iter(property_step, &walk, B_TRUE, B_FALSE, ZFS_TYPE_POOL);
  add_features(handle, properties);
  const char* name = libzfs::zpool_get_name(handle);
  pools.emplace(name ? name : "", std::move(properties));
  return 0;
}

}  // namespace

std::map<std::string, pool_property_map> list_pool_records(zfs_session& zfs) {
  std::map<std::string, pool_property_map> pools;
  if (!zfs.ok()) return pools;
  libzfs::zpool_iter(zfs.handle(), pool_step, &pools);
  return pools;
}

std::unordered_map<std::string, std::string> list_importable_pools(zfs_session& zfs) {
  std::unordered_map<std::string, std::string> pools;
  pools.max_load_factor(1.0f);
  if (!zfs.ok()) return pools;
  libpc_handle_t search;
  std::memset(&search, 0, sizeof search);
  search.lpc_lib_handle = zfs.handle();
  search.lpc_ops = libzfs::libzfs_config_ops();
  importargs_t args;
  std::memset(&args, 0, sizeof args);
  owned_nvlist found(libzfs::zpool_search_import(&search, &args));
  if (!found) return pools;
  for (nvpair_t* pair = nvpair::nvlist_next_nvpair(found.get(), nullptr); pair;
       pair = nvpair::nvlist_next_nvpair(found.get(), pair)) {
    nvlist_t* config = nullptr;
    if (nvpair::nvpair_value_nvlist(pair, &config) != 0 || !config) continue;
    if (nv_uint64(config, "state") == uint64_t{POOL_STATE_DESTROYED}) continue;
    nvlist_t* tree = nv_list(config, "vdev_tree");
    auto stats = tree ? nv_numbers(tree, "vdev_stats") : std::nullopt;
    if (!stats || stats->size() < 3) continue;
    const char* state = libzfs::zpool_state_to_name(static_cast<vdev_state_t>((*stats)[1]),
                                                    static_cast<vdev_aux_t>((*stats)[2]));
    pools.emplace(nvpair::nvpair_name(pair), state ? state : "");
  }
  return pools;
}
