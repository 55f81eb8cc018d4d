// The documents as a guest's cloud-init reads them: YAML through a YAML 1.1
// reader, JSON through Python's json (read_back.h). Texts must come back as
// texts, booleans and numbers meant as such as booleans and numbers.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "bhwrap/cloudinit/cloudinit.h"
#include "driver/uuid.h"
#include "tests/cloudinit/read_back.h"
#include "tests/support/temp_root.h"

namespace {

using cloudinit_test::read_back;
using nlohmann::json;

Cloudinit read_back_generated(const json& record) {
  Cloudinit ci("vm7");
  ci.from_item(record.dump());
  return ci;
}

// A record that puts `v` into every text value of the NoCloud documents.
json record_with_texts(const std::string& v) {
  return {{"id", v},
          {"default_shell", v},
          {"guest",
           {{"hostname", v},
            {"ssh_password_auth", 1},
            {"users", {{v, {{"password", v}, {"ssh-authorized-keys", {v}}}}}},
            {"resolver", {{"name_server", {v}}, {"search", v}}}}},
          {"network_ports",
           json::array({{{"slot", 5},
                         {"mtu", 1500},
                         {"netmask", 24},
                         {"ipv4", json::array({{{"address", "10.0.0.5"}, {"gateway", v}}})},
                         {"ipv6", json::array({{{"address", "fd00::5"}, {"gateway", v}}})}},
                        {{"slot", 6},
                         {"netmask", 16},
                         {"net_cidr", v + "/16"},
                         {"ipv4", json::array({{{"address", "10.1.0.5"}, {"gateway", v}, {"netmask", v}}})}}})}};
}

json subnet(const char* type, const char* family, const char* address) {
  return {{"type", type}, {family, true}, {"control", "hotplug"}, {"address", address}};
}

TEST(CloudinitReadBack, NoCloudTextsStayTexts) {
  // Texts a YAML 1.1 reader would take plain for an integer, a float, a
  // boolean, null, a timestamp, the merge or the value key; they are quoted.
  std::vector<std::string> values = {
      "100001", "2024", "12345678", "0", "-7", "+12", "1_000", "1__0", "017", "08", "0x1F", "+0x1F",
      "0o17", "0b101", "12:34", "12:34:56", "3.14", "1.", "0.", ".5", "-.5", "1e3", "6.8523015e+5",
      "190:20:30.15", ".inf", "-.Inf", "+.INF", ".NaN", "yes", "Yes", "NO", "y", "N", "on", "On",
      "OFF", "off", "true", "FALSE", "null", "Null", "~", "2024-01-02",
      "2001-12-14t21:59:43.10-05:00", "2001-12-14 21:59:43.10 -5", "<<", "="};
  // Texts such a reader keeps as texts: they stay plain.
  const size_t quoted = values.size();
  values.insert(values.end(), {"web-1", "10.0.0.1", "1.2.3", "yes-please", "0x", "0b", "NaN",
                               "12:34:56:78:9a:bc", "2024-01-02x"});

  std::vector<std::string> documents;
  for (size_t i = 0; i < values.size(); ++i) {
    Cloudinit ci = read_back_generated(record_with_texts(values[i]));
    documents.insert(documents.end(), {ci.meta_data(), ci.user_data(), ci.network_config()});
    const std::string& v = values[i];
    EXPECT_TRUE(ci.meta_data().ends_with("\nlocal-hostname: " + (i < quoted ? '"' + v + '"' : v)))
        << ci.meta_data();
  }
  const std::vector<json> read = read_back("yaml", documents);
  ASSERT_EQ(read.size(), 3 * values.size());

  for (size_t i = 0; i < values.size(); ++i) {
    const std::string& v = values[i];
    SCOPED_TRACE(v);
    EXPECT_EQ(read[3 * i], (json{{"instance-id", v}, {"local-hostname", v}}));

    const json& user = read[3 * i + 1];
    EXPECT_EQ(user["chpasswd"], (json{{"expire", false}, {"list", {v + ":" + v}}}));
    EXPECT_EQ(user["ssh_pwauth"], true);
    EXPECT_EQ(user["package_upgrade"], false);
    EXPECT_EQ(user["resize_rootfs"], true);
    EXPECT_EQ(user["manage_etc_hosts"], "localhost");
    EXPECT_EQ(user["users"], (json::array({{{"name", v},
                                            {"lock_passwd", false},
                                            {"passwd", v},
                                            {"ssh_authorized_keys", {v}},
                                            {"sudo", "ALL=(ALL) NOPASSWD:ALL"},
                                            {"shell", v}}})));

    json first_v4 = subnet("static", "ipv4", "10.0.0.5/24");
    first_v4["gateway"] = v;
    json first_v6 = subnet("static6", "ipv6", "fd00::5/64");
    first_v6["gateway"] = v;
    json second_v4 = subnet("static", "ipv4", "10.1.0.5/16");
    second_v4["routes"] = json::array({{{"network", v}, {"gateway", v}, {"netmask", v}}});
    EXPECT_EQ(read[3 * i + 2],
              (json{{"version", 1},
                    {"config",
                     {{{"type", "physical"}, {"name", "5"}, {"mtu", 1500}, {"subnets", {first_v4, first_v6}}},
                      {{"type", "physical"}, {"name", "6"}, {"mtu", 0}, {"subnets", {second_v4}}},
                      {{"type", "nameserver"}, {"address", {v}}, {"search", {v}}}}}}));
  }
}

// A later port's IPv4 route needs the port's network: without one the route
// is left out (a guest refuses a route with an empty network), and the
// document stays readable.
TEST(CloudinitReadBack, PortWithoutNetworkGetsNoRoute) {
  const std::vector<json> net_cidrs = {nullptr, "", "/24", "10.1.0.0/24"};  // null: none
  std::vector<std::string> documents;
  for (const json& net_cidr : net_cidrs) {
    json port = {{"slot", 6},
                 {"netmask", 24},
                 {"ipv4", json::array({{{"address", "10.1.0.5"}, {"gateway", "10.1.0.1"}, {"netmask", "255.255.255.0"}}})}};
    if (!net_cidr.is_null()) port["net_cidr"] = net_cidr;
    documents.push_back(
        Cloudinit::make_network_config(VmConfig(json{{"network_ports", json::array({{{"slot", 5}}, port})}})).text);
  }
  const std::vector<json> read = read_back("yaml", documents);
  ASSERT_EQ(read.size(), net_cidrs.size());
  for (size_t i = 0; i < net_cidrs.size(); ++i) {
    SCOPED_TRACE(net_cidrs[i].dump());
    json v4 = subnet("static", "ipv4", "10.1.0.5/24");
    if (i == 3)
      v4["routes"] = json::array({{{"network", "10.1.0.0"}, {"gateway", "10.1.0.1"}, {"netmask", "255.255.255.0"}}});
    EXPECT_EQ(read[i]["config"][1], (json{{"type", "physical"}, {"name", "6"}, {"mtu", 0}, {"subnets", {v4}}}));
  }
}

// The config drive as a reader of the OpenStack layout takes it: meta_data.json
// names the VM by the UUID its firmware reports (bhyve's "-U": the name-based
// SHA-1 UUID of the VM id, worked out here by Python for "vm7");
// network_data.json lists each name server as a service of its own.
TEST(CloudinitReadBack, ConfigDrive) {
  Cloudinit ci = read_back_generated({{"id", "vm7"},
                            {"os_type", 7},
                            {"guest",
                             {{"hostname", "2024"},
                              {"resolver", {{"name_server", {"10.0.0.1", "10.0.0.2"}}}},
                              {"users", {{"Administrator", {{"password", "12345678"}}}}}}},
                            {"network_ports",
                             json::array({{{"slot", 5},
                                           {"mac", {"02:00:00:00:00:01"}},
                                           {"ipv4", json::array({{{"address", "10.0.0.5"},
                                                                  {"gateway", "10.0.0.1"},
                                                                  {"netmask", "255.255.255.0"}}})}}})}});
  const std::vector<json> read = read_back("json", {ci.meta_data(), ci.network_config()});
  ASSERT_EQ(read.size(), 2u);
  EXPECT_EQ(read[0], (json{{"hostname", "2024"},
                           {"kms_host", ""},
                           {"meta", {{"admin_pass", "12345678"}}},
                           {"uuid", "37b7ca72-8652-52cd-a0c6-1d283a9a681a"}}));
  EXPECT_EQ(read[0]["uuid"], sha1_uuid("vm7", 3));

  // One DNS service per name server, in the network and for the whole drive.
  const json dns = json::array({{{"address", "10.0.0.1"}, {"type", "dns"}}, {{"address", "10.0.0.2"}, {"type", "dns"}}});
  EXPECT_EQ(read[1]["networks"][0]["services"], dns);
  EXPECT_EQ(read[1]["services"], dns);
}

// Name servers and search domain kept from an older file stay texts, however
// that file wrote them.
TEST(CloudinitReadBack, KeptNameServersStayTexts) {
  test_support::TempRoot root;
  root.write("/pools/p/vm1/cloud-init/network-config",
             "version: 1\nconfig:\n  - type: nameserver\n    address: [10.0.0.1, 2024]\n    search: [0x1F]\n");
  Cloudinit::update_network_config(
      {{"id", "vm1"}, {"root_fs", "/pools/p/vm1"}, {"network_ports", json::array({{{"slot", 5}, {"mtu", 9000}}})}});
  std::ifstream in(root.path("/pools/p/vm1/cloud-init/network-config"));
  const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  EXPECT_EQ(read_back("yaml", text),
            (json{{"version", 1},
                  {"config",
                   {{{"type", "physical"}, {"name", "5"}, {"mtu", 9000}},
                    {{"type", "nameserver"}, {"address", {"10.0.0.1", "2024"}}, {"search", {"0x1F"}}}}}}));
}

}  // namespace
