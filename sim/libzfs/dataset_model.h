// The stand-in's dataset operations beyond create and destroy: clones,
// renames, the dependents of a dataset, mounting and sharing, inheriting
// properties and user properties. Works on the model of one locked state.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/libzfs/zfs_model.h"

namespace zfs_sim {

// A user property as a dataset sees it.
struct UserProp {
  std::string name, value;
  zprop_source_t source;
  std::string inherited_from;
};

class DatasetModel {
 public:
  explicit DatasetModel(ZfsModel& model) : model_(model) {}

  // A new filesystem or zvol `target` from `snapshot`: the origin's own
  // properties, then `props`.
  Outcome clone(const std::string& snapshot, const std::string& target,
                const std::vector<PropSetting>& props);
  // Renames a filesystem or zvol with everything below it (not snapshots).
  Outcome rename(const std::string& from, const std::string& to);
  // Everything that must go before `name` can: children, snapshots, clones
  // of its snapshots, and their dependents; each before what it depends on.
  std::vector<std::string> dependents(const std::string& name) const;
  // Destroys `name` with all its dependents (unmounting what is mounted).
  Outcome destroy_tree(const std::string& name);
  // The clones of a snapshot, in name order.
  std::vector<std::string> clones_of(const std::string& snapshot) const;

  bool mounted(const std::string& name) const;
  Outcome mount(const std::string& name);
  Outcome share(const std::string& name);
  // Unmounts `name` and everything mounted below it.
  Outcome unmount_all(const std::string& name);

  // Drops the dataset's own value of `property` so that it inherits again.
  Outcome inherit(const std::string& name, const std::string& property);
  // The user properties the dataset has or inherits, in name order.
  std::vector<UserProp> user_props(const std::string& name) const;

  // Marks a dataset as being received into (its `inconsistent` property).
  Outcome set_inconsistent(const std::string& name, bool on);

 private:
  nlohmann::json& datasets() { return model_.state().state()["datasets"]; }
  const nlohmann::json& datasets() const { return model_.state().state()["datasets"]; }

  ZfsModel& model_;
};

}  // namespace zfs_sim
