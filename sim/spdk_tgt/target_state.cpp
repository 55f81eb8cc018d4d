#include "sim/spdk_tgt/target_state.h"

#include <sys/stat.h>

#include <algorithm>
#include <functional>

#include <fmt/format.h>

#include "sim/spdk_tgt/nqn_syntax.h"
#include "sim/spdk_tgt/param_schema.h"

namespace spdk_sim {
namespace {

using json = nlohmann::json;

constexpr const char* kDiscoveryNqn = "nqn.2014-08.org.nvmexpress.discovery";
constexpr int kInvalidParams = -32602;

std::string text_of(const json& p, const char* key) {
  if (!p.is_object() || !p.contains(key) || !p[key].is_string()) return "";
  return p[key].get<std::string>();
}

bool same_listener(const json& a, const json& b) {
  return text_of(a, "trtype") == text_of(b, "trtype") && text_of(a, "traddr") == text_of(b, "traddr") &&
         text_of(a, "trsvcid") == text_of(b, "trsvcid");
}

RpcOutcome invalid(const std::string& message = "Invalid parameters") {
  return RpcOutcome::fail(kInvalidParams, message);
}

}  // namespace

RpcOutcome TargetState::call(const std::string& method, const json& params) {
  using Handler = RpcOutcome (TargetState::*)(const json&);
  static const std::map<std::string, Handler> table = {
      {"bdev_aio_create", &TargetState::bdev_aio_create},
      {"bdev_aio_delete", &TargetState::bdev_aio_delete},
      {"bdev_get_bdevs", &TargetState::bdev_get_bdevs},
      {"nvmf_create_subsystem", &TargetState::create_subsystem},
      {"nvmf_delete_subsystem", &TargetState::delete_subsystem},
      {"nvmf_subsystem_add_ns", &TargetState::add_ns},
      {"nvmf_subsystem_remove_ns", &TargetState::remove_ns},
      {"nvmf_subsystem_add_listener", &TargetState::add_listener},
      {"nvmf_subsystem_remove_listener", &TargetState::remove_listener},
      {"nvmf_subsystem_add_host", &TargetState::add_host},
      {"nvmf_subsystem_remove_host", &TargetState::remove_host},
      {"nvmf_subsystem_get_controllers", &TargetState::get_controllers},
      {"nvmf_get_subsystems", &TargetState::get_subsystems},
      {"sim_connect", &TargetState::connect},
      {"sim_disconnect", &TargetState::disconnect},
  };
  auto it = table.find(method);
  if (it == table.end()) return RpcOutcome::fail(-32601, "Method not found");
  if (!params_fit(method, params)) return invalid();
  return (this->*(it->second))(params);
}

TargetState::Subsystem* TargetState::find(const json& p, RpcOutcome& failure) {
  std::string nqn = text_of(p, "nqn");
  auto it = subsystems_.find(nqn);
  if (nqn.empty() || it == subsystems_.end()) {
    failure = invalid(fmt::format("Unable to find subsystem with NQN {}", nqn));
    return nullptr;
  }
  return &it->second;
}

RpcOutcome TargetState::bdev_aio_create(const json& p) {
  std::string name = text_of(p, "name");
  std::string filename = text_of(p, "filename");
  if (name.empty() || filename.empty()) return invalid();
  int64_t block_size = 512;
  if (p.contains("block_size")) {
    if (!p["block_size"].is_number_integer()) return invalid();
    block_size = p["block_size"].get<int64_t>();
    if (block_size != 0 && (block_size < 512 || (block_size & (block_size - 1)) != 0))
      return invalid("Invalid block size");
  }
  if (bdevs_.count(name)) return RpcOutcome::fail(-17, "File exists");
  struct stat st {};
  if (filename.front() != '/' || ::stat((root_ + filename).c_str(), &st) != 0)
    return RpcOutcome::fail(-2, "No such file or directory");
  bdevs_[name] = Bdev{filename, block_size == 0 ? 512 : block_size, text_of(p, "uuid")};
  return RpcOutcome::ok(name);
}

RpcOutcome TargetState::bdev_aio_delete(const json& p) {
  std::string name = text_of(p, "name");
  if (!bdevs_.erase(name)) return RpcOutcome::fail(-19, "No such device");
  // The device goes from every namespace it backed (a hot removal).
  for (auto& [nqn, sub] : subsystems_)
    std::erase_if(sub.namespaces, [&](const Namespace& ns) { return ns.bdev_name == name; });
  return RpcOutcome::ok(true);
}

RpcOutcome TargetState::bdev_get_bdevs(const json& p) {
  std::string only = text_of(p, "name");
  json list = json::array();
  for (const auto& [name, bdev] : bdevs_) {
    if (!only.empty() && name != only) continue;
    list.push_back({{"name", name},
                    {"product_name", "AIO disk"},
                    {"block_size", bdev.block_size},
                    {"uuid", bdev.uuid},
                    {"driver_specific", {{"aio", {{"filename", bdev.filename}}}}}});
  }
  if (!only.empty() && list.empty()) return RpcOutcome::fail(-19, "No such device");
  return RpcOutcome::ok(list);
}

RpcOutcome TargetState::create_subsystem(const json& p) {
  std::string nqn = text_of(p, "nqn");
  if (!nqn_acceptable(nqn) || nqn == kDiscoveryNqn || subsystems_.count(nqn))
    return invalid(fmt::format("Unable to create subsystem {}", nqn));
  Subsystem sub;
  sub.allow_any_host = p.value("allow_any_host", false);
  sub.serial_number = text_of(p, "serial_number");
  sub.model_number = text_of(p, "model_number");
  subsystems_[nqn] = std::move(sub);
  return RpcOutcome::ok(true);
}

RpcOutcome TargetState::delete_subsystem(const json& p) {
  RpcOutcome failure;
  if (!find(p, failure)) return failure;
  subsystems_.erase(text_of(p, "nqn"));
  return RpcOutcome::ok(true);
}

RpcOutcome TargetState::add_ns(const json& p) {
  RpcOutcome failure;
  Subsystem* sub = find(p, failure);
  if (!sub) return failure;
  if (!p.contains("namespace") || !p["namespace"].is_object()) return invalid();
  std::string bdev = text_of(p["namespace"], "bdev_name");
  if (!bdevs_.count(bdev)) return invalid(fmt::format("Unable to add namespace: no bdev {}", bdev));
  for (const auto& [nqn, other] : subsystems_)
    for (const Namespace& ns : other.namespaces)
      if (ns.bdev_name == bdev) return invalid(fmt::format("Unable to add namespace: bdev {} is claimed", bdev));
  int64_t nsid = 1;
  while (std::any_of(sub->namespaces.begin(), sub->namespaces.end(),
                     [&](const Namespace& ns) { return ns.nsid == nsid; }))
    ++nsid;
  sub->namespaces.push_back({nsid, bdev});
  return RpcOutcome::ok(nsid);
}

RpcOutcome TargetState::remove_ns(const json& p) {
  RpcOutcome failure;
  Subsystem* sub = find(p, failure);
  if (!sub) return failure;
  if (!p.contains("nsid") || !p["nsid"].is_number_integer()) return invalid();
  int64_t nsid = p["nsid"].get<int64_t>();
  if (!std::erase_if(sub->namespaces, [&](const Namespace& ns) { return ns.nsid == nsid; }))
    return invalid();
  return RpcOutcome::ok(true);
}

RpcOutcome TargetState::add_listener(const json& p) {
  RpcOutcome failure;
  Subsystem* sub = find(p, failure);
  if (!sub) return failure;
  if (!p.contains("listen_address") || !p["listen_address"].is_object()) return invalid();
  const json& address = p["listen_address"];
  if (text_of(address, "trtype").empty() || text_of(address, "traddr").empty() ||
      text_of(address, "trsvcid").empty())
    return invalid();
  // As the real target: a listener the subsystem has already is a success.
  for (const json& l : sub->listeners)
    if (same_listener(l, address)) return RpcOutcome::ok(true);
  sub->listeners.push_back({{"trtype", text_of(address, "trtype")},
                            {"adrfam", "IPv4"},
                            {"traddr", text_of(address, "traddr")},
                            {"trsvcid", text_of(address, "trsvcid")}});
  return RpcOutcome::ok(true);
}

RpcOutcome TargetState::remove_listener(const json& p) {
  RpcOutcome failure;
  Subsystem* sub = find(p, failure);
  if (!sub) return failure;
  if (!p.contains("listen_address")) return invalid();
  if (!std::erase_if(sub->listeners, [&](const json& l) { return same_listener(l, p["listen_address"]); }))
    return invalid("Listener not found");
  return RpcOutcome::ok(true);
}

RpcOutcome TargetState::add_host(const json& p) {
  RpcOutcome failure;
  Subsystem* sub = find(p, failure);
  if (!sub) return failure;
  std::string host = text_of(p, "host");
  if (!nqn_acceptable(host)) return invalid();
  if (std::find(sub->hosts.begin(), sub->hosts.end(), host) == sub->hosts.end()) sub->hosts.push_back(host);
  return RpcOutcome::ok(true);
}

RpcOutcome TargetState::remove_host(const json& p) {
  RpcOutcome failure;
  Subsystem* sub = find(p, failure);
  if (!sub) return failure;
  if (!std::erase(sub->hosts, text_of(p, "host"))) return invalid("Host not found");
  return RpcOutcome::ok(true);
}

RpcOutcome TargetState::get_controllers(const json& p) {
  RpcOutcome failure;
  Subsystem* sub = find(p, failure);
  if (!sub) return failure;
  json list = json::array();
  for (const Controller& c : sub->controllers)
    list.push_back({{"cntlid", c.cntlid}, {"hostnqn", c.hostnqn}});
  return RpcOutcome::ok(list);
}

RpcOutcome TargetState::get_subsystems(const json&) {
  json list = json::array();
  list.push_back({{"nqn", kDiscoveryNqn},
                  {"subtype", "Discovery"},
                  {"listen_addresses", json::array()},
                  {"allow_any_host", true},
                  {"hosts", json::array()}});
  for (const auto& [nqn, sub] : subsystems_) {
    json namespaces = json::array();
    for (const Namespace& ns : sub.namespaces)
      namespaces.push_back({{"nsid", ns.nsid}, {"bdev_name", ns.bdev_name}, {"name", ns.bdev_name}});
    json hosts = json::array();
    for (const std::string& h : sub.hosts) hosts.push_back({{"nqn", h}});
    list.push_back({{"nqn", nqn},
                    {"subtype", "NVMe"},
                    {"listen_addresses", sub.listeners},
                    {"allow_any_host", sub.allow_any_host},
                    {"hosts", hosts},
                    {"serial_number", sub.serial_number},
                    {"model_number", sub.model_number},
                    {"max_namespaces", 32},
                    {"namespaces", namespaces}});
  }
  return RpcOutcome::ok(list);
}

RpcOutcome TargetState::connect(const json& p) {
  RpcOutcome failure;
  Subsystem* sub = find(p, failure);
  if (!sub) return failure;
  std::string host = text_of(p, "hostnqn");
  if (!sub->allow_any_host && std::find(sub->hosts.begin(), sub->hosts.end(), host) == sub->hosts.end())
    return invalid(fmt::format("Host {} is not allowed to connect", host));
  if (sub->listeners.empty() || sub->namespaces.empty())
    return invalid("Subsystem has no listener or no namespace");
  auto bdev = bdevs_.find(sub->namespaces.front().bdev_name);
  std::string filename = bdev == bdevs_.end() ? "" : bdev->second.filename;
  sub->controllers.push_back({next_cntlid_, host});
  return RpcOutcome::ok({{"cntlid", next_cntlid_++}, {"filename", filename}});
}

RpcOutcome TargetState::disconnect(const json& p) {
  RpcOutcome failure;
  Subsystem* sub = find(p, failure);
  if (!sub) return failure;
  std::string host = text_of(p, "hostnqn");
  auto it = std::find_if(sub->controllers.begin(), sub->controllers.end(),
                         [&](const Controller& c) { return c.hostnqn == host; });
  if (it == sub->controllers.end()) return invalid("No such controller");
  sub->controllers.erase(it);
  return RpcOutcome::ok(true);
}

}  // namespace spdk_sim
