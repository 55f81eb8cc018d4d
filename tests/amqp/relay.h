// Test support: a loopback TCP relay to the broker that the test controls.
// frozen(true) stops forwarding in both directions while every socket stays
// open (a broker that hangs); close_all() drops every relayed connection.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "tests/amqp/loopback_listen.h"

namespace amqp_test {

class Relay {
 public:
  explicit Relay(int target_port) : target_(target_port) {
    listen_ = listen_on_loopback(port_);
    thread_ = std::thread([this] { run(); });
  }
  ~Relay() {
    stop_ = true;
    thread_.join();
    close_all();
    ::close(listen_);
  }

  int port() const { return port_; }
  void frozen(bool f) { frozen_ = f; }
  void close_all() {
    std::lock_guard<std::mutex> g(mutex_);
    for (auto& [a, b] : pairs_) {
      ::close(a);
      ::close(b);
    }
    pairs_.clear();
  }

 private:
  void run() {
    char buf[65536];
    while (!stop_) {
      std::vector<pollfd> fds{{listen_, POLLIN, 0}};
      {
        std::lock_guard<std::mutex> g(mutex_);
        if (!frozen_)
          for (auto& [a, b] : pairs_) {
            fds.push_back({a, POLLIN, 0});
            fds.push_back({b, POLLIN, 0});
          }
      }
      ::poll(fds.data(), fds.size(), 20);
      if (fds[0].revents & POLLIN) accept_one();
      std::lock_guard<std::mutex> g(mutex_);
      for (size_t i = 1; i < fds.size(); ++i) {
        if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        for (auto it = pairs_.begin(); it != pairs_.end(); ++it) {
          int from = fds[i].fd;
          if (from != it->first && from != it->second) continue;
          int to = from == it->first ? it->second : it->first;
          ssize_t n = ::read(from, buf, sizeof buf);
          if (n <= 0 || ::write(to, buf, static_cast<size_t>(n)) != n) {
            ::close(it->first);
            ::close(it->second);
            pairs_.erase(it);
          }
          break;
        }
      }
    }
  }
  void accept_one() {
    int in = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
    if (in < 0) return;
    int out = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(target_));
    if (::connect(out, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
      ::close(in);
      ::close(out);
      return;
    }
    std::lock_guard<std::mutex> g(mutex_);
    pairs_.emplace_back(in, out);
  }

  int target_;
  int listen_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<bool> frozen_{false};
  std::mutex mutex_;
  std::vector<std::pair<int, int>> pairs_;
  std::thread thread_;
};

}  // namespace amqp_test
