// The parameters each method of the target takes, by name and JSON type, as
// the real target decodes them: a member it does not know, a member of the
// wrong type or a missing required one makes the request's parameters
// invalid. Nested objects ("namespace", "listen_address") are checked too.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

namespace spdk_sim {

// Whether `params` (null when the request had none) fit `method`. Methods
// without a schema are not checked here.
bool params_fit(const std::string& method, const nlohmann::json& params);

}  // namespace spdk_sim
