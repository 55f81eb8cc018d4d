// The stand-in's snapshot entry points.
#pragma GCC visibility push(default)
#include <libzfs.h>
#pragma GCC visibility pop

#include <utility>
#include <vector>

#include "sim/libzfs/entry_helpers.h"
#include "sim/libzfs/snapshot_model.h"

using zfs_sim::Failure;
using zfs_sim::Outcome;
using zfs_sim::SnapshotModel;
using zfs_sim::ZfsModel;
using zfs_sim::change;
using zfs_sim::quoted;

namespace zfs_sim {
int call_each(libzfs_handle_t* hdl, const std::vector<std::pair<std::string, int>>& found,
              zfs_iter_f func, void* data);
}  // namespace zfs_sim

namespace {

// The first name of a snapshot list, for the history's pool.
std::string first_of(const std::vector<std::string>& names) {
  return names.empty() ? std::string() : names.front();
}

}  // namespace

extern "C" {

int zfs_snapshot(libzfs_handle_t* hdl, const char* name, boolean_t recursive, nvlist_t*) {
  if (!hdl || !name) return -1;
  std::string full = name;
  return change(hdl, "zfs_snapshot", quoted("cannot create snapshot", full), full, [&](ZfsModel& model) {
    std::vector<std::string> names{full};
    size_t at = full.find('@');
    if (recursive && at != std::string::npos) {
      std::string dataset = full.substr(0, at), snap = full.substr(at);
      std::vector<std::string> pending = model.children(dataset, false);
      while (!pending.empty()) {
        std::string next = pending.back();
        pending.pop_back();
        names.push_back(next + snap);
        for (const std::string& child : model.children(next, false)) pending.push_back(child);
      }
    }
    return SnapshotModel(model).snapshot(names);
  });
}

int zfs_snapshot_nvl(libzfs_handle_t* hdl, nvlist_t* snaps, nvlist_t*) {
  if (!hdl) return -1;
  std::vector<std::string> names = zfs_sim::names_of(snaps);
  return change(hdl, "zfs_snapshot_nvl", "cannot create snapshots", first_of(names),
                [&](ZfsModel& model) { return SnapshotModel(model).snapshot(names); });
}

int zfs_destroy_snaps_nvl(libzfs_handle_t* hdl, nvlist_t* snaps, boolean_t) {
  if (!hdl) return -1;
  std::vector<std::string> names = zfs_sim::names_of(snaps);
  return change(hdl, "zfs_destroy_snaps_nvl", "cannot destroy snapshots", first_of(names),
                [&](ZfsModel& model) { return SnapshotModel(model).destroy_snapshots(names); });
}

int zfs_iter_snapspec(zfs_handle_t* zhp, const char* spec, zfs_iter_f func, void* data) {
  if (!zhp || !spec || !func) return -1;
  std::vector<std::pair<std::string, int>> found;
  bool missing = false;
  Outcome outcome = zfs_sim::with_model(zhp->hdl, "zfs_iter_snapspec", [&](ZfsModel& model) -> Outcome {
    if (!model.dataset_type(zhp->name)) return Failure{EZFS_NOENT, ""};
    for (const std::string& name : SnapshotModel(model).match(zhp->name, spec, missing))
      found.emplace_back(name, ZFS_TYPE_SNAPSHOT);
    return std::nullopt;
  });
  if (outcome) return zfs_sim::record(zhp->hdl, quoted("cannot iterate snapshots of", zhp->name), *outcome);
  if (int rc = zfs_sim::call_each(zhp->hdl, found, func, data)) return rc;
  return missing ? 2 : 0;  // ENOENT: a named snapshot is missing
}

int zfs_rollback(zfs_handle_t* zhp, zfs_handle_t* snap, boolean_t) {
  if (!zhp || !snap) return -1;
  return change(zhp->hdl, "zfs_rollback", quoted("cannot rollback", zhp->name), zhp->name,
                [&](ZfsModel& model) { return SnapshotModel(model).rollback(zhp->name, snap->name); });
}

}  // extern "C"
