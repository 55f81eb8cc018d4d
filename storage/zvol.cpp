#include "storage/zvol.h"

#include <bit>
#include <memory>

#include <fmt/format.h>

#include "hostlib/nvpair.h"
#include "storage/owned_nvlist.h"
#include "storage/pool_history.h"
#include "storage/zfs_dataset.h"

namespace {

zvol_result not_initialized() { return {zvol_not_initialized, libzfs_not_initialized}; }

std::string guid_text(zfs_handle_t* volume) {
  return fmt::format("{}", libzfs::zfs_prop_get_int(volume, ZFS_PROP_GUID));
}

// The creation properties of a zvol; false when one could not be added.
bool add_volume_properties(nvlist_t* props, uint64_t size, uint64_t volblocksize) {
  auto name = [](zfs_prop_t prop) { return libzfs::zfs_prop_to_name(prop); };
  return nvpair::nvlist_add_uint64(props, name(ZFS_PROP_VOLSIZE), size) == 0 &&
         nvpair::nvlist_add_uint64(props, name(ZFS_PROP_VOLBLOCKSIZE), volblocksize) == 0 &&
         nvpair::nvlist_add_string(props, name(ZFS_PROP_VOLMODE), "dev") == 0 &&
         nvpair::nvlist_add_string(props, name(ZFS_PROP_SYNC), "disabled") == 0 &&
         nvpair::nvlist_add_string(props, name(ZFS_PROP_REFRESERVATION), "none") == 0;
}

// Opens the zvol `name` into `volume` and reads its sizes: code 0 with the
// guid, or the failure.
zvol_result open_volume(zfs_session& session, const std::string& name, zfs_dataset& volume,
                        uint64_t& volsize, uint64_t& volblocksize) {
  if (!session.ok()) return not_initialized();
  volume = open_dataset(session, name, ZFS_TYPE_VOLUME);
  if (!volume)
    return {zvol_open_failed,
            fmt::format("Failed to open volume: {}: {}", name, session.error_description())};
  std::string guid = guid_text(volume.get());
  volsize = libzfs::zfs_prop_get_int(volume.get(), ZFS_PROP_VOLSIZE);
  volblocksize = libzfs::zfs_prop_get_int(volume.get(), ZFS_PROP_VOLBLOCKSIZE);
  return {0, std::move(guid)};
}

}  // namespace

std::optional<uint64_t> round_to_volblocksize(uint64_t size, uint64_t block) {
  if (!std::has_single_bit(block)) return std::nullopt;
  if (size % block == 0) return size;
  uint64_t rounded = ((size - 1) | (block - 1)) + 1;
  if (rounded == 0) return std::nullopt;  // past 2^64
  return rounded;
}

zvol_result create_volume(zfs_session& session, const std::string& name, uint64_t& size,
                          uint64_t volblocksize) {
  if (!session.ok()) return not_initialized();
  if (libzfs::zfs_dataset_exists(session.handle(), name.c_str(), ZFS_TYPE_VOLUME) == 1)
    return {zvol_exists, "Destination volume already exists: " + name};
  if (!std::has_single_bit(volblocksize))
    return {zvol_create_failed,
            fmt::format("Invalid volblocksize: must be a power of 2, got {}", volblocksize)};

  nvlist_t* allocated = nullptr;
  if (nvpair::nvlist_alloc(&allocated, NV_UNIQUE_NAME, 0) == 0 && allocated) {
    owned_nvlist props(allocated);
    std::optional<uint64_t> rounded = round_to_volblocksize(size, volblocksize);
    if (!rounded)
      return {zvol_create_failed,
              fmt::format("Failed to create volume: {}: size {} is too large", name, size)};
    size = *rounded;
    if (!add_volume_properties(props.get(), size, volblocksize))
      return {zvol_create_failed,
              fmt::format("Failed to create volume: {}: cannot build its properties", name)};
    if (libzfs::zfs_create(session.handle(), name.c_str(), ZFS_TYPE_VOLUME, props.get()) != 0)
      return {zvol_create_failed, fmt::format("Failed to create volume: {}: {}", name,
                                              session.error_description())};
    log_pool_history(session, history_verb::create_vol, name);
  }

  zfs_dataset volume = open_dataset(session, name, ZFS_TYPE_VOLUME);
  if (!volume)
    return {zvol_no_guid, fmt::format("Failed to obtain volume guid: {}: {}", name,
                                      session.error_description())};
  return {0, guid_text(volume.get())};
}

zvol_result resize_volume(zfs_session& session, const std::string& name, uint64_t& size) {
  zfs_dataset volume;
  uint64_t current = 0, volblocksize = 0;
  zvol_result opened = open_volume(session, name, volume, current, volblocksize);
  if (!opened.ok()) return opened;

  std::optional<uint64_t> rounded = round_to_volblocksize(size, volblocksize);
  if (!rounded)
    return {zvol_resize_failed,
            fmt::format("Failed to resize volume: {}: size {} cannot be rounded to volblocksize {}",
                        name, size, volblocksize)};
  size = *rounded;
  if (size < current)
    return {zvol_resize_smaller,
            fmt::format("Failed to resize volume: {}: new size value mast be greater then the "
                        "current one",
                        name)};
  if (size == current) return opened;

  if (libzfs::zfs_prop_set(volume.get(), libzfs::zfs_prop_to_name(ZFS_PROP_VOLSIZE),
                           fmt::format("{}", size).c_str()) != 0)
    return {zvol_resize_failed,
            fmt::format("Failed to resize volume: {}: {}", name, session.error_description())};
  return opened;
}

zvol_result volume_info(zfs_session& session, uint64_t& volsize, uint64_t& volblocksize,
                        const std::string& name) {
  zfs_dataset volume;
  uint64_t size = 0, block = 0;
  zvol_result opened = open_volume(session, name, volume, size, block);
  if (opened.ok()) {
    volsize = size;
    volblocksize = block;
  }
  return opened;
}

std::optional<std::string> destroy_volume(zfs_session& session, const std::string& name) {
  if (!session.ok()) return libzfs_not_initialized;
  // A failure always carries a text, even when libzfs gives none.
  auto failure = [&] {
    std::string text = session.error_description();
    return text.empty() ? "Failed to destroy volume: " + name : text;
  };
  zfs_dataset volume = open_dataset(session, name, ZFS_TYPE_VOLUME);
  if (!volume) return failure();
  if (libzfs::zfs_destroy(volume.get(), B_FALSE) != 0) return failure();
  log_pool_history(session, history_verb::destroy, name);
  return std::nullopt;
}
