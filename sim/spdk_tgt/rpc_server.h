// The stand-in target's JSON-RPC service: accepts TCP connections on a libev
// loop, answers every request of a connection in turn from a TargetState, and
// applies the faults it was told to inject.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include <ev++.h>
#include <nlohmann/json.hpp>

#include "sim/spdk_tgt/fault_list.h"
#include "sim/spdk_tgt/json_stream.h"
#include "sim/spdk_tgt/target_state.h"

namespace spdk_sim {

class RpcServer {
 public:
  // Serves on `listen_fd` (bound and listening; the server owns it).
  RpcServer(struct ev_loop* loop, int listen_fd, TargetState& state);
  ~RpcServer();
  RpcServer(const RpcServer&) = delete;
  RpcServer& operator=(const RpcServer&) = delete;

 private:
  struct Connection {
    int fd = -1;
    ev::io reader;
    ev::timer later;         // the second half of a split answer
    std::string held;        // what waits for `later`
    JsonStream input;
    RpcServer* server = nullptr;
    void read_cb(ev::io&, int) { server->on_readable(*this); }
    void later_cb(ev::timer&, int) { server->on_later(*this); }
  };

  void on_accept(ev::io& watcher, int revents);
  void on_readable(Connection& c);
  void on_later(Connection& c);
  // Answers one request; false when the connection is to be closed.
  bool answer(Connection& c, const std::string& request_text);
  nlohmann::json run(const std::string& method, const nlohmann::json& params);
  // As run, with any decoding failure of the parameters answered as invalid.
  nlohmann::json run_guarded(const std::string& method, const nlohmann::json& params);
  void send(Connection& c, const std::string& bytes);
  void close(Connection& c);

  struct ev_loop* loop_;
  int listen_fd_;
  ev::io acceptor_;
  TargetState& state_;
  FaultList faults_;
  std::vector<std::string> requests_;
  int64_t connections_ = 0;
  std::map<int, std::unique_ptr<Connection>> open_;
};

}  // namespace spdk_sim
