#include "storage/datasets.h"

#include <vector>

#include <fmt/format.h>

#include "storage/dataset_handles.h"
#include "storage/owned_nvlist.h"
#include "storage/pool_history.h"

namespace {

dataset_result not_initialized() { return {storage_not_initialized, libzfs_not_initialized}; }

// Mounts the new filesystem; when that worked, shares it (with `share`) and
// records the mount.
void mount_new(zfs_session& session, zfs_handle_t* filesystem, const std::string& name,
               bool share) {
  if (libzfs::zfs_mount(filesystem, nullptr, 0) != 0) return;
  if (share) libzfs::zfs_share(filesystem);
  log_pool_history(session, history_verb::mount_fs, name);
}

// The log dataset below a root whose guid is `root_guid`.
dataset_result create_log_dataset(zfs_session& session, const std::string& root,
                                  const std::string& root_guid) {
  std::string log = root + "/log";
  owned_nvlist props = make_nvlist();
  if (!props ||
      nvpair::nvlist_add_uint64(props.get(), libzfs::zfs_prop_to_name(ZFS_PROP_QUOTA),
                                log_dataset_quota) != 0)
    return {log_create_failed,
            fmt::format("Failed to create log dataset {}: cannot build its properties", log)};
  if (libzfs::zfs_create(session.handle(), log.c_str(), ZFS_TYPE_FILESYSTEM, props.get()) != 0)
    return {log_create_failed, fmt::format("Failed to create log dataset {}: {}", log,
                                           session.error_description())};
  log_pool_history(session, history_verb::create_fs, log);
  if (zfs_dataset dataset = open_dataset(session, log, ZFS_TYPE_FILESYSTEM))
    mount_new(session, dataset.get(), log, true);
  return {0, root_guid};
}

}  // namespace

bool dataset_exists(zfs_session& session, const std::string& name, int32_t types) {
  if (!session.ok() || name.empty()) return false;
  return libzfs::zfs_dataset_exists(session.handle(), name.c_str(),
                                    static_cast<zfs_type_t>(types)) == 1;
}

dataset_result dataset_guid_text(zfs_session& session, const std::string& name, int32_t type,
                                 bool with_creation) {
  if (!session.ok()) return not_initialized();
  if (type == ZFS_TYPE_POOL) {
    zfs_pool pool(libzfs::zpool_open(session.handle(), name.c_str()));
    char guid[1024] = {};
    if (!pool || libzfs::zpool_get_prop(pool.get(), ZPOOL_PROP_GUID, guid, sizeof guid, nullptr,
                                        B_TRUE) != 0)
      return {-1, session.error_description()};
    return {0, std::string(guid) + (with_creation ? "|" : "")};
  }
  zfs_dataset dataset = open_dataset(session, name, type);
  std::optional<std::string> guid = dataset ? guid_text(dataset.get()) : std::nullopt;
  if (!guid) return {-1, session.error_description()};
  if (with_creation)
    *guid += fmt::format("|{}", libzfs::zfs_prop_get_int(dataset.get(), ZFS_PROP_CREATION));
  return {0, *guid};
}

dataset_result create_root_dataset(zfs_session& session, const std::string& root,
                                   nvlist_t* extra) {
  if (!session.ok()) return not_initialized();
  const std::string refused = "Failed to create root dataset: " + root;
  owned_nvlist props = make_nvlist();
  if (!props ||
      nvpair::nvlist_add_string(props.get(), libzfs::zfs_prop_to_name(ZFS_PROP_REFRESERVATION),
                                "none") != 0 ||
      (extra && nvpair::nvlist_merge(props.get(), extra, 0) != 0))
    return {root_create_failed, refused};
  if (libzfs::zfs_create(session.handle(), root.c_str(), ZFS_TYPE_FILESYSTEM, props.get()) != 0)
    return {root_create_failed, refused};
  log_pool_history(session, history_verb::create_fs, root);

  zfs_dataset dataset = open_dataset(session, root, ZFS_TYPE_FILESYSTEM);
  std::optional<std::string> guid = dataset ? guid_text(dataset.get()) : std::nullopt;
  dataset_result result{0, guid.value_or("")};
  if (!guid)
    result = {root_guid_failed, fmt::format("Failed to obtain root dataset GUID {}: {}", root,
                                            session.error_description())};
  if (dataset) mount_new(session, dataset.get(), root, true);
  if (result.code != 0) return result;
  return create_log_dataset(session, root, result.text);
}

namespace {

// A filesystem below a pool: "pool/name", every component non-empty. A
// bare pool name is refused: its root dataset is the pool itself.
bool below_pool(const std::string& name) {
  return name.find('/') != std::string::npos && name.front() != '/' && name.back() != '/' &&
         name.find("//") == std::string::npos;
}

std::string incorrect_filesystem(const std::string& name) { return "Incorrect filesystem: " + name; }

}  // namespace

