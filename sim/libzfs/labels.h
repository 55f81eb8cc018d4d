// Pool labels on the stand-in's devices. A labelled device (an image file or
// a block device, under the host root) carries four labels of 256 KiB where
// ZFS puts them: at 0 and 256 KiB, and in the last two 256 KiB-aligned
// slots of the device. Each starts with the magic line
// "OMBRIX-ZFS-SIM-LABEL" and a JSON object ended by a NUL byte:
//   {"name": POOL, "pool_guid": N, "guid": N (the device's vdev), "txg": N,
//    "state": N (pool_state_t: 0 active, 1 exported, 2 destroyed, 3 spare,
//                4 l2cache)}
// Any one of the four is the device's label: clearing the head alone leaves
// the device labelled.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace zfs_sim {

// Where the device `path` (a real host path) lives under `root`.
std::string device_file(const std::string& root, const std::string& path);

// The label of the open device `fd`, nothing when it carries none.
std::optional<nlohmann::json> read_label(int fd);
std::optional<nlohmann::json> read_label(const std::string& root, const std::string& path);

// Writes `label` in the four places: "" or why it could not.
std::string write_label(const std::string& root, const std::string& path, const nlohmann::json& label);

// The device's size in bytes: "" or why it cannot be read (missing device,
// not a file or block device).
std::string device_size(const std::string& root, const std::string& path, uint64_t& size);

// Every device under root + "/dev" (image files and block devices, not the
// zvols), as real host paths in name order.
std::vector<std::string> scan_devices(const std::string& root);

}  // namespace zfs_sim
