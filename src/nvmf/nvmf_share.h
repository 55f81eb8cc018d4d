// What the rest of the program sees of NVMe-oF: sharing a zvol through the
// storage target of the host that holds it, mounting a shared subsystem on
// this host through the initiator service, undoing both, and counting the
// hosts connected to a share. None of these throws; failures come back as
// texts (the target's own message where it gave one).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "nvmf/nvmf_names.h"

struct share_result {
  uint32_t port = 0;  // the subsystem's service port; 0 when the share failed
  std::string text;   // the subsystem NQN, or the error
};

struct mount_result {
  std::string device;  // the local device; "" on failure
  std::optional<std::string> error;
};

namespace nvmf {

// `host`: the address of the target that holds the volume ("127.0.0.1" =
// this host); `zvol`: "/dev/zvol/..." or a dataset name; `host_nqn` "" lets
// any host connect.
share_result share_nqn(const std::string& host, const std::string& zvol, uint32_t block_size,
                       const std::string& host_nqn);
std::optional<std::string> unshare_nqn(const std::string& host, const std::string& zvol,
                                       const std::string& host_nqn);
mount_result mount_nqn(const std::string& target, const std::string& nqn, const std::string& host_nqn);
std::optional<std::string> unmount_nqn(const std::string& target, const std::string& nqn);
// Hosts connected to the volume's share; -1 when the target could not tell
// (no such share, no answer), -2 on an unexpected failure.
int32_t shared_count(const std::string& zvol, const std::string& host);

}  // namespace nvmf
