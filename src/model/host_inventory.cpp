#include "model/host_inventory.h"

#include <cstring>

namespace {

nlohmann::json pool_entry(const host_inventory_pool& pool) {
  nlohmann::json vms = nlohmann::json::object();
  for (const auto& [id, status] : pool.vms) vms[id] = vm_status_name(status, true);
  return {{"state", pool_state_name(pool.state)},
          {"queue", pool.consuming ? "Consuming" : "NotConsuming"},
          {"VMs", vms}};
}

}  // namespace

nlohmann::json make_jsonrpc_pool_reply(const host_inventory& inventory) {
  nlohmann::json data = nlohmann::json::object();
  for (const auto& [node, pools] : inventory.nodes) {
    nlohmann::json node_data = nlohmann::json::object();
    for (const auto& [name, pool] : pools) node_data[name] = pool_entry(pool);
    data[node] = std::move(node_data);
  }
  if (inventory.errors.empty()) return data;

  const std::string node = inventory.nodes.empty() ? "localhost" : inventory.nodes.begin()->first;
  nlohmann::json& node_data = data[node];
  if (!node_data.is_object()) node_data = nlohmann::json::object();
  for (const auto& [name, error] : inventory.errors) {
    if (node_data.contains(name)) continue;
    host_inventory_pool unreadable;
    unreadable.state = PoolState::unreadable;
    nlohmann::json entry = pool_entry(unreadable);
    entry["error"] = std::strerror(error);
    node_data[name] = std::move(entry);
  }
  return data;
}
