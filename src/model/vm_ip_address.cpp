#include "model/vm_ip_address.h"

#include "ipc/json_readers.h"

void from_json(const nlohmann::json& j, VmIpv4Address& a) {
  a.address = json_string_or(j, "address", a.address);
  a.gateway = json_string_or(j, "gateway", a.gateway);
  a.netmask = json_string_or(j, "netmask", a.netmask);
}

void to_json(nlohmann::json& j, const VmIpv4Address& a) {
  j = nlohmann::json{{"address", a.address}, {"gateway", a.gateway}, {"netmask", a.netmask}};
}

void from_json(const nlohmann::json& j, VmIpv6Address& a) {
  a.address = json_string_or(j, "address", a.address);
  a.gateway = json_string_or(j, "gateway", a.gateway);
}

void to_json(nlohmann::json& j, const VmIpv6Address& a) {
  j = nlohmann::json{{"address", a.address}, {"gateway", a.gateway}};
}
