#include "bhwrap/wrapper/remote_disks.h"

namespace {

// A host without an NVMe-oF client: nothing can be shared or mounted, and
// since nothing was, there is nothing to count or undo.
class UnavailableRemoteDisks final : public RemoteDisks {
 public:
  RemoteShare share(const std::string&, const std::string&, uint64_t,
                    const std::string&) override {
    return {0, "", kNvmfUnavailable};
  }
  std::optional<std::string> unshare(const std::string&, const std::string&,
                                     const std::string&) override {
    return kNvmfUnavailable;
  }
  RemoteMount mount(const std::string&, const std::string&, const std::string&) override {
    return {"", kNvmfUnavailable};
  }
  std::optional<std::string> unmount(const std::string&, const std::string&) override {
    return kNvmfUnavailable;
  }
  int shared_count(const std::string&, const std::string&) override { return -1; }
  std::string disk_host_nqn(const std::string&, uint8_t) override { return ""; }
  std::string snapshot_host_nqn(const std::string&) override { return ""; }
};

}  // namespace

std::unique_ptr<RemoteDisks> make_remote_disks() {
  return std::make_unique<UnavailableRemoteDisks>();
}
