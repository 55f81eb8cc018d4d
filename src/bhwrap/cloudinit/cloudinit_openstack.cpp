// The OpenStack config-drive documents: meta_data.json and network_data.json.
#include <cstdlib>
#include <string>

#include <fmt/format.h>

#include "bhwrap/cloudinit/cloudinit.h"

namespace {

constexpr uint64_t kDefaultSlot = 5;     // a port without a slot sits in slot 5
constexpr uint64_t kFirstLinkSlot = 5;   // slot 5 is "Ethernet_01"
constexpr uint64_t kNonFirstSlot = 6;    // ports from this slot on are not first ports

std::string admin_password(const VmGuest& guest) {
  for (const VmGuestUser& user : guest.users)
    if (user.name == "Administrator") return user.password;
  return "";
}

// "Ethernet_" and the link number with at least two digits (as "%.2d" prints
// it, also for the odd slot below 4).
std::string link_name(uint64_t slot) {
  const int64_t number = static_cast<int64_t>(slot) - static_cast<int64_t>(kFirstLinkSlot - 1);
  if (number < 0) return fmt::format("Ethernet_-{:02d}", -number);
  return fmt::format("Ethernet_{:02d}", number);
}

std::string join(const std::vector<std::string>& texts, const char* separator) {
  std::string joined;
  for (const std::string& text : texts) {
    if (!joined.empty()) joined += separator;
    joined += text;
  }
  return joined;
}

}  // namespace

void Cloudinit::generate_openstack(const std::string& hostname) {
  const VmGuest& guest = vm_config_.guest;
  nlohmann::json meta = {
      {"hostname", hostname},
      {"kms_host", guest.kms_host},
      {"meta", {{"admin_pass", admin_password(guest)}}},
  };
  meta_data_ = meta.dump(2);

  if (vm_config_.network_ports.empty()) return;

  const nlohmann::json dns = nlohmann::json::array(
      {{{"address", join(guest.resolver.name_server, ",")}, {"type", "dns"}}});
  nlohmann::json networks = nlohmann::json::array();
  nlohmann::json links = nlohmann::json::array();
  for (const VmNetworkPort& port : vm_config_.network_ports) {
    const uint64_t slot = port.slot == 0 ? kDefaultSlot : port.slot;
    const std::string link = link_name(slot);
    const bool first_port = slot < kNonFirstSlot;

    bool routed = false;
    for (const VmIpv4Address& entry : port.ipv4) {
      if (entry.address.empty()) continue;
      nlohmann::json network = {{"ip_address", entry.address}, {"link", link},
                                {"netmask", entry.netmask},    {"type", "ipv4"},
                                {"services", dns}};
      if (first_port && !routed && !entry.gateway.empty()) {
        network["routes"] = nlohmann::json::array(
            {{{"gateway", entry.gateway}, {"netmask", "0.0.0.0"}, {"network", "0.0.0.0"}}});
        routed = true;
      }
      networks.push_back(std::move(network));
    }

    for (const VmIpv6Address& entry : port.ipv6) {
      if (entry.address.empty()) continue;
      nlohmann::json network = {{"ip_address", entry.address.substr(0, entry.address.find('/'))},
                                {"netmask", split_slash(entry.address).second},
                                {"link", link},
                                {"type", "ipv6"},
                                {"services", dns}};
      if (first_port && !entry.gateway.empty())
        network["routes"] = nlohmann::json::array(
            {{{"gateway", entry.gateway}, {"netmask", "::"}, {"network", "::"}}});
      networks.push_back(std::move(network));
    }

    links.push_back({{"ethernet_mac_address", port.mac.empty() ? std::string() : port.mac.front()},
                     {"id", link},
                     {"type", "phy"}});
  }
  network_config_ = nlohmann::json{{"networks", std::move(networks)}, {"links", std::move(links)}}.dump(2);
}
