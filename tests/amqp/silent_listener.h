// Test support: a loopback TCP listener that accepts every connection and
// never sends a byte (a stopped broker behind a live socket); it counts the
// connections it took.
#pragma once

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>
#include <vector>

#include "tests/amqp/loopback_listen.h"

namespace amqp_test {

class SilentListener {
 public:
  SilentListener() {
    listen_ = listen_on_loopback(port_);
    thread_ = std::thread([this] {
      while (!stop_) {
        pollfd p{listen_, POLLIN, 0};
        if (::poll(&p, 1, 20) != 1) continue;
        int fd = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        accepted_.push_back(fd);  // held open, never read nor written
        ++count_;
      }
    });
  }
  ~SilentListener() {
    stop_ = true;
    thread_.join();
    for (int fd : accepted_) ::close(fd);
    ::close(listen_);
  }
  SilentListener(const SilentListener&) = delete;
  SilentListener& operator=(const SilentListener&) = delete;

  int port() const { return port_; }
  int accepted() const { return count_; }

 private:
  int listen_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> count_{0};
  std::vector<int> accepted_;  // only the thread touches it until the join
  std::thread thread_;
};

}  // namespace amqp_test
