// Snapshots of dataset trees: taking them in one libzfs call, destroying
// those that match a pattern across a tree, and listing the clones of a
// zvol. Changes are recorded in the pool history.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "storage/dataset_result.h"
#include "storage/zfs_session.h"

inline constexpr int32_t snapshot_failed = -4470;
inline constexpr int32_t snapshot_no_guid = -4480;

// "dataset@snap" split at the first '@'; a text without one is both parts.
std::pair<std::string, std::string> split_snapshot_name(const std::string& name);

// The snapshot `snapshot` of `dataset` and of every filesystem and zvol below
// it, leaving out those being received into (with what lies below them).
// Code 0 with "guid|creation" of the new snapshot of `dataset`.
dataset_result create_snapshot(zfs_session& session, const std::string& dataset,
                               const std::string& snapshot);

// Destroys every snapshot matching the pattern of "dataset@pattern" on the
// dataset and below it. Nothing on success, else the reason.
std::optional<std::string> destroy_all_snapshots(zfs_session& session, const std::string& name);

// (clone name, origin snapshot) of every filesystem and zvol cloned from a
// snapshot of the zvol `name`, appended to `clones`. Nothing on success,
// else the reason (also when libzfs could not walk all dependents).
std::optional<std::string> list_volume_clones(
    zfs_session& session, std::vector<std::pair<std::string, std::string>>& clones,
    const std::string& name);
