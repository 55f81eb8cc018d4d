#include "model/vm_guest.h"

#include <gtest/gtest.h>

namespace {

TEST(VmGuest, ListsAndObjectsAreTakenOnlyInTheirShape) {
  VmGuest g;
  g.boot_cmds = {"keep"};
  g.resolver.name_server = {"10.9.9.9"};
  from_json(nlohmann::json::parse(R"({"hostname": "h", "ssh_password_auth": "1",
      "resolver": {"name_server": "10.0.0.1", "search": "s"},
      "boot_cmds": "echo", "run_cmds": ["a", 5, {"x": 1}, "b"],
      "users": ["root"]})"),
            g);
  EXPECT_EQ(g.hostname, "h");
  EXPECT_EQ(g.ssh_password_auth, 1);
  EXPECT_EQ(g.resolver.name_server, std::vector<std::string>{"10.9.9.9"});  // not a list
  EXPECT_EQ(g.resolver.search, "s");
  EXPECT_EQ(g.boot_cmds, std::vector<std::string>{"keep"});  // not a list
  EXPECT_EQ(g.run_cmds, (std::vector<std::string>{"a", "5", "b"}));
  EXPECT_TRUE(g.users.empty());  // not an object

  // A guest that is no object leaves the guest alone.
  EXPECT_NO_THROW(from_json(nlohmann::json::array({1, 2}), g));
  EXPECT_NO_THROW(from_json(nlohmann::json("text"), g));
  EXPECT_EQ(g.hostname, "h");
}

TEST(VmGuest, UsersFollowKeyOrderAndKeysOnlyFromLists) {
  VmGuest g;
  from_json(nlohmann::json::parse(R"({"users": {
      "zed": {"password": "z"},
      "Administrator": {"password": "A", "ssh-authorized-keys": "ssh-rsa single"},
      "root": {"ssh-authorized-keys": ["k1", "k2"]}}})"),
            g);
  ASSERT_EQ(g.users.size(), 3u);
  EXPECT_EQ(g.users[0].name, "Administrator");
  EXPECT_TRUE(g.users[0].ssh_authorized_keys.empty());
  EXPECT_EQ(g.users[1].name, "root");
  EXPECT_EQ(g.users[1].password, "");
  EXPECT_EQ(g.users[1].ssh_authorized_keys.size(), 2u);
  EXPECT_EQ(g.users[2].name, "zed");
}

TEST(VmGuest, WrittenFormHasEveryKeyAndUsersAsObject) {
  VmGuest g;
  g.operator_script = "op";
  g.users.push_back({"root", "pw", {"k"}});
  nlohmann::json j = g;
  for (const char* key : {"hostname", "kms_host", "operator-script", "ssh_password_auth",
                          "resolver", "boot_cmds", "run_cmds", "users"})
    EXPECT_TRUE(j.contains(key)) << key;
  EXPECT_EQ(j["resolver"]["name_server"], nlohmann::json::array());
  EXPECT_EQ(j["users"]["root"]["password"], "pw");
  EXPECT_EQ(j["users"]["root"]["ssh-authorized-keys"][0], "k");

  VmGuest back;
  from_json(j, back);
  EXPECT_EQ(nlohmann::json(back), j);
}

}  // namespace
