// The metadata document built from a VM record: the guest record plus the
// members the guest's cloud-init asks for by name.
#include "bhwrap/cloudinit/metadata_document.h"

#include <gtest/gtest.h>

#include "driver/uuid.h"

namespace {

using nlohmann::json;

VmConfig record_with_ports(std::vector<VmNetworkPort> ports) {
  VmConfig record;
  record.id = "vm1";
  record.root_dataset_name = "z05/vm1";
  record.network_ports = std::move(ports);
  return record;
}

VmNetworkPort port_at(uint64_t slot, std::string link = "") {
  VmNetworkPort port;
  port.slot = slot;
  port.net_link_name = std::move(link);
  return port;
}

TEST(MetadataDocument, NeedsAnIdAndUserData) {
  VmConfig record = record_with_ports({});
  EXPECT_FALSE(make_metadata_document(record, ""));
  record.id.clear();
  EXPECT_FALSE(make_metadata_document(record, "#cloud-config\n"));
}

TEST(MetadataDocument, GuestRecordAndDerivedMembers) {
  VmConfig record = record_with_ports({});
  record.guest.hostname = "h1";
  record.guest.resolver.name_server = {"10.0.0.1", "10.0.0.2"};
  record.guest.users = {{"ops", "", {"k-ops"}}, {"root", "pw", {"k1", "k2"}}};
  std::optional<json> doc = make_metadata_document(record, "#cloud-config\n");
  ASSERT_TRUE(doc);
  EXPECT_EQ((*doc)["hostname"], "h1");
  EXPECT_EQ((*doc)["users"]["root"]["password"], "pw");
  EXPECT_EQ((*doc)["cloud-init:user-data"], "#cloud-config\n");
  EXPECT_EQ((*doc)["resolvers"], json::array({"10.0.0.1", "10.0.0.2"}));
  EXPECT_EQ((*doc)["routes"], json::array());
  EXPECT_EQ((*doc)["root_authorized_keys"], "k1\nk2");
  EXPECT_EQ((*doc)["uuid"], sha1_uuid("z05/vm1", 7));
  EXPECT_FALSE(doc->contains("nics"));
}

TEST(MetadataDocument, RootKeysOnlyWhenThereAreSome) {
  VmConfig record = record_with_ports({});
  std::optional<json> no_root = make_metadata_document(record, "x");
  ASSERT_TRUE(no_root);
  EXPECT_FALSE(no_root->contains("root_authorized_keys"));
  EXPECT_EQ((*no_root)["resolvers"], json::array());

  record.guest.users = {{"root", "pw", {}}};
  std::optional<json> no_keys = make_metadata_document(record, "x");
  ASSERT_TRUE(no_keys);
  EXPECT_FALSE(no_keys->contains("root_authorized_keys"));

  record.guest.users = {{"root", "pw", {""}}};
  std::optional<json> empty_key = make_metadata_document(record, "x");
  ASSERT_TRUE(empty_key);
  EXPECT_FALSE(empty_key->contains("root_authorized_keys"));
}

TEST(MetadataDocument, NicAddressesAndGateways) {
  VmNetworkPort port = port_at(5);
  port.mac = {"02:00:00:00:00:01", "02:00:00:00:00:02"};
  port.vale_switch_name = "vale1";
  port.netmask = 24;
  port.mtu = 9000;
  port.ipv4 = {{"10.0.0.5", "", "255.255.255.0"}, {"", "10.9.9.9", ""}, {"10.0.1.5", "10.0.1.1", ""}};
  port.ipv6 = {{"fd00::5", "fd00::1"}, {"fd01::5/56", ""}, {"", "fd02::1"}};
  std::optional<json> doc = make_metadata_document(record_with_ports({port}), "x");
  ASSERT_TRUE(doc);
  const json& nic = (*doc)["nics"][0];
  EXPECT_EQ(nic["model"], "virtio");
  EXPECT_EQ(nic["interface"], "net0");
  EXPECT_EQ(nic["mac"], "02:00:00:00:00:01");
  EXPECT_EQ(nic["nic_tag"], "vale1");
  EXPECT_EQ(nic["netmask"], "255.255.255.0");
  EXPECT_EQ(nic["ip"], "10.0.0.5");
  EXPECT_EQ(nic["ips"], json::array({"10.0.0.5/24", "10.0.1.5/24", "fd00::5/64", "fd01::5/56"}));
  // The first IPv4 entry has no gateway, so there is no "gateway".
  EXPECT_FALSE(nic.contains("gateway"));
  EXPECT_EQ(nic["gateways"], json::array({"10.9.9.9", "10.0.1.1", "fd00::1", "fd02::1"}));
  EXPECT_EQ(nic["mtu"], 9000);
  EXPECT_EQ(nic["primary"], true);
}

TEST(MetadataDocument, BarePortHasEmptyTextsAndNoOptionalMembers) {
  std::optional<json> doc = make_metadata_document(record_with_ports({port_at(0)}), "x");
  ASSERT_TRUE(doc);
  const json& nic = (*doc)["nics"][0];
  EXPECT_EQ(nic["mac"], "");
  EXPECT_EQ(nic["ip"], "");
  EXPECT_EQ(nic["netmask"], "");
  EXPECT_EQ(nic["ips"], json::array());
  EXPECT_FALSE(nic.contains("gateway"));
  EXPECT_FALSE(nic.contains("gateways"));
  EXPECT_FALSE(nic.contains("mtu"));
}

TEST(MetadataDocument, InterfacesCountFromTheFirstNumberedSlot) {
  json two = metadata_nics({port_at(5), port_at(6)});
  EXPECT_EQ(two[0]["interface"], "net0");
  EXPECT_EQ(two[1]["interface"], "net1");
  EXPECT_EQ(two[0]["primary"], true);
  EXPECT_EQ(two[1]["primary"], false);

  // The base is the first non-zero slot only; later slots count from it, and
  // a named link keeps its name.
  json mixed = metadata_nics({port_at(0), port_at(7), port_at(9, "ext0"), port_at(10)});
  EXPECT_EQ(mixed[0]["interface"], "net0");
  EXPECT_EQ(mixed[1]["interface"], "net0");
  EXPECT_EQ(mixed[2]["interface"], "ext0");
  EXPECT_EQ(mixed[3]["interface"], "net3");

  // A slot below the base gives a negative number, not a wrapped-around one.
  json below = metadata_nics({port_at(6), port_at(0)});
  EXPECT_EQ(below[1]["interface"], "net-6");
}

}  // namespace
