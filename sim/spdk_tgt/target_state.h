// The stand-in target's storage state: AIO block devices, NVMe-oF subsystems
// with their namespaces, listeners, admitted hosts and connected controllers.
// `call` runs one JSON-RPC method on it and gives its result or its error.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace spdk_sim {

struct RpcOutcome {
  nlohmann::json result;
  std::optional<int> error_code;  // set on failure
  std::string error_message;

  static RpcOutcome ok(nlohmann::json value) { return {std::move(value), std::nullopt, ""}; }
  static RpcOutcome fail(int code, std::string message) { return {nullptr, code, std::move(message)}; }
};

class TargetState {
 public:
  // `root`: the directory the host's files live under ("" = the real host);
  // a block device can only be made of a file that exists there.
  explicit TargetState(std::string root) : root_(std::move(root)) {}

  // Runs `method` with `params` (null when the request carried none).
  RpcOutcome call(const std::string& method, const nlohmann::json& params);

 private:
  struct Bdev {
    std::string filename;
    int64_t block_size = 512;
    std::string uuid;
  };
  struct Namespace {
    int64_t nsid = 0;
    std::string bdev_name;
  };
  struct Controller {
    int64_t cntlid = 0;
    std::string hostnqn;
  };
  struct Subsystem {
    bool allow_any_host = false;
    std::string serial_number;
    std::string model_number;
    std::vector<Namespace> namespaces;
    std::vector<nlohmann::json> listeners;  // {"trtype", "adrfam", "traddr", "trsvcid"}
    std::vector<std::string> hosts;
    std::vector<Controller> controllers;
  };

  RpcOutcome bdev_aio_create(const nlohmann::json& p);
  RpcOutcome bdev_aio_delete(const nlohmann::json& p);
  RpcOutcome bdev_get_bdevs(const nlohmann::json& p);
  RpcOutcome create_subsystem(const nlohmann::json& p);
  RpcOutcome delete_subsystem(const nlohmann::json& p);
  RpcOutcome add_ns(const nlohmann::json& p);
  RpcOutcome remove_ns(const nlohmann::json& p);
  RpcOutcome add_listener(const nlohmann::json& p);
  RpcOutcome remove_listener(const nlohmann::json& p);
  RpcOutcome add_host(const nlohmann::json& p);
  RpcOutcome remove_host(const nlohmann::json& p);
  RpcOutcome get_controllers(const nlohmann::json& p);
  RpcOutcome get_subsystems(const nlohmann::json& p);
  RpcOutcome connect(const nlohmann::json& p);
  RpcOutcome disconnect(const nlohmann::json& p);

  // The subsystem named by params' "nqn", or the failure to answer.
  Subsystem* find(const nlohmann::json& p, RpcOutcome& failure);

  std::string root_;
  std::map<std::string, Bdev> bdevs_;
  std::map<std::string, Subsystem> subsystems_;
  int64_t next_cntlid_ = 1;
};

}  // namespace spdk_sim
