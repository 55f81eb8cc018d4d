#include "pool/vmcli/vm_unshare.h"

#include <cstdio>
#include <optional>

#include "driver/config.h"
#include "model/commander.h"
#include "model/vm_config.h"
#include "model/vm_state.h"
#include "nvmf/nvmf_share.h"
#include "pool/state/pool_list.h"

namespace {

constexpr int32_t kNotShared = -1;
constexpr int32_t kTargetException = -2;

struct VolumeReport {
  const char* not_shared;  // printf format with the path
  const char* unshared;    // with the path and the count
  const char* shared;      // with the path and the count
};

// Reports (and with `force` withdraws) the share of one volume; the count.
int32_t unshare_volume(const std::string& path, const std::string& address, const std::string& host_nqn, bool force,
                       bool report_not_shared, const VolumeReport& report) {
  int32_t count = nvmf::shared_count(path, address);
  if (count == kTargetException) {
    std::fprintf(stderr, "target-manager result (json) exception\n");
  } else if (count == kNotShared) {
    if (report_not_shared) std::printf(report.not_shared, path.c_str());
  } else if (force) {
    if (std::optional<std::string> error = nvmf::unshare_nqn(address, path, host_nqn))
      std::printf("Unshare device error: %s (%s)\n", path.c_str(), error->c_str());
    else
      std::printf(report.unshared, path.c_str(), count);
  } else {
    std::printf(report.shared, path.c_str(), count);
  }
  return count;
}

}  // namespace

bool vm_unshare(const std::string& vm_id, const std::string& param, const std::string& given_pool,
                const std::string& nvmf_ip) {
  const bool force = param == "force";
  const bool from_command_line = given_pool.empty();
  std::string pool = from_command_line ? vm_pool_of(vm_id, false) : given_pool;
  if (pool.empty()) {
    std::printf("%-10s: does not exist\n", vm_id.c_str());
    return false;
  }
  std::string address = nvmf_ip;
  if (address.empty()) {
    std::optional<std::string> found = nvmf_address(pool);
    if (!found || found->empty()) {
      std::fprintf(stderr, "Pool '%s': No IP-interface with NVMf-label\n", pool.c_str());
      return false;
    }
    address = *found;
  }
  VmState state(pool, vm_id);
  VmStateRead read = state.read();
  if (!read.ok()) {
    std::fprintf(stderr, "### VM_id=%s skipped, vm.json is unusable: %s\n", vm_id.c_str(),
                 state.read_result_text().c_str());
    return false;
  }
  _command record = Commander::make_vm_start(read.text);
  if (from_command_line) std::printf("VM_id=%s Pool=%s NVMf_ip=%s\n", vm_id.c_str(), pool.c_str(), address.c_str());

  const bool any_host = Config::instance().nvmf_allow_any_host;
  std::string image = "/dev/zvol/" + record.root_dataset_name + "/snapshot.bvmss";
  int32_t image_count =
      unshare_volume(image, address, snapshot_nqn(vm_id, any_host), force, from_command_line,
                     {"No shared snapshot: %s\n", "Snapshot unshared: %s; were mounted: %d\n",
                      "Snapshot shared:    %s; mounted: %d\n"});

  VmConfigResult parsed = parse_vm_config(record.item);
  for (size_t index = 0; index < parsed.config.disks.size(); ++index) {
    unshare_volume(parsed.config.disks[index].dev, address,
                   vm_disk_nqn(vm_id, static_cast<uint8_t>(index), any_host), force, from_command_line,
                   {"No shared device:    %s\n", "Device unshared:    %s; were mounted: %d\n",
                    "Device shared:      %s; mounted: %d\n"});
  }
  std::fflush(stdout);
  return image_count != kTargetException;
}
