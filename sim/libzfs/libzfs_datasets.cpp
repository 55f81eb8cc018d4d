// The stand-in's library handle and dataset entry points.
#pragma GCC visibility push(default)
#include <libzfs.h>
#pragma GCC visibility pop

#include <cstring>
#include <vector>

#include "sim/libzfs/entry_helpers.h"
#include "sim/libzfs/handles.h"
#include "sim/libzfs/names.h"

using zfs_sim::Failure;
using zfs_sim::Outcome;
using zfs_sim::PropSetting;
using zfs_sim::ZfsModel;
using zfs_sim::change;
using zfs_sim::copy_text;
using zfs_sim::quoted;
using zfs_sim::settings_of;

namespace {

// The value of property `prop` of the dataset, or nothing (error recorded).
std::optional<zfs_sim::PropValue> read_value(zfs_handle_t* zhp, zfs_prop_t prop,
                                             const char* function) {
  const zfs_sim::PropEntry* entry = zfs_sim::dataset_prop(prop);
  if (!zhp || !entry) return std::nullopt;
  std::optional<zfs_sim::PropValue> value;
  Outcome outcome = zfs_sim::with_model(zhp->hdl, function, [&](ZfsModel& model) -> Outcome {
    value = model.get_prop(zhp->name, *entry);
    if (!value) return Failure{model.dataset_type(zhp->name) ? EZFS_PROPTYPE : EZFS_NOENT, ""};
    return std::nullopt;
  });
  if (outcome) {
    zfs_sim::record(zhp->hdl, quoted("cannot get property of", zhp->name), *outcome);
    return std::nullopt;
  }
  return value;
}

}  // namespace

extern "C" {

libzfs_handle_t* libzfs_init(void) {
  auto* hdl = new (std::nothrow) libzfs_handle;
  if (!hdl) return nullptr;
  hdl->root = zfs_sim::host_root();
  Outcome outcome = zfs_sim::with_model(hdl, "libzfs_init", [](ZfsModel&) -> Outcome { return {}; });
  if (outcome) {
    delete hdl;
    return nullptr;
  }
  return hdl;
}

void libzfs_fini(libzfs_handle_t* hdl) { delete hdl; }

void libzfs_print_on_error(libzfs_handle_t* hdl, boolean_t on) {
  if (hdl) hdl->print = on != B_FALSE;
}

const char* libzfs_error_description(libzfs_handle_t* hdl) {
  return hdl ? hdl->description.c_str() : zfs_sim::error_text(EZFS_UNKNOWN);
}

int libzfs_errno(libzfs_handle_t* hdl) { return hdl ? hdl->error : EZFS_UNKNOWN; }

zfs_handle_t* zfs_open(libzfs_handle_t* hdl, const char* name, int types) {
  if (!hdl || !name) return nullptr;
  int type = 0;
  Outcome outcome = zfs_sim::with_model(hdl, "zfs_open", [&](ZfsModel& model) -> Outcome {
    if (Outcome failure = model.check_open(name, types)) return failure;
    type = *model.dataset_type(name);
    return std::nullopt;
  });
  if (outcome) {
    zfs_sim::record(hdl, quoted("cannot open", name), *outcome);
    return nullptr;
  }
  hdl->last_pool = zfs_sim::pool_of(name);
  return new (std::nothrow) zfs_handle{hdl, name, static_cast<zfs_type_t>(type)};
}

void zfs_close(zfs_handle_t* zhp) { delete zhp; }

const char* zfs_get_name(const zfs_handle_t* zhp) { return zhp ? zhp->name.c_str() : nullptr; }

zfs_type_t zfs_get_type(const zfs_handle_t* zhp) {
  return zhp ? zhp->type : static_cast<zfs_type_t>(0);
}

libzfs_handle_t* zfs_get_handle(zfs_handle_t* zhp) { return zhp ? zhp->hdl : nullptr; }

boolean_t zfs_dataset_exists(libzfs_handle_t* hdl, const char* name, zfs_type_t types) {
  if (!hdl || !name) return B_FALSE;
  bool exists = false;
  Outcome outcome = zfs_sim::with_model(hdl, "zfs_dataset_exists", [&](ZfsModel& model) -> Outcome {
    std::optional<int> type = model.dataset_type(name);
    exists = type && (*type & types);
    return std::nullopt;
  });
  if (outcome) zfs_sim::record(hdl, quoted("cannot look up", name), *outcome);
  return exists ? B_TRUE : B_FALSE;
}

int zfs_name_valid(const char* name, zfs_type_t type) {
  return name && !zfs_sim::name_problem(name, type) ? 1 : 0;
}

int zfs_create(libzfs_handle_t* hdl, const char* name, zfs_type_t type, nvlist_t* props) {
  if (!hdl || !name) return -1;
  auto settings = settings_of(props);
  if (auto* failure = std::get_if<Failure>(&settings))
    return zfs_sim::record(hdl, quoted("cannot create", name), *failure);
  return change(hdl, "zfs_create", quoted("cannot create", name), name, [&](ZfsModel& model) {
    return model.create(name, type, std::get<0>(settings));
  });
}

int zfs_create_ancestors(libzfs_handle_t* hdl, const char* name) {
  if (!hdl || !name) return -1;
  return change(hdl, "zfs_create_ancestors", quoted("cannot create ancestors of", name), name,
                [&](ZfsModel& model) { return model.create_ancestors(name); });
}

int zfs_destroy(zfs_handle_t* zhp, boolean_t defer) {
  if (!zhp) return -1;
  zfs_sim::note_call(zhp->hdl, "zfs_destroy", {{"name", zhp->name}, {"defer", defer != B_FALSE}});
  return change(zhp->hdl, "zfs_destroy", quoted("cannot destroy", zhp->name), zhp->name,
                [&](ZfsModel& model) { return model.destroy(zhp->name); });
}

int zfs_prop_set(zfs_handle_t* zhp, const char* name, const char* value) {
  if (!zhp || !name || !value) return -1;
  return change(zhp->hdl, "zfs_prop_set", quoted("cannot set property for", zhp->name), zhp->name,
                [&](ZfsModel& model) { return model.set_prop(zhp->name, {name, std::nullopt, value}); });
}

int zfs_prop_set_list(zfs_handle_t* zhp, nvlist_t* props) {
  if (!zhp) return -1;
  auto settings = settings_of(props);
  std::string action = quoted("cannot set property for", zhp->name);
  if (auto* failure = std::get_if<Failure>(&settings))
    return zfs_sim::record(zhp->hdl, action, *failure);
  return change(zhp->hdl, "zfs_prop_set_list", action, zhp->name, [&](ZfsModel& model) -> Outcome {
    for (const PropSetting& setting : std::get<0>(settings))
      if (Outcome failure = model.set_prop(zhp->name, setting)) return failure;
    return std::nullopt;
  });
}

int zfs_prop_get(zfs_handle_t* zhp, zfs_prop_t prop, char* buf, size_t len, zprop_source_t* src,
                 char* statbuf, size_t statlen, boolean_t literal) {
  std::optional<zfs_sim::PropValue> value = read_value(zhp, prop, "zfs_prop_get");
  if (!value) return -1;
  copy_text(buf, len, zfs_sim::format_prop(*zfs_sim::dataset_prop(prop), *value, literal));
  if (src) *src = value->source;
  copy_text(statbuf, statlen, value->inherited_from);
  return 0;
}

int zfs_prop_get_numeric(zfs_handle_t* zhp, zfs_prop_t prop, uint64_t* number,
                         zprop_source_t* src, char* statbuf, size_t statlen) {
  const zfs_sim::PropEntry* entry = zfs_sim::dataset_prop(prop);
  if (!entry || entry->kind == zfs_sim::PropKind::string) {
    if (zhp) zfs_sim::record(zhp->hdl, "cannot get property", Failure{EZFS_PROPTYPE, ""});
    return -1;
  }
  std::optional<zfs_sim::PropValue> value = read_value(zhp, prop, "zfs_prop_get_numeric");
  if (!value) return -1;
  if (number) *number = value->number;
  if (src) *src = value->source;
  copy_text(statbuf, statlen, value->inherited_from);
  return 0;
}

uint64_t zfs_prop_get_int(zfs_handle_t* zhp, zfs_prop_t prop) {
  std::optional<zfs_sim::PropValue> value = read_value(zhp, prop, "zfs_prop_get_int");
  return value ? value->number : 0;
}

int zfs_iter_root(libzfs_handle_t* hdl, zfs_iter_f func, void* data) {
  if (!hdl || !func) return -1;
  std::vector<std::string> roots;
  Outcome outcome = zfs_sim::with_model(hdl, "zfs_iter_root", [&](ZfsModel& model) -> Outcome {
    for (const std::string& pool : model.pools())
      if (model.pool_state(pool) == POOL_STATE_ACTIVE && model.dataset_type(pool)) roots.push_back(pool);
    return std::nullopt;
  });
  if (outcome) return zfs_sim::record(hdl, "cannot iterate pools", *outcome);
  // The callback runs without the state lock: it calls back into the library.
  for (const std::string& root : roots)
    if (int rc = func(new zfs_handle{hdl, root, ZFS_TYPE_FILESYSTEM}, data)) return rc;
  return 0;
}

}  // extern "C"

