// The OpenStack config-drive documents (os_type 7): meta_data.json and
// network_data.json.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "bhwrap/cloudinit/cloudinit.h"
#include "driver/uuid.h"

namespace {

using nlohmann::json;

json openstack_record() {
  return {{"id", "vm7"},
          {"os_type", 7},
          {"guest",
           {{"kms_host", "kms.example:1688"},
            {"resolver", {{"name_server", {"10.0.0.1", "10.0.0.2"}}, {"search", "example"}}},
            {"users",
             {{"administrator", {{"password", "lower"}}},
              {"Administrator", {{"password", "S3cret!"}}}}}}}};
}

Cloudinit openstack_generated(const json& record) {
  Cloudinit ci("vm7");
  ci.from_item(record.dump());
  return ci;
}

json parsed(const std::string& text) { return json::parse(text); }

json route(const std::string& gateway, const std::string& any) {
  return json::array({{{"gateway", gateway}, {"netmask", any}, {"network", any}}});
}

TEST(CloudinitOpenStack, MetaDataNamesHostKmsAndAdministratorPassword) {
  json record = openstack_record();
  Cloudinit ci("vm7");
  // An OpenStack VM has no user-data, so the result is false.
  EXPECT_FALSE(ci.from_item(record.dump()));
  EXPECT_TRUE(ci.user_data().empty());
  const std::string uuid = sha1_uuid("vm7", 3);  // as bhyve gets it ("-U")
  EXPECT_EQ(parsed(ci.meta_data()),
            (json{{"hostname", "vm7.local"},
                  {"kms_host", "kms.example:1688"},
                  {"meta", {{"admin_pass", "S3cret!"}}},
                  {"uuid", uuid}}));
  // Indent 2, sorted keys.
  EXPECT_EQ(ci.meta_data(),
            "{\n  \"hostname\": \"vm7.local\",\n  \"kms_host\": \"kms.example:1688\",\n"
            "  \"meta\": {\n    \"admin_pass\": \"S3cret!\"\n  },\n  \"uuid\": \"" + uuid + "\"\n}");

  record["guest"]["hostname"] = "web-1";
  record["guest"]["users"].erase("Administrator");  // "administrator" does not match
  record["guest"].erase("kms_host");
  EXPECT_EQ(parsed(openstack_generated(record).meta_data()),
            (json{{"hostname", "web-1"}, {"kms_host", ""}, {"meta", {{"admin_pass", ""}}}, {"uuid", uuid}}));
}

TEST(CloudinitOpenStack, WithoutPortsNetworkDataStaysAsItWas) {
  Cloudinit ci = openstack_generated(openstack_record());
  EXPECT_FALSE(ci.meta_data().empty());
  EXPECT_TRUE(ci.network_config().empty());

  // A later generation without ports keeps the network document of the earlier one.
  json with_port = openstack_record();
  with_port["network_ports"] = json::array({{{"slot", 5}, {"mac", "02:00:00:00:00:01"}}});
  ci.generate(VmConfig(with_port));
  const std::string before = ci.network_config();
  ASSERT_FALSE(before.empty());
  ci.generate(VmConfig(openstack_record()));
  EXPECT_EQ(ci.network_config(), before);
}

TEST(CloudinitOpenStack, NetworksAndLinksPerPort) {
  json record = openstack_record();
  record["network_ports"] = json::array({
      // slot 0 counts as slot 5: a first port
      {{"mac", json::array({"02:00:00:00:00:01", "02:00:00:00:00:09"})},
       {"ipv4", json::array({{{"address", "10.0.0.5"}, {"gateway", ""}, {"netmask", "255.255.255.0"}},
                             {{"address", ""}, {"gateway", "10.0.0.99"}},
                             {{"address", "10.0.0.6"}, {"gateway", "10.0.0.1"}, {"netmask", "255.255.255.0"}},
                             {{"address", "10.0.0.7"}, {"gateway", "10.0.0.2"}, {"netmask", "255.255.0.0"}}})},
       {"ipv6", json::array({{{"address", "fd00::5"}, {"gateway", "fd00::1"}},
                             {{"address", "fd00::6/56"}, {"gateway", "fd00::2"}},
                             {{"address", "fd00::7/48"}}})}},
      // slot 14: not a first port, no routes at all
      {{"slot", 14},
       {"ipv4", json::array({{{"address", "10.1.0.5"}, {"gateway", "10.1.0.1"}, {"netmask", "255.0.0.0"}}})},
       {"ipv6", json::array({{{"address", "fd01::5/64"}, {"gateway", "fd01::1"}}})}},
  });
  Cloudinit ci = openstack_generated(record);
  json doc = parsed(ci.network_config());
  const json dns = json::array({{{"address", "10.0.0.1"}, {"type", "dns"}}, {{"address", "10.0.0.2"}, {"type", "dns"}}});

  auto v4 = [&](const char* ip, const char* link, const char* mask) {
    return json{{"ip_address", ip}, {"link", link}, {"netmask", mask}, {"type", "ipv4"}, {"services", dns}};
  };
  auto v6 = [&](const char* ip, const char* prefix, const char* link) {
    return json{{"ip_address", ip}, {"link", link}, {"netmask", prefix}, {"type", "ipv6"}, {"services", dns}};
  };
  json n1 = v4("10.0.0.5", "Ethernet_01", "255.255.255.0");
  json n2 = v4("10.0.0.6", "Ethernet_01", "255.255.255.0");
  n2["routes"] = route("10.0.0.1", "0.0.0.0");  // only the first entry with a gateway
  json n3 = v4("10.0.0.7", "Ethernet_01", "255.255.0.0");
  json n4 = v6("fd00::5", "64", "Ethernet_01");
  n4["routes"] = route("fd00::1", "::");
  json n5 = v6("fd00::6", "56", "Ethernet_01");
  n5["routes"] = route("fd00::2", "::");  // every IPv6 entry with a gateway
  json n6 = v6("fd00::7", "48", "Ethernet_01");
  json n7 = v4("10.1.0.5", "Ethernet_10", "255.0.0.0");
  json n8 = v6("fd01::5", "64", "Ethernet_10");

  EXPECT_EQ(doc["networks"], json::array({n1, n2, n3, n4, n5, n6, n7, n8}));
  EXPECT_EQ(doc["links"],
            json::array({{{"ethernet_mac_address", "02:00:00:00:00:01"}, {"id", "Ethernet_01"}, {"type", "phy"}},
                         {{"ethernet_mac_address", ""}, {"id", "Ethernet_10"}, {"type", "phy"}}}));
  EXPECT_EQ(doc["services"], dns);
  EXPECT_EQ(doc.size(), 3u);
}

TEST(CloudinitOpenStack, LinkNamesAndFirstPortsBySlot) {
  struct Case {
    uint64_t slot;
    const char* link;
    bool routed;
  };
  const Case cases[] = {{0, "Ethernet_01", true},  {5, "Ethernet_01", true}, {6, "Ethernet_02", false},
                        {13, "Ethernet_09", false}, {14, "Ethernet_10", false},
                        {104, "Ethernet_100", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.slot);
    json record = openstack_record();
    record["network_ports"] = json::array(
        {{{"slot", c.slot},
          {"ipv4", json::array({{{"address", "10.0.0.5"}, {"gateway", "10.0.0.1"}, {"netmask", "255.0.0.0"}}})}}});
    json doc = parsed(openstack_generated(record).network_config());
    EXPECT_EQ(doc["links"][0]["id"], c.link);
    EXPECT_EQ(doc["networks"][0]["link"], c.link);
    EXPECT_EQ(doc["networks"][0].contains("routes"), c.routed);
  }
}

TEST(CloudinitOpenStack, NoNameServersGiveNoDnsServices) {
  json record = openstack_record();
  record["guest"].erase("resolver");
  record["network_ports"] = json::array({{{"ipv4", json::array({{{"address", "10.0.0.5"}}})}}});
  json doc = parsed(openstack_generated(record).network_config());
  EXPECT_EQ(doc["networks"][0]["services"], json::array());
  EXPECT_EQ(doc["services"], json::array());
}

}  // namespace
