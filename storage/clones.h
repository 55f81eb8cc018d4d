// Clones: filesystems from a snapshot, and zvols from a cloud image zvol
// (through a base snapshot of the image). Each is recorded in the pool
// history.
#pragma once

#include <cstdint>
#include <string>

#include "storage/dataset_result.h"
#include "storage/zfs_session.h"

// Codes of clone_image_volume.
inline constexpr int32_t image_origin_missing = -23;  // origin, snapshot or base snapshot
inline constexpr int32_t image_clone_failed = -24;    // target exists or the clone failed
inline constexpr int32_t image_clone_no_guid = -25;

// The filesystem `new_name` cloned from the snapshot `origin` with `props`,
// its missing ancestors created, mounted. Code 0 with its guid, or -1.
dataset_result clone_filesystem(zfs_session& session, const std::string& origin,
                                const std::string& new_name, nvlist_t* props);

// The zvol `new_name` (volsize `volsize`, volmode "dev", sync off, no
// reservations) cloned from the snapshot `snapshot` of the zvol `origin`;
// without a snapshot name the base snapshot origin@.clone.source_<id> is
// used, and taken when missing. Code 0 with the new zvol's guid.
dataset_result clone_image_volume(zfs_session& session, const std::string& new_name,
                                  const std::string& origin, int32_t id, uint64_t volsize,
                                  const std::string& snapshot);