dataset_result create_filesystem(zfs_session& session, const std::string& name, nvlist_t* props) {
  if (!session.ok()) return not_initialized();
  if (!below_pool(name)) return {-1, incorrect_filesystem(name)};
  size_t slash = name.find('/');
  std::string pool = name.substr(0, slash);
  if (!zfs_pool(libzfs::zpool_open(session.handle(), pool.c_str())))
    return {-1, "Unknown pool name: " + pool};

  dataset_result result{filesystem_created, ""};
  while (slash != std::string::npos) {
    slash = name.find('/', slash + 1);
    std::string prefix = name.substr(0, slash);
    bool full = slash == std::string::npos;
    if (zfs_dataset existing = open_dataset(session, prefix, ZFS_TYPE_FILESYSTEM)) {
      if (full) result = {filesystem_existed, guid_text(existing.get()).value_or("")};
      continue;
    }
    if (libzfs::zfs_create(session.handle(), prefix.c_str(), ZFS_TYPE_FILESYSTEM,
                           full ? props : nullptr) != 0)
      return {-1, "Failed to create filesystem: " + prefix};
    log_pool_history(session, history_verb::create_fs, prefix);
    zfs_dataset created = open_dataset(session, prefix, ZFS_TYPE_FILESYSTEM);
    if (!created) return {-1, "Failed to open filesystem: " + prefix};
    if (full) result = {filesystem_created, guid_text(created.get()).value_or("")};
    libzfs::zfs_mount(created.get(), nullptr, 0);
  }
  return result;
}

dataset_result rename_filesystem(zfs_session& session, const std::string& new_name,
                                 const std::string& current) {
  if (!session.ok()) return not_initialized();
  {
    zfs_dataset dataset = open_dataset(session, current, ZFS_TYPE_FILESYSTEM);
    if (!dataset) return {rename_open_failed, session.error_description()};
    if (libzfs::zfs_rename(dataset.get(), new_name.c_str(), zfs_rename_flags_t{}) != 0)
      return {rename_failed, session.error_description()};
    log_pool_history(session, history_verb::rename_fs,
                     current + std::string(history_verb::rename_separator) + new_name);
  }
  zfs_dataset renamed = open_dataset(session, new_name, ZFS_TYPE_FILESYSTEM);
  if (!renamed) return {0, ""};
  std::optional<std::string> guid = guid_text(renamed.get());
  if (!guid)
    return {rename_guid_failed, fmt::format("Failed to obtain filesystem GUID {}: {}", new_name,
                                            session.error_description())};
  return {0, *guid};
}

namespace {

struct destroy_context {
  zfs_session* session;
  std::string error;
  std::vector<std::string> destroyed;

  std::string destroyed_text() const {
    if (destroyed.empty()) return "";
    return fmt::format(". Already destroyed: {}", fmt::join(destroyed, ", "));
  }
};

// Destroys one dataset (unmounting a mounted filesystem first) and closes
// its handle.
int destroy_step(zfs_handle_t* handle, void* data) {
  auto& context = *static_cast<destroy_context*>(data);
  zfs_dataset dataset(handle);
  std::string name = dataset_name(handle);
  if (libzfs::zfs_get_type(handle) == ZFS_TYPE_FILESYSTEM &&
      libzfs::zfs_is_mounted(handle, nullptr) &&
      libzfs::zfs_unmountall(handle, 0) != 0) {
    context.error = fmt::format("Failed to unmount {}: {}{}", name, dataset_error(handle),
                                context.destroyed_text());
    return -1;
  }
  if (libzfs::zfs_destroy(handle, B_FALSE) != 0) {
    context.error = fmt::format("Failed to destroy {}: {}{}", name, dataset_error(handle),
                                context.destroyed_text());
    return -1;
  }
  context.destroyed.push_back(name);
  log_pool_history(*context.session, history_verb::destroy, name);
  return 0;
}

}  // namespace

std::optional<std::string> destroy_filesystem(zfs_session& session, const std::string& name) {
  if (!session.ok()) return libzfs_not_initialized;
  // Checked before anything is touched: a pool's root would take every
  // dataset of the pool along and then fail itself.
  if (!below_pool(name)) return incorrect_filesystem(name);
  zfs_dataset dataset = open_dataset(session, name, ZFS_TYPE_FILESYSTEM);
  if (!dataset) return session.error_description();
  if (libzfs::zfs_is_mounted(dataset.get(), nullptr)) {
    if (libzfs::zfs_unmountall(dataset.get(), 0) != 0)
      return fmt::format("Failed to unmount {}: {}", name, session.error_description());
    log_pool_history(session, history_verb::unmountall, name);
  }
  destroy_context context{&session, "", {}};
  if (libzfs::zfs_iter_dependents(dataset.get(), B_FALSE, destroy_step, &context) != 0) {
    if (!context.error.empty()) return context.error;
    return session.error_description();
  }
  if (destroy_step(dataset.release(), &context) != 0) return context.error;
  return std::nullopt;
}