namespace {

// Calls `func` for each dataset directly below `zhp` whose type is in `types`.
int iterate_below(zfs_handle_t* zhp, int types, const char* function, zfs_iter_f func, void* data) {
  if (!zhp || !func) return -1;
  std::vector<std::pair<std::string, int>> found;
  Outcome outcome = zfs_sim::with_model(zhp->hdl, function, [&](ZfsModel& model) -> Outcome {
    for (const std::string& child : model.children(zhp->name, types & ZFS_TYPE_SNAPSHOT)) {
      int type = model.dataset_type(child).value_or(0);
      if (type & types) found.emplace_back(child, type);
    }
    return std::nullopt;
  });
  if (outcome) return zfs_sim::record(zhp->hdl, quoted("cannot iterate", zhp->name), *outcome);
  for (const auto& [name, type] : found)
    if (int rc = func(new zfs_handle{zhp->hdl, name, static_cast<zfs_type_t>(type)}, data)) return rc;
  return 0;
}

}  // namespace

extern "C" {

int zfs_iter_children(zfs_handle_t* zhp, zfs_iter_f func, void* data) {
  return iterate_below(zhp, ZFS_TYPE_DATASET, "zfs_iter_children", func, data);
}

int zfs_iter_filesystems(zfs_handle_t* zhp, zfs_iter_f func, void* data) {
  return iterate_below(zhp, ZFS_TYPE_FILESYSTEM | ZFS_TYPE_VOLUME, "zfs_iter_filesystems", func, data);
}

int zpool_log_history(libzfs_handle_t* hdl, const char* message) {
  if (!hdl || !message) return -1;
  if (hdl->last_pool.empty())
    return zfs_sim::record(hdl, "cannot log history", Failure{EZFS_NOHISTORY, "no pool to log to"});
  Outcome outcome = zfs_sim::with_model(hdl, "zpool_log_history", [&](ZfsModel& model) {
    return model.log_history(hdl->last_pool, message);
  });
  return outcome ? zfs_sim::record(hdl, "cannot log history", *outcome) : 0;
}

}  // extern "C"
