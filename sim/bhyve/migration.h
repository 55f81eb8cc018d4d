// Live migration between two stand-in hypervisors: the sender streams the
// VM's configuration over TCP to a hypervisor started with "-L port"
// (format in sim/include/vmm_sim_protocol.h).
#pragma once

#include <functional>
#include <optional>
#include <string>

#include <ev++.h>

#include "sim/include/sim_fd.h"
#include "sim/bhyve/vm_settings.h"

namespace bhyve_sim {

// Sends `config` to `address`:`port` and waits for the receiver to take it.
// Returns an error text on failure.
std::optional<std::string> send_migration_stream(const std::string& address, int port,
                                                 const Settings& config);

// Waits for one migration stream on a TCP port.
class MigrationReceiver {
 public:
  // `on_done` gets the received configuration and answers "" when the VM was
  // taken, else why not; or it gets nothing and the stream's error text.
  using Done =
      std::function<std::string(std::optional<Settings> config, const std::string& error)>;

  MigrationReceiver(struct ev_loop* loop, Done on_done);
  ~MigrationReceiver();
  MigrationReceiver(const MigrationReceiver&) = delete;
  MigrationReceiver& operator=(const MigrationReceiver&) = delete;

  // Listens on all addresses at `port`.
  bool listen(int port, std::string* error);

 private:
  void accept_cb(ev::io& watcher, int revents);

  ev::io watcher_;
  Done on_done_;
  sim::UniqueFd listen_fd_;
};

}  // namespace bhyve_sim
