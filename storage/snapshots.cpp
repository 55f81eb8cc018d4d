#include "storage/snapshots.h"

#include <fmt/format.h>

#include "storage/dataset_handles.h"
#include "storage/owned_nvlist.h"
#include "storage/pool_history.h"

namespace {

constexpr int filesystem_or_volume = ZFS_TYPE_FILESYSTEM | ZFS_TYPE_VOLUME;
constexpr int no_such_snapshot = 2;  // zfs_iter_snapspec: a named snapshot is missing

dataset_result not_initialized() { return {storage_not_initialized, libzfs_not_initialized}; }

struct snapshot_collector {
  nvlist_t* names;
  std::string suffix;  // "@" + snapshot part, or the pattern
};

// Adds the snapshot name of a consistent dataset and walks below it; a
// dataset being received into is left out with everything below it.
int collect_consistent(zfs_handle_t* dataset, snapshot_collector& collector) {
  if (libzfs::zfs_prop_get_int(dataset, ZFS_PROP_INCONSISTENT) != 0) return 0;
  nvpair::fnvlist_add_boolean(collector.names, (dataset_name(dataset) + collector.suffix).c_str());
  return libzfs::zfs_iter_filesystems(
      dataset,
      [](zfs_handle_t* child, void* data) {
        zfs_dataset owned(child);
        return collect_consistent(child, *static_cast<snapshot_collector*>(data));
      },
      &collector);
}

// Collects the snapshots of one dataset that match the pattern, then those
// below it; a dataset without a match is no failure.
int collect_matching(zfs_handle_t* dataset, snapshot_collector& collector) {
  int rc = libzfs::zfs_iter_snapspec(
      dataset, collector.suffix.c_str(),
      [](zfs_handle_t* snapshot, void* data) {
        zfs_dataset owned(snapshot);
        nvpair::fnvlist_add_boolean(static_cast<snapshot_collector*>(data)->names,
                                    dataset_name(snapshot).c_str());
        return 0;
      },
      &collector);
  if (rc != 0 && rc != no_such_snapshot) return rc;
  return libzfs::zfs_iter_filesystems(
      dataset,
      [](zfs_handle_t* child, void* data) {
        zfs_dataset owned(child);
        return collect_matching(child, *static_cast<snapshot_collector*>(data));
      },
      &collector);
}

}  // namespace

std::pair<std::string, std::string> split_snapshot_name(const std::string& name) {
  size_t at = name.find('@');
  if (at == std::string::npos) return {name, name};
  return {name.substr(0, at), name.substr(at + 1)};
}

dataset_result create_snapshot(zfs_session& session, const std::string& dataset,
                               const std::string& snapshot) {
  if (!session.ok()) return not_initialized();
  const std::string full = dataset + "@" + snapshot;
  auto failed = [&](const std::string& reason) -> dataset_result {
    return {snapshot_failed, fmt::format("Failed to create snapshot {}: {}", full, reason)};
  };
  owned_nvlist names = make_nvlist();
  if (!names) return failed("cannot allocate the snapshot list");
  {
    zfs_dataset top = open_dataset(session, dataset, filesystem_or_volume);
    if (!top) return failed(session.error_description());
    snapshot_collector collector{names.get(), "@" + snapshot};
    if (collect_consistent(top.get(), collector) != 0) return failed(session.error_description());
  }
  if (nvpair::nvlist_empty(names.get())) return failed("dataset is inconsistent (a receive is in progress)");
  if (libzfs::zfs_snapshot_nvl(session.handle(), names.get(), nullptr) != 0)
    return failed(session.error_description());

  zfs_dataset taken = open_dataset(session, full, ZFS_TYPE_SNAPSHOT);
  if (!taken)
    return {snapshot_no_guid, fmt::format("Failed to obtain snapshot guid {}: {}", full,
                                          session.error_description())};
  std::string text = fmt::format("{}|{}", libzfs::zfs_prop_get_int(taken.get(), ZFS_PROP_GUID),
                                 libzfs::zfs_prop_get_int(taken.get(), ZFS_PROP_CREATION));
  log_pool_history(session, history_verb::snapshot, full);
  return {0, text};
}

std::optional<std::string> destroy_all_snapshots(zfs_session& session, const std::string& name) {
  if (!session.ok()) return libzfs_not_initialized;
  auto [dataset_part, pattern] = split_snapshot_name(name);
  owned_nvlist names = make_nvlist();
  if (!names) return "cannot allocate the snapshot list";
  {
    zfs_dataset dataset = open_dataset(session, dataset_part, filesystem_or_volume);
    if (!dataset) return session.error_description();
    snapshot_collector collector{names.get(), pattern};
    if (collect_matching(dataset.get(), collector) != 0) return session.error_description();
  }
  if (nvpair::nvlist_empty(names.get())) return "could not find any snapshots to destroy";
  if (libzfs::zfs_destroy_snaps_nvl(session.handle(), names.get(), B_FALSE) != 0)
    return session.error_description();
  log_pool_history(session, history_verb::destroyall, name);
  return std::nullopt;
}

std::optional<std::string> list_volume_clones(
    zfs_session& session, std::vector<std::pair<std::string, std::string>>& clones,
    const std::string& name) {
  if (!session.ok()) return libzfs_not_initialized;
  zfs_dataset volume = open_dataset(session, name, ZFS_TYPE_VOLUME);
  if (!volume) return session.error_description();
  int rc = libzfs::zfs_iter_dependents(
      volume.get(), B_FALSE,
      [](zfs_handle_t* handle, void* data) {
        zfs_dataset dependent(handle);
        if (!(libzfs::zfs_get_type(handle) & filesystem_or_volume)) return 0;
        std::optional<std::string> origin = [&]() -> std::optional<std::string> {
          char text[1024] = {};
          if (libzfs::zfs_prop_get(handle, ZFS_PROP_ORIGIN, text, sizeof text, nullptr, nullptr,
                                   0, B_FALSE) != 0)
            return std::nullopt;
          return std::string(text);
        }();
        if (origin && !origin->empty())
          static_cast<std::vector<std::pair<std::string, std::string>>*>(data)->emplace_back(
              dataset_name(handle), *origin);
        return 0;
      },
      &clones);
  // A walk that broke off would leave the list short without a word.
  if (rc != 0) return session.error_description();
  return std::nullopt;
}
