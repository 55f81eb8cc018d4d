#include "sim/libzfs/snapshot_model.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <map>
#include <random>

#include <libzfs.h>

#include "sim/libzfs/dataset_model.h"
#include "sim/libzfs/names.h"

namespace zfs_sim {

namespace {

Failure fail(int code, std::string text = "") {
  if (text.empty()) text = error_text(code);
  return Failure{code, std::move(text)};
}

uint64_t new_guid() {
  static std::mt19937_64 engine{std::random_device{}()};
  uint64_t guid = 0;
  while (guid == 0) guid = engine();
  return guid;
}

}  // namespace

uint64_t SnapshotModel::txg_of(const std::string& name) const {
  auto it = datasets().find(name);
  return it == datasets().end() ? 0 : it->value("createtxg", uint64_t{0});
}

Outcome SnapshotModel::snapshot(const std::vector<std::string>& names) {
  if (names.empty()) return fail(EZFS_BADTYPE, "no snapshots to take");
  for (const std::string& name : names) {
    if (auto problem = name_problem(name, ZFS_TYPE_SNAPSHOT))
      return fail(EZFS_INVALIDNAME, "'" + name + "': " + *problem);
    std::string dataset = parent_of(name);
    if (Outcome failure = model_.check_open(dataset, ZFS_TYPE_FILESYSTEM | ZFS_TYPE_VOLUME))
      return fail(failure->code, "'" + dataset + "': " + failure->text);
    if (model_.dataset_type(name)) return fail(EZFS_EXISTS, "snapshot '" + name + "' already exists");
    if (datasets()[dataset].value("inconsistent", false))
      return fail(EZFS_BUSY, "'" + dataset + "' is busy: a receive is in progress");
    if (std::count(names.begin(), names.end(), name) > 1)
      return fail(EZFS_EXISTS, "snapshot '" + name + "' named twice");
  }
  // One transaction group for all of them, per pool.
  std::map<std::string, uint64_t> txgs;
  for (const std::string& name : names) {
    std::string pool_name = pool_of(name);
    if (!txgs.count(pool_name)) {
      nlohmann::json& pool = model_.state().state()["pools"][pool_name];
      txgs[pool_name] = pool.value("txg", uint64_t{1}) + 1;
      pool["txg"] = txgs[pool_name];
    }
  }
  for (const std::string& name : names) {
    uint64_t txg = txgs[pool_of(name)];
    std::string dataset = parent_of(name);
    datasets()[name] = {{"type", static_cast<int>(ZFS_TYPE_SNAPSHOT)},
                        {"guid", new_guid()},
                        {"createtxg", txg},
                        {"creation", static_cast<uint64_t>(std::time(nullptr))},
                        {"props", datasets()[dataset].value("props", nlohmann::json::object())}};
  }
  model_.state().mark_changed();
  return std::nullopt;
}

Outcome SnapshotModel::destroy_snapshots(const std::vector<std::string>& names) {
  DatasetModel datasets_model(model_);
  std::vector<std::string> existing;
  for (const std::string& name : names) {
    std::optional<int> type = model_.dataset_type(name);
    if (!type) continue;
    if (*type != ZFS_TYPE_SNAPSHOT) return fail(EZFS_BADTYPE, "'" + name + "' is not a snapshot");
    if (!datasets_model.clones_of(name).empty())
      return fail(EZFS_EXISTS, "snapshot '" + name + "' has dependent clones");
    existing.push_back(name);
  }
  for (const std::string& name : existing)
    if (Outcome failure = model_.destroy(name)) return failure;
  return std::nullopt;
}

std::vector<std::string> SnapshotModel::snapshots_of(const std::string& dataset) const {
  std::vector<std::string> snaps;
  for (const std::string& child : model_.children(dataset, true))
    if (child.find('@') != std::string::npos) snaps.push_back(child);
  std::stable_sort(snaps.begin(), snaps.end(), [&](const std::string& a, const std::string& b) {
    return txg_of(a) < txg_of(b);
  });
  return snaps;
}

std::vector<std::string> SnapshotModel::match(const std::string& dataset, const std::string& spec,
                                              bool& missing) const {
  std::vector<std::string> all = snapshots_of(dataset), found;
  auto add = [&](const std::string& name) {
    if (std::find(found.begin(), found.end(), name) == found.end()) found.push_back(name);
  };
  size_t start = 0;
  while (start <= spec.size()) {
    size_t comma = spec.find(',', start);
    std::string item = spec.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    start = comma == std::string::npos ? spec.size() + 1 : comma + 1;
    size_t percent = item.find('%');
    if (percent == std::string::npos) {
      if (model_.dataset_type(dataset + "@" + item) == ZFS_TYPE_SNAPSHOT)
        add(dataset + "@" + item);
      else
        missing = true;
      continue;
    }
    std::string from = item.substr(0, percent), to = item.substr(percent + 1);
    if ((!from.empty() && !model_.dataset_type(dataset + "@" + from)) ||
        (!to.empty() && !model_.dataset_type(dataset + "@" + to))) {
      missing = true;
      continue;
    }
    uint64_t low = from.empty() ? 0 : txg_of(dataset + "@" + from);
    uint64_t high = to.empty() ? UINT64_MAX : txg_of(dataset + "@" + to);
    for (const std::string& snap : all)
      if (txg_of(snap) >= low && txg_of(snap) <= high) add(snap);
  }
  return found;
}

Outcome SnapshotModel::rollback(const std::string& dataset, const std::string& snapshot) {
  if (parent_of(snapshot) != dataset || model_.dataset_type(snapshot) != ZFS_TYPE_SNAPSHOT)
    return fail(EZFS_BADTYPE, "'" + snapshot + "' is not a snapshot of '" + dataset + "'");
  if (Outcome failure = model_.check_open(dataset, ZFS_TYPE_FILESYSTEM | ZFS_TYPE_VOLUME))
    return failure;
  DatasetModel datasets_model(model_);
  uint64_t target = txg_of(snapshot);
  for (const std::string& snap : snapshots_of(dataset)) {
    if (txg_of(snap) <= target) continue;
    for (const std::string& clone : datasets_model.clones_of(snap))
      if (Outcome failure = datasets_model.destroy_tree(clone)) return failure;
    if (Outcome failure = model_.destroy(snap)) return failure;
  }
  nlohmann::json props = datasets()[snapshot].value("props", nlohmann::json::object());
  if (datasets()[dataset].value("type", 0) == ZFS_TYPE_VOLUME && props.contains("volsize")) {
    std::string path = zvol_path(model_.state().root(), dataset);
    int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd >= 0) {
      int rc = ::ftruncate(fd, static_cast<off_t>(props["volsize"].get<uint64_t>()));
      ::close(fd);
      if (rc != 0) return fail(EZFS_IO, "cannot size " + path);
    }
  }
  datasets()[dataset]["props"] = std::move(props);
  model_.state().mark_changed();
  return std::nullopt;
}

}  // namespace zfs_sim
