#include "pool/state/running_vm.h"

#include "ipc/shm.h"
#include "ipc/vm_runtime_record.h"
#include "model/vm_config.h"

std::optional<running_vm> read_running_vm(const std::string& vm_id) {
  if (!Shm::exists(vm_id, ShmKind::vm)) return std::nullopt;
  VmRuntimeRecord record = parse_runtime_record(Shm::load_text(vm_id, ShmKind::vm));
  if (record.vmid.empty() || record.item.empty()) return std::nullopt;
  VmConfigResult parsed = parse_vm_config(record.item);
  if (!parsed.error.empty()) return std::nullopt;
  running_vm vm;
  vm.vm_id = record.vmid;
  const std::string& dataset = parsed.config.root_dataset_name;
  vm.pool = dataset.substr(0, dataset.find('/'));
  vm.remote = !parsed.config.disks.empty() && parsed.config.disks.front().trtype == "tcp";
  return vm;
}
