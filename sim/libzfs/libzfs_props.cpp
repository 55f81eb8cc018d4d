// The stand-in's property tables, feature table and configuration
// operations: entry points that need no model.
#pragma GCC visibility push(default)
#include <libzfs.h>
#pragma GCC visibility pop

#include <cstring>

#include "sim/libzfs/prop_table.h"

namespace {

const char* const dataset_type_names[] = {"filesystem", "snapshot", "volume", "pool", "bookmark"};

nvlist_t* refresh_config(void*, nvlist_t*) { return nullptr; }

int pool_active(void*, const char*, uint64_t, boolean_t* isactive) {
  if (isactive) *isactive = B_FALSE;
  return 0;
}

}  // namespace

extern "C" {

const pool_config_ops_t libzfs_config_ops = {refresh_config, pool_active};

const char* zfs_type_to_name(zfs_type_t type) {
  for (int i = 0; i < 5; ++i)
    if (type == (1 << i)) return dataset_type_names[i];
  return nullptr;
}

const char* zfs_prop_to_name(zfs_prop_t prop) {
  const zfs_sim::PropEntry* entry = zfs_sim::dataset_prop(prop);
  return entry ? entry->name : nullptr;
}

zfs_prop_t zfs_name_to_prop(const char* name) {
  const zfs_sim::PropEntry* entry = name ? zfs_sim::dataset_prop(std::string(name)) : nullptr;
  return static_cast<zfs_prop_t>(entry ? entry->id : ZPROP_INVAL);
}

boolean_t zfs_prop_user(const char* name) {
  return name && zfs_sim::is_user_prop(name) ? B_TRUE : B_FALSE;
}

boolean_t zfs_prop_is_string(zfs_prop_t prop) {
  const zfs_sim::PropEntry* entry = zfs_sim::dataset_prop(prop);
  return entry && entry->kind == zfs_sim::PropKind::string ? B_TRUE : B_FALSE;
}

boolean_t zfs_prop_valid_for_type(int prop, zfs_type_t type, boolean_t headcheck) {
  const zfs_sim::PropEntry* entry = zfs_sim::dataset_prop(prop);
  return entry && (entry->types & type) ? B_TRUE : B_FALSE;
}

const char* zfs_prop_values(zfs_prop_t prop) {
  const zfs_sim::PropEntry* entry = zfs_sim::dataset_prop(prop);
  return entry ? entry->values : nullptr;
}

int zprop_iter(zprop_func func, void* data, boolean_t show_all, boolean_t ordered, zfs_type_t type) {
  if (!func) return ZPROP_INVAL;
  const auto& table = type == ZFS_TYPE_POOL ? zfs_sim::pool_props() : zfs_sim::dataset_props();
  for (const zfs_sim::PropEntry& entry : table) {
    if (!(entry.types & type)) continue;
    int rc = func(entry.id, data);
    if (rc != ZPROP_CONT) return rc;
  }
  return ZPROP_CONT;
}

const char* zpool_prop_to_name(zpool_prop_t prop) {
  const zfs_sim::PropEntry* entry = zfs_sim::pool_prop(prop);
  return entry ? entry->name : nullptr;
}

zpool_prop_t zpool_name_to_prop(const char* name) {
  const zfs_sim::PropEntry* entry = name ? zfs_sim::pool_prop(std::string(name)) : nullptr;
  return static_cast<zpool_prop_t>(entry ? entry->id : ZPROP_INVAL);
}

const char* zpool_prop_values(zpool_prop_t prop) {
  const zfs_sim::PropEntry* entry = zfs_sim::pool_prop(prop);
  return entry ? entry->values : nullptr;
}

}  // extern "C"
