#include "storage/rollback.h"

#include <fmt/format.h>

#include "storage/dataset_handles.h"
#include "storage/pool_history.h"
#include "storage/snapshots.h"

namespace {

constexpr int filesystem_or_volume = ZFS_TYPE_FILESYSTEM | ZFS_TYPE_VOLUME;
constexpr int no_such_snapshot = 2;

// Keyed by guid in decimal.
struct rollback_report {
  std::map<std::string, std::string> removed_datasets;
  std::map<std::string, std::string> removed_snapshots;
  std::map<std::string, uint64_t> kept_volumes;
  std::map<std::string, std::string> rolled_back;
};

struct rollback_context {
  zfs_session* session = nullptr;
  std::string pattern;             // the snapshot part
  uint64_t target_txg = 0;         // creation txg of the snapshot asked for
  uint64_t snapshot_txg = 0;       // that of the snapshot of the current dataset
  zfs_handle_t* current = nullptr;  // the dataset being rolled back
  std::string error;
  rollback_report report;
};

std::string guid_of(zfs_handle_t* dataset) {
  return std::to_string(libzfs::zfs_prop_get_int(dataset, ZFS_PROP_GUID));
}

uint64_t txg_of(zfs_handle_t* dataset) { return libzfs::zfs_prop_get_int(dataset, ZFS_PROP_CREATETXG); }

rollback_context& context_of(void* data) { return *static_cast<rollback_context*>(data); }

// Notes a filesystem or zvol that depends on a newer snapshot.
int note_dependent(zfs_handle_t* handle, void* data) {
  zfs_dataset dependent(handle);
  if (libzfs::zfs_get_type(handle) & filesystem_or_volume)
    context_of(data).report.removed_datasets.emplace(guid_of(handle), dataset_name(handle));
  return 0;
}

// Notes a snapshot of the current dataset newer than the one rolled back to,
// with what depends on it.
int note_newer(zfs_handle_t* handle, void* data) {
  auto& context = context_of(data);
  zfs_dataset child(handle);
  if (libzfs::zfs_get_type(handle) != ZFS_TYPE_SNAPSHOT || txg_of(handle) <= context.snapshot_txg)
    return 0;
  context.report.removed_snapshots.emplace(guid_of(handle), dataset_name(handle));
  libzfs::zfs_iter_dependents(handle, B_TRUE, note_dependent, &context);
  return 0;
}

// Rolls the current dataset back to one matching snapshot.
int rollback_step(zfs_handle_t* handle, void* data) {
  auto& context = context_of(data);
  zfs_dataset snapshot(handle);
  std::string name = dataset_name(handle);
  context.snapshot_txg = txg_of(handle);
  libzfs::zfs_iter_children(context.current, note_newer, &context);
  if (libzfs::zfs_rollback(context.current, handle, B_FALSE) != 0) {
    context.error =
        fmt::format("Rollback from snapshot {}: {}", name, dataset_error(context.current));
    return -1;
  }
  context.report.rolled_back.emplace(guid_of(handle), name);
  log_pool_history(*context.session, history_verb::rollback, name);
  return 0;
}

// Destroys one dependent of a zvol newer than the snapshot.
int destroy_dependent(zfs_handle_t* handle, void* data) {
  auto& context = context_of(data);
  zfs_dataset dependent(handle);
  std::string name = dataset_name(handle);
  if (libzfs::zfs_get_type(handle) & filesystem_or_volume)
    context.report.removed_datasets.emplace(guid_of(handle), name);
  if (libzfs::zfs_destroy(handle, B_FALSE) != 0) {
    context.error = fmt::format("Destroing dependents {}: {}", name, dataset_error(handle));
    return -1;
  }
  log_pool_history(*context.session, history_verb::destroy, name);
  return 0;
}

// Rolls back one dataset and what lies below it; closes the handle.
int tree_step(zfs_handle_t* handle, void* data) {
  auto& context = context_of(data);
  zfs_dataset dataset(handle);
  zfs_handle_t* outer = context.current;
  context.current = handle;
  int rc = libzfs::zfs_iter_snapspec(handle, context.pattern.c_str(), rollback_step, &context);
  context.current = outer;
  if (rc != 0 && rc != no_such_snapshot) return rc;
  if (int children = libzfs::zfs_iter_filesystems(handle, tree_step, &context)) return children;
  if (libzfs::zfs_get_type(handle) != ZFS_TYPE_VOLUME) return 0;

  std::string guid = guid_of(handle), name = dataset_name(handle);
  if (txg_of(handle) <= context.target_txg) {
    context.report.kept_volumes.emplace(guid, libzfs::zfs_prop_get_int(handle, ZFS_PROP_VOLSIZE));
    return 0;
  }
  if (libzfs::zfs_iter_dependents(handle, B_TRUE, destroy_dependent, &context) != 0) {
    if (context.error.empty())
      context.error = fmt::format("Destroing dependents of {}: {}", name, dataset_error(handle));
    return -1;
  }
  if (libzfs::zfs_destroy(handle, B_FALSE) != 0) {
    context.error = fmt::format("Destroing {}: {}", name, dataset_error(handle));
    return -1;
  }
  context.report.removed_datasets.emplace(guid, name);
  log_pool_history(*context.session, history_verb::destroy, name);
  return 0;
}

// Leaves out of the report what still exists after a failure.
void prune(zfs_session& session, rollback_report& report) {
  auto still = [&](const std::string& name, int types) {
    return libzfs::zfs_dataset_exists(session.handle(), name.c_str(),
                                      static_cast<zfs_type_t>(types)) == 1;
  };
  std::erase_if(report.removed_snapshots,
                [&](const auto& entry) { return still(entry.second, ZFS_TYPE_SNAPSHOT); });
  std::erase_if(report.removed_datasets,
                [&](const auto& entry) { return still(entry.second, filesystem_or_volume); });
}

}  // namespace

dataset_result rollback_snapshot(zfs_session& session, const std::string& name,
                                 std::map<std::string, std::string>& removed_datasets,
                                 std::map<std::string, std::string>& removed_snapshots,
                                 std::map<std::string, uint64_t>& kept_volumes,
                                 std::map<std::string, std::string>& rolled_back) {
  if (!session.ok()) return {storage_not_initialized, libzfs_not_initialized};
  auto failed = [&](const std::string& reason) -> dataset_result {
    return {snapshot_failed, fmt::format("Failed to rollback to snapshot {}: {}", name, reason)};
  };
  auto [dataset_part, snapshot_part] = split_snapshot_name(name);
  zfs_dataset dataset = open_dataset(session, dataset_part, filesystem_or_volume);
  if (!dataset) return failed(session.error_description());
  zfs_dataset snapshot = open_dataset(session, dataset_part + "@" + snapshot_part, ZFS_TYPE_SNAPSHOT);
  if (!snapshot) return failed(session.error_description());

  rollback_context context;
  context.session = &session;
  context.pattern = snapshot_part;
  context.target_txg = txg_of(snapshot.get());
  int rc = tree_step(dataset.release(), &context);
  if (rc != 0) {
    if (context.error.empty()) context.error = session.error_description();
    prune(session, context.report);
  }
  removed_datasets = std::move(context.report.removed_datasets);
  removed_snapshots = std::move(context.report.removed_snapshots);
  kept_volumes = std::move(context.report.kept_volumes);
  rolled_back = std::move(context.report.rolled_back);
  if (rc != 0) return failed(context.error);
  return {0, ""};
}
