#include "storage/pool_status.h"

#include <cstdlib>

#include <fmt/format.h>

#include "storage/nvlist_read.h"
#include "storage/zpool_ref.h"

namespace {

constexpr int name_type_id = VDEV_NAME_TYPE_ID;

std::string state_name(uint64_t state, uint64_t aux) {
  const char* name = libzfs::zpool_state_to_name(static_cast<vdev_state_t>(state), static_cast<vdev_aux_t>(aux));
  return name ? name : "unknown";
}

// The fields every row reads from the vdev's own members and stats.
void fill_common(nvlist_t* vdev, vdev_record& row) {
  row.type = nv_string(vdev, "type").value_or("");
  if (row.type != "dspare") row.path = nv_string(vdev, "path").value_or("");
  row.not_present = nv_uint64(vdev, "not_present").has_value();
  if (auto stats = vdev_stats_array(vdev)) {
    row.state = state_name((*stats)[1], (*stats)[2]);
    row.aux = vdev_aux_name(static_cast<int32_t>((*stats)[2]));
    row.read_errors = (*stats)[20];
    row.write_errors = (*stats)[21];
    row.checksum_errors = (*stats)[22];
  }
}

void add_tree(zpool_handle_t* pool, const std::string& pool_name, nvlist_t* vdev, int32_t depth,
              const std::string& name, std::vector<vdev_record>& rows) {
  auto type = nv_string(vdev, "type");
  if (!type || *type == "indirect") return;
  vdev_record row;
  row.depth = depth;
  row.pool = pool_name;
  row.name = name;
  fill_common(vdev, row);
  if (auto bias = nv_string(vdev, "alloc_bias"))
    row.role = *bias;
  else if (nv_uint64(vdev, "is_log").value_or(0) != 0)
    row.role = "log";
  auto children = nv_lists(vdev, "children");
  row.children = children ? children->size() : 0;
  row.leaf = row.children == 0;
  if (*type == "raidz" || *type == "draid") row.nparity = nv_uint64(vdev, "nparity").value_or(0);
  if (*type == "draid") {
    row.is_draid = true;
    row.draid_ndata = nv_uint64(vdev, "draid_ndata").value_or(0);
    row.draid_nspares = nv_uint64(vdev, "draid_nspares").value_or(0);
    row.draid_ngroups = nv_uint64(vdev, "draid_ngroups").value_or(0);
    row.draid_children = row.children;
  }
  if (depth == 1) {
    auto words = nv_numbers(vdev, "org.openzfs:rebuild_stats");
    if (words && words->size() >= 9 && (*words)[0] != 0) {
      const auto& w = *words;
      row.rebuild = rebuild_record{rebuild_state_name(static_cast<int64_t>(w[0])), w[1], w[2], w[3], w[4],
                                   w[5], w[6], w[7], w[8]};
    }
  }
  rows.push_back(std::move(row));
  if (children)
    for (nvlist_t* child : *children)
      add_tree(pool, pool_name, child, depth + 1, vdev_display_name(pool, child, name_type_id), rows);
}

void add_aux_devices(zpool_handle_t* pool, const std::string& pool_name, nvlist_t* tree,
                     const char* member, const char* role, std::vector<vdev_record>& rows) {
  auto devices = nv_lists(tree, member);
  if (!devices) return;
  for (nvlist_t* device : *devices) {
    vdev_record row;
    row.depth = 1;
    row.pool = pool_name;
    row.name = vdev_display_name(pool, device, 0);
    fill_common(device, row);
    row.role = role;
    row.leaf = true;
    if (row.role == "spare") {
      auto stats = vdev_stats_array(device);
      if (stats && (*stats)[2] == 10)
        row.spare_state = "INUSE";
      else if (stats && (*stats)[1] == VDEV_STATE_HEALTHY)
        row.spare_state = "AVAIL";
    }
    rows.push_back(std::move(row));
  }
}

struct inventory_walk {
  std::vector<vdev_record>* rows;
  int unreadable = 0;
};

int inventory_step(zpool_handle_t* handle, void* data) {
  auto& walk = *static_cast<inventory_walk*>(data);
  zpool_ref pool(handle);
  std::string name = libzfs::zpool_get_name(handle) ? libzfs::zpool_get_name(handle) : "";
  boolean_t missing = B_FALSE;
  libzfs::zpool_refresh_stats(handle, &missing);
  nvlist_t* config = libzfs::zpool_get_config(handle, nullptr);
  nvlist_t* tree = config ? nv_list(config, "vdev_tree") : nullptr;
  if (!tree) {
    ++walk.unreadable;
    return 0;
  }
  size_t first = walk.rows->size();
  add_tree(handle, name, tree, 0, name, *walk.rows);
  if (walk.rows->size() == first) {
    ++walk.unreadable;
    return 0;
  }
  vdev_record& root = (*walk.rows)[first];
  auto scan = nv_numbers(tree, "scan_stats");
  if (scan && scan->size() >= 15 && ((*scan)[0] != 0 || (*scan)[1] != 0)) {
    const auto& w = *scan;
    root.scan = scan_record{scan_function_name(static_cast<int64_t>(w[0])),
                            scan_state_name(static_cast<int64_t>(w[1])), w[2], w[3], w[4], w[5], w[14], w[7],
                            w[8]};
  }
  root.error_count = nv_uint64(config, "error_count");
  add_aux_devices(handle, name, tree, "spares", "spare", *walk.rows);
  add_aux_devices(handle, name, tree, "l2cache", "cache", *walk.rows);
  return 0;
}

struct stats_walk {
  std::vector<vdev_stats_record>* rows;
};

void add_stats(zpool_handle_t* pool, const std::string& pool_name, nvlist_t* vdev, int32_t depth,
               const std::string& name, std::vector<vdev_stats_record>& rows) {
  // libzfs names removed vdevs "indirect-<id>" with the id flag: their type
  // tells them apart.
  if (name == "indirect" || nv_string(vdev, "type").value_or("") == "indirect") return;
  auto stats = nv_numbers(vdev, "vdev_stats");
  if (stats && stats->size() >= 45)
    rows.push_back({depth, pool_name, name, std::vector<uint64_t>(stats->begin(), stats->begin() + 45)});
  if (auto children = nv_lists(vdev, "children"))
    for (nvlist_t* child : *children)
      add_stats(pool, pool_name, child, depth + 1, vdev_display_name(pool, child, name_type_id), rows);
}

// 0, or -1 when the pool's statistics could not be read.
int stats_step(zpool_handle_t* handle, void* data) {
  auto& walk = *static_cast<stats_walk*>(data);
  zpool_ref pool(handle);
  boolean_t missing = B_FALSE;
  if (libzfs::zpool_refresh_stats(handle, &missing) != 0) return -1;
  if (missing) return 0;
  nvlist_t* config = libzfs::zpool_get_config(handle, nullptr);
  if (!config) return -1;
  nvlist_t* tree = nv_list(config, "vdev_tree");
  if (!tree) return 0;
  std::string name = libzfs::zpool_get_name(handle);
  add_stats(handle, name, tree, 0, name, *walk.rows);
  return 0;
}

}  // namespace

