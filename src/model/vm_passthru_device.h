// One PCI device passed through to a VM (an element of "passthru_devices").
#pragma once

#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

struct VmPassthruDevice {
  std::string description;
  uint64_t slot = 0;
  uint64_t bus = 0;
  uint64_t device = 0;
  uint64_t function = 0;
};

void from_json(const nlohmann::json& j, VmPassthruDevice& d);
void to_json(nlohmann::json& j, const VmPassthruDevice& d);
