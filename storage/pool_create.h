// Creating a pool from a pool_spec: its vdev layout, the pool properties and the
// devices are checked, the features enabled, old labels cleared, the pool
// made, and a half-made pool destroyed again when libzfs fails.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "storage/dataset_property_list.h"
#include "storage/pool_property_list.h"
#include "storage/pool_result.h"
#include "storage/pool_spec.h"
#include "storage/zfs_session.h"

// Creates the pool of `spec` with `pool_props` (extended here by ashift and
// the features) and `fs_props` for its root dataset. The new pool's guid on
// success (empty when the pool cannot be opened afterwards, or on a dry run).
pool_result create_pool(zfs_session& zfs, const pool_spec& spec, pool_property_list& pool_props,
                        const dataset_property_list& fs_props);

// Code 0 for a user property (a name with ':') or a pool property libzfs
// knows; else bad_pool_properties.
pool_result check_pool_property(const std::string& name);

// Enables, in `pool_props`, every feature of libzfs's feature table that the
// kernel supports and that is neither in `features_disabled` nor already
// there. The outcome goes to `result`.
void make_pool_props_nvlist(pool_result& result, pool_property_list& pool_props,
                            const std::vector<std::string>& features_disabled);

// The same over the feature table `table` of `entries` entries.
void enable_pool_features(pool_result& result, pool_property_list& pool_props,
                          const std::vector<std::string>& features_disabled,
                          const zfeature_info_t* table, size_t entries);

// Whether zpool_open_canfail opens the pool (libzfs printing off meanwhile).
bool probe_pool(libzfs_handle_t* handle, const std::string& name);

// At most this many feature table entries are read.
inline constexpr size_t max_feature_entries = 128;
// Fewer supported features than this means the table is not laid out as
// this library reads it.
inline constexpr size_t min_supported_features = 24;
