// The stand-in's entry points that read a pool: its configuration and
// statistics, features, vdev names, and what a device's label tells.
#pragma GCC visibility push(default)
#include <libzfs.h>
#pragma GCC visibility pop

#include <cstdlib>
#include <cstring>

#include "sim/libzfs/labels.h"
#include "sim/libzfs/nvlist_json.h"
#include "sim/libzfs/pool_calls.h"

using nlohmann::json;
using zfs_sim::Failure;
using zfs_sim::Outcome;
using zfs_sim::PoolModel;

namespace {

// Reads the pool's configuration into the handle; false when it cannot be read.
bool load_config(zpool_handle_t* zhp, const char* function, boolean_t* missing) {
  std::optional<json> config;
  bool gone = false;
  Outcome outcome = zfs_sim::with_pools(zhp->hdl, function, [&](PoolModel& model) -> Outcome {
    if (!model.zfs().pool_state(zhp->name)) {
      gone = true;
      return std::nullopt;
    }
    config = model.config(zhp->name);
    if (!config) return Failure{EZFS_IO, "the pool configuration cannot be read"};
    return std::nullopt;
  });
  if (missing) *missing = gone ? B_TRUE : B_FALSE;
  if (outcome) {
    zfs_sim::record(zhp->hdl, "cannot read pool '" + zhp->name + "'", *outcome);
    return false;
  }
  if (gone) return true;
  nvlist_t* list = zfs_sim::json_to_nvlist(*config);
  if (!list) return zfs_sim::record(zhp->hdl, "cannot read pool", Failure{EZFS_NOMEM, ""}), false;
  nvlist_free(zhp->config);
  zhp->config = list;
  return true;
}

const char* feature_guid(const std::string& name) {
  for (const zfeature_info_t& feature : spa_feature_table)
    if (feature.fi_uname && name == feature.fi_uname) return feature.fi_guid;
  return nullptr;
}

}  // namespace

extern "C" {

nvlist_t* zpool_get_config(zpool_handle_t* zhp, nvlist_t** oldconfig) {
  if (oldconfig) *oldconfig = nullptr;
  if (!zhp) return nullptr;
  if (!zhp->config && !load_config(zhp, "zpool_get_config", nullptr)) return nullptr;
  return zhp->config;
}

int zpool_refresh_stats(zpool_handle_t* zhp, boolean_t* missing) {
  if (!zhp) return -1;
  return load_config(zhp, "zpool_refresh_stats", missing) ? 0 : -1;
}

nvlist_t* zpool_get_features(zpool_handle_t* zhp) {
  if (!zhp) return nullptr;
  std::optional<json> features;
  Outcome outcome = zfs_sim::with_pools(zhp->hdl, "zpool_get_features", [&](PoolModel& model) -> Outcome {
    features = model.features(zhp->name);
    if (!features) return Failure{EZFS_NOENT, "no such pool"};
    return std::nullopt;
  });
  if (outcome) return zfs_sim::record(zhp->hdl, "cannot read features", *outcome), nullptr;
  json by_guid = json::object();
  for (const auto& [name, refcount] : features->items()) {
    const char* guid = feature_guid(name);
    by_guid[guid ? guid : name] = refcount;
  }
  nvlist_free(zhp->features);
  zhp->features = zfs_sim::json_to_nvlist(by_guid);
  return zhp->features;
}

int zpool_prop_get_feature(zpool_handle_t* zhp, const char* name, char* buf, size_t len) {
  if (!zhp || !name || !buf || len == 0) return -1;
  std::string prop = name;
  bool unsupported = prop.starts_with("unsupported@");
  if (!prop.starts_with("feature@") && !unsupported)
    return zfs_sim::record(zhp->hdl, "cannot get property", Failure{EZFS_BADPROP, ""});
  std::string feature = prop.substr(prop.find('@') + 1);
  if (!unsupported && !feature_guid(feature))
    return zfs_sim::record(zhp->hdl, "cannot get property", Failure{EZFS_BADPROP, "invalid feature name"});
  std::optional<std::string> state;
  Outcome outcome = zfs_sim::with_pools(zhp->hdl, "zpool_prop_get_feature", [&](PoolModel& model) -> Outcome {
    state = model.feature_state(zhp->name, feature);
    if (!state) return Failure{EZFS_NOENT, "no such pool"};
    return std::nullopt;
  });
  if (outcome) return zfs_sim::record(zhp->hdl, "cannot get property", *outcome);
  // An unsupported feature reads "inactive" when present, "readonly" never.
  std::string text = unsupported ? (*state == "disabled" ? "-" : "inactive") : *state;
  std::snprintf(buf, len, "%s", text.c_str());
  return 0;
}

char* zpool_vdev_name(libzfs_handle_t*, zpool_handle_t*, nvlist_t* nv, int name_flags) {
  if (!nv) return nullptr;
  json vdev = zfs_sim::nvlist_to_json(nv);
  std::string name;
  if (vdev.contains("path") && vdev["path"].is_string()) {
    name = vdev["path"].get<std::string>();
    if (name.starts_with("/dev/")) name = name.substr(5);
  } else {
    name = vdev.value("type", "");
    if (name == "raidz") name += std::to_string(vdev.value("nparity", uint64_t{1}));
    if (name == "draid")
      name += std::to_string(vdev.value("nparity", uint64_t{1})) + ":" +
              std::to_string(vdev.value("draid_ndata", uint64_t{0})) + "d:" +
              std::to_string(vdev.value("children", json::array()).size()) + "c:" +
              std::to_string(vdev.value("draid_nspares", uint64_t{0})) + "s";
    if (name_flags & VDEV_NAME_TYPE_ID) name += "-" + std::to_string(vdev.value("id", uint64_t{0}));
  }
  return strdup(name.c_str());
}

int zpool_in_use(libzfs_handle_t* hdl, int fd, pool_state_t* state, char** namestr, boolean_t* inuse) {
  if (namestr) *namestr = nullptr;
  if (inuse) *inuse = B_FALSE;
  if (!hdl || !state || !namestr || !inuse) return -1;
  std::optional<json> label = zfs_sim::read_label(fd);
  if (!label) return 0;
  int found = POOL_STATE_ACTIVE;
  Outcome outcome = zfs_sim::with_pools(hdl, "zpool_in_use", [&](PoolModel& model) -> Outcome {
    found = model.in_use_state(*label);
    return std::nullopt;
  });
  if (outcome) return zfs_sim::record(hdl, "cannot read the label", *outcome);
  *state = static_cast<pool_state_t>(found);
  *namestr = strdup(label->value("name", "").c_str());
  *inuse = B_TRUE;
  return 0;
}

}  // extern "C"
