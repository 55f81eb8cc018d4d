// The stand-in's pools in full: vdev trees in the form of a pool
// configuration (with "vdev_stats" arrays, spares, cache and log devices,
// dRAID, scan and rebuild records), features, pool properties, labels on the
// devices, export, the import search and import, attach, online, offline and
// clear. Kept in the state file beside ZfsModel's records:
//   pools.NAME: + {"vdev_tree": TREE, "features": {NAME: REFCOUNT} (short
//                  names of known features, guids of others),
//                  "props": {NAME: TEXT}, "error_count": N,
//                  "unreadable": BOOL (the configuration cannot be read)}
//   exported.GUID, destroyed.GUID: {"record": POOL RECORD, "name": NAME,
//                                   "datasets": {NAME: DATASET}}
// A vdev of TREE: {"type", "id", "guid", "vdev_stats": [48 words: 1 state,
// 2 aux, 20 to 22 read/write/checksum errors], "children": [...], and what
// the creator gave: "path", "whole_disk", "ashift", "is_log", "alloc_bias",
// "nparity", "draid_*"}; the root also holds "spares", "l2cache" and
// "scan_stats". Members named "sim_..." are the stand-in's own (the state a
// device comes back in when onlined: "sim_online_state") and never reach a
// configuration.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "sim/libzfs/zfs_model.h"

namespace zfs_sim {

class PoolModel {
 public:
  explicit PoolModel(LockedState& state) : state_(state), zfs_(state) {}

  ZfsModel& zfs() { return zfs_; }

  // The imported pool's configuration: name, pool_guid, state, txg, version,
  // error_count and vdev_tree (spares and l2cache inside it).
  std::optional<nlohmann::json> config(const std::string& pool) const;
  // Feature (short name, or guid of a feature the stand-in does not know)
  // -> reference count.
  std::optional<nlohmann::json> features(const std::string& pool) const;

  Outcome create(const std::string& pool, nlohmann::json nvroot, const nlohmann::json& props);
  Outcome destroy(const std::string& pool);
  Outcome add(const std::string& pool, nlohmann::json nvroot);
  Outcome attach(const std::string& pool, const std::string& old_disk, const std::string& new_disk,
                 const nlohmann::json& nvroot, bool replacing);
  Outcome online(const std::string& pool, const std::string& device, int& new_state);
  Outcome offline(const std::string& pool, const std::string& device);
  Outcome clear(const std::string& pool);
  // Mounts every filesystem of the pool, or unmounts them all.
  Outcome set_mounted(const std::string& pool, bool mounted);
  Outcome export_pool(const std::string& pool);
  // The device paths of every active pool: what the kernel holds open.
  std::vector<std::string> active_members() const;

  // Configurations of the pools the devices under the root carry and that
  // are not imported, named `name` (any when empty): (pool name, config).
  std::vector<std::pair<std::string, nlohmann::json>> search(const std::string& name) const;
  Outcome import(const nlohmann::json& config, const std::string& new_name);

  // A pool property set on the pool: its text, nothing when never set.
  std::optional<std::string> prop(const std::string& pool, const std::string& name) const;
  Outcome set_prop(const std::string& pool, const std::string& name, const std::string& value);
  // "enabled" or "active" for a feature (by short name) of the pool.
  std::optional<std::string> feature_state(const std::string& pool, const std::string& name) const;

  // What zpool_in_use tells of a device with `label`: the pool state (an
  // active label of a pool that is not imported is "potentially active").
  int in_use_state(const nlohmann::json& label) const;

  // Control: sets `key` of the vdev `device` (path, guid, "root" or a
  // top-level name such as "mirror-0"); "state", "aux", "read_errors",
  // "write_errors" and "checksum_errors" go into its vdev_stats.
  Outcome set_vdev(const std::string& pool, const std::string& device, const std::string& key,
                   const nlohmann::json& value);
  // Control: sets `key` of the pool record ("scan_stats" goes to the root
  // vdev).
  Outcome set_pool(const std::string& pool, const std::string& key, const nlohmann::json& value);

 private:
  nlohmann::json* record(const std::string& pool);
  const nlohmann::json* record(const std::string& pool) const;
  Outcome write_labels(const nlohmann::json& tree, const std::string& pool, uint64_t pool_guid, int state);
  Outcome check_new_devices(const nlohmann::json& tree) const;

  LockedState& state_;
  ZfsModel zfs_;
};

// A configuration member: the vdev below `tree` matching `device` (path,
// path without "/dev/", guid in decimal), or null.
nlohmann::json* find_vdev(nlohmann::json& tree, const std::string& device);

}  // namespace zfs_sim
