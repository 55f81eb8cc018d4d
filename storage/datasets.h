// Filesystems of a storage area: the root dataset with its log dataset,
// filesystems with their missing ancestors, guids, renames and destroying a
// filesystem with everything that depends on it. Each change is recorded in
// the pool history.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "storage/dataset_result.h"
#include "storage/zfs_session.h"

// Codes.
inline constexpr int32_t root_create_failed = -21;
inline constexpr int32_t log_create_failed = -22;
inline constexpr int32_t root_guid_failed = -26;
inline constexpr int32_t rename_open_failed = -1;
inline constexpr int32_t rename_guid_failed = -2;
inline constexpr int32_t rename_failed = -3;
inline constexpr int32_t filesystem_created = 0;
inline constexpr int32_t filesystem_existed = 1;

// The log dataset's quota: 100 MiB.
inline constexpr uint64_t log_dataset_quota = 104857600;

// A dataset `name` of a type in `types` exists (false without a handle or
// for an empty name).
bool dataset_exists(zfs_session& session, const std::string& name, int32_t types);

// The guid of the dataset `name` of type `type`, or of the pool `name` for
// ZFS_TYPE_POOL; with `with_creation`, "|" and (for datasets) the creation
// time follow. -1 with libzfs's reason on failure.
dataset_result dataset_guid_text(zfs_session& session, const std::string& name, int32_t type,
                                 bool with_creation);

// The root filesystem `root` (no reservation, plus `extra` properties when
// given), mounted and shared, and below it "log" with a quota of 100 MiB.
// The root's guid.
dataset_result create_root_dataset(zfs_session& session, const std::string& root,
                                   nvlist_t* extra);

// The filesystem `name` with `props` (may be null), creating the missing
// filesystems above it without properties, each mounted. A name without '/'
// or with an empty component is refused ("Incorrect filesystem: ") before
// anything is made. Code 0 when it was
// created, 1 when it existed, -1 on failure; the guid on success.
dataset_result create_filesystem(zfs_session& session, const std::string& name, nvlist_t* props);

// Renames the filesystem `current` to `new_name`; the guid under the new
// name.
dataset_result rename_filesystem(zfs_session& session, const std::string& new_name,
                                 const std::string& current);

// Unmounts and destroys the filesystem `name` with everything that depends
// on it (children, snapshots, clones). Nothing on success, else the error
// with the names already destroyed. A bare pool name, or a name with an
// empty component, is refused ("Incorrect filesystem: ") untouched.
std::optional<std::string> destroy_filesystem(zfs_session& session, const std::string& name);
