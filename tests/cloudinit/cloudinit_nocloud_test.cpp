// The NoCloud documents: meta-data, user-data (#cloud-config) and
// network-config (version 1), and the rewrite of a stored network-config.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>
#include <yaml-cpp/yaml.h>

#include "bhwrap/cloudinit/cloudinit.h"
#include "tests/support/temp_root.h"

namespace {

using nlohmann::json;

std::vector<std::string> keys(const YAML::Node& map) {
  std::vector<std::string> names;
  for (const auto& entry : map) names.push_back(entry.first.as<std::string>());
  return names;
}

std::vector<std::string> texts(const YAML::Node& list) {
  std::vector<std::string> out;
  for (const auto& entry : list) out.push_back(entry.as<std::string>());
  return out;
}

Cloudinit generated(const json& record) {
  Cloudinit ci("vm-test");
  ci.from_item(record.dump());
  return ci;
}

// user-data without its "#cloud-config" line.
YAML::Node cloud_config(const Cloudinit& ci) {
  const std::string header = "#cloud-config\n";
  EXPECT_EQ(ci.user_data().substr(0, header.size()), header);
  return YAML::Load(ci.user_data().substr(header.size()));
}

TEST(CloudinitNoCloud, MetaDataNamesInstanceAndHost) {
  struct Case {
    const char* hostname;
    const char* expected;
  };
  for (const Case& c : {Case{"", "vm7.local"}, Case{"web-1", "web-1"}}) {
    Cloudinit ci = generated({{"id", "vm7"}, {"guest", {{"hostname", c.hostname}}}});
    EXPECT_EQ(ci.meta_data(), std::string("---\ninstance-id: vm7\nlocal-hostname: ") + c.expected);
  }
}

TEST(CloudinitNoCloud, MinimalUserData) {
  for (int64_t pwauth : {0, 1}) {
    SCOPED_TRACE(pwauth);
    Cloudinit ci("vm7");
    EXPECT_TRUE(ci.from_item(json{{"id", "vm7"}, {"guest", {{"ssh_password_auth", pwauth}}}}.dump()));
    YAML::Node doc = cloud_config(ci);
    std::vector<std::string> expected = {"chpasswd", "cloud_final_modules", "package_upgrade",
                                         "resize_rootfs", "manage_etc_hosts"};
    if (pwauth) expected.insert(expected.begin() + 1, "ssh_pwauth");
    EXPECT_EQ(keys(doc), expected);
    EXPECT_EQ(keys(doc["chpasswd"]), std::vector<std::string>{"expire"});
    EXPECT_EQ(doc["chpasswd"]["expire"].as<std::string>(), "False");
    if (pwauth) {
      EXPECT_EQ(doc["ssh_pwauth"].as<std::string>(), "True");
    }
    EXPECT_EQ(doc["package_upgrade"].as<std::string>(), "False");
    EXPECT_EQ(doc["resize_rootfs"].as<std::string>(), "True");
    EXPECT_EQ(doc["manage_etc_hosts"].as<std::string>(), "localhost");
    const YAML::Node modules = doc["cloud_final_modules"];
    ASSERT_EQ(modules.size(), 3u);
    const char* names[] = {"set_passwords", "set_hostname", "scripts-user"};
    for (size_t i = 0; i < 3; ++i)
      EXPECT_EQ(texts(modules[i]), (std::vector<std::string>{names[i], "once-per-instance"}));
    // The booleans are plain scalars, not quoted texts.
    EXPECT_NE(ci.user_data().find("expire: False\n"), std::string::npos);
    EXPECT_NE(ci.user_data().find("resize_rootfs: True\n"), std::string::npos);
  }
}

TEST(CloudinitNoCloud, CommandsUsersPasswordsAndKeys) {
  json record = {{"id", "vm7"},
                 {"default_shell", "/bin/bash"},
                 {"guest",
                  {{"boot_cmds", {"echo hi", "touch /x"}},
                   {"run_cmds", {"systemctl restart sshd"}},
                   {"users",
                    {{"root", {{"password", "r00t"}, {"ssh-authorized-keys", {"ssh-ed25519 AAAA root@a"}}}},
                     {"ops", {{"ssh-authorized-keys", {"ssh-rsa BBBB ops@b", "ssh-ed25519 CCCC ops@c"}}}},
                     {"dev", {{"password", "d3v"}}}}}}}};
  Cloudinit ci = generated(record);
  YAML::Node doc = cloud_config(ci);
  EXPECT_EQ(keys(doc), (std::vector<std::string>{"bootcmd", "runcmd", "chpasswd", "cloud_final_modules",
                                                 "package_upgrade", "resize_rootfs", "manage_etc_hosts",
                                                 "users"}));
  EXPECT_EQ(texts(doc["bootcmd"]), (std::vector<std::string>{" echo hi ", " touch /x "}));
  EXPECT_EQ(texts(doc["runcmd"]), (std::vector<std::string>{" systemctl restart sshd "}));

  // Users in the key order of the JSON object: dev, ops, root.
  const YAML::Node users = doc["users"];
  ASSERT_EQ(users.size(), 3u);
  EXPECT_EQ(keys(users[0]), (std::vector<std::string>{"name", "lock_passwd", "passwd", "sudo", "shell"}));
  EXPECT_EQ(users[0]["name"].as<std::string>(), "dev");
  EXPECT_EQ(users[0]["lock_passwd"].as<std::string>(), "False");
  EXPECT_EQ(users[0]["passwd"].as<std::string>(), "d3v");
  EXPECT_EQ(users[0]["sudo"].as<std::string>(), "ALL=(ALL) NOPASSWD:ALL");
  EXPECT_EQ(users[0]["shell"].as<std::string>(), "/bin/bash");
  EXPECT_EQ(keys(users[1]), (std::vector<std::string>{"name", "lock_passwd", "ssh_authorized_keys", "sudo", "shell"}));
  EXPECT_EQ(texts(users[1]["ssh_authorized_keys"]),
            (std::vector<std::string>{"ssh-rsa BBBB ops@b", "ssh-ed25519 CCCC ops@c"}));
  EXPECT_EQ(keys(users[2]), (std::vector<std::string>{"name", "lock_passwd", "passwd", "ssh_authorized_keys"}));
  EXPECT_EQ(users[2]["name"].as<std::string>(), "root");

  EXPECT_EQ(keys(doc["chpasswd"]), (std::vector<std::string>{"expire", "list"}));
  EXPECT_EQ(texts(doc["chpasswd"]["list"]), (std::vector<std::string>{"dev:d3v", "root:r00t"}));
}

TEST(CloudinitNoCloud, UsersWithoutPasswordsGiveAnEmptyPasswordList) {
  Cloudinit ci = generated({{"id", "vm7"}, {"guest", {{"users", {{"ops", json::object()}}}}}});
  YAML::Node doc = cloud_config(ci);
  ASSERT_TRUE(doc["chpasswd"]["list"].IsSequence());
  EXPECT_EQ(doc["chpasswd"]["list"].size(), 0u);
  EXPECT_EQ(keys(doc["users"][0]), (std::vector<std::string>{"name", "lock_passwd", "sudo", "shell"}));
  EXPECT_EQ(doc["users"][0]["shell"].as<std::string>(), "/bin/sh");  // the record's default
}

// Record values reach the guest as the same texts: YAML-significant characters
// are quoted, never read as structure.
TEST(CloudinitNoCloud, RecordValuesAreEscaped) {
  const std::vector<std::string> hostile = {"a: b",          "- x",      "#comment", "x\ny: z",
                                            "'\"quoted\"'", "*alias",   "&anchor",  "null",
                                            "True",          "{a: 1}",   "[1, 2]",   "key: |\n  block",
                                            "",              "  spaced "};
  for (const std::string& value : hostile) {
    SCOPED_TRACE(value);
    Cloudinit ci = generated({{"id", value.empty() ? "vm" : value},
                              {"guest",
                               {{"hostname", value.empty() ? "h" : value},
                                {"boot_cmds", {value}},
                                {"users", {{"u", {{"password", value.empty() ? "p" : value},
                                                  {"ssh-authorized-keys", {value}}}}}}}}});
    YAML::Node meta = YAML::Load(ci.meta_data());
    EXPECT_EQ(keys(meta), (std::vector<std::string>{"instance-id", "local-hostname"}));
    if (!value.empty()) {
      EXPECT_EQ(meta["local-hostname"].as<std::string>(), value);
    }
    YAML::Node doc = cloud_config(ci);
    EXPECT_EQ(texts(doc["bootcmd"]), std::vector<std::string>{" " + value + " "});
    EXPECT_EQ(texts(doc["users"][0]["ssh_authorized_keys"]), std::vector<std::string>{value});
    if (!value.empty()) {
      EXPECT_EQ(doc["users"][0]["passwd"].as<std::string>(), value);
    }
  }
}

TEST(CloudinitNoCloud, NetworkConfigIsGenerated) {
  Cloudinit ci = generated({{"id", "vm7"}, {"network_ports", json::array({{{"slot", 5}}})}});
  EXPECT_EQ(ci.network_config(), Cloudinit::make_network_config(ci.vm_config()).text);
  EXPECT_NE(ci.network_config().find("physical"), std::string::npos);
}

// ---- network-config ----

YAML::Node network_config(const json& record) {
  NetworkConfigText nc = Cloudinit::make_network_config(VmConfig(record));
  YAML::Node doc = YAML::Load(nc.text);
  EXPECT_EQ(keys(doc), (std::vector<std::string>{"version", "config"}));
  EXPECT_EQ(doc["version"].as<int>(), 1);
  EXPECT_EQ(nc.nameserver_index, record.contains("network_ports") ? record["network_ports"].size() : 0u);
  return doc["config"];
}

json ipv4(const char* address, const char* gateway = "", const char* netmask = "255.255.255.0") {
  return {{"address", address}, {"gateway", gateway}, {"netmask", netmask}};
}

json ipv6(const char* address, const char* gateway = "") { return {{"address", address}, {"gateway", gateway}}; }

TEST(CloudinitSplitSlash, PrefixOrDefault64) {
  struct Case {
    const char* address;
    const char* whole;
    const char* prefix;
  };
  for (const Case& c : {Case{"fd00::5", "fd00::5/64", "64"}, Case{"fd00::5/56", "fd00::5/56", "56"},
                        Case{"", "/64", "64"}, Case{"a/b/c", "a/b/c", "b/c"}, Case{"x/", "x/", ""}}) {
    SCOPED_TRACE(c.address);
    EXPECT_EQ(Cloudinit::split_slash(c.address), std::make_pair(std::string(c.whole), std::string(c.prefix)));
  }
}

TEST(CloudinitNetworkConfig, WithoutPortsOnlyTheNameserverEntry) {
  YAML::Node config = network_config({{"id", "vm"}});
  ASSERT_EQ(config.size(), 1u);
  EXPECT_EQ(keys(config[0]), std::vector<std::string>{"type"});
  EXPECT_EQ(config[0]["type"].as<std::string>(), "nameserver");
}

TEST(CloudinitNetworkConfig, InterfaceNamesByPositionOrSlot) {
  struct Case {
    uint64_t zero_based_link;
    std::vector<std::string> names;
  };
  for (const Case& c : {Case{1, {"0", "1"}}, Case{0, {"5", "6"}}, Case{2, {"5", "6"}}}) {
    SCOPED_TRACE(c.zero_based_link);
    YAML::Node config = network_config(
        {{"zero_based_link", c.zero_based_link},
         {"network_ports", json::array({{{"slot", 5}, {"mtu", 9000}}, {{"slot", 6}}})}});
    ASSERT_EQ(config.size(), 3u);
    for (size_t i = 0; i < 2; ++i) {
      EXPECT_EQ(keys(config[i]), (std::vector<std::string>{"type", "name", "mtu"}));  // no subnets
      EXPECT_EQ(config[i]["type"].as<std::string>(), "physical");
      EXPECT_EQ(config[i]["name"].as<std::string>(), c.names[i]);
    }
    EXPECT_EQ(config[0]["mtu"].as<uint64_t>(), 9000u);
    EXPECT_EQ(config[1]["mtu"].as<uint64_t>(), 0u);
  }
}

TEST(CloudinitNetworkConfig, SubnetsGatewaysAndRoutes) {
  json record = {
      {"os_name", "FreeBSD 14"},
      {"guest", {{"resolver", {{"name_server", {"10.0.0.1", "10.0.0.2"}}, {"search", "example.org"}}}}},
      {"network_ports",
       json::array({
           {{"slot", 5},
            {"netmask", 24},
            {"ipv4", json::array({ipv4("", "10.0.0.99"), ipv4("10.0.0.5", "10.0.0.1"), ipv4("10.0.0.6", "10.0.0.1")})},
            {"ipv6", json::array({ipv6("fd00::10", "fd00::1"), ipv6("fd00::11/56", "fd00::1"), ipv6("fd00::12")})}},
           {{"slot", 6},
            {"netmask", 16},
            {"net_cidr", "10.1.0.0/16"},
            {"ipv4", json::array({ipv4("10.1.0.5", "10.1.0.1", "255.255.0.0"), ipv4("10.1.0.6", "10.1.0.1")})},
            {"ipv6", json::array({ipv6("fd01::5/64", "fd01::1"), ipv6("fd01::6/64", "fd01::1"), ipv6("fd01::7")})}},
       })}};
  YAML::Node config = network_config(record);
  ASSERT_EQ(config.size(), 3u);

  // Port 0: the empty IPv4 address uses no position; the first subnet has the gateway.
  const YAML::Node first = config[0]["subnets"];
  ASSERT_EQ(first.size(), 5u);
  EXPECT_EQ(keys(first[0]), (std::vector<std::string>{"type", "ipv4", "control", "address", "gateway"}));
  EXPECT_EQ(first[0]["type"].as<std::string>(), "static");
  EXPECT_EQ(first[0]["ipv4"].as<std::string>(), "True");
  EXPECT_EQ(first[0]["control"].as<std::string>(), "hotplug");
  EXPECT_EQ(first[0]["address"].as<std::string>(), "10.0.0.5/24");
  EXPECT_EQ(first[0]["gateway"].as<std::string>(), "10.0.0.1");
  EXPECT_EQ(keys(first[1]), (std::vector<std::string>{"type", "ipv4", "control", "address"}));
  EXPECT_EQ(first[1]["address"].as<std::string>(), "10.0.0.6/24");
  EXPECT_EQ(keys(first[2]), (std::vector<std::string>{"type", "ipv6", "control", "address", "gateway"}));
  EXPECT_EQ(first[2]["type"].as<std::string>(), "static6");
  EXPECT_EQ(first[2]["address"].as<std::string>(), "fd00::10/64");
  EXPECT_EQ(first[2]["gateway"].as<std::string>(), "fd00::1");
  EXPECT_EQ(first[3]["address"].as<std::string>(), "fd00::11/56");
  EXPECT_EQ(first[3]["gateway"].as<std::string>(), "fd00::1");  // every IPv6 subnet with a gateway
  EXPECT_EQ(keys(first[4]), (std::vector<std::string>{"type", "ipv6", "control", "address"}));

  // Port 1: routes instead of gateways.
  const YAML::Node second = config[1]["subnets"];
  ASSERT_EQ(second.size(), 5u);
  EXPECT_EQ(keys(second[0]), (std::vector<std::string>{"type", "ipv4", "control", "address", "routes"}));
  EXPECT_EQ(second[0]["address"].as<std::string>(), "10.1.0.5/16");
  ASSERT_EQ(second[0]["routes"].size(), 1u);
  EXPECT_EQ(keys(second[0]["routes"][0]), (std::vector<std::string>{"network", "gateway", "netmask"}));
  EXPECT_EQ(second[0]["routes"][0]["network"].as<std::string>(), "10.1.0.0");
  EXPECT_EQ(second[0]["routes"][0]["gateway"].as<std::string>(), "10.1.0.1");
  EXPECT_EQ(second[0]["routes"][0]["netmask"].as<std::string>(), "255.255.0.0");
  EXPECT_FALSE(second[1]["routes"]);
  for (size_t s : {2u, 3u}) {
    ASSERT_EQ(keys(second[s]), (std::vector<std::string>{"type", "ipv6", "control", "address", "routes"}));
    EXPECT_EQ(second[s]["routes"][0]["network"].as<std::string>(), "::");
    EXPECT_EQ(second[s]["routes"][0]["gateway"].as<std::string>(), "fd01::1");
    EXPECT_EQ(second[s]["routes"][0]["netmask"].as<std::string>(), "::");
  }
  EXPECT_EQ(keys(second[4]), (std::vector<std::string>{"type", "ipv6", "control", "address"}));

  const YAML::Node nameserver = config[2];
  EXPECT_EQ(keys(nameserver), (std::vector<std::string>{"type", "address", "search"}));
  EXPECT_EQ(texts(nameserver["address"]), (std::vector<std::string>{"10.0.0.1", "10.0.0.2"}));
  EXPECT_EQ(texts(nameserver["search"]), std::vector<std::string>{"example.org"});
}

TEST(CloudinitNetworkConfig, GatewayOfFirstPortEvenWhenEmpty) {
  YAML::Node config = network_config(
      {{"network_ports", json::array({{{"netmask", 24}, {"ipv4", json::array({ipv4("10.0.0.5")})}}})}});
  EXPECT_EQ(config[0]["subnets"][0]["gateway"].as<std::string>(), "");
}

TEST(CloudinitNetworkConfig, DebianGuestsGetNoIpv4RoutesOnLaterPorts) {
  struct Case {
    const char* os_name;
    bool routed;
  };
  for (const Case& c : {Case{"Debian 12", false}, Case{"Debian", false}, Case{"My Debian", true},
                        Case{"debian 12", true}, Case{"", true}}) {
    SCOPED_TRACE(c.os_name);
    YAML::Node config = network_config(
        {{"os_name", c.os_name},
         {"network_ports",
          json::array({{{"slot", 5}},
                       {{"slot", 6},
                        {"net_cidr", "10.1.0.0/24"},
                        {"ipv4", json::array({ipv4("10.1.0.5", "10.1.0.1")})},
                        {"ipv6", json::array({ipv6("fd01::5", "fd01::1")})}}})}});
    const YAML::Node subnets = config[1]["subnets"];
    EXPECT_EQ(static_cast<bool>(subnets[0]["routes"]), c.routed);
    EXPECT_TRUE(subnets[1]["routes"]);  // IPv6 routes regardless
  }
}

TEST(CloudinitNetworkConfig, NetCidrWithoutPrefixIsTheNetwork) {
  YAML::Node config = network_config(
      {{"network_ports", json::array({{{"slot", 5}},
                                      {{"slot", 6},
                                       {"net_cidr", "10.2.0.0"},
                                       {"ipv4", json::array({ipv4("10.2.0.5", "10.2.0.1")})}}})}});
  EXPECT_EQ(config[1]["subnets"][0]["routes"][0]["network"].as<std::string>(), "10.2.0.0");
}

// ---- update_network_config ----

class CloudinitUpdateNetworkConfig : public ::testing::Test {
 protected:
  test_support::TempRoot root;
  const std::string vm_dir = "/pools/p/vm1";
  std::string target() const { return root.path(vm_dir + "/cloud-init/network-config"); }

