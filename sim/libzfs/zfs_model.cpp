#include "sim/libzfs/zfs_model.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <random>

#include <libzfs.h>

#include "sim/libzfs/names.h"

namespace zfs_sim {

namespace fs = std::filesystem;

namespace {

uint64_t new_guid() {
  static std::mt19937_64 engine{std::random_device{}()};
  uint64_t guid = 0;
  while (guid == 0) guid = engine();
  return guid;
}

uint64_t now() { return static_cast<uint64_t>(std::time(nullptr)); }

Failure fail(int code, std::string text = "") {
  if (text.empty()) text = error_text(code);
  return Failure{code, std::move(text)};
}

}  // namespace

void ZfsModel::set_fault(const std::string& function, int code, int remaining,
                         const std::string& text, int skip) {
  state_.state()["faults"][function] = {
      {"errno", code}, {"remaining", remaining}, {"text", text}, {"skip", skip}};
  state_.mark_changed();
}

void ZfsModel::clear_faults() {
  state_.state()["faults"] = nlohmann::json::object();
  state_.mark_changed();
}

void ZfsModel::note_call(const std::string& function, nlohmann::json args) {
  constexpr size_t kept = 256;
  nlohmann::json& calls = state_.state()["calls"];
  if (!calls.is_array()) calls = nlohmann::json::array();
  args["function"] = function;
  calls.push_back(std::move(args));
  if (calls.size() > kept) calls.erase(calls.begin());
  state_.mark_changed();
}

nlohmann::json ZfsModel::calls() const {
  const nlohmann::json& state = state_.state();
  auto it = state.find("calls");
  return it != state.end() && it->is_array() ? *it : nlohmann::json::array();
}

Outcome ZfsModel::take_fault(const std::string& function) {
  nlohmann::json& faults = state_.state()["faults"];
  auto it = faults.find(function);
  if (it == faults.end() || !it->is_object()) return std::nullopt;
  if (int skip = it->value("skip", 0); skip > 0) {
    (*it)["skip"] = skip - 1;
    state_.mark_changed();
    return std::nullopt;
  }
  Failure failure = fail(it->value("errno", static_cast<int>(EZFS_UNKNOWN)), it->value("text", ""));
  int remaining = it->value("remaining", 1);
  if (remaining > 0) {
    if (remaining == 1)
      faults.erase(it);
    else
      (*it)["remaining"] = remaining - 1;
    state_.mark_changed();
  }
  return failure;
}

std::vector<std::string> ZfsModel::pools() const {
  std::vector<std::string> names;
  for (const auto& [name, pool] : pools_json().items()) names.push_back(name);
  return names;
}

std::optional<int> ZfsModel::pool_state(const std::string& pool) const {
  auto it = pools_json().find(pool);
  if (it == pools_json().end()) return std::nullopt;
  return it->value("state", 0);
}

std::optional<uint64_t> ZfsModel::pool_guid(const std::string& pool) const {
  auto it = pools_json().find(pool);
  if (it == pools_json().end()) return std::nullopt;
  return it->value("guid", uint64_t{0});
}

Outcome ZfsModel::check_pool_usable(const std::string& pool) const {
  std::optional<int> state = pool_state(pool);
  if (!state) return fail(EZFS_NOENT, "no such pool '" + pool + "'");
  if (*state != POOL_STATE_ACTIVE) return fail(EZFS_POOLUNAVAIL, "pool '" + pool + "' is unavailable");
  return std::nullopt;
}

Outcome ZfsModel::create_pool(const std::string& pool) {
  if (auto problem = name_problem(pool, ZFS_TYPE_POOL)) return fail(EZFS_INVALIDNAME, *problem);
  if (pool_state(pool)) return fail(EZFS_EXISTS, "pool already exists");
  pools_json()[pool] = {{"guid", new_guid()},
                        {"state", static_cast<int>(POOL_STATE_ACTIVE)},
                        {"txg", 1},
                        {"history", nlohmann::json::array()}};
  datasets_json()[pool] = {{"type", static_cast<int>(ZFS_TYPE_FILESYSTEM)},
                           {"guid", new_guid()},
                           {"createtxg", 1},
                           {"creation", now()},
                           {"props", nlohmann::json::object()}};
  state_.mark_changed();
  return std::nullopt;
}

Outcome ZfsModel::destroy_pool(const std::string& pool) {
  if (!pool_state(pool)) return fail(EZFS_NOENT, "no such pool '" + pool + "'");
  nlohmann::json& datasets = datasets_json();
  for (auto it = datasets.begin(); it != datasets.end();) {
    if (is_within(it.key(), pool))
      it = datasets.erase(it);
    else
      ++it;
  }
  std::error_code ec;
  fs::remove_all(zvol_path(state_.root(), pool), ec);
  pools_json().erase(pool);
  state_.mark_changed();
  return std::nullopt;
}

Outcome ZfsModel::set_pool_state(const std::string& pool, int state) {
  if (!pool_state(pool)) return fail(EZFS_NOENT, "no such pool '" + pool + "'");
  pools_json()[pool]["state"] = state;
  state_.mark_changed();
  return std::nullopt;
}

Outcome ZfsModel::log_history(const std::string& pool, const std::string& text) {
  if (!pool_state(pool)) return fail(EZFS_NOENT, "no such pool '" + pool + "'");
  nlohmann::json& history = pools_json()[pool]["history"];
  if (!history.is_array()) history = nlohmann::json::array();
  history.push_back({{"time", now()}, {"text", text}});
  state_.mark_changed();
  return std::nullopt;
}

std::optional<nlohmann::json> ZfsModel::history(const std::string& pool) const {
  auto it = pools_json().find(pool);
  if (it == pools_json().end()) return std::nullopt;
  return it->value("history", nlohmann::json::array());
}

std::optional<int> ZfsModel::dataset_type(const std::string& name) const {
  auto it = datasets_json().find(name);
  if (it == datasets_json().end()) return std::nullopt;
  return it->value("type", 0);
}

Outcome ZfsModel::check_open(const std::string& name, int types) const {
  if (auto problem = name_problem(name, types | ZFS_TYPE_FILESYSTEM | ZFS_TYPE_VOLUME))
    return fail(EZFS_INVALIDNAME, *problem);
  if (name.find('@') != std::string::npos && !(types & ZFS_TYPE_SNAPSHOT))
    return fail(EZFS_INVALIDNAME, "snapshot delimiter '@' is not expected here");
  if (auto failure = check_pool_usable(pool_of(name))) return failure;
  std::optional<int> type = dataset_type(name);
  if (!type) return fail(EZFS_NOENT, "dataset does not exist");
  if (!(*type & types)) return fail(EZFS_BADTYPE);
  return std::nullopt;
}

std::vector<std::string> ZfsModel::children(const std::string& name, bool snapshots) const {
  std::vector<std::string> below, snaps;
  for (const auto& [child, ds] : datasets_json().items()) {
    if (name.empty()) {
      if (child.find_first_of("/@") == std::string::npos) below.push_back(child);
    } else if (parent_of(child) == name) {
      (child.find('@') == std::string::npos ? below : snaps).push_back(child);
    }
  }
  if (snapshots) below.insert(below.end(), snaps.begin(), snaps.end());
  return below;
}

Outcome ZfsModel::create(const std::string& name, int type, const std::vector<PropSetting>& props) {
  if (type != ZFS_TYPE_FILESYSTEM && type != ZFS_TYPE_VOLUME)
    return fail(EZFS_BADTYPE, "only filesystems and volumes can be created");
  if (auto problem = name_problem(name, type)) return fail(EZFS_INVALIDNAME, *problem);
  if (auto failure = check_pool_usable(pool_of(name))) return failure;
  if (dataset_type(name)) return fail(EZFS_EXISTS, "dataset already exists");
  std::string parent = parent_of(name);
  std::optional<int> parent_type = dataset_type(parent);
  if (!parent_type) return fail(EZFS_NOENT, "parent does not exist");
  if (*parent_type != ZFS_TYPE_FILESYSTEM) return fail(EZFS_BADTYPE, "parent is not a filesystem");
  nlohmann::json stored = nlohmann::json::object();
  for (const PropSetting& setting : props) {
    auto checked = check_setting(setting, type, true);
    if (auto* failure = std::get_if<Failure>(&checked)) return *failure;
    auto& [key, value] = std::get<0>(checked);
    stored[key] = value;
  }
  if (type == ZFS_TYPE_VOLUME) {
    if (!stored.contains("volsize")) return fail(EZFS_BADPROP, "missing volume size");
    uint64_t block = stored.value("volblocksize", dataset_prop(ZFS_PROP_VOLBLOCKSIZE)->default_number);
    if (stored["volsize"].get<uint64_t>() % block != 0)
      return fail(EZFS_BADPROP, "volume size must be a multiple of volume block size");
  }
  return add_dataset(name, type, std::move(stored));
}

Outcome ZfsModel::add_dataset(const std::string& name, int type, nlohmann::json props) {
  if (type == ZFS_TYPE_VOLUME) {
    if (auto failure = resize_zvol(name, props["volsize"].get<uint64_t>(), true)) return failure;
  }
  nlohmann::json& pool = pools_json()[pool_of(name)];
  uint64_t txg = pool.value("txg", uint64_t{1}) + 1;
  pool["txg"] = txg;
  datasets_json()[name] = {{"type", type},
                           {"guid", new_guid()},
                           {"createtxg", txg},
                           {"creation", now()},
                           {"props", std::move(props)}};
  state_.mark_changed();
  return std::nullopt;
}

Outcome ZfsModel::create_ancestors(const std::string& name) {
  if (auto problem = name_problem(name, ZFS_TYPE_FILESYSTEM | ZFS_TYPE_VOLUME))
    return fail(EZFS_INVALIDNAME, *problem);
  if (auto failure = check_pool_usable(pool_of(name))) return failure;
  std::vector<std::string> missing;
  for (std::string at = parent_of(name); !at.empty() && !dataset_type(at); at = parent_of(at))
    missing.insert(missing.begin(), at);
  for (const std::string& ancestor : missing)
    if (auto failure = create(ancestor, ZFS_TYPE_FILESYSTEM, {})) return failure;
  return std::nullopt;
}

Outcome ZfsModel::destroy(const std::string& name) {
  std::optional<int> type = dataset_type(name);
  if (!type) return fail(EZFS_NOENT, "dataset does not exist");
  if (name == pool_of(name))
    return fail(EZFS_BADTYPE, "the root dataset of a pool goes with the pool");
  for (const auto& [other, ds] : datasets_json().items()) {
    if (other != name && is_within(other, name)) return fail(EZFS_EXISTS, "dataset has children");
    if (ds.value("origin", "") == name) return fail(EZFS_EXISTS, "snapshot has dependent clones");
  }
  if (datasets_json()[name].value("mounted", false)) return fail(EZFS_BUSY, "dataset is busy");
  if (*type == ZFS_TYPE_VOLUME) remove_zvol(name);
  datasets_json().erase(name);
  state_.mark_changed();
  return std::nullopt;
}

Outcome ZfsModel::set_prop(const std::string& name, const PropSetting& setting) {
  std::optional<int> type = dataset_type(name);
  if (!type) return fail(EZFS_NOENT, "dataset does not exist");
  auto checked = check_setting(setting, *type, false);
  if (auto* failure = std::get_if<Failure>(&checked)) return *failure;
  auto& [key, value] = std::get<0>(checked);
  if (key == "volsize") {
    uint64_t block = get_prop(name, *dataset_prop(ZFS_PROP_VOLBLOCKSIZE))->number;
    if (value.get<uint64_t>() % block != 0)
      return fail(EZFS_BADPROP, "volume size must be a multiple of volume block size");
    if (auto failure = resize_zvol(name, value.get<uint64_t>(), false)) return failure;
  }
  datasets_json()[name]["props"][key] = value;
  state_.mark_changed();
  return std::nullopt;
}

std::optional<PropValue> ZfsModel::get_prop(const std::string& name, const PropEntry& entry) const {
  return read_prop(datasets_json(), name, entry);
}

Outcome ZfsModel::resize_zvol(const std::string& name, uint64_t size, bool fresh) {
  std::string path = zvol_path(state_.root(), name);
  std::error_code ec;
  fs::create_directories(fs::path(path).parent_path(), ec);
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (fresh ? O_TRUNC : 0), 0644);
  if (fd < 0) return fail(EZFS_IO, "cannot create " + path + ": " + std::strerror(errno));
  int rc = ::ftruncate(fd, static_cast<off_t>(size));
  int error = errno;
  ::close(fd);
  if (rc != 0) return fail(EZFS_IO, "cannot size " + path + ": " + std::strerror(error));
  return std::nullopt;
}

void ZfsModel::remove_zvol(const std::string& name) {
  fs::path path = zvol_path(state_.root(), name);
  std::string top = state_.root() + "/dev/zvol";
  std::error_code ec;
  fs::remove(path, ec);
  // Drop the directories left empty below /dev/zvol.
  for (fs::path dir = path.parent_path(); dir.string().size() > top.size();
       dir = dir.parent_path()) {
    if (!fs::is_empty(dir, ec) || ec || !fs::remove(dir, ec)) break;
  }
}

}  // namespace zfs_sim
