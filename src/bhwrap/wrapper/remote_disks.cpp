#include "bhwrap/wrapper/remote_disks.h"

#include "nvmf/nvmf_share.h"

namespace {

// The NVMe-oF client: every call is one operation of nvmf/nvmf_share.h.
class NvmfRemoteDisks final : public RemoteDisks {
 public:
  RemoteShare share(const std::string& traddr, const std::string& volume, uint64_t sector_size,
                    const std::string& host_nqn) override {
    share_result r = nvmf::share_nqn(traddr, volume, static_cast<uint32_t>(sector_size), host_nqn);
    if (r.port == 0) return {0, "", r.text};
    return {r.port, r.text, r.text};
  }
  std::optional<std::string> unshare(const std::string& traddr, const std::string& volume,
                                     const std::string& host_nqn) override {
    return nvmf::unshare_nqn(traddr, volume, host_nqn);
  }
  RemoteMount mount(const std::string& traddr, const std::string& nqn, const std::string& host_nqn) override {
    mount_result r = nvmf::mount_nqn(traddr, nqn, host_nqn);
    return {r.device, r.error.value_or("")};
  }
  std::optional<std::string> unmount(const std::string& traddr, const std::string& nqn) override {
    return nvmf::unmount_nqn(traddr, nqn);
  }
  int shared_count(const std::string& volume, const std::string& traddr) override {
    return nvmf::shared_count(volume, traddr);
  }
  std::string disk_host_nqn(const std::string& vm_id, uint8_t slot) override { return vm_disk_nqn(vm_id, slot, false); }
  std::string snapshot_host_nqn(const std::string& vm_id) override { return snapshot_nqn(vm_id, false); }
};

}  // namespace

std::unique_ptr<RemoteDisks> make_remote_disks() { return std::make_unique<NvmfRemoteDisks>(); }
