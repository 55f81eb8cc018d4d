#include "storage/clones.h"

#include <fmt/format.h>

#include "storage/dataset_handles.h"
#include "storage/owned_nvlist.h"
#include "storage/pool_history.h"

namespace {

dataset_result not_initialized() { return {storage_not_initialized, libzfs_not_initialized}; }

std::string clone_line(const std::string& new_name, const std::string& origin) {
  return new_name + std::string(history_verb::clone_separator) + origin;
}

// The fixed properties of a cloud image clone; null when they cannot be
// built.
owned_nvlist image_clone_properties(uint64_t volsize) {
  owned_nvlist props = make_nvlist();
  if (!props) return nullptr;
  auto name = [](zfs_prop_t prop) { return libzfs::zfs_prop_to_name(prop); };
  bool added =
      nvpair::nvlist_add_uint64(props.get(), name(ZFS_PROP_VOLSIZE), volsize) == 0 &&
      nvpair::nvlist_add_string(props.get(), name(ZFS_PROP_VOLMODE), "dev") == 0 &&
      nvpair::nvlist_add_string(props.get(), name(ZFS_PROP_SYNC), "disabled") == 0 &&
      nvpair::nvlist_add_string(props.get(), name(ZFS_PROP_RESERVATION), "none") == 0 &&
      nvpair::nvlist_add_string(props.get(), name(ZFS_PROP_REFRESERVATION), "none") == 0;
  return added ? std::move(props) : nullptr;
}

}  // namespace

dataset_result clone_filesystem(zfs_session& session, const std::string& origin,
                                const std::string& new_name, nvlist_t* props) {
  if (!session.ok()) return not_initialized();
  if (libzfs::zfs_dataset_exists(session.handle(), new_name.c_str(), ZFS_TYPE_FILESYSTEM) == 1)
    return {-1, "Destination filesistem already exists: " + new_name};
  {
    zfs_dataset snapshot = open_dataset(session, origin, ZFS_TYPE_SNAPSHOT);
    if (!snapshot) return {-1, "Incorrect snapshot: " + origin};
    if (libzfs::zfs_name_valid(new_name.c_str(), ZFS_TYPE_FILESYSTEM) &&
        libzfs::zfs_create_ancestors(session.handle(), new_name.c_str()) != 0)
      return {-1, fmt::format("Failed to create the ancestors of: {}: {}", new_name,
                              session.error_description())};
    if (libzfs::zfs_clone(snapshot.get(), new_name.c_str(), props) != 0)
      return {-1, fmt::format("Failed to clone {}: {}. Source snapshot: {}", new_name,
                              session.error_description(), origin)};
    log_pool_history(session, history_verb::clone_fs, clone_line(new_name, origin));
  }
  zfs_dataset clone = open_dataset(session, new_name, ZFS_TYPE_FILESYSTEM);
  if (!clone) return {-1, "Failed to open filesystem: " + new_name};
  std::string guid = guid_text(clone.get()).value_or("");
  if (libzfs::zfs_mount(clone.get(), nullptr, 0) == 0)
    log_pool_history(session, history_verb::mount_fs, new_name);
  return {0, guid};
}

dataset_result clone_image_volume(zfs_session& session, const std::string& new_name,
                                  const std::string& origin, int32_t id, uint64_t volsize,
                                  const std::string& snapshot) {
  if (!session.ok()) return not_initialized();
  libzfs_handle_t* handle = session.handle();
  if (libzfs::zfs_dataset_exists(handle, new_name.c_str(), ZFS_TYPE_VOLUME) == 1)
    return {image_clone_failed, "Destination volume already exists: " + new_name};
  if (libzfs::zfs_dataset_exists(handle, origin.c_str(), ZFS_TYPE_VOLUME) == 0)
    return {image_origin_missing, "Origin volume not found: " + origin};

  std::string base = snapshot.empty() ? fmt::format("{}@.clone.source_{}", origin, id)
                                      : origin + "@" + snapshot;
  if (libzfs::zfs_dataset_exists(handle, base.c_str(), ZFS_TYPE_SNAPSHOT) != 1) {
    if (!snapshot.empty()) return {image_origin_missing, "Origin snapshot not found: " + base};
    if (libzfs::zfs_snapshot(handle, base.c_str(), B_TRUE, nullptr) != 0)
      return {image_origin_missing,
              fmt::format("Failed to create base snapshot for cloud image: {}: {}", origin,
                          session.error_description())};
  }
  {
    // A snapshot that cannot be opened cannot be cloned: a failure, not an
    // empty success.
    zfs_dataset source = open_dataset(session, base, ZFS_TYPE_SNAPSHOT);
    if (!source)
      return {image_origin_missing, fmt::format("Failed to open base snapshot {}: {}", base,
                                                session.error_description())};
    owned_nvlist props = image_clone_properties(volsize);
    if (!props)
      return {image_clone_failed,
              fmt::format("Failed to clone cloud image volume {}: cannot build its properties. "
                          "Source snapshot: {}",
                          new_name, base)};
    if (libzfs::zfs_clone(source.get(), new_name.c_str(), props.get()) != 0)
      return {image_clone_failed,
              fmt::format("Failed to clone cloud image volume {}: {}. Source snapshot: {}",
                          new_name, session.error_description(), base)};
    log_pool_history(session, history_verb::clone_vol, clone_line(new_name, base));
  }
  zfs_dataset clone = open_dataset(session, new_name, ZFS_TYPE_VOLUME);
  if (!clone)
    return {image_clone_no_guid, fmt::format("Failed to obtain cloned volume guid {}: {}",
                                             new_name, session.error_description())};
  return {0, fmt::format("{}", libzfs::zfs_prop_get_int(clone.get(), ZFS_PROP_GUID))};
}
