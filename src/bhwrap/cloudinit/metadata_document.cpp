#include "bhwrap/cloudinit/metadata_document.h"

#include "driver/uuid.h"

namespace {

using nlohmann::json;

json metadata_nic(const VmNetworkPort& port, const std::string& interface, bool primary) {
  json nic = json::object();
  nic["model"] = "virtio";
  nic["interface"] = interface;
  nic["mac"] = port.mac.empty() ? std::string() : port.mac.front();
  nic["nic_tag"] = port.vale_switch_name;
  nic["netmask"] = port.ipv4.empty() ? std::string() : port.ipv4.front().netmask;
  nic["ip"] = port.ipv4.empty() ? std::string() : port.ipv4.front().address;

  json ips = json::array();
  for (const auto& a : port.ipv4)
    if (!a.address.empty()) ips.push_back(a.address + "/" + std::to_string(port.netmask));
  for (const auto& a : port.ipv6)
    if (!a.address.empty())
      ips.push_back(a.address.find('/') != std::string::npos ? a.address : a.address + "/64");
  nic["ips"] = std::move(ips);

  if (!port.ipv4.empty() && !port.ipv4.front().gateway.empty())
    nic["gateway"] = port.ipv4.front().gateway;
  json gateways = json::array();
  for (const auto& a : port.ipv4)
    if (!a.gateway.empty()) gateways.push_back(a.gateway);
  for (const auto& a : port.ipv6)
    if (!a.gateway.empty()) gateways.push_back(a.gateway);
  if (!gateways.empty()) nic["gateways"] = std::move(gateways);

  if (port.mtu != 0) nic["mtu"] = port.mtu;
  nic["primary"] = primary;
  return nic;
}

// The texts of "/users/root/ssh-authorized-keys" joined by line feeds; "" when
// there is no such list.
std::string root_authorized_keys(const json& document) {
  static const json::json_pointer kRootKeys("/users/root/ssh-authorized-keys");
  if (!document.contains(kRootKeys) || !document.at(kRootKeys).is_array()) return "";
  std::string joined;
  bool first = true;
  for (const auto& key : document.at(kRootKeys)) {
    if (!first) joined += "\n";
    first = false;
    joined += key.is_string() ? key.get<std::string>() : key.dump();
  }
  return joined;
}

}  // namespace

json metadata_nics(const std::vector<VmNetworkPort>& ports) {
  json nics = json::array();
  // Interfaces are numbered from the first port that names its slot.
  uint64_t base_slot = 0;
  bool base_known = false;
  for (size_t i = 0; i < ports.size(); ++i) {
    const VmNetworkPort& port = ports[i];
    if (!base_known && port.slot != 0) {
      base_slot = port.slot;
      base_known = true;
    }
    std::string interface = port.net_link_name;
    if (interface.empty()) {
      // Signed: a slot-0 port after a numbered one gives "net-5", never a
      // wrapped-around number.
      int64_t number = static_cast<int64_t>(port.slot) - static_cast<int64_t>(base_slot);
      interface = "net" + std::to_string(number);
    }
    nics.push_back(metadata_nic(port, interface, i == 0));
  }
  return nics;
}

std::optional<json> make_metadata_document(const VmConfig& record, const std::string& user_data) {
  if (record.id.empty() || user_data.empty()) return std::nullopt;

  json document = record.guest;
  document["cloud-init:user-data"] = user_data;

  static const json::json_pointer kNameServers("/resolver/name_server");
  document["resolvers"] = document.contains(kNameServers) && document.at(kNameServers).is_array()
                              ? document.at(kNameServers)
                              : json::array();
  if (!document.contains("routes")) document["routes"] = json::array();

  std::string keys = root_authorized_keys(document);
  if (!keys.empty()) document["root_authorized_keys"] = keys;

  document["uuid"] = sha1_uuid(record.root_dataset_name.data(), record.root_dataset_name.size());
  if (!record.network_ports.empty()) document["nics"] = metadata_nics(record.network_ports);
  return document;
}
