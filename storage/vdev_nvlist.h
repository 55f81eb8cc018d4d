// The vdev nvlist that libzfs receives for a validated pool_spec.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "storage/owned_nvlist.h"
#include "storage/pool_spec.h"

// The root vdev of `spec` ("type" root, the top-level vdevs as "children",
// then "spares" and "l2cache" when not empty) with `layouts` (one per vdev,
// from check_vdev_geometry). Every leaf carries `ashift` when it is not 0.
// False when an nvlist could not be built; `root` is replaced on success.
bool make_vdev_nvlist(const pool_spec& spec, const std::vector<vdev_layout>& layouts,
                      uint64_t ashift, owned_nvlist& root);

// The leaf of one device: "type" disk, "path", "whole_disk" 1, and "ashift"
// when not 0.
bool make_disk_nvlist(const std::string& path, uint64_t ashift, owned_nvlist& leaf);
