#include "model/commander.h"

#include <algorithm>
#include <filesystem>
#include <limits>

#include <nlohmann/json.hpp>
#include <spdlog/spdlog.h>

#include "driver/config.h"
#include "model/record_json.h"
#include "model/vm_config.h"
#include "platform/host_root.h"

namespace {

inline constexpr const char* kCloudInitGcName = "Cloud-init: SmartOS";

template <typename T>
T clamp_to(uint64_t v) {
  return static_cast<T>(std::min<uint64_t>(v, std::numeric_limits<T>::max()));
}

// The pool of a VM: its dataset's first component.
std::string pool_of(const std::string& root_dataset_name) {
  return root_dataset_name.substr(0, root_dataset_name.find('/'));
}

// A VM is local when its pool has a state directory on this host.
bool has_local_pool(const std::string& pool) {
  if (pool.empty()) return false;
  std::error_code ec;
  return std::filesystem::is_directory(
      platform::host_path(pool_state_dir(Config::instance(), pool)), ec);
}

}  // namespace

_command Commander::make_vm_start(const std::string& record_text) {
  _command cmd;
  nlohmann::json j = nlohmann::json::parse(record_text, nullptr, false);
  if (j.is_discarded() || !j.is_object()) {
    spdlog::warn("### make_vm_start: the VM record is not a JSON object");
    return cmd;
  }
  VmConfig config;
  try {
    config = VmConfig(j);
  } catch (const std::exception& e) {
    spdlog::warn("### make_vm_start: bad VM record: {}", e.what());
    return cmd;
  }
  if (config.id.empty()) {
    spdlog::warn("### make_vm_start: the VM record has no id");
    return cmd;
  }

  cmd.vm_id = config.id;
  cmd.method = "vms-start";
  cmd.root_dataset_name = config.root_dataset_name;
  cmd.root_fs = config.root_fs;
  cmd.item = compact_json(j);
  cmd.rtty_host = config.vnc.host;
  for (const VmDisk& disk : config.disks) cmd.disk_paths.push_back(disk.dev);
  cmd.pool = pool_of(config.root_dataset_name);
  cmd.remote = !has_local_pool(cmd.pool);
  cmd.force = false;
  cmd.timeout = 30;
  cmd.cpu_priority = config.cpu_priority;
  cmd.vcpu_class = config.vcpu_class;
  cmd.topology = make_topology(config.cores, config.sockets, config.threads);
  cmd.incarnation = config.incarnation;
  cmd.admin_status = config.admin_status;
  cmd.service = config.service == kServiceVm;
  // A port beyond 16 bits is no port at all.
  cmd.rtty_port = config.rtty_port <= 0xffff ? static_cast<uint16_t>(config.rtty_port) : 0;
  cmd.cloudinit_port = (config.gc_id == 2 || config.gc_name == kCloudInitGcName) ? 1 : 0;
  cmd.abort_interval = clamp_to<uint32_t>(config.hv_faults.sigabort_interval);
  cmd.abort_restarts = clamp_to<uint32_t>(config.hv_faults.sigabort_restarts);
  cmd.restart_started = false;
  return cmd;
}
