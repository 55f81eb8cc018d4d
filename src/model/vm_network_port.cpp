#include "model/vm_network_port.h"

#include "ipc/json_readers.h"
#include "model/record_json.h"
#include "model/record_list.h"

void from_json(const nlohmann::json& j, VmNetworkPort& port) {
  port.net_link_name = json_string_or(j, "net_link_name", port.net_link_name);
  port.vale_switch_name = json_string_or(j, "vale_switch_name", port.vale_switch_name);
  port.net_cidr = json_string_or(j, "net_cidr", port.net_cidr);
  if (const nlohmann::json* mac = json_member(j, "mac")) {
    if (mac->is_array())
      port.mac = json_string_list(*mac);
    else if (mac->is_string())
      port.mac = {mac->get<std::string>()};
  }
  read_record_list(j, "ipv4", port.ipv4);
  read_record_list(j, "ipv6", port.ipv6);
  port.mtu = json_uint_or(j, "mtu", port.mtu);
  port.ip_guard = json_uint_or(j, "ip_guard", port.ip_guard);
  port.mac_guard = json_uint_or(j, "mac_guard", port.mac_guard);
  port.slot = json_uint_or(j, "slot", port.slot);
  port.backend = json_uint_or(j, "backend", port.backend);
  port.network_id = json_uint_or(j, "network_id", port.network_id);
  port.netmask = json_uint_or(j, "netmask", port.netmask);
  port.port_id = json_uint_or(j, "port_id", port.port_id);
  port.ratelimit_mbits = json_int_or(j, "ratelimit_mbits", port.ratelimit_mbits);
}

void to_json(nlohmann::json& j, const VmNetworkPort& port) {
  j = nlohmann::json{
      {"net_link_name", port.net_link_name},
      {"vale_switch_name", port.vale_switch_name},
      {"net_cidr", port.net_cidr},
      {"mac", port.mac},
      {"ipv4", port.ipv4},
      {"ipv6", port.ipv6},
      {"mtu", port.mtu},
      {"ip_guard", port.ip_guard},
      {"mac_guard", port.mac_guard},
      {"slot", port.slot},
      {"backend", port.backend},
      {"network_id", port.network_id},
      {"netmask", port.netmask},
      {"port_id", port.port_id},
      {"ratelimit_mbits", port.ratelimit_mbits},
  };
}
