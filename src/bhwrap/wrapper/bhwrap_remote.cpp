// Remote disks and the remote checkpoint of a run: shared by the hosts that
// hold them before bhyve starts, released after the run.
#include <thread>

#include <fmt/format.h>
#include <spdlog/spdlog.h>

#include "bhwrap/wrapper/bhwrap.h"
#include "driver/config.h"

namespace {

// Begins the "shared" messages of shares that any host may connect to.
constexpr const char* kAnyHostMarker = "any-host ";
constexpr const char* kRetriedShareError = "Unable to create subsystem";

const char* share_marker() { return Config::instance().nvmf_allow_any_host ? kAnyHostMarker : ""; }

void add_option(std::vector<std::string>& args, std::string value) {
  args.emplace_back("-o");
  args.push_back(std::move(value));
}

}  // namespace

std::string BhWrap::disk_host_nqn(uint64_t slot) const {
  if (Config::instance().nvmf_allow_any_host) return "";
  return remote_->disk_host_nqn(command_.vm_id, static_cast<uint8_t>(slot));
}

std::string BhWrap::snapshot_host_nqn() const {
  if (Config::instance().nvmf_allow_any_host) return "";
  return remote_->snapshot_host_nqn(command_.vm_id);
}

RemoteShare BhWrap::share_volume(const std::string& traddr, const std::string& volume,
                                 uint64_t sector_size, const std::string& host_nqn,
                                 bool snapshot) const {
  RemoteShare answer;
  for (int attempt = 1; attempt <= timings_.share_attempts; ++attempt) {
    answer = remote_->share(traddr, volume, sector_size, host_nqn);
    if (answer.port != 0 || answer.text.rfind(kRetriedShareError, 0) != 0) break;
    if (snapshot)
      spdlog::info("{}. vm_id={}; Remote snapshot sharing attempt {}", command_.method,
                   command_.vm_id, attempt);
    else
      spdlog::info("vm_id={} BhWrap: Remote disk sharing attempt {}", command_.vm_id, attempt);
    std::this_thread::sleep_for(timings_.share_retry_delay);
  }
  return answer;
}

std::optional<std::string> BhWrap::attach_remote_disks(VmConfig& record) {
  for (auto& disk : record.disks) {
    if (disk.trtype == "tcp") {
      RemoteShare share =
          share_volume(disk.traddr, disk.dev, disk.sector_size.logical, disk_host_nqn(disk.slot), false);
      if (share.port == 0) return share.text;
      spdlog::debug("vm_id={} BhWrap: remote disk shared: {}(lsz={}) {}: '{}'", command_.vm_id,
                    share_marker(), disk.sector_size.logical, disk.dev, share.nqn);
      disk.dev = share.nqn;
      disk.guid = share.port;
      uint64_t slot = disk.slot;
      add_option(extra_args_, fmt::format("pci.0.{}.0.nvmf=true", slot));
      add_option(extra_args_, fmt::format("pci.0.{}.0.trtype=tcp", slot));
      add_option(extra_args_, fmt::format("pci.0.{}.0.adrfam=IPv4", slot));
      add_option(extra_args_, fmt::format("pci.0.{}.0.traddr={}", slot, disk.traddr));
      add_option(extra_args_, fmt::format("pci.0.{}.0.trsvcid={}", slot, share.port));
      add_option(extra_args_, fmt::format("pci.0.{}.0.subnqn={}", slot, share.nqn));
      add_option(extra_args_, fmt::format("pci.0.{}.0.dpdk_core_mask=0x1", slot));
    } else if (disk.devtype == "nvme") {
      add_option(extra_args_, fmt::format("pci.0.{}.0.nvmf=false", disk.slot));
      add_option(extra_args_, fmt::format("pci.0.{}.0.path={}", disk.slot, disk.dev));
    }
  }
  return std::nullopt;
}

void BhWrap::detach_remote_disks(const VmConfig& record, bool quiet) {
  const std::string& vm_id = command_.vm_id;
  for (const auto& disk : record.disks) {
    if (disk.trtype != "tcp") continue;
    int count = remote_->shared_count(disk.dev, disk.traddr);
    spdlog::debug("vm_id={} BhWrap:detach_remote_disks nvmf::shared_count = {}", vm_id, count);
    if (count != 0) continue;
    if (auto error = remote_->unshare(disk.traddr, disk.dev, disk_host_nqn(disk.slot))) {
      if (!quiet) spdlog::error("vm_id={} ### BhWrap: remote disk unshare error: {}", vm_id, *error);
    } else {
      spdlog::debug("vm_id={} BhWrap: remote disk unshared: {} : {}", vm_id, disk.traddr, disk.dev);
    }
  }
}

std::pair<int32_t, std::string> BhWrap::attach_remote_snapshot(VmSuspendDevice& device) {
  const std::string& method = command_.method;
  const std::string& vm_id = command_.vm_id;
  if (device.trtype != "tcp") return {-1, fmt::format("Unknown device type: {}", device.trtype)};

  std::string host_nqn = snapshot_host_nqn();
  RemoteShare share = share_volume(device.traddr, device.path, 4096, host_nqn, true);
  if (share.port == 0) return {-1, "Remote snapshot sharing: " + share.text};
  spdlog::debug("{}. vm_id={}; remote snapshot shared: {}'{}:{}' '{}'", method, vm_id,
                share_marker(), device.traddr, share.port, share.nqn);

  RemoteMount mount = remote_->mount(device.traddr, share.nqn, host_nqn);
  if (!mount.device.empty()) {
    spdlog::debug("{}. vm_id={}; remote snapshot mounted: '{}' '{}'", method, vm_id, share.nqn,
                  mount.device);
    device.path = share.nqn;
    device.port = static_cast<int64_t>(share.port);
    return {0, mount.device};
  }
  std::string error = "Remote snapshot mounting: " + mount.error;
  if (auto unshared = remote_->unshare(device.traddr, device.path, host_nqn))
    error += " Unsharing error: " + *unshared;
  return {-1, error};
}

void BhWrap::detach_remote_snapshot(bool quiet) {
  if (snapshot_traddr_.empty()) return;
  const std::string& method = command_.method;
  const std::string& vm_id = command_.vm_id;
  std::string host_nqn = snapshot_host_nqn();
  if (!snapshot_subnqn_.empty()) {
    if (auto error = remote_->unmount(snapshot_traddr_, snapshot_subnqn_)) {
      if (!quiet) spdlog::error("{}. vm_id={}; ### remote snapshot unmount error: {}", method, vm_id, *error);
    } else {
      spdlog::debug("{}. vm_id={}; remote snapshot  unmount: {}", method, vm_id, snapshot_subnqn_);
    }
  }
  if (!snapshot_volume_.empty()) {
    if (auto error = remote_->unshare(snapshot_traddr_, snapshot_volume_, host_nqn)) {
      if (!quiet) spdlog::error("{}. vm_id={}; ### remote snapshot unshare error: {}", method, vm_id, *error);
    } else {
      spdlog::debug("{}. vm_id={}; remote snapshot unshared: {}", method, vm_id, snapshot_volume_);
    }
  }
  snapshot_traddr_.clear();
}
