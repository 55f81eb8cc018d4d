// The stand-in's entry points for clones, renames, dependents, mounting and
// sharing, inheriting and user properties.
#pragma GCC visibility push(default)
#include <libzfs.h>
#pragma GCC visibility pop

#include <utility>
#include <vector>

#include "sim/include/libnvpair_stand_in.h"
#include "sim/libzfs/dataset_model.h"
#include "sim/libzfs/entry_helpers.h"

using zfs_sim::DatasetModel;
using zfs_sim::Failure;
using zfs_sim::Outcome;
using zfs_sim::ZfsModel;
using zfs_sim::change;
using zfs_sim::quoted;

namespace zfs_sim {

// Calls `func` with a new handle for each of `found` (name, type) until one
// answers non-zero; the callback owns the handle.
int call_each(libzfs_handle_t* hdl, const std::vector<std::pair<std::string, int>>& found,
              zfs_iter_f func, void* data) {
  for (const auto& [name, type] : found)
    if (int rc = func(new zfs_handle{hdl, name, static_cast<zfs_type_t>(type)}, data)) return rc;
  return 0;
}

}  // namespace zfs_sim

extern "C" {

int zfs_clone(zfs_handle_t* zhp, const char* target, nvlist_t* props) {
  if (!zhp || !target) return -1;
  std::string action = quoted("cannot create", target);
  auto settings = zfs_sim::settings_of(props);
  if (auto* failure = std::get_if<Failure>(&settings)) return zfs_sim::record(zhp->hdl, action, *failure);
  return change(zhp->hdl, "zfs_clone", action, target, [&](ZfsModel& model) {
    return DatasetModel(model).clone(zhp->name, target, std::get<0>(settings));
  });
}

int zfs_rename(zfs_handle_t* zhp, const char* target, zfs_rename_flags_t) {
  if (!zhp || !target) return -1;
  int rc = change(zhp->hdl, "zfs_rename", quoted("cannot rename", zhp->name), target,
                  [&](ZfsModel& model) { return DatasetModel(model).rename(zhp->name, target); });
  if (rc == 0) zhp->name = target;
  return rc;
}

int zfs_iter_dependents(zfs_handle_t* zhp, boolean_t, zfs_iter_f func, void* data) {
  if (!zhp || !func) return -1;
  std::vector<std::pair<std::string, int>> found;
  Outcome outcome = zfs_sim::with_model(zhp->hdl, "zfs_iter_dependents", [&](ZfsModel& model) -> Outcome {
    if (!model.dataset_type(zhp->name)) return Failure{EZFS_NOENT, ""};
    for (const std::string& name : DatasetModel(model).dependents(zhp->name))
      found.emplace_back(name, model.dataset_type(name).value_or(0));
    return std::nullopt;
  });
  if (outcome) return zfs_sim::record(zhp->hdl, quoted("cannot iterate dependents of", zhp->name), *outcome);
  return zfs_sim::call_each(zhp->hdl, found, func, data);
}

int zfs_mount(zfs_handle_t* zhp, const char*, int) {
  if (!zhp) return -1;
  return change(zhp->hdl, "zfs_mount", quoted("cannot mount", zhp->name), zhp->name,
                [&](ZfsModel& model) { return DatasetModel(model).mount(zhp->name); });
}

int zfs_share(zfs_handle_t* zhp) {
  if (!zhp) return -1;
  return change(zhp->hdl, "zfs_share", quoted("cannot share", zhp->name), zhp->name,
                [&](ZfsModel& model) { return DatasetModel(model).share(zhp->name); });
}

boolean_t zfs_is_mounted(zfs_handle_t* zhp, char** where) {
  if (where) *where = nullptr;
  if (!zhp) return B_FALSE;
  bool mounted = false;
  zfs_sim::with_model(zhp->hdl, "zfs_is_mounted", [&](ZfsModel& model) -> Outcome {
    mounted = DatasetModel(model).mounted(zhp->name);
    return std::nullopt;
  });
  return mounted ? B_TRUE : B_FALSE;
}

int zfs_unmountall(zfs_handle_t* zhp, int) {
  if (!zhp) return -1;
  return change(zhp->hdl, "zfs_unmountall", quoted("cannot unmount", zhp->name), zhp->name,
                [&](ZfsModel& model) { return DatasetModel(model).unmount_all(zhp->name); });
}

int zfs_prop_inherit(zfs_handle_t* zhp, const char* name, boolean_t) {
  if (!zhp || !name) return -1;
  return change(zhp->hdl, "zfs_prop_inherit", quoted("cannot inherit property for", zhp->name),
                zhp->name, [&](ZfsModel& model) { return DatasetModel(model).inherit(zhp->name, name); });
}

nvlist_t* zfs_get_user_props(zfs_handle_t* zhp) {
  if (!zhp) return nullptr;
  std::vector<zfs_sim::UserProp> props;
  Outcome outcome = zfs_sim::with_model(zhp->hdl, "zfs_get_user_props", [&](ZfsModel& model) -> Outcome {
    if (!model.dataset_type(zhp->name)) return Failure{EZFS_NOENT, ""};
    props = DatasetModel(model).user_props(zhp->name);
    return std::nullopt;
  });
  if (outcome) {
    zfs_sim::record(zhp->hdl, quoted("cannot get user properties of", zhp->name), *outcome);
    return nullptr;
  }
  nvlist_t* list = nullptr;
  if (nvlist_alloc(&list, NV_UNIQUE_NAME, 0) != 0) return nullptr;
  zhp->user_props.reset(list);
  for (const zfs_sim::UserProp& prop : props) {
    nvlist_t* entry = nullptr;
    if (nvlist_alloc(&entry, NV_UNIQUE_NAME, 0) != 0) return nullptr;
    nvlist_add_string(entry, "value", prop.value.c_str());
    nvlist_add_string(entry, "source", prop.inherited_from.empty() ? "local" : prop.inherited_from.c_str());
    nvlist_add_nvlist(list, prop.name.c_str(), entry);
    nvlist_free(entry);
  }
  return list;
}

nvlist_t* zfs_get_clones_nvl(zfs_handle_t* zhp) {
  if (!zhp) return nullptr;
  std::vector<std::string> clones;
  Outcome outcome = zfs_sim::with_model(zhp->hdl, "zfs_get_clones_nvl", [&](ZfsModel& model) -> Outcome {
    if (!model.dataset_type(zhp->name)) return Failure{EZFS_NOENT, ""};
    clones = DatasetModel(model).clones_of(zhp->name);
    return std::nullopt;
  });
  if (outcome) {
    zfs_sim::record(zhp->hdl, quoted("cannot get clones of", zhp->name), *outcome);
    return nullptr;
  }
  nvlist_t* list = nullptr;
  if (nvlist_alloc(&list, NV_UNIQUE_NAME, 0) != 0) return nullptr;
  zhp->clones.reset(list);
  for (const std::string& clone : clones) nvlist_add_boolean(list, clone.c_str());
  return list;
}

}  // extern "C"
