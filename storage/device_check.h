// The devices of a pool_spec probed on the host before a pool is created or
// grown (existence, kind, size, pool labels, other consumers), and the
// clearing of old labels right before libzfs writes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "storage/pool_result.h"
#include "storage/pool_spec.h"
#include "storage/zfs_session.h"

inline constexpr uint64_t zfs_min_device_size = 67108864;        // 64 MiB
inline constexpr uint64_t library_min_device_size = 4294967296;  // 4 GiB
inline constexpr uint64_t label_area_size = 16777216;            // 16 MiB
inline constexpr uint64_t short_label_clear_size = 4096;

struct device_check {
  std::string path;
  pool_error code = pool_error::ok;
  std::string message;
  uint64_t size = 0;  // media size, 0 until read
};

// One record per path, in order; never stops early.
std::vector<device_check> check_devices(zfs_session& zfs, const std::vector<std::string>& paths,
                                        bool force);

// check_devices with spec.force, then (unless force) the size spread within
// each vdev of `spec`. `paths` is collect_spec_devices(spec).
pool_result check_device_sizes(zfs_session& zfs, const std::vector<std::string>& paths,
                               const pool_spec& spec);

// Zeroes 4 KiB at the head of each device, or 16 MiB at head and tail when
// `full`; stops at the first failure, naming the devices already cleared.
pool_result clear_labels(const std::vector<std::string>& paths, bool full);

// "active", "exported", ... for zpool_in_use's pool states; "unknown" else.
const char* pool_state_name(int state);