std::string vdev_display_name(zpool_handle_t* pool, nvlist_t* vdev, int flags) {
  char* name = libzfs::zpool_vdev_name(libzfs::zpool_get_handle(pool), pool, vdev, flags);
  if (!name) return "";
  std::string text = name;
  std::free(name);
  return text;
}

inventory_result pool_inventory(zfs_session& zfs, std::vector<vdev_record>& rows) {
  rows.clear();
  if (!zfs.ok()) return {12, libzfs_not_initialized};
  inventory_walk walk{&rows};
  libzfs::libzfs_print_on_error(zfs.handle(), B_FALSE);
  int rc = libzfs::zpool_iter(zfs.handle(), inventory_step, &walk);
  libzfs::libzfs_print_on_error(zfs.handle(), B_TRUE);
  if (rc != 0)
    return {11, fmt::format("zpool_iter failed, rc={}; last libzfs error: {}", rc, zfs_error_text(zfs.handle()))};
  if (walk.unreadable > 0)
    return {11, fmt::format("zpool_iter returned success but {} pool(s) could not be read; the snapshot is "
                            "incomplete",
                            walk.unreadable)};
  return {};
}

std::vector<vdev_record> pool_inventory(zfs_session& zfs) {
  std::vector<vdev_record> rows;
  pool_inventory(zfs, rows);
  return rows;
}

