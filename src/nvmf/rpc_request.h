// The JSON-RPC 2.0 envelope of every request: "jsonrpc" and a fresh "id".
// Ids come from one process-wide counter, seeded from the clock and the
// process id, and seeded anew in a forked child.
#pragma once

#include <nlohmann/json.hpp>

namespace nvmf {

nlohmann::json make_rpc_request();

}  // namespace nvmf
