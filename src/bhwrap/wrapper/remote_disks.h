// What the VM wrapper needs of the NVMe-oF client: sharing a volume of
// another host as an NVMe-oF subsystem through that host's storage target,
// mounting such a subsystem on this host, and undoing both.
//
// The wrapper holds one RemoteDisks for its run. make_remote_disks() gives the
// host's implementation, the NVMe-oF client (nvmf/nvmf_share.h): the storage
// target of the host that holds a volume and this host's initiator service.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

// The answer to a share request.
struct RemoteShare {
  uint64_t port = 0;  // the subsystem's service port; 0 when the share failed
  std::string nqn;    // the subsystem NQN, on success
  std::string text;   // the target's answer; on failure the reason
};

// The answer to a mount request.
struct RemoteMount {
  std::string device;  // the local device of the mounted subsystem; "" on failure
  std::string error;   // why not, when `device` is empty (may be "")
};

class RemoteDisks {
 public:
  virtual ~RemoteDisks() = default;

  // Has the host at `traddr` share its volume `volume` with logical sector
  // size `sector_size`, for `host_nqn` ("" = any host may connect).
  virtual RemoteShare share(const std::string& traddr, const std::string& volume,
                            uint64_t sector_size, const std::string& host_nqn) = 0;
  // Withdraws the share; nothing on success, else the reason.
  virtual std::optional<std::string> unshare(const std::string& traddr, const std::string& volume,
                                             const std::string& host_nqn) = 0;
  // Connects this host to the subsystem `nqn` of the host at `traddr`.
  virtual RemoteMount mount(const std::string& traddr, const std::string& nqn,
                            const std::string& host_nqn) = 0;
  // Disconnects it; nothing on success, else the reason.
  virtual std::optional<std::string> unmount(const std::string& traddr, const std::string& nqn) = 0;
  // How many hosts are connected to the share of `volume` on `traddr`;
  // negative when that cannot be found out.
  virtual int shared_count(const std::string& volume, const std::string& traddr) = 0;

  // The host NQNs this host connects with, when shares are limited to it: for
  // disk slot `slot` of VM `vm_id`, and for the VM's checkpoint volume.
  virtual std::string disk_host_nqn(const std::string& vm_id, uint8_t slot) = 0;
  virtual std::string snapshot_host_nqn(const std::string& vm_id) = 0;
};

// The host's NVMe-oF client for the wrapper.
std::unique_ptr<RemoteDisks> make_remote_disks();
