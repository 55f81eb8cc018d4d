// The stand-in's snapshot operations: taking snapshots of several datasets
// at once, destroying them, matching snapshot specs and rolling back.
#pragma once

#include <string>
#include <vector>

#include "sim/libzfs/zfs_model.h"

namespace zfs_sim {

class SnapshotModel {
 public:
  explicit SnapshotModel(ZfsModel& model) : model_(model) {}

  // Takes every snapshot of `names` ("dataset@snap") in one transaction
  // group, or none of them.
  Outcome snapshot(const std::vector<std::string>& names);
  // Destroys the snapshots of `names` that exist; none when one of them has
  // clones.
  Outcome destroy_snapshots(const std::vector<std::string>& names);
  // The snapshots of `dataset` that `spec` names: comma-separated snapshot
  // names or ranges "from%to" (either end may be empty), oldest first.
  // `missing` is set when a named snapshot does not exist.
  std::vector<std::string> match(const std::string& dataset, const std::string& spec,
                                 bool& missing) const;
  // The snapshots of `dataset`, oldest first.
  std::vector<std::string> snapshots_of(const std::string& dataset) const;
  // Rolls `dataset` back to its snapshot `snapshot`: the newer snapshots and
  // their clones go, the dataset's properties (and a zvol's size) return.
  Outcome rollback(const std::string& dataset, const std::string& snapshot);

 private:
  nlohmann::json& datasets() { return model_.state().state()["datasets"]; }
  const nlohmann::json& datasets() const { return model_.state().state()["datasets"]; }
  uint64_t txg_of(const std::string& name) const;

  ZfsModel& model_;
};

}  // namespace zfs_sim
