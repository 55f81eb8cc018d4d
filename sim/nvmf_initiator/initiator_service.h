// The stand-in initiator's sessions: "create" connects this host to a
// subsystem of a target (after checking with the target that it exports a
// namespace on a listener at that address and admits the host) and presents it
// as a device node, "destroy" disconnects it, "list" tells what is connected.
#pragma once

#include <map>
#include <string>

#include <nlohmann/json.hpp>

namespace initiator_sim {

class InitiatorService {
 public:
  // `root`: the host's directory ("" = the real host); `target_port`: the
  // targets' JSON-RPC port.
  InitiatorService(std::string root, int target_port) : root_(std::move(root)), target_port_(target_port) {}
  ~InitiatorService();

  // The answer's "result" on success; on failure an object {"error": message}.
  nlohmann::json call(const std::string& method, const nlohmann::json& params);

 private:
  struct Session {
    std::string nqn, target, hostnqn;
  };

  nlohmann::json create(const nlohmann::json& params);
  nlohmann::json destroy(const nlohmann::json& params);
  nlohmann::json list() const;
  // Why `nqn` of `target` cannot be connected to by `hostnqn`; "" when it can.
  std::string check_export(const std::string& nqn, const std::string& target, const std::string& hostnqn);

  std::string root_;
  int target_port_;
  std::map<std::string, Session> sessions_;  // by device path
};

}  // namespace initiator_sim
