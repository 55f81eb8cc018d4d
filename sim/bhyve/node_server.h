// The VM's node under /dev/vmm: a Unix stream socket on which the hypervisor
// answers libvmmapi's requests, one request line and one reply line per
// connection (sim/include/vmm_sim_protocol.h).
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>

#include <ev++.h>

#include "sim/include/sim_fd.h"

namespace bhyve_sim {

class NodeServer {
 public:
  // Gives the reply line (without "\n") to a request line.
  using Handler = std::function<std::string(const std::string& request)>;

  // `after_reply` runs once each reply is out (a request may end the VM).
  NodeServer(struct ev_loop* loop, Handler handler, std::function<void()> after_reply);
  // Stops listening and removes the node when it is still this server's.
  ~NodeServer();
  NodeServer(const NodeServer&) = delete;
  NodeServer& operator=(const NodeServer&) = delete;

  // Listens at `path` (as this process opens it). A stale node (a socket
  // nobody answers on, or a plain file) is replaced; a node on which another
  // hypervisor answers is an error.
  bool listen(const std::string& path, std::string* error);

 private:
  void accept_cb(ev::io& watcher, int revents);
  void serve(int fd);

  ev::io accept_watcher_;
  Handler handler_;
  std::function<void()> after_reply_;
  sim::UniqueFd listen_fd_;
  std::string path_;
  ino_t inode_ = 0;
};

}  // namespace bhyve_sim
