// The addresses of a network port: elements of its "ipv4" and "ipv6" lists.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

struct VmIpv4Address {
  std::string address;
  std::string gateway;
  std::string netmask;  // dotted form, "255.255.255.0"
};

struct VmIpv6Address {
  std::string address;  // may end in "/" and a prefix length
  std::string gateway;
};

void from_json(const nlohmann::json& j, VmIpv4Address& a);
void to_json(nlohmann::json& j, const VmIpv4Address& a);
void from_json(const nlohmann::json& j, VmIpv6Address& a);
void to_json(nlohmann::json& j, const VmIpv6Address& a);
