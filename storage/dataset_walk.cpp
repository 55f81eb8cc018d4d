#include "storage/dataset_walk.h"

#include <algorithm>
#include <climits>

#include "storage/dataset_handles.h"
#include "storage/dataset_properties.h"
#include "storage/property_names.h"

namespace {

struct walk_context {
  int32_t types = 0;
  int32_t depth = 0;
  std::set<std::string> property_filter;
  std::set<std::string> child_filter;
  std::string current;  // the dataset whose snapshots are being collected
  dataset_map result;
};

bool passes_child_filter(const walk_context& walk, const std::string& name) {
  if (walk.child_filter.empty()) return true;
  size_t slash = name.rfind('/');
  if (slash == std::string::npos) return false;
  return walk.child_filter.count(name.substr(slash + 1)) > 0;
}

void record(walk_context& walk, zfs_handle_t* dataset, const std::string& name, int32_t type) {
  dataset_entry entry{type, {}};
  read_dataset_properties(dataset, entry.properties, walk.property_filter);
  walk.result.emplace(name, std::move(entry));
}

int walk_snapshot(zfs_handle_t* handle, void* data) {
  auto& walk = *static_cast<walk_context*>(data);
  zfs_dataset snapshot(handle);
  std::string name = dataset_name(handle);
  if (libzfs::zfs_get_type(handle) == ZFS_TYPE_SNAPSHOT && name.rfind(walk.current + "@", 0) == 0)
    record(walk, handle, name, ZFS_TYPE_SNAPSHOT);
  return 0;
}

int walk_dataset(zfs_handle_t* handle, void* data) {
  auto& walk = *static_cast<walk_context*>(data);
  zfs_dataset dataset(handle);
  std::string name = dataset_name(handle);
  int32_t type = libzfs::zfs_get_type(handle);
  if (type & walk.types) {
    if (passes_child_filter(walk, name)) record(walk, handle, name, type);
    if (type != ZFS_TYPE_SNAPSHOT && (walk.types & ZFS_TYPE_SNAPSHOT)) {
      walk.current = name;
      libzfs::zfs_iter_dependents(handle, B_FALSE, walk_snapshot, &walk);
    }
  }
  int children = 0;
  if (walk.depth >= 1) {
    --walk.depth;
    children = libzfs::zfs_iter_children(handle, walk_dataset, &walk);
    ++walk.depth;
  }
  return children != 0 ? 1 : 0;
}

walk_context make_walk(const std::string& properties, int32_t types, uint64_t depth) {
  walk_context walk;
  walk.types = types;
  walk.depth = static_cast<int32_t>(std::min<uint64_t>(depth, INT32_MAX));
  walk.property_filter = resolve_property_names(properties);
  return walk;
}

}  // namespace

dataset_map list_root_datasets(zfs_session& session, const std::string& properties,
                               int32_t types, uint64_t depth) {
  walk_context walk = make_walk(properties, types, depth);
  if (session.ok()) libzfs::zfs_iter_root(session.handle(), walk_dataset, &walk);
  return std::move(walk.result);
}

dataset_map list_child_datasets(zfs_session& session, const std::string& parent,
                                const std::string& properties, int32_t types, uint64_t depth,
                                std::set<std::string> child_filter) {
  walk_context walk = make_walk(properties, types, depth);
  walk.child_filter = std::move(child_filter);
  if (!session.ok()) return {};
  zfs_dataset dataset = open_dataset(session, parent, ZFS_TYPE_FILESYSTEM | ZFS_TYPE_VOLUME);
  if (dataset) libzfs::zfs_iter_children(dataset.get(), walk_dataset, &walk);
  return std::move(walk.result);
}
