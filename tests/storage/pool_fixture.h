// Test support: pools made through libzfs itself (not through the library
// under test), on image disks of the test's host root.
#pragma once

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "storage/pool_spec_check.h"
#include "storage/vdev_nvlist.h"
#include "storage/zfs_session.h"
#include "disk_fixture.h"

namespace storage_test {

inline vdev_spec make_vdev(vdev_type type, std::vector<std::string> devices, uint64_t parity = 0,
                           vdev_role role = vdev_role::data) {
  vdev_spec v;
  v.type = type;
  v.role = role;
  v.devices = std::move(devices);
  v.parity = parity;
  return v;
}

// Creates the pool of `spec` with zpool_create; false (and a test failure)
// when libzfs refuses.
inline bool make_pool(zfs_session& session, const pool_spec& spec) {
  std::vector<vdev_layout> layouts(spec.vdevs.size());
  for (size_t i = 0; i < spec.vdevs.size(); ++i)
    if (!check_vdev_geometry(spec.vdevs[i], layouts[i]).ok()) return false;
  owned_nvlist root;
  if (!make_vdev_nvlist(spec, layouts, spec.ashift, root)) return false;
  int rc = libzfs::zpool_create(session.handle(), spec.name.c_str(), root.get(), nullptr, nullptr);
  EXPECT_EQ(rc, 0) << session.error_description();
  return rc == 0;
}

// Image disks named prefix0, prefix1, ... of `size` bytes.
inline std::vector<std::string> image_disks(Disks& disks, const std::string& prefix, int count,
                                            uint64_t size = 5 * GiB) {
  std::vector<std::string> paths;
  for (int i = 0; i < count; ++i) paths.push_back(disks.image(prefix + std::to_string(i), size));
  return paths;
}

// The pool `name` of one mirror of two image disks prefix0 and prefix1.
inline pool_spec two_disk_mirror(Disks& disks, const std::string& name = "tank", const std::string& prefix = "d") {
  pool_spec spec;
  spec.name = name;
  spec.vdevs = {make_vdev(vdev_type::mirror, image_disks(disks, prefix, 2))};
  return spec;
}

}  // namespace storage_test
