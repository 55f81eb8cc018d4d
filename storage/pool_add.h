// Growing a pool by whole new top-level vdevs that repeat its redundancy;
// an existing mirror, RAIDZ or dRAID group is never widened.
#pragma once

#include <string>
#include <vector>

#include "storage/pool_result.h"
#include "storage/pool_spec.h"
#include "storage/zfs_session.h"

// Adds the vdevs of `spec` (its name is not used) to `pool`. The pool's guid
// on success (empty on a dry run).
pool_result add_vdev(zfs_session& zfs, const std::string& pool, const pool_spec& spec);

// The geometry of each data vdev of the open pool (holes, removed and log
// vdevs left out) and whether it has removed (indirect) vdevs.
void read_pool_geometry(pool_result& result, zpool_handle_t* zhp, std::vector<vdev_geometry>& geometries,
                        bool& has_indirect);

// Whether the new data vdevs repeat the pool's redundancy
// (redundancy_mismatch when not).
pool_result check_add_geometry(const std::vector<vdev_geometry>& existing,
                               const std::vector<vdev_geometry>& added, bool force);

// Whether a vdev of the tree (itself, its children, spares, cache devices)
// has the path `path`; its "type" goes to `type`.
bool find_vdev_path(nvlist_t* tree, const std::string& path, std::string& type);

// Why the vdev `vdev` (of type `type`) of `pool` cannot be widened.
pool_result expansion_refusal_text(const std::string& pool, const std::string& vdev, const std::string& type);
