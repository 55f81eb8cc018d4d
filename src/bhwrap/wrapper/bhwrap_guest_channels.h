// What runs beside bhyve on the VM's serial ports: the null-modem pairs that
// join bhyve's serial ports to the host, the console bridge and the
// cloud-init channel.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "model/command.h"
#include "model/vm_config.h"
#include "platform/null_modem.h"

// The VM's null-modem pairs for one run. bhyve opens side A; the host's users
// open side B. Removed when the object goes (or by remove()).
class GuestSerialPorts {
 public:
  GuestSerialPorts() = default;
  GuestSerialPorts(std::vector<platform::NullModemPair> pairs, std::string cloudinit)
      : pairs_(std::move(pairs)), cloudinit_(std::move(cloudinit)) {}

  // Side B of the cloud-init pair (real path); "" when it was not made.
  const std::string& cloudinit_device() const { return cloudinit_; }

  void remove() { pairs_.clear(); }

 private:
  std::vector<platform::NullModemPair> pairs_;
  std::string cloudinit_;
};

// The guest takes its metadata over its second serial port (bhyve gets "-l com2").
bool has_cloudinit_port(const VmConfig& record);

// Makes the console pair and, when the guest has one, the cloud-init pair of
// `record`. A pair that cannot be made is logged; bhyve then reports the
// missing device in its start log.
GuestSerialPorts make_guest_serial_ports(const VmConfig& record, const std::string& log_prefix,
                                         const std::string& vm_id);

// The console bridge: a detached thread serving one TCP client at a time on
// `host`:`port`, joined to side B of the console pair of `vm_id` (rtty.h),
// which it opens by its path for each client.
void start_console_bridge(const std::string& vm_id, const std::string& host, uint16_t port);

// The cloud-init channel: serves the guest's metadata over `device` (side B
// of the cloud-init pair) on a detached thread, from what the VM directory
// (root_fs) holds for a local VM, or from the record (item) for a remote one.
void start_cloudinit_channel(const _command& command, const std::string& device);
