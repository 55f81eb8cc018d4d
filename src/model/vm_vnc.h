// The frame buffer of a VM (the record's "vnc"); its host is also the address
// the console bridge listens on.
#pragma once

#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

struct VmVnc {
  std::string host;
  int64_t port = 0;
  int64_t width = 0;
  int64_t height = 0;
};

void from_json(const nlohmann::json& j, VmVnc& vnc);
void to_json(nlohmann::json& j, const VmVnc& vnc);
