#include "sim/spdk_tgt/rpc_server.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace spdk_sim {
namespace {

using json = nlohmann::json;

constexpr size_t kExactAnswerSize = 65536;

json error_answer(const json& id, int code, const std::string& message) {
  return {{"jsonrpc", "2.0"}, {"id", id}, {"error", {{"code", code}, {"message", message}}}};
}

bool is_own_method(const std::string& method) { return method.rfind("sim_", 0) == 0; }

}  // namespace

RpcServer::RpcServer(struct ev_loop* loop, int listen_fd, TargetState& state)
    : loop_(loop), listen_fd_(listen_fd), acceptor_(loop), state_(state) {
  acceptor_.set<RpcServer, &RpcServer::on_accept>(this);
  acceptor_.start(listen_fd_, ev::READ);
}

RpcServer::~RpcServer() {
  acceptor_.stop();
  while (!open_.empty()) close(*open_.begin()->second);
  ::close(listen_fd_);
}

void RpcServer::on_accept(ev::io&, int) {
  int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
  if (fd < 0) return;
  ++connections_;
  auto c = std::make_unique<Connection>();
  c->fd = fd;
  c->reader.set(loop_);
  c->later.set(loop_);
  c->server = this;
  c->reader.set<Connection, &Connection::read_cb>(c.get());
  c->later.set<Connection, &Connection::later_cb>(c.get());
  c->reader.start(fd, ev::READ);
  open_[fd] = std::move(c);
}

void RpcServer::on_readable(Connection& c) {
  char buffer[65536];
  ssize_t n = ::read(c.fd, buffer, sizeof buffer);
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
  if (n <= 0) {
    close(c);
    return;
  }
  c.input.feed(std::string(buffer, static_cast<size_t>(n)));
  for (;;) {
    bool broken = false;
    std::optional<std::string> request = c.input.next(broken);
    if (broken) {
      send(c, error_answer(nullptr, -32700, "Parse error").dump());
      close(c);
      return;
    }
    if (!request) return;
    if (!answer(c, *request)) {
      close(c);
      return;
    }
  }
}

json RpcServer::run(const std::string& method, const json& params) {
  if (method == "sim_fault") {
    if (auto error = faults_.add(params)) return error_answer(nullptr, -32602, *error);
    return {{"result", true}};
  }
  if (method == "sim_requests") {
    json list = requests_;
    if (params.is_object() && params.value("clear", false)) requests_.clear();
    return {{"result", list}};
  }
  if (method == "sim_stats") return {{"result", {{"connections", connections_}}}};
  if (!is_own_method(method)) requests_.push_back(method);
  RpcOutcome outcome = state_.call(method, params);
  if (outcome.error_code) return error_answer(nullptr, *outcome.error_code, outcome.error_message);
  return {{"result", outcome.result}};
}

json RpcServer::run_guarded(const std::string& method, const json& params) {
  // Parameters of a type no check foresaw are invalid parameters, never the
  // end of the target.
  try {
    return run(method, params);
  } catch (const json::exception&) {
    return error_answer(nullptr, -32602, "Invalid parameters");
  }
}

bool RpcServer::answer(Connection& c, const std::string& text) {
  json request = json::parse(text, nullptr, false);
  if (request.is_discarded()) {
    send(c, error_answer(nullptr, -32700, "Parse error").dump());
    return false;
  }
  // JSON-RPC 2.0: a request names the version and a method; its id is a
  // text, a number or null, and a request without id is a notification,
  // run but never answered; "params", when given, is structured.
  bool notification = request.is_object() && !request.contains("id");
  json id = request.is_object() && request.contains("id") ? request["id"] : json(nullptr);
  bool id_ok = id.is_null() || id.is_string() || id.is_number();
  if (!id_ok) id = nullptr;
  if (!request.is_object() || !id_ok || request.value("jsonrpc", json()) != "2.0" || !request.contains("method") ||
      !request["method"].is_string() ||
      (request.contains("params") && !request["params"].is_object() && !request["params"].is_array())) {
    send(c, error_answer(id, -32600, "Invalid Request").dump());
    return true;
  }
  std::string method = request["method"].get<std::string>();
  json params = request.contains("params") ? request["params"] : json(nullptr);
  if (notification) {
    run_guarded(method, params);
    return true;
  }

  std::optional<Fault> fault;
  if (!is_own_method(method)) fault = faults_.take(method);
  if (fault && fault->kind == "close") return false;

  json reply;
  if (fault && fault->kind == "error") {
    requests_.push_back(method);
    reply = error_answer(id, fault->code, fault->message);
  } else {
    reply = run_guarded(method, params);
    reply["jsonrpc"] = "2.0";
    reply["id"] = id;
  }
  if (!fault) {
    send(c, reply.dump());
    return true;
  }
  if (fault->kind == "silent") return true;
  if (fault->kind == "whole") {
    send(c, fault->value.dump());
    return true;
  }
  if (fault->kind == "result") {
    reply.erase("error");
    reply["result"] = fault->value;
  } else if (fault->kind == "wrong_id") {
    reply["id"] = id.is_number_integer() ? json(id.get<int64_t>() + 1) : json(424242);
  } else if (fault->kind == "invalid_json") {
    send(c, "{\"jsonrpc\":\"2.0\",\"id\":");
    return true;
  } else if (fault->kind == "exact_64k") {
    reply["pad"] = "";
    size_t size = reply.dump().size();
    if (size < kExactAnswerSize) reply["pad"] = std::string(kExactAnswerSize - size, 'x');
  } else if (fault->kind == "split") {
    std::string bytes = reply.dump();
    send(c, bytes.substr(0, bytes.size() / 2));
    c.held += bytes.substr(bytes.size() / 2);
    c.later.start(fault->delay_ms / 1000.0, 0.);
    return true;
  }
  send(c, reply.dump());
  return true;
}

void RpcServer::send(Connection& c, const std::string& bytes) {
  if (c.later.is_active()) {  // keep the order behind a held half
    c.held += bytes;
    return;
  }
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::send(c.fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

void RpcServer::on_later(Connection& c) {
  std::string held = std::move(c.held);
  c.held.clear();
  send(c, held);
}

void RpcServer::close(Connection& c) {
  int fd = c.fd;
  c.reader.stop();
  c.later.stop();
  ::close(fd);
  open_.erase(fd);
}

}  // namespace spdk_sim
