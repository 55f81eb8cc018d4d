// The calling thread's open connections to storage targets, by host key, with
// the test whether a cached connection is still usable.
//
// Connections a thread cached before a fork belong to the parent: in the child
// they are closed (its copies only) and forgotten, never written to, so that
// parent and child never interleave requests on one socket.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <string>

namespace nvmf {

class SpdkConnections {
 public:
  SpdkConnections() = default;
  ~SpdkConnections();  // closes every descriptor
  SpdkConnections(const SpdkConnections&) = delete;
  SpdkConnections& operator=(const SpdkConnections&) = delete;

  // The cached descriptor of `key`, or -1.
  int find(const std::string& key);
  void put(const std::string& key, int fd);
  // Forgets `key` when it holds `fd` (any descriptor when fd is -1); closes
  // what it forgets; true when it forgot one.
  bool drop(const std::string& key, int fd = -1);
  size_t size();

 private:
  void forget_inherited();

  std::map<std::string, int> fds_;
  pid_t owner_ = 0;
};

// The calling thread's cache.
SpdkConnections& spdk_connections();

// An open connection to the target of `key` (port 7000 through the host root),
// from the cache when it is alive; -1 when none can be made within `wait`.
// Keys are dotted quads; names are never resolved.
int spdk_connect(SpdkConnections& connections, const std::string& key,
                 std::chrono::milliseconds wait = std::chrono::milliseconds(5000));
bool spdk_connection_alive(int fd);
// Drops the calling thread's connection to `host`.
void drop_host_connection(const std::string& host);
void spdk_drop_connection(SpdkConnections& connections, int fd, const std::string& key);

}  // namespace nvmf
