// What the controller reads of the cluster daemon's configuration
// "/usr/local/etc/tesk/config.json" (read only; the file belongs to the
// cluster daemon). Its top-level keys are "cluster", "nodes", "services",
// "service_groups" and "distribution_preferences"; only the parts below are
// read, leniently: anything missing or of another shape is skipped.
//
//   "nodes": [ { "name": "n1",
//                "interfaces": [ { "label": "NVMf", "address": "10.0.0.1" }, ... ] }, ... ]
//       (also accepted: an object of nodes keyed by name)
//   "services": [ { "name": "z05", "type": "pool", "pool": "z05", "node": "n1" }, ... ]
//       (also accepted: an object keyed by service name)
//   "service_groups": [ { "name": "g1", "node": "n1", "pools": ["z05", ...],
//                         "services": ["z05", ...] }, ... ]
//
// A pool is served by the node named by the first service whose "pool" (or,
// without one, whose "name") is the pool; else by the first service group that
// lists the pool in "pools" or "services". The pool's NVMe-oF address is the
// "address" of that node's first interface labelled "NVMf" (the label compared
// without regard to case), without a "/prefix-length" suffix.
#pragma once

#include <optional>
#include <string>

#include <nlohmann/json.hpp>

inline constexpr const char* cluster_config_path = "/usr/local/etc/tesk/config.json";

// The NVMe-oF address of `pool` in a parsed cluster configuration.
std::optional<std::string> cluster_nvmf_address(const nlohmann::json& cluster, const std::string& pool);
