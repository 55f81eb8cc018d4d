// Listing dataset trees: every dataset (and snapshot) of the wanted types
// with its properties, keyed by full name.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>

#include "storage/dataset_property_list.h"
#include "storage/zfs_session.h"

struct dataset_entry {
  int32_t type = 0;  // ZFS_TYPE_FILESYSTEM, _SNAPSHOT or _VOLUME
  dataset_property_list properties;
};

using dataset_map = std::map<std::string, dataset_entry>;

// The pools' root datasets and what lies below them down to `depth` levels
// (0: the roots alone). `properties`: comma-separated names to read (all
// when empty); `types`: a mask of the types to record. Snapshots of a
// recorded dataset come with it when the mask holds snapshots.
dataset_map list_root_datasets(zfs_session& session, const std::string& properties,
                               int32_t types, uint64_t depth);

// The same below the filesystem or zvol `parent` (which is not recorded
// itself). With a `child_filter`, only datasets whose last name component
// is in it are recorded (the walk still goes below the others).
dataset_map list_child_datasets(zfs_session& session, const std::string& parent,
                                const std::string& properties, int32_t types, uint64_t depth,
                                std::set<std::string> child_filter);
