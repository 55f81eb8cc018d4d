#include "model/host_inventory.h"

#include <cerrno>

#include <gtest/gtest.h>

namespace {

TEST(HostInventory, PoolReply) {
  host_inventory inv;
  host_inventory_pool z05;
  z05.state = PoolState::started;
  z05.consuming = true;
  z05.vms = {{"403404", VmStatus::started}, {"403405", VmStatus::suspended}};
  host_inventory_pool z06;
  z06.state = PoolState::stopped;
  inv.nodes["localhost"] = {{"z05", z05}, {"z06", z06}};
  inv.errors["z07"] = EACCES;

  nlohmann::json data = make_jsonrpc_pool_reply(inv);
  const nlohmann::json& node = data["localhost"];
  EXPECT_EQ(node["z05"], nlohmann::json::parse(R"({"state":"started","queue":"Consuming",
      "VMs":{"403404":"started","403405":"suspended"}})"));
  EXPECT_EQ(node["z06"]["queue"], "NotConsuming");
  EXPECT_EQ(node["z06"]["VMs"], nlohmann::json::object());
  EXPECT_EQ(node["z07"]["state"], "unreadable");
  EXPECT_FALSE(node["z07"]["error"].get<std::string>().empty());

  // An empty inventory is an empty object, not null.
  EXPECT_EQ(make_jsonrpc_pool_reply(host_inventory{}), nlohmann::json::object());
}

}  // namespace
