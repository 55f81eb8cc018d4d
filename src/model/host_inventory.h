// The host inventory: pools of this host with their states and VMs, as the
// state queries collect it and the "host-inventory" reply reports it.
#pragma once

#include <map>
#include <string>

#include <nlohmann/json.hpp>

#include "model/pool_state.h"
#include "model/vm_status.h"

struct host_inventory_pool {
  PoolState::Value state = PoolState::unknown;
  bool consuming = false;                 // the pool's queue is being consumed
  std::map<std::string, VmStatus> vms;    // VM id -> status, ordered by id
};

struct host_inventory {
  // node name ("localhost") -> pool name -> pool
  std::map<std::string, std::map<std::string, host_inventory_pool>> nodes;
  // pools whose state directories could not be read -> errno
  std::map<std::string, int> errors;
};

// The data of the "host-inventory" reply:
//   {"<node>": {"<pool>": {"state": "<pool_state_name>",
//                          "queue": "Consuming" | "NotConsuming",
//                          "VMs": {"<vm id>": "<lower-case status name>", ...}}, ...}}
// A pool of `errors` that is not among a node's pools is reported under the
// first node (or "localhost") as {"state": "unreadable", "error": "<reason>",
// "queue": "NotConsuming", "VMs": {}}.
nlohmann::json make_jsonrpc_pool_reply(const host_inventory& inventory);
