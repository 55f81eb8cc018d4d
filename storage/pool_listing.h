// Read-only pool listings: the properties and features of every imported
// pool, and the pools available for import with their state.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>

#include "storage/zfs_session.h"

struct pool_property {
  std::string value = "-";        // as libzfs shows it; "-" when unreadable
  uint64_t number = UINT64_MAX;   // numeric properties only
  int32_t source = ZPROP_SRC_NONE;  // feature entries: ZPROP_SRC_LOCAL
};

using pool_property_map = std::map<std::string, pool_property>;

// Pool name -> property or feature name ("feature@...", "unsupported@...")
// -> value. Empty without a libzfs handle.
std::map<std::string, pool_property_map> list_pool_records(zfs_session& zfs);

// Pool name -> state ("ONLINE", ...) of the pools available for import
// (destroyed ones left out). Empty without a libzfs handle.
std::unordered_map<std::string, std::string> list_importable_pools(zfs_session& zfs);
