// The checkpoint check before a start or resume: is the VM suspended, and do
// its disks and network ports fit the checkpoint?
#include <spdlog/spdlog.h>

#include "bhwrap/wrapper/bhwrap.h"
#include "bhwrap/wrapper/bhyve_args.h"
#include "bhwrap/checkpoint/checkpoint_header.h"
#include "bhwrap/checkpoint/checkpoint_lookup.h"

namespace {

// The checkpoint's device at a disk's slot fits the disk's transport.
bool disk_fits(const std::string& trtype, const std::string& device) {
  if (trtype.empty() || trtype == "pci") return device == "nvme" || device == "virtio-blk";
  if (trtype == "tcp") return device == "nvme";
  return true;
}

}  // namespace

int32_t BhWrap::check_snapshot_config(VmConfig& record) {
  const std::string& method = command_.method;
  const std::string& vm_id = command_.vm_id;
  std::string volume = "/dev/zvol/" + command_.root_dataset_name + "/snapshot.bvmss";

  if (!command_.remote) {
    checkpoint_path_ = volume;
    extra_args_.push_back(volume);
  } else {
    record.suspend_device.path = volume;
    auto [code, text] = attach_remote_snapshot(record.suspend_device);
    if (code != 0) {
      spdlog::error("{}. vm_id={} ### BhWrap: {}", method, vm_id, text);
      return kCheckpointCheckFailed;
    }
    checkpoint_path_ = text;
    snapshot_volume_ = volume;
    snapshot_traddr_ = record.suspend_device.traddr;
    snapshot_subnqn_ = record.suspend_device.path;
    extra_args_.push_back(text);
  }

  snapshot_config snapshot(checkpoint_path_, vm_id);
  checkpoint_result header = read_checkpoint_header(snapshot, false);
  if (header.code == header_bad_ident || header.code == header_open_failed) {
    spdlog::debug("{}. vm_id={} BhWrap: checking snapshot: {}", method, vm_id, "VM is not suspended");
    return kNoCheckpoint;
  }
  if (header.code != 0) {
    spdlog::debug("{}. vm_id={} BhWrap: checking snapshot: {}", method, vm_id, header.message);
    return kCheckpointCheckFailed;
  }
  spdlog::debug("{}. vm_id={} BhWrap: snapshot_config memory table: {}", method, vm_id,
                memory_format_name(snapshot.memory_format));

  int32_t result = kCheckpointFits;
  for (const auto& disk : record.disks) {
    std::optional<std::string> device;
    if (disk.slot <= 0xffff) device = checkpoint_slot_device(snapshot, static_cast<uint16_t>(disk.slot));
    spdlog::debug("{}. vm_id={} BhWrap: snapshot_config disk: slot {} trtype='{}' suspended_type='{}'",
                  method, vm_id, disk.slot, disk.trtype.empty() ? "pci" : disk.trtype,
                  device.value_or(""));
    std::string mismatch;
    if (!device)
      mismatch = fmt::format("Mismatched disk configuration (slot {} missing)", disk.slot);
    else if (!disk_fits(disk.trtype, *device))
      mismatch = fmt::format("Mismatched disk configuration (slot {})", disk.slot);
    if (!mismatch.empty()) {
      spdlog::info("{}. vm_id={} BhWrap: checking snapshot: {}", method, vm_id, mismatch);
      result = kCheckpointMismatch;
    }
  }

  if (auto refusal = check_snapshot_net_backend(snapshot.config)) {
    bad_net_backend_ = true;
    spdlog::info("{}. vm_id={} BhWrap: checking snapshot: {}", method, vm_id, *refusal);
  }
  return result;
}
