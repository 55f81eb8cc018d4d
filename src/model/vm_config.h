// The VM record: the "item" of a command, stored as the VM's vm.json, copied
// into the VM's runtime record and handed to its wrapper.
//
// JSON keys are the member names, except "suspend-device" (suspend_device).
// Integers are unsigned 64-bit unless the type says otherwise. Keys of this
// host's own (beside the cloud-init and hypervisor ones):
//   "hv_faults"     guest reset policy (see vm_hv_faults.h)
//   "service"       10 marks a service VM (started before, stopped after the others)
//   "admin_status"  3 marks a VM that a pool start starts
//   "cpu_priority"  nice value of bhyve, 0..20; -1 (default) leaves it alone
//   "vcpu_class"    vCPU class 0..9 applied after the start; -1 (default) none
//   "incarnation"   changes when the management system rebuilds the VM
//   "rtty_port"     TCP port of the VM's console bridge; 0 = none
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "model/vm_disk.h"
#include "model/vm_guest.h"
#include "model/vm_hv_faults.h"
#include "model/vm_network_port.h"
#include "model/vm_passthru_device.h"
#include "model/vm_suspend_device.h"
#include "model/vm_vnc.h"

inline constexpr const char* kDefaultUefiFirmware = "/usr/local/share/uefi-firmware/BHYVE_UEFI.fd";
inline constexpr uint64_t kOsTypeOpenStack = 7;  // config-drive cloud-init layout
inline constexpr int64_t kServiceVm = 10;        // "service" of a service VM

struct VmConfig {
  std::string id;
  uint64_t cpus = 1;
  uint64_t cores = 1;
  uint64_t threads = 1;
  uint64_t sockets = 1;
  uint64_t ram = 2147483648ULL;  // bytes
  uint64_t balloon_slot = 0;     // 0 = no balloon
  uint64_t os_type = 0;
  std::string os_name;
  std::string root_fs;  // the VM directory
  std::string root_dataset_name;
  std::string boot_media;
  std::string uefi = kDefaultUefiFirmware;
  // One extra element of the bhyve command line. A JSON list of texts is
  // joined with single blanks.
  std::string extra_options;
  std::string default_shell = "/bin/sh";
  uint64_t zero_based_link = 0;
  int64_t gc_id = 0;
  std::string gc_name;
  VmVnc vnc;
  VmGuest guest;
  VmSuspendDevice suspend_device;  // JSON "suspend-device"
  VmHvFaults hv_faults;
  std::vector<VmDisk> disks;
  std::vector<VmNetworkPort> network_ports;
  std::vector<VmPassthruDevice> passthru_devices;
  int64_t service = 0;
  int64_t admin_status = 0;
  int64_t cpu_priority = -1;
  int64_t vcpu_class = -1;
  uint64_t incarnation = 0;
  uint64_t rtty_port = 0;

  VmConfig() = default;
  // The defaults, then the keys present in `j` over them; a value that is not
  // an object gives the defaults.
  explicit VmConfig(const nlohmann::json& j);
  VmConfig(const VmConfig&) = default;
  VmConfig(VmConfig&&) = default;
  VmConfig& operator=(const VmConfig&) = default;
  VmConfig& operator=(VmConfig&&) = default;
};

void from_json(const nlohmann::json& j, VmConfig& config);
void to_json(nlohmann::json& j, const VmConfig& config);

struct VmConfigResult {
  VmConfig config;
  std::string error;  // empty on success
};

// Parses a VM record from JSON text. Never throws: text that is not JSON, or
// JSON that is not an object, gives the error text and a default record.
VmConfigResult parse_vm_config(const std::string& text);

// An error text when a network port uses a backend other than netgraph.
std::optional<std::string> check_netgraph_ports(const VmConfig& config);
