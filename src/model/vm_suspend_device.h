// Where a VM's suspend image lives (the record's "suspend-device").
#pragma once

#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

struct VmSuspendDevice {
  std::string trtype;  // "tcp" for an image on another host
  std::string traddr;
  // Working fields, filled while a suspend or resume runs; never read from
  // or written to JSON.
  std::string path;
  int64_t port = 0;
};

void from_json(const nlohmann::json& j, VmSuspendDevice& d);
void to_json(nlohmann::json& j, const VmSuspendDevice& d);
