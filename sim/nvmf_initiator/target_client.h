// The initiator service's side of the storage target's JSON-RPC: one request,
// one answer, on a connection of its own, with a time limit.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

namespace initiator_sim {

struct TargetAnswer {
  bool ok = false;              // an answer without "error" came
  nlohmann::json result;        // its "result"
  std::string error;            // otherwise why not
};

TargetAnswer call_target(const std::string& address, int port, const std::string& method,
                         const nlohmann::json& params, int timeout_ms = 5000);

}  // namespace initiator_sim