  json item(json resolver) const {
    return {{"id", "vm1"},
            {"root_fs", vm_dir},
            {"guest", {{"resolver", std::move(resolver)}}},
            {"network_ports", json::array({{{"slot", 5}, {"netmask", 24}, {"ipv4", json::array({ipv4("10.0.0.5")})}}})}};
  }

  static std::string read(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  void write_old(const std::string& text) const { root.write(vm_dir + "/cloud-init/network-config", text); }
};

TEST_F(CloudinitUpdateNetworkConfig, FullResolverWritesTheNewDocumentWithoutReadingTheOld) {
  write_old("{{{ not yaml");
  json record = item({{"name_server", {"10.9.9.9"}}, {"search", "new.example"}});
  Cloudinit::update_network_config(record);
  EXPECT_EQ(read(target()), Cloudinit::make_network_config(VmConfig(record)).text + "\n");
}

TEST_F(CloudinitUpdateNetworkConfig, KeepsOldNameServersAndSearchWhenTheItemLacksThem) {
  write_old("version: 1\nconfig:\n  - type: physical\n    name: 5\n  - type: nameserver\n"
            "    address: [10.0.0.1, 10.0.0.2]\n    search: [old.example]\n");
  struct Case {
    json resolver;
    std::vector<std::string> servers;
    std::vector<std::string> search;
  };
  const Case cases[] = {
      {json::object(), {"10.0.0.1", "10.0.0.2"}, {"old.example"}},
      {{{"name_server", {"10.9.9.9"}}}, {"10.9.9.9"}, {"old.example"}},
      {{{"search", "new.example"}}, {"10.0.0.1", "10.0.0.2"}, {"new.example"}},
      // Present but empty still counts as given: the old values are dropped.
      {{{"name_server", json::array()}}, {}, {"old.example"}},
  };
  const std::string old = read(target());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.resolver.dump());
    write_old(old);
    Cloudinit::update_network_config(item(c.resolver));
    const std::string text = read(target());
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.back(), '\n');
    YAML::Node config = YAML::Load(text)["config"];
    ASSERT_EQ(config.size(), 2u);
    EXPECT_EQ(config[0]["subnets"][0]["address"].as<std::string>(), "10.0.0.5/24");
    EXPECT_EQ(config[1]["type"].as<std::string>(), "nameserver");
    EXPECT_EQ(config[1]["address"] ? texts(config[1]["address"]) : std::vector<std::string>{}, c.servers);
    EXPECT_EQ(config[1]["search"] ? texts(config[1]["search"]) : std::vector<std::string>{}, c.search);
  }
}

