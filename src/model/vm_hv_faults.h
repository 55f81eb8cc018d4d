// How the VM wrapper treats guest resets (bhyve exiting with code 0): the
// record's "hv_faults" object,
//   "hv_faults": {"sigabort": {"interval": 40, "restarts": 3}}
// allows `sigabort_restarts` restarts within a window of `sigabort_interval`
// seconds.
#pragma once

#include <cstdint>

#include <nlohmann/json.hpp>

struct VmHvFaults {
  uint64_t sigabort_interval = 40;
  uint64_t sigabort_restarts = 3;
};

void from_json(const nlohmann::json& j, VmHvFaults& f);
void to_json(nlohmann::json& j, const VmHvFaults& f);
