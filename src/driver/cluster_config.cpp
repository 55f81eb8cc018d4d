#include "driver/cluster_config.h"

#include <algorithm>
#include <cctype>
#include <fstream>

#include <spdlog/spdlog.h>

#include "driver/config.h"
#include "platform/host_root.h"

namespace {

using nlohmann::json;

std::string text_of(const json& j, const char* key) {
  if (!j.is_object()) return {};
  auto it = j.find(key);
  return it != j.end() && it->is_string() ? it->get<std::string>() : std::string();
}

bool same_text_nocase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

// The entries of a list, or of an object whose values carry no "name" of
// their own (then the key is the name).
std::vector<json> entries_of(const json& cluster, const char* key) {
  std::vector<json> out;
  auto it = cluster.find(key);
  if (it == cluster.end()) return out;
  if (it->is_array()) {
    for (const auto& e : *it)
      if (e.is_object()) out.push_back(e);
  } else if (it->is_object()) {
    for (const auto& [name, e] : it->items()) {
      if (!e.is_object()) continue;
      json entry = e;
      if (!entry.contains("name")) entry["name"] = name;
      out.push_back(std::move(entry));
    }
  }
  return out;
}

bool lists(const json& entry, const char* key, const std::string& pool) {
  auto it = entry.find(key);
  if (it == entry.end() || !it->is_array()) return false;
  return std::any_of(it->begin(), it->end(),
                     [&](const json& v) { return v.is_string() && v.get<std::string>() == pool; });
}

std::string node_of_pool(const json& cluster, const std::string& pool) {
  for (const auto& service : entries_of(cluster, "services")) {
    std::string served = text_of(service, "pool");
    if (served.empty()) served = text_of(service, "name");
    if (served == pool) return text_of(service, "node");
  }
  for (const auto& group : entries_of(cluster, "service_groups"))
    if (lists(group, "pools", pool) || lists(group, "services", pool)) return text_of(group, "node");
  return {};
}

}  // namespace

std::optional<std::string> cluster_nvmf_address(const json& cluster, const std::string& pool) {
  if (!cluster.is_object() || pool.empty()) return std::nullopt;
  std::string node_name = node_of_pool(cluster, pool);
  if (node_name.empty()) return std::nullopt;
  for (const auto& node : entries_of(cluster, "nodes")) {
    if (text_of(node, "name") != node_name) continue;
    auto interfaces = node.find("interfaces");
    if (interfaces == node.end() || !interfaces->is_array()) return std::nullopt;
    for (const auto& iface : *interfaces) {
      if (!same_text_nocase(text_of(iface, "label"), "NVMf")) continue;
      std::string address = text_of(iface, "address");
      address = address.substr(0, address.find('/'));
      if (!address.empty()) return address;
    }
    return std::nullopt;
  }
  return std::nullopt;
}

std::optional<std::string> nvmf_address(const std::string& pool) {
  std::string path = platform::host_path(cluster_config_path);
  std::ifstream in(path);
  if (!in) {
    spdlog::debug("Can't read cluster config file: '{}'", path);
    return std::nullopt;
  }
  json cluster = json::parse(in, nullptr, false);
  if (cluster.is_discarded()) {
    spdlog::warn("### Cluster config file '{}' is not valid JSON", path);
    return std::nullopt;
  }
  return cluster_nvmf_address(cluster, pool);
}
