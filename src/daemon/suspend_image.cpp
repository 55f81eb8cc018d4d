#include "daemon/suspend_image.h"

#include <limits>
#include <optional>

#include <fmt/format.h>
#include <spdlog/spdlog.h>

#include "storage/zvol.h"

uint64_t suspend_image_size(uint64_t ram) {
  const uint64_t max = std::numeric_limits<uint64_t>::max();
  uint64_t extra = ram / 512 + kSuspendImageMargin;
  if (ram > max - extra) return max;
  return ram + extra;
}

bool valid_dataset_name(const std::string& name) {
  if (name.empty() || name.find('\0') != std::string::npos) return false;
  size_t begin = 0;
  while (true) {
    size_t end = name.find('/', begin);
    std::string part = name.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
    if (part.empty() || part == "." || part == "..") return false;
    if (end == std::string::npos) return true;
    begin = end + 1;
  }
}

std::string suspend_image_dataset(const std::string& root_dataset_name) {
  return root_dataset_name + "/snapshot.bvmss";
}

std::string suspend_image_path(const std::string& root_dataset_name) {
  return "/dev/zvol/" + suspend_image_dataset(root_dataset_name);
}

namespace {

// `bytes` in MiB, rounded up.
uint64_t mib(uint64_t bytes) { return bytes / (1ULL << 20) + (bytes % (1ULL << 20) != 0); }

// `size` rounded up to whole blocks of `block` bytes (a power of two).
uint64_t whole_blocks(uint64_t size, uint64_t block) {
  return size % block == 0 ? size : ((size - 1) | (block - 1)) + 1;
}

// Makes the image volume anew.
SuspendVolumeResult create_image_volume(zfs_session& session, const std::string& dataset,
                                        uint64_t size) {
  spdlog::info("VMS-SUSPEND. zvol '{}': creating with {} MiB", dataset, mib(size));
  uint64_t made = size;
  zvol_result created = create_volume(session, dataset, made, kSuspendImageBlockSize);
  if (!created.ok()) return {false, fmt::format("zvol '{}' not created: {}", dataset, created.text)};
  return {true, fmt::format("zvol '{}' of {} bytes created", dataset, made)};
}

}  // namespace

SuspendVolumeResult prepare_suspend_volume(zfs_session& session, const std::string& dataset,
                                           uint64_t size) {
  uint64_t volsize = 0, volblocksize = 0;
  zvol_result info = volume_info(session, volsize, volblocksize, dataset);
  if (!info.ok()) {
    if (info.code != zvol_open_failed)
      return {false, fmt::format("zvol '{}': {}", dataset, info.text)};
    return create_image_volume(session, dataset, size);
  }
  // The size a volume made now would have.
  const uint64_t needed = whole_blocks(size, kSuspendImageBlockSize);
  if (volsize == needed) return {true, fmt::format("zvol '{}' of {} bytes fits", dataset, volsize)};
  if (volsize < needed) {
    spdlog::info("VMS-SUSPEND. zvol '{}': growing to {} MiB", dataset, mib(size));
    uint64_t grown = size;
    zvol_result resized = resize_volume(session, dataset, grown);
    if (!resized.ok())
      return {false, fmt::format("zvol '{}' not grown: {}", dataset, resized.text)};
    return {true, fmt::format("zvol '{}' grown to {} bytes", dataset, grown)};
  }
  // Larger than needed: the image takes a volume of its own size.
  if (std::optional<std::string> error = destroy_volume(session, dataset))
    return {false, fmt::format("zvol '{}' of {} bytes not destroyed: {}", dataset, volsize, *error)};
  return create_image_volume(session, dataset, size);
}
