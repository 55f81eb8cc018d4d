// The stand-in's entry points that change pools: create, destroy, add,
// attach, online, offline, clear, properties, mounting, export, the import
// search and import.
#pragma GCC visibility push(default)
#include <libzfs.h>
#pragma GCC visibility pop

#include <cstring>

#include "sim/include/libnvpair_stand_in.h"
#include "sim/libzfs/nvlist_json.h"
#include "sim/libzfs/pool_calls.h"

using nlohmann::json;
using zfs_sim::Failure;
using zfs_sim::Outcome;
using zfs_sim::PoolModel;

namespace {

// Runs `op` on the pool model for the pool of `zhp`; -1 with the failure
// recorded under `action`, else 0.
template <class F>
int on_pool(zpool_handle_t* zhp, const char* function, const std::string& action, F&& op) {
  if (!zhp) return -1;
  Outcome outcome = zfs_sim::with_pools(zhp->hdl, function, std::forward<F>(op));
  if (outcome) return zfs_sim::record(zhp->hdl, action, *outcome);
  zhp->hdl->last_pool = zhp->name;
  return 0;
}

}  // namespace

extern "C" {

int zpool_create(libzfs_handle_t* hdl, const char* pool, nvlist_t* nvroot, nvlist_t* props,
                 nvlist_t* fsprops) {
  if (!hdl || !pool || !nvroot) return -1;
  json root = zfs_sim::nvlist_to_json(nvroot);
  json pool_props = zfs_sim::nvlist_to_json(props);
  (void)fsprops;  // the root dataset's properties are not modelled
  Outcome outcome = zfs_sim::with_pools(hdl, "zpool_create", [&](PoolModel& model) -> Outcome {
    if (Outcome failure = model.create(pool, root, pool_props)) return failure;
    // A planned failure after the pool was made ("zpool_create_late").
    return model.zfs().take_fault("zpool_create_late");
  });
  if (outcome) return zfs_sim::record(hdl, std::string("cannot create '") + pool + "'", *outcome);
  hdl->last_pool = pool;
  return 0;
}

int zpool_destroy(zpool_handle_t* zhp, const char* log_str) {
  return on_pool(zhp, "zpool_destroy", "cannot destroy '" + (zhp ? zhp->name : "") + "'",
                 [&](PoolModel& model) -> Outcome {
                   if (log_str) model.zfs().log_history(zhp->name, log_str);
                   return model.destroy(zhp->name);
                 });
}

int zpool_add(zpool_handle_t* zhp, nvlist_t* nvroot, boolean_t check_ashift) {
  json root = zfs_sim::nvlist_to_json(nvroot);
  if (zhp) zfs_sim::note_call(zhp->hdl, "zpool_add", {{"pool", zhp->name}, {"check_ashift", check_ashift != B_FALSE}});
  return on_pool(zhp, "zpool_add", "cannot add to '" + (zhp ? zhp->name : "") + "'",
                 [&](PoolModel& model) { return model.add(zhp->name, root); });
}

int zpool_vdev_attach(zpool_handle_t* zhp, const char* old_disk, const char* new_disk, nvlist_t* nvroot,
                      int replacing, boolean_t rebuild) {
  if (!old_disk || !new_disk || !nvroot) return -1;
  if (zhp)
    zfs_sim::note_call(zhp->hdl, "zpool_vdev_attach",
                       {{"pool", zhp->name}, {"old", old_disk}, {"new", new_disk}, {"replacing", replacing},
                        {"rebuild", rebuild != B_FALSE}});
  json root = zfs_sim::nvlist_to_json(nvroot);
  return on_pool(zhp, "zpool_vdev_attach", std::string("cannot attach ") + new_disk + " to " + old_disk,
                 [&](PoolModel& model) {
                   return model.attach(zhp->name, old_disk, new_disk, root, replacing != 0);
                 });
}

int zpool_vdev_online(zpool_handle_t* zhp, const char* path, int, vdev_state_t* newstate) {
  if (!path) return -1;
  int state = VDEV_STATE_UNKNOWN;
  int rc = on_pool(zhp, "zpool_vdev_online", std::string("cannot online ") + path,
                   [&](PoolModel& model) { return model.online(zhp->name, path, state); });
  if (newstate) *newstate = static_cast<vdev_state_t>(state);
  return rc;
}

int zpool_vdev_offline(zpool_handle_t* zhp, const char* path, boolean_t istmp) {
  if (!path) return -1;
  if (zhp)
    zfs_sim::note_call(zhp->hdl, "zpool_vdev_offline",
                       {{"pool", zhp->name}, {"path", path}, {"temporary", istmp != B_FALSE}});
  return on_pool(zhp, "zpool_vdev_offline", std::string("cannot offline ") + path,
                 [&](PoolModel& model) { return model.offline(zhp->name, path); });
}

int zpool_clear(zpool_handle_t* zhp, const char* path, nvlist_t* rewind_policy) {
  if (zhp)
    zfs_sim::note_call(zhp->hdl, "zpool_clear",
                       {{"pool", zhp->name}, {"rewind_policy", zfs_sim::nvlist_to_json(rewind_policy)}});
  if (path) return zfs_sim::unsupported(zhp ? zhp->hdl : nullptr, "zpool_clear of one device");
  return on_pool(zhp, "zpool_clear", "cannot clear errors for " + (zhp ? zhp->name : ""),
                 [&](PoolModel& model) { return model.clear(zhp->name); });
}

int zpool_set_prop(zpool_handle_t* zhp, const char* name, const char* value) {
  if (!name || !value) return -1;
  return on_pool(zhp, "zpool_set_prop", std::string("cannot set property for '") + (zhp ? zhp->name : "") + "'",
                 [&](PoolModel& model) { return model.set_prop(zhp->name, name, value); });
}

int zpool_enable_datasets(zpool_handle_t* zhp, const char*, int) {
  return on_pool(zhp, "zpool_enable_datasets", "cannot mount datasets",
                 [&](PoolModel& model) { return model.set_mounted(zhp->name, true); });
}

int zpool_disable_datasets(zpool_handle_t* zhp, boolean_t) {
  return on_pool(zhp, "zpool_disable_datasets", "cannot unmount datasets",
                 [&](PoolModel& model) { return model.set_mounted(zhp->name, false); });
}

static int export_pool(zpool_handle_t* zhp, const char* function, const char* log_str) {
  return on_pool(zhp, function, "cannot export '" + (zhp ? zhp->name : "") + "'",
                 [&](PoolModel& model) -> Outcome {
                   if (log_str) model.zfs().log_history(zhp->name, log_str);
                   return model.export_pool(zhp->name);
                 });
}

int zpool_export(zpool_handle_t* zhp, boolean_t force, const char* log_str) {
  if (zhp) zfs_sim::note_call(zhp->hdl, "zpool_export", {{"pool", zhp->name}, {"force", force != B_FALSE}});
  return export_pool(zhp, "zpool_export", log_str);
}

int zpool_export_force(zpool_handle_t* zhp, const char* log_str) {
  if (zhp) zfs_sim::note_call(zhp->hdl, "zpool_export_force", {{"pool", zhp->name}});
  return export_pool(zhp, "zpool_export_force", log_str);
}

nvlist_t* zpool_search_import(libpc_handle_t* hdl, importargs_t* args) {
  if (!hdl || !args || !hdl->lpc_lib_handle || hdl->lpc_ops != &libzfs_config_ops) return nullptr;
  auto* lib = static_cast<libzfs_handle_t*>(hdl->lpc_lib_handle);
  std::vector<std::pair<std::string, json>> found;
  Outcome outcome = zfs_sim::with_pools(lib, "zpool_search_import", [&](PoolModel& model) -> Outcome {
    found = model.search(args->poolname ? args->poolname : "");
    return std::nullopt;
  });
  if (outcome) return zfs_sim::record(lib, "cannot search for pools", *outcome), nullptr;
  // Pools of one name may repeat: the list does not keep names unique.
  nvlist_t* pools = nullptr;
  if (found.empty() || nvlist_alloc(&pools, 0, 0) != 0) return nullptr;
  for (const auto& [name, config] : found) {
    if (args->guid && config.value("pool_guid", uint64_t{0}) != args->guid) continue;
    nvlist_t* list = zfs_sim::json_to_nvlist(config);
    if (list) nvlist_add_nvlist(pools, name.c_str(), list);
    nvlist_free(list);
  }
  if (nvlist_empty(pools)) {
    nvlist_free(pools);
    return nullptr;
  }
  return pools;
}

int zpool_import_props(libzfs_handle_t* hdl, nvlist_t* config, const char* newname, nvlist_t* props,
                       int flags) {
  if (!hdl || !config) return -1;
  json wanted = zfs_sim::nvlist_to_json(config);
  zfs_sim::note_call(hdl, "zpool_import_props",
                     {{"pool", wanted.value("name", "")}, {"flags", flags}, {"props", zfs_sim::nvlist_to_json(props)}});
  json set = zfs_sim::nvlist_to_json(props);
  std::string name = wanted.value("name", "");
  Outcome outcome = zfs_sim::with_pools(hdl, "zpool_import_props", [&](PoolModel& model) -> Outcome {
    if (Outcome failure = model.import(wanted, newname ? newname : "")) return failure;
    for (const auto& [key, value] : set.items())
      if (value.is_string())
        if (Outcome failure = model.set_prop(name, key, value.get<std::string>())) return failure;
    return std::nullopt;
  });
  if (outcome) return zfs_sim::record(hdl, "cannot import '" + name + "'", *outcome);
  hdl->last_pool = name;
  return 0;
}

}  // extern "C"
