#include "nvmf/spdk_connections.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

#include "nvmf/spdk_endpoint.h"
#include "platform/host_root.h"

namespace nvmf {

SpdkConnections::~SpdkConnections() {
  for (auto& [key, fd] : fds_)
    if (fd >= 0) ::close(fd);
}

void SpdkConnections::forget_inherited() {
  pid_t pid = ::getpid();
  if (owner_ == pid) return;
  if (owner_ != 0) {
    for (auto& [key, fd] : fds_)
      if (fd >= 0) ::close(fd);
    fds_.clear();
  }
  owner_ = pid;
}

int SpdkConnections::find(const std::string& key) {
  forget_inherited();
  auto it = fds_.find(key);
  return it == fds_.end() ? -1 : it->second;
}

void SpdkConnections::put(const std::string& key, int fd) {
  forget_inherited();
  auto it = fds_.find(key);
  if (it != fds_.end() && it->second >= 0 && it->second != fd) ::close(it->second);
  fds_[key] = fd;
}

bool SpdkConnections::drop(const std::string& key, int fd) {
  forget_inherited();
  auto it = fds_.find(key);
  if (it == fds_.end() || (fd >= 0 && it->second != fd)) return false;
  if (it->second >= 0) ::close(it->second);
  fds_.erase(it);
  return true;
}

size_t SpdkConnections::size() {
  forget_inherited();
  return fds_.size();
}

SpdkConnections& spdk_connections() {
  thread_local SpdkConnections connections;
  return connections;
}

bool spdk_connection_alive(int fd) {
  if (fd < 0) return false;
  pollfd p{fd, POLLOUT, 0};
  if (::poll(&p, 1, 0) < 0) return false;
  if (p.revents & (POLLERR | POLLHUP | POLLNVAL)) return false;
  char byte;
  ssize_t n = ::recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
  if (n == 0) return false;
  if (n > 0) return true;
  return errno == EAGAIN || errno == EWOULDBLOCK;
}

namespace {

// Connects the blocking socket `fd` to `sa`, giving up after `wait`; the
// socket is blocking again afterwards.
bool connect_within(int fd, const sockaddr_in& sa, std::chrono::milliseconds wait) {
  int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) return false;
  int rc = ::connect(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
  if (rc != 0 && errno != EINPROGRESS && errno != EINTR) return false;
  if (rc != 0) {
    auto deadline = std::chrono::steady_clock::now() + wait;
    pollfd p{fd, POLLOUT, 0};
    for (;;) {
      auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      int ready = ::poll(&p, 1, static_cast<int>(std::max<int64_t>(left.count(), 0)));
      if (ready == 1) break;
      if (ready == 0 || errno != EINTR) return false;
    }
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) return false;
  }
  return ::fcntl(fd, F_SETFL, flags) == 0;
}

}  // namespace

int spdk_connect(SpdkConnections& connections, const std::string& key, std::chrono::milliseconds wait) {
  int cached = connections.find(key);
  if (cached >= 0) {
    if (spdk_connection_alive(cached)) return cached;
    connections.drop(key, cached);
  }
  in_addr address{};
  if (::inet_aton(key.c_str(), &address) == 0) return -1;
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &one, sizeof one);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr = address;
  sa.sin_port = htons(static_cast<uint16_t>(platform::host_port(spdk_port())));
  if (!connect_within(fd, sa, wait)) {
    ::close(fd);
    return -1;
  }
  connections.put(key, fd);
  return fd;
}

void drop_host_connection(const std::string& host) { spdk_connections().drop(spdk_host_key(host)); }

void spdk_drop_connection(SpdkConnections& connections, int fd, const std::string& key) {
  if (fd < 0) return;
  if (!connections.drop(key, fd)) ::close(fd);
}

}  // namespace nvmf
