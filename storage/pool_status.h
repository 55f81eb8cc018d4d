// Read-only pool status: a snapshot of every pool's vdev tree (state,
// errors, geometry, scan and rebuild progress, spares and cache devices),
// per-vdev I/O statistics, and the search for a disk in a vdev tree.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "storage/zfs_session.h"

struct scan_record {
  std::string function;  // "scrub", "resilver", "errorscrub", "none"
  std::string state;     // "scanning", "finished", "canceled", "errorscrubbing", "none"
  uint64_t start_time = 0, end_time = 0, to_examine = 0, examined = 0, issued = 0, processed = 0,
           errors = 0;
};

struct rebuild_record {
  std::string state;  // "active", "canceled", "complete", "none"
  uint64_t start_time = 0, end_time = 0, scan_time_ms = 0, bytes_scanned = 0, bytes_issued = 0,
           bytes_rebuilt = 0, bytes_estimated = 0, errors = 0;
};

// One row of the status snapshot.
struct vdev_record {
  int32_t depth = 0;  // 0 root; 1 top-level, spare and cache devices
  std::string pool;
  std::string name;
  std::string state = "unknown";
  std::string aux;
  std::string path;
  bool not_present = false;
  std::string type;
  std::string role;  // "spare", "cache", the allocation bias, "log" or ""
  std::string spare_state;  // "INUSE", "AVAIL" or ""
  bool leaf = false;
  uint64_t nparity = 0;
  uint64_t children = 0;
  bool is_draid = false;
  uint64_t draid_ndata = 0, draid_nspares = 0, draid_ngroups = 0, draid_children = 0;
  uint64_t read_errors = 0, write_errors = 0, checksum_errors = 0;
  std::optional<scan_record> scan;         // root row only
  std::optional<rebuild_record> rebuild;   // top-level rows only
  std::optional<uint64_t> error_count;     // root row only
};

// One row of the I/O statistics: the first 45 words of "vdev_stats".
struct vdev_stats_record {
  int32_t depth = 0;
  std::string pool;
  std::string name;
  std::vector<uint64_t> stats;
};

struct inventory_result {
  int32_t code = 0;  // 0; 11 incomplete snapshot; 12 no libzfs handle
  std::string text;
};

// Fills `rows` (cleared first) with every pool's vdev tree, pre-order, and
// hands over what it collected in every case.
inventory_result pool_inventory(zfs_session& zfs, std::vector<vdev_record>& rows);
std::vector<vdev_record> pool_inventory(zfs_session& zfs);

// The I/O statistics of the pool `pool`, or of every pool when empty.
std::vector<vdev_stats_record> list_vdev_stats(zfs_session& zfs, const std::string& pool);

// Looks for the disk `wanted` (a path, or a guid in decimal) in the vdev
// tree; a match stores the disk's path in `found` (which must be empty
// unless the search goes on from an earlier one). An error text, or nothing.
std::optional<std::string> find_disk_in_vdev_tree(nvlist_t* vdev, const std::string& wanted,
                                                  std::string& found);

// The "vdev_stats" words when there are at least 23.
std::optional<std::vector<uint64_t>> vdev_stats_array(nvlist_t* vdev);

const char* vdev_aux_name(int32_t aux);
const char* scan_function_name(int64_t code);
const char* scan_state_name(int64_t code);
const char* rebuild_state_name(int64_t code);

// libzfs's description of the handle's last error, or "unknown libzfs error".
std::string zfs_error_text(libzfs_handle_t* handle);