std::vector<vdev_stats_record> list_vdev_stats(zfs_session& zfs, const std::string& pool) {
  std::vector<vdev_stats_record> rows;
  if (!zfs.ok()) return rows;
  stats_walk walk{&rows};
  if (pool.empty()) {
    libzfs::zpool_iter(zfs.handle(), stats_step, &walk);
  } else if (zpool_handle_t* handle = libzfs::zpool_open(zfs.handle(), pool.c_str())) {
    stats_step(handle, &walk);
  }
  return rows;
}

std::optional<std::string> find_disk_in_vdev_tree(nvlist_t* vdev, const std::string& wanted,
                                                  std::string& found) {
  auto type = nv_string(vdev, "type");
  if (!type) return "Cannot find key: 'type' in vdev_tree";
  if (auto children = nv_lists(vdev, "children")) {
    for (nvlist_t* child : *children)
      if (auto error = find_disk_in_vdev_tree(child, wanted, found)) return error;
    return std::nullopt;
  }
  if (*type != "disk") return std::nullopt;
  auto path = nv_string(vdev, "path");
  if (!path) return "Cannot find key: 'path' in vdev_tree";
  auto guid = nv_uint64(vdev, "guid");
  if (!guid) return "Cannot find key: 'guid' in vdev_tree";
  auto whole_disk = nv_uint64(vdev, "whole_disk");
  if (!whole_disk) return "Cannot find key: 'whole_disk' in vdev_tree";
  if (*whole_disk == 0) return fmt::format("Not disk '{}' found in vdev_tree", *path);
  if (wanted != *path && wanted != fmt::format("{}", *guid)) return std::nullopt;
  if (!found.empty()) return fmt::format("Possible disk '{}' duplcation in vdev_tree", *path);
  found = *path;
  return std::nullopt;
}

std::optional<std::vector<uint64_t>> vdev_stats_array(nvlist_t* vdev) {
  auto stats = nv_numbers(vdev, "vdev_stats");
  if (!stats || stats->size() < 23) return std::nullopt;
  return std::vector<uint64_t>(stats->begin(), stats->end());
}

const char* vdev_aux_name(int32_t aux) {
  static const char* const names[] = {"",
                                      "cannot open",
                                      "corrupted data",
                                      "insufficient replicas",
                                      "missing device",
                                      "device is too small",
                                      "invalid label",
                                      "on-disk version is too new",
                                      "on-disk version is too old",
                                      "unsupported feature(s)",
                                      "hot spare in use by another pool",
                                      "too many errors",
                                      "experienced I/O failures",
                                      "bad intent log",
                                      "external device fault",
                                      "split into a new pool",
                                      "unsupported blocksize",
                                      "persistent external device fault",
                                      "active on another host",
                                      "all children offline",
                                      "unsupported blocksize"};
  return aux >= 1 && aux <= 20 ? names[aux] : "";
}

const char* scan_function_name(int64_t code) {
  switch (code) {
    case 1: return "scrub";
    case 2: return "resilver";
    case 3: return "errorscrub";
    default: return "none";
  }
}

const char* scan_state_name(int64_t code) {
  switch (code) {
    case 1: return "scanning";
    case 2: return "finished";
    case 3: return "canceled";
    case 4: return "errorscrubbing";
    default: return "none";
  }
}

const char* rebuild_state_name(int64_t code) {
  switch (code) {
    case 1: return "active";
    case 2: return "canceled";
    case 3: return "complete";
    default: return "none";
  }
}

std::string zfs_error_text(libzfs_handle_t* handle) {
  const char* text = handle ? libzfs::libzfs_error_description(handle) : nullptr;
  return text && *text ? text : "unknown libzfs error";
}
