// The checks of a pool_spec that need no device: the pool name, the shape of
// the vdev list, each vdev's geometry and the device paths.
#pragma once

#include <string>
#include <vector>

#include "storage/pool_result.h"
#include "storage/pool_spec.h"

// Stops at the first failure (bad_request). `check_name` is true for a new
// pool, false when vdevs are added to an existing one.
pool_result validate_pool_spec(const pool_spec& spec, bool check_name);

// Checks one vdev's geometry (bad_geometry) and fills `layout`, which is
// reset first.
pool_result check_vdev_geometry(const vdev_spec& vdev, vdev_layout& layout);

// The devices of every vdev in order, then the spares, then the cache devices.
std::vector<std::string> collect_spec_devices(const pool_spec& spec);

// "raidz2 of 6 devices", "mirror of 2 devices".
std::string describe_vdev_geometry(const vdev_geometry& geometry);

// The layouts' names, each after a blank (" mirror mirror").
std::string join_vdev_names(const std::vector<vdev_layout>& layouts);
