// The stand-in NVMe-oF initiator service of a simulated host.
//
//   nvmf_initiator [--socket PATH] [--target-port P]
//
// Answers one JSON-RPC request per connection on the Unix socket PATH
// (default /var/run/ombrix_nvmf_initiator.sock under OMBRIX_ROOT) and reaches
// targets on port P (default: the host root's port for 7000). Ends on SIGTERM
// or SIGINT and removes its socket and device nodes.
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include <ev.h>
#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "sim/include/nvmf_sim_protocol.h"
#include "sim/include/sim_host.h"
#include "sim/nvmf_initiator/initiator_service.h"

namespace {

using json = nlohmann::json;

struct Fault {
  std::string kind;  // error, split, close, raw (the answer is `message` as it is)
  std::string message;
  int delay_ms = 100;
  int times = 0;
};

struct Server {
  int listen_fd = -1;
  initiator_sim::InitiatorService* service = nullptr;
  Fault fault;
};

void send_all(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

json answer_to(Server& server, const json& request) {
  json id = request.is_object() && request.contains("id") ? request["id"] : json(nullptr);
  json reply = {{"jsonrpc", "2.0"}, {"id", id}};
  if (!request.is_object() || !request.contains("method") || !request["method"].is_string()) {
    reply["error"] = {{"code", -32600}, {"message", "Invalid Request"}};
    return reply;
  }
  std::string method = request["method"];
  json params = request.value("params", json());
  if (method == "sim_fault") {
    server.fault = {params.value("kind", std::string()), params.value("message", std::string("Injected failure")),
                    params.value("delay_ms", 100), params.value("times", 1)};
    reply["result"] = true;
    return reply;
  }
  json result = server.service->call(method, params);
  if (result.is_object() && result.contains("error"))
    reply["error"] = {{"code", -32000}, {"message", result["error"]}};
  else
    reply["result"] = result;
  return reply;
}

void on_accept(struct ev_loop*, ev_io* watcher, int) {
  Server& server = *static_cast<Server*>(watcher->data);
  int fd = ::accept4(server.listen_fd, nullptr, nullptr, SOCK_CLOEXEC);
  if (fd < 0) return;
  std::string got;
  pollfd p{fd, POLLIN, 0};
  while (!json::accept(got) && ::poll(&p, 1, 2000) == 1) {
    char buffer[65536];
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    got.append(buffer, static_cast<size_t>(n));
  }
  Fault fault;
  if (server.fault.times > 0) {
    fault = server.fault;
    --server.fault.times;
  }
  json request = json::parse(got, nullptr, false);
  std::string reply;
  if (fault.kind == "close") {
    ::close(fd);
    return;
  }
  if (fault.kind == "raw") {
    reply = fault.message;
  } else if (fault.kind == "error") {
    json id = request.is_object() ? request.value("id", json()) : json();
    reply = json{{"jsonrpc", "2.0"}, {"id", id}, {"error", {{"code", -32000}, {"message", fault.message}}}}.dump();
  } else if (request.is_discarded()) {
    reply = json{{"jsonrpc", "2.0"}, {"id", nullptr}, {"error", {{"code", -32700}, {"message", "Parse error"}}}}.dump();
  } else {
    reply = answer_to(server, request).dump();
  }
  if (fault.kind == "split") {
    send_all(fd, reply.substr(0, reply.size() / 2));
    std::this_thread::sleep_for(std::chrono::milliseconds(fault.delay_ms));
    reply = reply.substr(reply.size() / 2);
  }
  send_all(fd, reply);
  ::close(fd);
}

void stop_loop(struct ev_loop* loop, ev_signal*, int) { ev_break(loop, EVBREAK_ALL); }

}  // namespace

int main(int argc, char** argv) {
  std::string root = sim_host::root();
  std::string path = sim_host::path(nvmf_sim::kInitiatorSocket);
  int target_port = sim_host::port(nvmf_sim::kTargetRpcPort);
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--socket" && i + 1 < argc) {
      path = argv[++i];
    } else if (arg == "--target-port" && i + 1 < argc) {
      target_port = std::atoi(argv[++i]);
    } else {
      fmt::print(stderr, "usage: nvmf_initiator [--socket PATH] [--target-port P]\n");
      return 2;
    }
  }
  sockaddr_un sa{};
  sa.sun_family = AF_UNIX;
  if (path.size() >= sizeof sa.sun_path) {
    fmt::print(stderr, "nvmf_initiator: socket path too long: {}\n", path);
    return 1;
  }
  path.copy(sa.sun_path, path.size());
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ::unlink(path.c_str());
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || ::listen(fd, 16) != 0) {
    fmt::print(stderr, "nvmf_initiator: cannot listen on {}\n", path);
    return 1;
  }
  initiator_sim::InitiatorService service(root, target_port);
  Server server{fd, &service, {}};
  struct ev_loop* loop = ev_default_loop(EVFLAG_NOENV);
  ev_io acceptor;
  ev_io_init(&acceptor, on_accept, fd, EV_READ);
  acceptor.data = &server;
  ev_io_start(loop, &acceptor);
  ev_signal term, interrupt;
  ev_signal_init(&term, stop_loop, SIGTERM);
  ev_signal_init(&interrupt, stop_loop, SIGINT);
  ev_signal_start(loop, &term);
  ev_signal_start(loop, &interrupt);
  fmt::print("nvmf_initiator: listening on {}\n", path);
  std::fflush(stdout);
  ev_run(loop, 0);
  ::close(fd);
  ::unlink(path.c_str());
  return 0;
}
