// One network port of a VM record (an element of "network_ports").
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "model/vm_ip_address.h"

// Network backends of a port; only netgraph is run by this host.
inline constexpr uint64_t kNetBackendNetgraph = 2;

struct VmNetworkPort {
  std::string net_link_name;
  std::string vale_switch_name;
  std::string net_cidr;          // "10.1.0.0/24"
  std::vector<std::string> mac;  // a single text in the JSON makes a list of one
  std::vector<VmIpv4Address> ipv4;
  std::vector<VmIpv6Address> ipv6;
  uint64_t mtu = 0;
  uint64_t ip_guard = 1;
  uint64_t mac_guard = 1;
  uint64_t slot = 0;
  uint64_t backend = kNetBackendNetgraph;
  uint64_t network_id = 0;
  uint64_t netmask = 0;  // the IPv4 prefix length of the port
  uint64_t port_id = 0;
  int64_t ratelimit_mbits = -1;
};

// Reads the keys present over the values `port` already holds. A list key
// whose value is not a list leaves the list as it is; list elements that are
// not objects are left out.
void from_json(const nlohmann::json& j, VmNetworkPort& port);
void to_json(nlohmann::json& j, const VmNetworkPort& port);