TEST_F(CloudinitUpdateNetworkConfig, WithoutOldFileWritesTheNewDocument) {
  std::filesystem::create_directories(root.path(vm_dir + "/cloud-init"));
  json record = item(json::object());
  Cloudinit::update_network_config(record);
  EXPECT_EQ(read(target()), Cloudinit::make_network_config(VmConfig(record)).text + "\n");
}

TEST_F(CloudinitUpdateNetworkConfig, UnreadableOldFileThrowsAndKeepsIt) {
  for (const std::string old : {"", "{{{ not yaml", "version: 1\n"}) {
    SCOPED_TRACE(old);
    write_old(old);
    EXPECT_THROW(Cloudinit::update_network_config(item(json::object())), YAML::Exception);
    EXPECT_EQ(read(target()), old);
  }
}

TEST_F(CloudinitUpdateNetworkConfig, OldFileWithoutNameserverMapIsNotMerged) {
  write_old("version: 1\nconfig: []\n");
  json record = item(json::object());
  Cloudinit::update_network_config(record);
  EXPECT_EQ(read(target()), Cloudinit::make_network_config(VmConfig(record)).text + "\n");
}

TEST_F(CloudinitUpdateNetworkConfig, ItemsThatAreNotRecordsWithPortsAreIgnored) {
  write_old("untouched");
  json no_ports = item(json::object());
  no_ports.erase("network_ports");
  json ports_not_list = item(json::object());
  ports_not_list["network_ports"] = "eth0";
  for (const json& bad : {json::array({1, 2}), json("text"), no_ports, ports_not_list}) {
    SCOPED_TRACE(bad.dump());
    Cloudinit::update_network_config(bad);
    EXPECT_EQ(read(target()), "untouched");
  }
}

}  // namespace
