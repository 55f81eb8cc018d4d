// The NoCloud network-config (version 1): one "physical" entry per network
// port, then the "nameserver" entry.
#include <filesystem>
#include <string>

#include <yaml-cpp/yaml.h>

#include "bhwrap/cloudinit/cloudinit.h"
#include "bhwrap/cloudinit/cloudinit_yaml.h"
#include "ipc/atomic_file.h"
#include "platform/host_root.h"

namespace {

std::string up_to_slash(const std::string& text) { return text.substr(0, text.find('/')); }

YAML::Node one_route(const std::string& network, const std::string& gateway,
                     const std::string& netmask) {
  YAML::Node route(YAML::NodeType::Map);
  route["network"] = network;
  route["gateway"] = gateway;
  route["netmask"] = netmask;
  YAML::Node routes(YAML::NodeType::Sequence);
  routes.push_back(route);
  return routes;
}

// A static subnet of the family ("ipv4" or "ipv6") with its address.
YAML::Node static_subnet(const char* type, const char* family, const std::string& address) {
  YAML::Node subnet(YAML::NodeType::Map);
  subnet["type"] = type;
  subnet[family] = kYamlTrue;
  subnet["control"] = "hotplug";
  subnet["address"] = address;
  return subnet;
}

YAML::Node physical_entry(const VmConfig& record, const VmNetworkPort& port, size_t i) {
  YAML::Node entry(YAML::NodeType::Map);
  entry["type"] = "physical";
  entry["name"] = std::to_string(record.zero_based_link == 1 ? i : port.slot);
  entry["mtu"] = port.mtu;

  const bool debian = record.os_name.starts_with("Debian");
  YAML::Node subnets(YAML::NodeType::Sequence);
  for (const VmIpv4Address& address : port.ipv4) {
    if (address.address.empty()) continue;
    const bool first_subnet = subnets.size() == 0;
    YAML::Node subnet =
        static_subnet("static", "ipv4", address.address + "/" + std::to_string(port.netmask));
    if (i == 0 && first_subnet)
      subnet["gateway"] = address.gateway;
    else if (i != 0 && first_subnet && !debian)
      subnet["routes"] = one_route(up_to_slash(port.net_cidr), address.gateway, address.netmask);
    subnets.push_back(subnet);
  }
  for (const VmIpv6Address& address : port.ipv6) {
    if (address.address.empty()) continue;
    YAML::Node subnet =
        static_subnet("static6", "ipv6", Cloudinit::split_slash(address.address).first);
    if (!address.gateway.empty()) {
      if (i == 0)
        subnet["gateway"] = address.gateway;
      else
        subnet["routes"] = one_route("::", address.gateway, "::");
    }
    subnets.push_back(subnet);
  }
  if (subnets.size() != 0) entry["subnets"] = subnets;
  return entry;
}

YAML::Node nameserver_entry(const VmGuestResolver& resolver) {
  YAML::Node entry(YAML::NodeType::Map);
  entry["type"] = "nameserver";
  if (!resolver.name_server.empty()) entry["address"] = yaml_list(resolver.name_server);
  if (!resolver.search.empty()) entry["search"] = yaml_list({resolver.search});
  return entry;
}

bool resolver_has(const nlohmann::json& item, const char* key) {
  auto guest = item.find("guest");
  if (guest == item.end() || !guest->is_object()) return false;
  auto resolver = guest->find("resolver");
  return resolver != guest->end() && resolver->is_object() && resolver->contains(key);
}

}  // namespace

std::pair<std::string, std::string> Cloudinit::split_slash(const std::string& address) {
  const size_t slash = address.find('/');
  if (slash == std::string::npos) return {address + "/64", "64"};
  return {address, address.substr(slash + 1)};
}

NetworkConfigText Cloudinit::make_network_config(const VmConfig& record) {
  YAML::Node config(YAML::NodeType::Sequence);
  for (size_t i = 0; i < record.network_ports.size(); ++i)
    config.push_back(physical_entry(record, record.network_ports[i], i));
  config.push_back(nameserver_entry(record.guest.resolver));

  YAML::Node root(YAML::NodeType::Map);
  root["version"] = 1;
  root["config"] = config;
  return {emit_yaml(root), static_cast<uint32_t>(record.network_ports.size())};
}

void Cloudinit::update_network_config(const nlohmann::json& item) {
  if (!item.is_object()) return;
  auto ports = item.find("network_ports");
  if (ports == item.end() || !ports->is_array()) return;
  VmConfigResult parsed = parse_vm_config(item.dump());
  if (!parsed.error.empty()) return;

  NetworkConfigText document = make_network_config(parsed.config);
  const std::string target = platform::host_path(parsed.config.root_fs + "/cloud-init/network-config");

  const bool has_servers = resolver_has(item, "name_server");
  const bool has_search = resolver_has(item, "search");
  if (!(has_servers && has_search) && std::filesystem::exists(target)) {
    // Throws for a file that does not open or parse, and (reading "config")
    // for one that is not a map with "config".
    const YAML::Node old = YAML::LoadFile(target);
    if (old.IsDefined()) {
      const YAML::Node old_config = old["config"];
      if (old_config.IsSequence() && old_config.size() > 0 &&
          old_config[old_config.size() - 1].IsMap()) {
        const YAML::Node old_nameserver = old_config[old_config.size() - 1];
        YAML::Node node = YAML::Load(document.text);
        YAML::Node nameserver = node["config"][document.nameserver_index];
        if (!has_servers && old_nameserver["address"]) nameserver["address"] = old_nameserver["address"];
        if (!has_search && old_nameserver["search"]) nameserver["search"] = old_nameserver["search"];
        document.text = emit_yaml(node);
      }
    }
  }

  write_file_atomic(target, document.text + "\n");  // a target that cannot be written is not reported
}
