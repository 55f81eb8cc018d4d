// One disk of a VM record (an element of "disks").
#pragma once

#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

struct VmSectorSize {
  uint64_t logical = 0;
  uint64_t physical = 0;
};

struct VmDisk {
  std::string devtype;  // "virtio-blk", "nvme" or "" (virtio-blk)
  std::string trtype;   // "", "pci" or "tcp" (NVMe over TCP)
  std::string traddr;   // address of the host exporting a remote disk
  std::string dev;      // device path, or the subsystem NQN of a remote disk
  uint64_t guid = 0;    // service id of a remote disk
  int64_t iops_limit = -1;
  int64_t mbps_limit = -1;
  uint64_t size = 0;
  VmSectorSize sector_size;  // JSON "sector_size": {"logical", "physical"}
  uint64_t slot = 0;
};

// Reads the keys present over the values `disk` already holds.
void from_json(const nlohmann::json& j, VmDisk& disk);
void to_json(nlohmann::json& j, const VmDisk& disk);
