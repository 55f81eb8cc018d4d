#include "sim/libzfs/dataset_model.h"

#include <filesystem>
#include <functional>
#include <map>
#include <set>

#include "sim/libzfs/names.h"

namespace zfs_sim {

namespace fs = std::filesystem;

namespace {

Failure fail(int code, std::string text = "") {
  if (text.empty()) text = error_text(code);
  return Failure{code, std::move(text)};
}

}  // namespace

Outcome DatasetModel::clone(const std::string& snapshot, const std::string& target,
                            const std::vector<PropSetting>& props) {
  if (model_.dataset_type(snapshot) != ZFS_TYPE_SNAPSHOT)
    return fail(EZFS_NOENT, "snapshot '" + snapshot + "' does not exist");
  if (pool_of(snapshot) != pool_of(target))
    return fail(EZFS_CROSSTARGET, "cannot clone into another pool");
  std::string origin = parent_of(snapshot);
  int type = model_.dataset_type(origin).value_or(ZFS_TYPE_FILESYSTEM);
  std::vector<PropSetting> settings;
  const nlohmann::json origin_props = datasets()[snapshot].value("props", nlohmann::json::object());
  for (const auto& [key, value] : origin_props.items()) {
    if (value.is_number_unsigned())
      settings.push_back({key, value.get<uint64_t>(), ""});
    else if (value.is_string())
      settings.push_back({key, std::nullopt, value.get<std::string>()});
  }
  settings.insert(settings.end(), props.begin(), props.end());
  if (Outcome failure = model_.create(target, type, settings)) return failure;
  datasets()[target]["origin"] = snapshot;
  return std::nullopt;
}

Outcome DatasetModel::rename(const std::string& from, const std::string& to) {
  std::optional<int> type = model_.dataset_type(from);
  if (!type) return fail(EZFS_NOENT, "dataset does not exist");
  if (*type == ZFS_TYPE_SNAPSHOT || from == pool_of(from))
    return fail(EZFS_BADTYPE, "only filesystems and volumes below the pool root can be renamed");
  if (auto problem = name_problem(to, ZFS_TYPE_FILESYSTEM | ZFS_TYPE_VOLUME))
    return fail(EZFS_INVALIDNAME, *problem);
  if (pool_of(to) != pool_of(from)) return fail(EZFS_CROSSTARGET, "cannot rename to another pool");
  if (model_.dataset_type(to)) return fail(EZFS_EXISTS, "dataset already exists");
  if (is_within(to, from)) return fail(EZFS_BADTARGET, "cannot rename a dataset below itself");
  if (model_.dataset_type(parent_of(to)) != ZFS_TYPE_FILESYSTEM)
    return fail(EZFS_NOENT, "parent does not exist");

  auto renamed = [&](const std::string& name) { return to + name.substr(from.size()); };
  std::map<std::string, nlohmann::json> moving;
  for (const auto& [name, ds] : datasets().items())
    if (is_within(name, from)) moving.emplace(name, ds);
  const std::string& root = model_.state().root();
  for (const auto& [name, ds] : moving) {
    datasets().erase(name);
    datasets()[renamed(name)] = ds;
    if (ds.value("type", 0) == ZFS_TYPE_VOLUME) {
      std::error_code ec;
      fs::path target = zvol_path(root, renamed(name));
      fs::create_directories(target.parent_path(), ec);
      fs::rename(zvol_path(root, name), target, ec);
    }
  }
  for (auto& [name, ds] : datasets().items()) {
    std::string origin = ds.value("origin", "");
    if (!origin.empty() && is_within(origin, from)) ds["origin"] = renamed(origin);
  }
  model_.state().mark_changed();
  return std::nullopt;
}

std::vector<std::string> DatasetModel::dependents(const std::string& name) const {
  std::vector<std::string> order;
  std::set<std::string> seen{name};
  std::function<void(const std::string&)> visit = [&](const std::string& at) {
    std::vector<std::string> direct = model_.children(at, true);
    if (model_.dataset_type(at) == ZFS_TYPE_SNAPSHOT) {
      std::vector<std::string> clones = clones_of(at);
      direct.insert(direct.end(), clones.begin(), clones.end());
    }
    for (const std::string& next : direct) {
      if (!seen.insert(next).second) continue;
      visit(next);
      order.push_back(next);
    }
  };
  visit(name);
  return order;
}

Outcome DatasetModel::destroy_tree(const std::string& name) {
  std::vector<std::string> doomed = dependents(name);
  doomed.push_back(name);
  for (const std::string& victim : doomed) {
    if (datasets().contains(victim)) datasets()[victim].erase("mounted");
    if (Outcome failure = model_.destroy(victim)) return failure;
  }
  return std::nullopt;
}

std::vector<std::string> DatasetModel::clones_of(const std::string& snapshot) const {
  std::vector<std::string> clones;
  for (const auto& [name, ds] : datasets().items())
    if (ds.value("origin", "") == snapshot) clones.push_back(name);
  return clones;
}

bool DatasetModel::mounted(const std::string& name) const {
  auto it = datasets().find(name);
  return it != datasets().end() && it->value("mounted", false);
}

Outcome DatasetModel::mount(const std::string& name) {
  if (model_.dataset_type(name) != ZFS_TYPE_FILESYSTEM)
    return fail(EZFS_BADTYPE, "only filesystems can be mounted");
  const PropEntry& canmount = *dataset_prop(ZFS_PROP_CANMOUNT);
  if (model_.get_prop(name, canmount)->text == "off")
    return fail(EZFS_MOUNTFAILED, "'canmount' property is set to 'off'");
  datasets()[name]["mounted"] = true;
  model_.state().mark_changed();
  return std::nullopt;
}

Outcome DatasetModel::share(const std::string& name) {
  if (!mounted(name)) return fail(EZFS_SHARENFSFAILED, "filesystem is not mounted");
  datasets()[name]["shared"] = true;
  model_.state().mark_changed();
  return std::nullopt;
}

Outcome DatasetModel::unmount_all(const std::string& name) {
  if (!model_.dataset_type(name)) return fail(EZFS_NOENT, "dataset does not exist");
  for (auto& [other, ds] : datasets().items()) {
    if (!is_within(other, name)) continue;
    ds.erase("mounted");
    ds.erase("shared");
  }
  model_.state().mark_changed();
  return std::nullopt;
}

Outcome DatasetModel::inherit(const std::string& name, const std::string& property) {
  std::optional<int> type = model_.dataset_type(name);
  if (!type) return fail(EZFS_NOENT, "dataset does not exist");
  std::string key = property;
  if (const PropEntry* entry = dataset_prop(property)) {
    if (entry->flags & prop_readonly) return fail(EZFS_PROPREADONLY, "'" + key + "' is readonly");
    if (!(entry->flags & prop_inherit))
      return fail(EZFS_PROPNONINHERIT, "'" + std::string(entry->name) + "' property cannot be inherited");
    key = entry->name;
  } else if (!is_user_prop(property)) {
    return fail(EZFS_BADPROP, "invalid property '" + property + "'");
  }
  nlohmann::json& props = datasets()[name]["props"];
  if (props.erase(key)) model_.state().mark_changed();
  return std::nullopt;
}

std::vector<UserProp> DatasetModel::user_props(const std::string& name) const {
  std::map<std::string, UserProp> found;
  for (std::string at = name; !at.empty() && datasets().contains(at); at = parent_of(at)) {
    const nlohmann::json& props = datasets()[at].value("props", nlohmann::json::object());
    for (const auto& [key, value] : props.items()) {
      if (!is_user_prop(key) || !value.is_string() || found.count(key)) continue;
      bool own = at == name;
      found.emplace(key, UserProp{key, value.get<std::string>(),
                                  own ? ZPROP_SRC_LOCAL : ZPROP_SRC_INHERITED, own ? "" : at});
    }
  }
  std::vector<UserProp> result;
  for (auto& [key, prop] : found) result.push_back(std::move(prop));
  return result;
}

Outcome DatasetModel::set_inconsistent(const std::string& name, bool on) {
  if (!model_.dataset_type(name)) return fail(EZFS_NOENT, "dataset does not exist");
  if (on)
    datasets()[name]["inconsistent"] = true;
  else
    datasets()[name].erase("inconsistent");
  model_.state().mark_changed();
  return std::nullopt;
}

}  // namespace zfs_sim
