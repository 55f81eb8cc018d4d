#include "sim/nvmf_initiator/initiator_service.h"

#include <unistd.h>

#include <fmt/format.h>

#include "sim/include/nvmf_sim_protocol.h"
#include "sim/nvmf_initiator/target_client.h"

namespace initiator_sim {
namespace {

using json = nlohmann::json;

std::string text_of(const json& p, const char* key) {
  if (!p.is_object() || !p.contains(key) || !p[key].is_string()) return "";
  return p[key].get<std::string>();
}

json failure(std::string message) { return {{"error", std::move(message)}}; }

}  // namespace

InitiatorService::~InitiatorService() {
  for (const auto& [dev, session] : sessions_) ::unlink((root_ + dev).c_str());
}

json InitiatorService::call(const std::string& method, const json& params) {
  if (method == "create") return create(params);
  if (method == "destroy") return destroy(params);
  if (method == "list") return list();
  return failure("Method not found");
}

std::string InitiatorService::check_export(const std::string& nqn, const std::string& target,
                                           const std::string& hostnqn) {
  TargetAnswer answer = call_target(target, target_port_, "nvmf_get_subsystems", nullptr);
  if (!answer.ok) return answer.error;
  if (!answer.result.is_array()) return "Target answered without a subsystem list";
  for (const json& sub : answer.result) {
    if (text_of(sub, "subtype") == "Discovery" || text_of(sub, "nqn") != nqn) continue;
    if (!sub.contains("namespaces") || !sub["namespaces"].is_array() || sub["namespaces"].empty())
      return fmt::format("Subsystem {} exports no namespace", nqn);
    bool listening = false;
    for (const json& l : sub.value("listen_addresses", json::array()))
      listening |= text_of(l, "traddr") == target &&
                   text_of(l, "trsvcid") == std::to_string(nvmf_sim::kSubsystemPort);
    if (!listening) return fmt::format("Subsystem {} has no listener on {}:{}", nqn, target, nvmf_sim::kSubsystemPort);
    if (sub.value("allow_any_host", false)) return "";
    for (const json& h : sub.value("hosts", json::array()))
      if (!hostnqn.empty() && text_of(h, "nqn") == hostnqn) return "";
    return fmt::format("Host '{}' is not allowed to connect to {}", hostnqn, nqn);
  }
  return fmt::format("Subsystem {} not found on {}", nqn, target);
}

json InitiatorService::create(const json& p) {
  std::string nqn = text_of(p, "nqn"), target = text_of(p, "target"), hostnqn = text_of(p, "hostnqn");
  if (nqn.empty() || target.empty()) return failure("Invalid parameters: nqn and target are required");
  for (const auto& [dev, s] : sessions_)
    if (s.nqn == nqn && s.target == target) return failure(fmt::format("Already connected to {} as {}", nqn, dev));
  if (std::string why = check_export(nqn, target, hostnqn); !why.empty()) return failure(why);
  TargetAnswer connected =
      call_target(target, target_port_, "sim_connect", {{"nqn", nqn}, {"hostnqn", hostnqn}});
  if (!connected.ok) return failure(connected.error);

  int index = 0;
  while (sessions_.count(fmt::format("/dev/nvme{}ns1", index))) ++index;
  std::string dev = fmt::format("/dev/nvme{}ns1", index);
  std::string filename = text_of(connected.result, "filename");
  ::unlink((root_ + dev).c_str());
  if (!filename.empty() && ::symlink((root_ + filename).c_str(), (root_ + dev).c_str()) != 0) {
    call_target(target, target_port_, "sim_disconnect", {{"nqn", nqn}, {"hostnqn", hostnqn}});
    return failure(fmt::format("Cannot make the device node {}", dev));
  }
  sessions_[dev] = {nqn, target, hostnqn};
  return {{"dev", dev}};
}

json InitiatorService::destroy(const json& p) {
  std::string nqn = text_of(p, "nqn"), target = text_of(p, "target");
  for (auto it = sessions_.begin(); it != sessions_.end(); ++it) {
    if (it->second.nqn != nqn || it->second.target != target) continue;
    TargetAnswer answer = call_target(target, target_port_, "sim_disconnect",
                                      {{"nqn", nqn}, {"hostnqn", it->second.hostnqn}});
    ::unlink((root_ + it->first).c_str());
    sessions_.erase(it);
    if (!answer.ok) return failure("Disconnected, but the target says: " + answer.error);
    return true;
  }
  return failure(fmt::format("No session for {} on {}", nqn, target));
}

json InitiatorService::list() const {
  json sessions = json::array();
  for (const auto& [dev, s] : sessions_)
    sessions.push_back({{"dev", dev}, {"nqn", s.nqn}, {"target", s.target}, {"hostnqn", s.hostnqn}});
  return sessions;
}

}  // namespace initiator_sim
