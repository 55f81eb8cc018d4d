// The stand-in storage target: "spdk_tgt" of a simulated host.
//
//   spdk_tgt [--address A] [--port P]
//
// Serves JSON-RPC on A (default 127.0.0.1) and port P (default: the host
// root's port for 7000, see nvmf_sim_protocol.h). Block devices are made of
// files under OMBRIX_ROOT. Ends on SIGTERM or SIGINT.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include <ev++.h>
#include <fmt/format.h>

#include "sim/include/nvmf_sim_protocol.h"
#include "sim/include/sim_host.h"
#include "sim/spdk_tgt/rpc_server.h"
#include "sim/spdk_tgt/target_state.h"

namespace {

int listen_on(const std::string& address, int port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<uint16_t>(port));
  if (::inet_pton(AF_INET, address.c_str(), &sa.sin_addr) != 1) return -1;
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || ::listen(fd, 64) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

void stop_loop(struct ev_loop* loop, ev_signal*, int) { ev_break(loop, EVBREAK_ALL); }

}  // namespace

int main(int argc, char** argv) {
  std::string root = sim_host::root();
  std::string address = "127.0.0.1";
  int port = sim_host::port(nvmf_sim::kTargetRpcPort);
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--address" && i + 1 < argc) {
      address = argv[++i];
    } else if (arg == "--port" && i + 1 < argc) {
      port = std::atoi(argv[++i]);
    } else {
      fmt::print(stderr, "usage: spdk_tgt [--address A] [--port P]\n");
      return 2;
    }
  }
  int fd = listen_on(address, port);
  if (fd < 0) {
    fmt::print(stderr, "spdk_tgt: cannot listen on {}:{}\n", address, port);
    return 1;
  }
  struct ev_loop* loop = ev_default_loop(EVFLAG_NOENV);
  ev_signal term, interrupt;
  ev_signal_init(&term, stop_loop, SIGTERM);
  ev_signal_init(&interrupt, stop_loop, SIGINT);
  ev_signal_start(loop, &term);
  ev_signal_start(loop, &interrupt);
  spdk_sim::TargetState state(root);
  {
    spdk_sim::RpcServer server(loop, fd, state);
    fmt::print("spdk_tgt: listening on {}:{}\n", address, port);
    std::fflush(stdout);
    ev_run(loop, 0);
  }
  return 0;
}
