// What a caller asks for when it creates a pool or adds top-level vdevs to
// one (pool_spec), and the validated form of each vdev (vdev_layout).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum class vdev_type : uint32_t { disk = 0, mirror = 1, raidz = 2, draid = 3 };
enum class vdev_role : uint32_t { data = 0, log = 1, special = 2, dedup = 3 };

// "disk", "mirror", "raidz", "draid"; "" above 3.
const char* vdev_type_name(vdev_type type);
// "log", "special", "dedup"; "" for data.
const char* vdev_role_bias(vdev_role role);

struct vdev_spec {
  vdev_type type = vdev_type::disk;
  vdev_role role = vdev_role::data;
  std::vector<std::string> devices;  // device paths ("/dev/...")
  uint64_t parity = 0;               // raidz and dRAID; 0 means 1
  uint64_t draid_data = 0;           // data disks per group; 0: the default
  uint64_t draid_spares = 0;         // distributed spares
  uint64_t draid_children = 0;       // expected device count; 0: none
};

struct pool_spec {
  std::string name;
  std::vector<vdev_spec> vdevs;
  std::vector<std::string> spares;
  std::vector<std::string> l2cache;
  uint64_t ashift = 0;  // 0: ZFS chooses; else 9 to 16
  std::vector<std::string> features_disabled;
  // Accept devices of inactive pools, skip the size-spread and replication
  // checks, let zpool_add skip its ashift check.
  bool force = false;
  bool dry_run = false;  // every check, nothing written
  bool mount_datasets = false;
  bool full_label_clear = false;  // 16 MiB at head and tail instead of 4 KiB
};

struct vdev_layout {
  std::string type_name;
  std::string name;  // "mirror", "raidz2", "draid2:8d:14c:2s", ...
  std::string alloc_bias;
  uint64_t device_count = 0;
  uint64_t nparity = 0;
  uint64_t ndata = 0;
  uint64_t nspares = 0;
  uint64_t ngroups = 0;
};

// A top-level vdev as ZFS writes it in a pool configuration.
struct vdev_geometry {
  std::string type;
  uint64_t device_count = 0;
  uint64_t parity = 0;

  bool operator==(const vdev_geometry&) const = default;
};
