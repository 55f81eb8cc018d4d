// The documents on disk, in the VM directory: guest.json, the NoCloud files
// under "cloud-init", the config-drive tree under "cloud-base" and its seed
// image.
#include <filesystem>
#include <string>
#include <system_error>

#include "bhwrap/cloudinit/cloudinit.h"
#include "bhwrap/cloudinit/seed_image.h"
#include "ipc/atomic_file.h"
#include "platform/host_root.h"

namespace {

// Creates `dir` with its missing parents; true only when this call made it.
bool made_directory(const std::string& dir) {
  std::error_code ec;
  return std::filesystem::create_directories(dir, ec) && !ec;
}

}  // namespace

void Cloudinit::write_seed() const {
  const std::string dir = platform::host_path(vm_config_.root_fs);

  nlohmann::json guest = vm_config_.guest;
  write_file_atomic(dir + "/guest.json", guest.dump(2) + "\n");

  if (vm_config_.os_type != kOsTypeOpenStack) {
    const std::string documents = dir + "/cloud-init";
    if (!made_directory(documents)) return;
    write_file_atomic(documents + "/meta-data", meta_data_ + "\n");
    write_file_atomic(documents + "/user-data", user_data_ + "\n");
    write_file_atomic(documents + "/network-config", network_config_ + "\n");
    return;
  }

  const std::string latest = dir + "/cloud-base/openstack/latest";
  if (made_directory(latest)) {
    write_file_atomic(latest + "/meta_data.json", meta_data_ + "\n");
    write_file_atomic(latest + "/network_data.json", network_config_ + "\n");
  }
  build_seed_image(dir);
}
