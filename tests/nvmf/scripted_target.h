// Test support: a storage target on the JSON-RPC port of the current host
// root that answers every connection with a script of its own: a backlog
// that is full (connects hang), or, after the first request a number of
// bytes sent in pieces with a pause between them. Its thread ends when the
// client goes away or the target is destroyed.
#pragma once

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/host_root.h"

namespace test_support {

class ScriptedTarget {
 public:
  struct Script {
    std::string piece;                     // sent again and again
    size_t total = 0;                      // bytes in all
    std::chrono::milliseconds pause{0};    // between pieces
  };

  // Listens and never accepts; fill_backlog() then makes connects hang.
  ScriptedTarget() {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(fd, address(), sizeof address_) != 0 || ::listen(fd, 0) != 0) {
      ::close(fd);
      return;
    }
    fds_.push_back(fd);
  }
  // Accepts one connection and plays `script` after its first request.
  explicit ScriptedTarget(Script script) : ScriptedTarget() {
    script_ = std::move(script);
    thread_ = std::thread([this] { serve(); });
  }
  ~ScriptedTarget() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    for (int fd : fds_) ::close(fd);
  }
  ScriptedTarget(const ScriptedTarget&) = delete;
  ScriptedTarget& operator=(const ScriptedTarget&) = delete;

  bool ready() const { return !fds_.empty(); }

  // Fills the backlog: later connects are neither accepted nor refused.
  void fill_backlog() {
    for (int i = 0; i < 3; ++i) {
      int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
      ::connect(fd, address(), sizeof address_);
      fds_.push_back(fd);
    }
  }

 private:
  const sockaddr* address() {
    address_.sin_family = AF_INET;
    address_.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address_.sin_port = htons(static_cast<uint16_t>(platform::host_port(7000)));
    return reinterpret_cast<const sockaddr*>(&address_);
  }

  bool wait(int fd, short events) {
    pollfd p{fd, events, 0};
    while (!stop_)
      if (::poll(&p, 1, 20) == 1) return true;
    return false;
  }

  void serve() {
    if (fds_.empty() || !wait(fds_.front(), POLLIN)) return;
    int client = ::accept4(fds_.front(), nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) return;
    char request[4096];
    if (wait(client, POLLIN) && ::read(client, request, sizeof request) > 0) {
      for (size_t sent = 0; sent < script_.total && !stop_;) {
        std::string piece = script_.piece.substr(0, script_.total - sent);
        if (::send(client, piece.data(), piece.size(), MSG_NOSIGNAL) <= 0) break;
        sent += piece.size();
        if (script_.pause.count() > 0) std::this_thread::sleep_for(script_.pause);
      }
    }
    ::close(client);
  }

  sockaddr_in address_{};
  std::vector<int> fds_;
  Script script_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace test_support
