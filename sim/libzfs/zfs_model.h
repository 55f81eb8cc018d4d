// The stand-in's ZFS model: pools, datasets with their properties, zvol
// devices as sparse files, pool history and injected faults, kept in the
// locked state file (state_file.h). Every change marks the state changed;
// the caller commits it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/libzfs/errors.h"
#include "sim/libzfs/prop_values.h"
#include "sim/libzfs/state_file.h"

namespace zfs_sim {

// Nothing on success, else the failure.
using Outcome = std::optional<Failure>;

class ZfsModel {
 public:
  explicit ZfsModel(LockedState& state) : state_(state) {}

  LockedState& state() { return state_; }
  const LockedState& state() const { return state_; }

  // Faults: after `skip` calls that go through, the next `remaining` calls
  // (-1: every call) of `function` fail with libzfs error `code` and `text`
  // (the generic text when empty).
  void set_fault(const std::string& function, int code, int remaining, const std::string& text,
                 int skip = 0);
  void clear_faults();
  // Consumes one planned failure of `function`, if any.
  Outcome take_fault(const std::string& function);

  // Calls: the flags and arguments each flagged entry point was given, as
  // {"function": name, ...}, oldest first (the latest 256 are kept).
  void note_call(const std::string& function, nlohmann::json args);
  nlohmann::json calls() const;

  // Pools.
  std::vector<std::string> pools() const;
  // The pool's state (pool_state_t), nothing when there is no such pool.
  std::optional<int> pool_state(const std::string& pool) const;
  std::optional<uint64_t> pool_guid(const std::string& pool) const;
  Outcome create_pool(const std::string& pool);
  Outcome destroy_pool(const std::string& pool);
  Outcome set_pool_state(const std::string& pool, int state);
  Outcome log_history(const std::string& pool, const std::string& text);
  // Each entry {"time": seconds, "text": text}; nothing when no such pool.
  std::optional<nlohmann::json> history(const std::string& pool) const;

  // Datasets.
  // The dataset's type (zfs_type_t), nothing when it does not exist.
  std::optional<int> dataset_type(const std::string& name) const;
  // Checks that `name` names an existing dataset of a type in `types`
  // whose pool is available.
  Outcome check_open(const std::string& name, int types) const;
  // The names directly below `name` (children, then snapshots when asked),
  // in name order; the pool roots for "".
  std::vector<std::string> children(const std::string& name, bool snapshots) const;
  Outcome create(const std::string& name, int type, const std::vector<PropSetting>& props);
  // Creates the missing filesystems above `name`.
  Outcome create_ancestors(const std::string& name);
  // Refuses a dataset with children or snapshots, a mounted filesystem and
  // a snapshot with clones.
  Outcome destroy(const std::string& name);
  Outcome set_prop(const std::string& name, const PropSetting& setting);
  std::optional<PropValue> get_prop(const std::string& name, const PropEntry& entry) const;

 private:
  nlohmann::json& pools_json() { return state_.state()["pools"]; }
  nlohmann::json& datasets_json() { return state_.state()["datasets"]; }
  const nlohmann::json& pools_json() const { return state_.state()["pools"]; }
  const nlohmann::json& datasets_json() const { return state_.state()["datasets"]; }
  Outcome check_pool_usable(const std::string& pool) const;
  Outcome add_dataset(const std::string& name, int type, nlohmann::json props);
  // Sizes the zvol's device file, creating it (empty when `fresh`).
  Outcome resize_zvol(const std::string& name, uint64_t size, bool fresh);
  void remove_zvol(const std::string& name);

  LockedState& state_;
};

}  // namespace zfs_sim
