#include "sim/libzfs/pool_model.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <random>

#include <libzfs.h>

#include "sim/libzfs/dataset_model.h"
#include "sim/libzfs/labels.h"
#include "sim/libzfs/names.h"
#include "sim/libzfs/prop_table.h"

namespace zfs_sim {

using nlohmann::json;

namespace {

constexpr size_t stats_words = 48;

uint64_t new_guid() {
  static std::mt19937_64 engine{std::random_device{}()};
  uint64_t guid = 0;
  while (guid == 0) guid = engine();
  return guid;
}

Failure fail(int code, std::string text = "") {
  if (text.empty()) text = error_text(code);
  return Failure{code, std::move(text)};
}

json fresh_stats(int state) {
  json stats = json::array();
  for (size_t i = 0; i < stats_words; ++i) stats.push_back(uint64_t{0});
  stats[1] = state;
  return stats;
}

int vdev_state(const json& vdev) {
  auto it = vdev.find("vdev_stats");
  if (it == vdev.end() || !it->is_array() || it->size() < 3) return VDEV_STATE_UNKNOWN;
  return (*it)[1].get<int>();
}

void set_state(json& vdev, int state, int aux = 0) {
  if (!vdev.contains("vdev_stats") || vdev["vdev_stats"].size() < stats_words)
    vdev["vdev_stats"] = fresh_stats(state);
  vdev["vdev_stats"][1] = state;
  vdev["vdev_stats"][2] = aux;
}

bool is_leaf(const json& vdev) { return !vdev.contains("children"); }

// Applies `visit` to every vdev of the tree (pre-order), spares and cache
// devices included.
template <class F>
void each_vdev(json& vdev, F&& visit) {
  visit(vdev);
  for (const char* member : {"children", "spares", "l2cache"})
    if (vdev.contains(member))
      for (json& child : vdev[member]) each_vdev(child, visit);
}

template <class F>
void each_leaf(const json& vdev, F&& visit) {
  if (is_leaf(vdev) && vdev.contains("path")) visit(vdev);
  for (const char* member : {"children", "spares", "l2cache"})
    if (vdev.contains(member))
      for (const json& child : vdev[member]) each_leaf(child, visit);
}

// Guids, stats and ids for vdevs new to a tree.
void prepare(json& vdev, int state) {
  vdev["guid"] = new_guid();
  vdev["vdev_stats"] = fresh_stats(state);
  if (vdev.contains("children")) {
    uint64_t id = 0;
    for (json& child : vdev["children"]) {
      prepare(child, state);
      child["id"] = id++;
    }
  }
}

// The state of an interior vdev from its children.
void update_states(json& vdev, bool is_root) {
  if (is_leaf(vdev)) return;
  size_t healthy = 0, total = 0, failed = 0;
  for (json& child : vdev["children"]) {
    update_states(child, false);
    int state = vdev_state(child);
    ++total;
    if (state == VDEV_STATE_HEALTHY) ++healthy;
    if (state <= VDEV_STATE_FAULTED) ++failed;
  }
  if (total == 0) return set_state(vdev, VDEV_STATE_HEALTHY);
  std::string type = vdev.value("type", "");
  int state = VDEV_STATE_HEALTHY;
  if (is_root) {
    bool degraded = false, broken = false;
    for (const json& child : vdev["children"]) {
      int s = vdev_state(child);
      if (s <= VDEV_STATE_FAULTED) broken = true;
      if (s == VDEV_STATE_DEGRADED) degraded = true;
    }
    state = broken ? VDEV_STATE_CANT_OPEN : degraded ? VDEV_STATE_DEGRADED : VDEV_STATE_HEALTHY;
  } else if (type == "raidz" || type == "draid") {
    uint64_t parity = vdev.value("nparity", uint64_t{1});
    state = failed == 0 && healthy == total ? VDEV_STATE_HEALTHY
            : failed <= parity             ? VDEV_STATE_DEGRADED
                                           : VDEV_STATE_CANT_OPEN;
  } else {
    state = healthy == total ? VDEV_STATE_HEALTHY
            : healthy > 0 || failed < total ? VDEV_STATE_DEGRADED
                                            : VDEV_STATE_CANT_OPEN;
  }
  set_state(vdev, state, state == VDEV_STATE_CANT_OPEN ? 3 /* insufficient replicas */ : 0);
}

std::string top_level_name(const json& vdev) {
  std::string type = vdev.value("type", "");
  if (type == "raidz") type += std::to_string(vdev.value("nparity", uint64_t{1}));
  return type + "-" + std::to_string(vdev.value("id", uint64_t{0}));
}

json strip_sim(const json& value) {
  if (value.is_object()) {
    json out = json::object();
    for (const auto& [key, member] : value.items())
      if (!key.starts_with("sim_")) out[key] = strip_sim(member);
    return out;
  }
  if (value.is_array()) {
    json out = json::array();
    for (const json& member : value) out.push_back(strip_sim(member));
    return out;
  }
  return value;
}

json empty_tree() {
  return {{"type", "root"}, {"id", 0}, {"guid", new_guid()}, {"children", json::array()},
          {"vdev_stats", fresh_stats(VDEV_STATE_HEALTHY)}};
}

}  // namespace

json* find_vdev(json& tree, const std::string& device) {
  json* found = nullptr;
  each_vdev(tree, [&](json& vdev) {
    if (found) return;
    std::string path = vdev.value("path", "");
    bool match = (!path.empty() && (path == device || path == "/dev/" + device)) ||
                 (vdev.contains("guid") && std::to_string(vdev["guid"].get<uint64_t>()) == device);
    if (match) found = &vdev;
  });
  return found;
}

json* PoolModel::record(const std::string& pool) {
  json& pools = state_.state()["pools"];
  auto it = pools.find(pool);
  return it == pools.end() ? nullptr : &*it;
}

const json* PoolModel::record(const std::string& pool) const {
  const json& pools = state_.state()["pools"];
  auto it = pools.find(pool);
  return it == pools.end() ? nullptr : &*it;
}

std::optional<json> PoolModel::config(const std::string& pool) const {
  const json* r = record(pool);
  if (!r || r->value("unreadable", false)) return std::nullopt;
  json tree = r->contains("vdev_tree") ? (*r)["vdev_tree"] : empty_tree();
  return json{{"name", pool},
              {"pool_guid", r->value("guid", uint64_t{0})},
              {"state", r->value("state", 0)},
              {"txg", r->value("txg", uint64_t{1})},
              {"version", 5000},
              {"error_count", r->value("error_count", uint64_t{0})},
              {"vdev_tree", strip_sim(tree)}};
}

std::optional<json> PoolModel::features(const std::string& pool) const {
  const json* r = record(pool);
  if (!r) return std::nullopt;
  return r->value("features", json::object());
}

namespace {

// Why the top-level vdev `top` has a geometry the kernel refuses: RAIDZ of
// parity 1 to 3 over more disks than its parity; dRAID of parity 1 to 3
// with at least one data disk, at most 255 children, data, parity and spares
// fitting the children, and whole redundancy groups over the children that
// are not spares.
std::optional<std::string> geometry_problem(const json& top) {
  std::string type = top.value("type", "");
  if (type != "raidz" && type != "draid") return std::nullopt;
  uint64_t children = top.contains("children") && top["children"].is_array() ? top["children"].size() : 0;
  auto number = [&](const char* key) -> std::optional<uint64_t> {
    if (!top.contains(key) || !top[key].is_number_unsigned()) return std::nullopt;
    return top[key].get<uint64_t>();
  };
  std::optional<uint64_t> parity = number("nparity");
  if (!parity || *parity < 1 || *parity > 3) return type + " parity must be 1, 2 or 3";
  if (type == "raidz") {
    if (children <= *parity) return "raidz" + std::to_string(*parity) + " needs more than " + std::to_string(*parity) + " disks";
    return std::nullopt;
  }
  std::optional<uint64_t> data = number("draid_ndata"), spares = number("draid_nspares"),
                          groups = number("draid_ngroups");
  if (!data || !spares || !groups) return "dRAID vdev lacks draid_ndata, draid_nspares or draid_ngroups";
  if (*data < 1) return "dRAID needs at least one data disk";
  if (children > 255) return "dRAID takes at most 255 children";
  if (*data + *parity + *spares > children) return "dRAID data, parity and spares exceed its children";
  uint64_t width = *data + *parity;
  if (*groups < 1 || (*groups * width) % (children - *spares) != 0)
    return "dRAID groups do not fill its children without spares";
  return std::nullopt;
}

}  // namespace

Outcome PoolModel::check_new_devices(const json& tree) const {
  for (const json& top : tree.value("children", json::array()))
    if (auto problem = geometry_problem(top)) return fail(EZFS_INVALCONFIG, "invalid vdev specification: " + *problem);
  std::optional<Failure> problem;
  each_leaf(tree, [&](const json& leaf) {
    if (problem) return;
    std::string path = leaf.value("path", "");
    uint64_t size = 0;
    std::string error = device_size(state_.root(), path, size);
    if (!error.empty()) {
      problem = fail(EZFS_BADDEV, error);
      return;
    }
    if (size < 67108864) {
      problem = fail(EZFS_BADDEV, "'" + path + "' is too small");
      return;
    }
    if (auto label = read_label(state_.root(), path)) {
      int state = in_use_state(*label);
      if (state == POOL_STATE_ACTIVE || state == POOL_STATE_SPARE)
        problem = fail(EZFS_BUSY, "'" + path + "' is part of active pool '" + label->value("name", "") + "'");
    }
  });
  return problem;
}

Outcome PoolModel::write_labels(const json& tree, const std::string& pool, uint64_t pool_guid, int state) {
  std::optional<Failure> problem;
  auto label_all = [&](const json& vdevs, int label_state) {
    for (const json& vdev : vdevs)
      each_leaf(vdev, [&](const json& leaf) {
        json label = {{"name", pool}, {"pool_guid", pool_guid}, {"guid", leaf.value("guid", uint64_t{0})},
                      {"txg", 1}, {"state", label_state}};
        std::string error = write_label(state_.root(), leaf.value("path", ""), label);
        if (!error.empty() && !problem) problem = fail(EZFS_IO, error);
      });
  };
  if (tree.contains("children")) label_all(tree["children"], state);
  bool keep = state == POOL_STATE_ACTIVE;
  if (tree.contains("spares")) label_all(tree["spares"], keep ? POOL_STATE_SPARE : state);
  if (tree.contains("l2cache")) label_all(tree["l2cache"], keep ? POOL_STATE_L2CACHE : state);
  return problem;
}

std::vector<std::string> PoolModel::active_members() const {
  std::vector<std::string> paths;
  for (const std::string& pool : zfs_.pools()) {
    const json* r = record(pool);
    if (!r || r->value("state", 0) != POOL_STATE_ACTIVE || !r->contains("vdev_tree")) continue;
    each_leaf((*r)["vdev_tree"], [&](const json& leaf) { paths.push_back(leaf.value("path", "")); });
  }
  return paths;
}

Outcome PoolModel::create(const std::string& pool, json nvroot, const json& props) {
  if (auto problem = name_problem(pool, ZFS_TYPE_POOL)) return fail(EZFS_INVALIDNAME, *problem);
  if (record(pool)) return fail(EZFS_EXISTS, "pool already exists");
  if (nvroot.value("type", "") != "root" || !nvroot.contains("children") || nvroot["children"].empty())
    return fail(EZFS_INVALCONFIG);
  if (auto problem = check_new_devices(nvroot)) return problem;
  json features = json::object(), set = json::object();
  for (const auto& [key, value] : props.items()) {
    std::string text = value.is_string() ? value.get<std::string>() : value.dump();
    if (key.starts_with("feature@")) {
      features[key.substr(8)] = 0;
    } else if (is_user_prop(key) || (pool_prop(key) && !(pool_prop(key)->flags & prop_readonly))) {
      set[pool_prop(key) ? pool_prop(key)->name : key] = text;
    } else {
      return fail(EZFS_BADPROP, "property '" + key + "' is not valid");
    }
  }
  prepare(nvroot, VDEV_STATE_HEALTHY);
  nvroot["id"] = 0;
  for (const char* member : {"spares", "l2cache"})
    if (nvroot.contains(member))
      for (json& device : nvroot[member]) {
        prepare(device, VDEV_STATE_HEALTHY);
        device.erase("id");
      }
  if (auto failure = zfs_.create_pool(pool)) return failure;
  json& r = *record(pool);
  r["vdev_tree"] = nvroot;
  r["features"] = features;
  r["props"] = set;
  r["error_count"] = 0;
  return write_labels(nvroot, pool, r["guid"].get<uint64_t>(), POOL_STATE_ACTIVE);
}

Outcome PoolModel::destroy(const std::string& pool) {
  json* r = record(pool);
  if (!r) return fail(EZFS_NOENT, "no such pool '" + pool + "'");
  json tree = r->value("vdev_tree", empty_tree());
  uint64_t guid = r->value("guid", uint64_t{0});
  json kept = {{"name", pool}, {"record", *r}, {"datasets", json::object()}};
  if (auto failure = write_labels(tree, pool, guid, POOL_STATE_DESTROYED)) return failure;
  if (auto failure = zfs_.destroy_pool(pool)) return failure;
  state_.state()["destroyed"][std::to_string(guid)] = kept;
  state_.mark_changed();
  return std::nullopt;
}

Outcome PoolModel::add(const std::string& pool, json nvroot) {
  json* r = record(pool);
  if (!r) return fail(EZFS_NOENT, "no such pool '" + pool + "'");
  if (r->value("state", 0) != POOL_STATE_ACTIVE) return fail(EZFS_POOLUNAVAIL);
  if (auto problem = check_new_devices(nvroot)) return problem;
  json& tree = (*r)["vdev_tree"];
  if (tree.is_null()) tree = empty_tree();
  uint64_t id = tree["children"].size();
  for (json& top : nvroot.value("children", json::array())) {
    prepare(top, VDEV_STATE_HEALTHY);
    top["id"] = id++;
    tree["children"].push_back(top);
  }
  for (const char* member : {"spares", "l2cache"})
    for (json& device : nvroot.value(member, json::array())) {
      prepare(device, VDEV_STATE_HEALTHY);
      tree[member].push_back(device);
    }
  state_.mark_changed();
  json added = nvroot;
  added["children"] = json::array();
  for (size_t i = tree["children"].size() - nvroot.value("children", json::array()).size();
       i < tree["children"].size(); ++i)
    added["children"].push_back(tree["children"][i]);
  for (const char* member : {"spares", "l2cache"})
    if (nvroot.contains(member)) added[member] = json(tree[member]);
  return write_labels(added, pool, r->value("guid", uint64_t{0}), POOL_STATE_ACTIVE);
}

Outcome PoolModel::attach(const std::string& pool, const std::string& old_disk, const std::string& new_disk,
                          const json& nvroot, bool replacing) {
  json* r = record(pool);
  if (!r) return fail(EZFS_NOENT, "no such pool '" + pool + "'");
  json& tree = (*r)["vdev_tree"];
  json* old_vdev = tree.is_object() ? find_vdev(tree, old_disk) : nullptr;
  if (!old_vdev || !is_leaf(*old_vdev)) return fail(EZFS_NODEVICE);
  const json& children = nvroot.value("children", json::array());
  if (children.size() != 1 || children[0].value("path", "") != new_disk) return fail(EZFS_INVALCONFIG);
  if (find_vdev(tree, new_disk)) return fail(EZFS_BUSY, "'" + new_disk + "' is in use");
  if (auto problem = check_new_devices(nvroot)) return problem;
  uint64_t size = 0, old_size = 0;
  device_size(state_.root(), new_disk, size);
  if (device_size(state_.root(), old_vdev->value("path", ""), old_size).empty() && size < old_size)
    return fail(EZFS_BADDEV, "device is too small");
  json leaf = children[0];
  prepare(leaf, VDEV_STATE_HEALTHY);
  leaf["id"] = old_vdev->value("id", uint64_t{0});
  if (replacing) {
    *old_vdev = leaf;  // the resilver of the stand-in ends at once
  } else {
    json mirror = {{"type", "mirror"}, {"id", old_vdev->value("id", uint64_t{0})}, {"guid", new_guid()},
                   {"vdev_stats", fresh_stats(VDEV_STATE_HEALTHY)}};
    json old_copy = *old_vdev;
    old_copy["id"] = 0;
    leaf["id"] = 1;
    mirror["children"] = json::array({old_copy, leaf});
    *old_vdev = mirror;
  }
  update_states(tree, true);
  json scan = fresh_stats(0);
  scan[0] = 2;  // resilver
  scan[1] = 2;  // finished
  tree["scan_stats"] = scan;
  state_.mark_changed();
  json labelled = {{"children", json::array({leaf})}};
  return write_labels(labelled, pool, r->value("guid", uint64_t{0}), POOL_STATE_ACTIVE);
}

Outcome PoolModel::online(const std::string& pool, const std::string& device, int& new_state) {
  json* r = record(pool);
  if (!r) return fail(EZFS_NOENT, "no such pool '" + pool + "'");
  json& tree = (*r)["vdev_tree"];
  json* vdev = tree.is_object() ? find_vdev(tree, device) : nullptr;
  if (!vdev) return fail(EZFS_NODEVICE);
  int state = vdev->value("sim_online_state", static_cast<int>(VDEV_STATE_HEALTHY));
  set_state(*vdev, state);
  update_states(tree, true);
  new_state = state;
  state_.mark_changed();
  return std::nullopt;
}

Outcome PoolModel::offline(const std::string& pool, const std::string& device) {
  json* r = record(pool);
  if (!r) return fail(EZFS_NOENT, "no such pool '" + pool + "'");
  json tree = (*r)["vdev_tree"];
  json* vdev = tree.is_object() ? find_vdev(tree, device) : nullptr;
  if (!vdev) return fail(EZFS_NODEVICE);
  set_state(*vdev, VDEV_STATE_OFFLINE);
  update_states(tree, true);
  if (vdev_state(tree) <= VDEV_STATE_FAULTED) return fail(EZFS_NOREPLICAS);
  (*r)["vdev_tree"] = tree;
  state_.mark_changed();
  return std::nullopt;
}

Outcome PoolModel::clear(const std::string& pool) {
  json* r = record(pool);
  if (!r) return fail(EZFS_NOENT, "no such pool '" + pool + "'");
  json& tree = (*r)["vdev_tree"];
  if (tree.is_object()) {
    each_vdev(tree, [](json& vdev) {
      if (!vdev.contains("vdev_stats")) return;
      for (int word : {20, 21, 22}) vdev["vdev_stats"][word] = 0;
      if (is_leaf(vdev) && vdev_state(vdev) == VDEV_STATE_FAULTED) set_state(vdev, VDEV_STATE_HEALTHY);
    });
    update_states(tree, true);
  }
  (*r)["error_count"] = 0;
  state_.mark_changed();
  return std::nullopt;
}

Outcome PoolModel::set_mounted(const std::string& pool, bool mounted) {
  json* r = record(pool);
  if (!r) return fail(EZFS_NOENT, "no such pool '" + pool + "'");
  DatasetModel datasets(zfs_);
  if (!mounted) return datasets.unmount_all(pool);
  for (const auto& [name, dataset] : state_.state()["datasets"].items())
    if (is_within(name, pool) && dataset.value("type", 0) == ZFS_TYPE_FILESYSTEM && !datasets.mounted(name))
      datasets.mount(name);  // a filesystem that may not be mounted stays as it is
  return std::nullopt;
}

Outcome PoolModel::export_pool(const std::string& pool) {
  json* r = record(pool);
  if (!r) return fail(EZFS_NOENT, "no such pool '" + pool + "'");
  uint64_t guid = r->value("guid", uint64_t{0});
  json kept = {{"name", pool}, {"record", *r}, {"datasets", json::object()}};
  if (auto failure = write_labels(r->value("vdev_tree", empty_tree()), pool, guid, POOL_STATE_EXPORTED))
    return failure;
  json& datasets = state_.state()["datasets"];
  for (auto it = datasets.begin(); it != datasets.end();) {
    if (is_within(it.key(), pool)) {
      kept["datasets"][it.key()] = it.value();
      kept["datasets"][it.key()].erase("mounted");
      kept["datasets"][it.key()].erase("shared");
      it = datasets.erase(it);
    } else {
      ++it;
    }
  }
  state_.state()["pools"].erase(pool);
  state_.state()["exported"][std::to_string(guid)] = kept;
  state_.mark_changed();
  return std::nullopt;
}

std::vector<std::pair<std::string, json>> PoolModel::search(const std::string& name) const {
  std::vector<std::pair<std::string, json>> found;
  std::vector<uint64_t> seen;
  for (const std::string& device : scan_devices(state_.root())) {
    auto label = read_label(state_.root(), device);
    if (!label) continue;
    uint64_t guid = label->value("pool_guid", uint64_t{0});
    int state = label->value("state", 0);
    if (std::find(seen.begin(), seen.end(), guid) != seen.end()) continue;
    if (!name.empty() && label->value("name", "") != name) continue;
    const char* store = state == POOL_STATE_DESTROYED ? "destroyed" : "exported";
    const json& kept = state_.state().value(store, json::object());
    auto it = kept.find(std::to_string(guid));
    if (it == kept.end()) continue;  // imported, or unknown to this host
    seen.push_back(guid);
    const json& r = (*it)["record"];
    json config = {{"name", (*it)["name"]}, {"pool_guid", guid}, {"state", state},
                   {"txg", r.value("txg", uint64_t{1})}, {"version", 5000},
                   {"vdev_tree", strip_sim(r.value("vdev_tree", empty_tree()))}};
    found.emplace_back((*it)["name"].get<std::string>(), config);
  }
  return found;
}

Outcome PoolModel::import(const json& config, const std::string& new_name) {
  if (!new_name.empty()) return fail(EZFS_NOTSUP, "importing under a new name is not supported");
  uint64_t guid = config.value("pool_guid", uint64_t{0});
  std::string key = std::to_string(guid);
  const char* store = config.value("state", 0) == POOL_STATE_DESTROYED ? "destroyed" : "exported";
  json& kept = state_.state()[store];
  if (!kept.contains(key)) return fail(EZFS_NOENT, "no such pool available");
  std::string name = kept[key]["name"];
  if (record(name)) return fail(EZFS_EXISTS, "a pool with that name already exists");
  json r = kept[key]["record"];
  r["state"] = static_cast<int>(POOL_STATE_ACTIVE);
  if (auto failure = write_labels(r.value("vdev_tree", empty_tree()), name, guid, POOL_STATE_ACTIVE))
    return failure;
  state_.state()["pools"][name] = r;
  for (const auto& [dataset, value] : kept[key]["datasets"].items()) state_.state()["datasets"][dataset] = value;
  kept.erase(key);
  state_.mark_changed();
  return std::nullopt;
}

std::optional<std::string> PoolModel::prop(const std::string& pool, const std::string& name) const {
  const json* r = record(pool);
  if (!r || !r->contains("props") || !(*r)["props"].contains(name)) return std::nullopt;
  return (*r)["props"][name].get<std::string>();
}

Outcome PoolModel::set_prop(const std::string& pool, const std::string& name, const std::string& value) {
  json* r = record(pool);
  if (!r) return fail(EZFS_NOENT, "no such pool '" + pool + "'");
  if (name.starts_with("feature@")) {
    if (value != "enabled") return fail(EZFS_BADPROP, "property 'feature@' can only be set to 'enabled'");
    json& features = (*r)["features"];
    if (features.is_null()) features = json::object();
    if (!features.contains(name.substr(8))) features[name.substr(8)] = 0;
  } else if (is_user_prop(name)) {
    (*r)["props"][name] = value;
  } else {
    const PropEntry* entry = pool_prop(name);
    if (!entry) return fail(EZFS_BADPROP, "invalid property '" + name + "'");
    if (entry->flags & (prop_readonly | prop_create_only))
      return fail(EZFS_PROPREADONLY, "property '" + name + "' can only be set at creation time");
    if (entry->kind == PropKind::index && !index_of(*entry, value))
      return fail(EZFS_BADPROP, "'" + name + "' must be one of '" + entry->values + "'");
    (*r)["props"][entry->name] = value;
  }
  state_.mark_changed();
  return std::nullopt;
}

std::optional<std::string> PoolModel::feature_state(const std::string& pool, const std::string& name) const {
  const json* r = record(pool);
  if (!r) return std::nullopt;
  const json features = r->value("features", json::object());
  auto it = features.find(name);
  if (it == features.end()) return "disabled";
  return it->get<uint64_t>() > 0 ? "active" : "enabled";
}

int PoolModel::in_use_state(const json& label) const {
  int state = label.value("state", 0);
  if (state == POOL_STATE_ACTIVE || state == POOL_STATE_SPARE || state == POOL_STATE_L2CACHE) {
    std::string name = label.value("name", "");
    const json* r = record(name);
    bool imported = r && r->value("guid", uint64_t{0}) == label.value("pool_guid", uint64_t{0});
    if (!imported) return state == POOL_STATE_ACTIVE ? POOL_STATE_POTENTIALLY_ACTIVE : POOL_STATE_EXPORTED;
  }
  return state;
}

Outcome PoolModel::set_vdev(const std::string& pool, const std::string& device, const std::string& key,
                            const json& value) {
  json* r = record(pool);
  if (!r) return fail(EZFS_NOENT, "no such pool '" + pool + "'");
  json& tree = (*r)["vdev_tree"];
  if (tree.is_null()) tree = empty_tree();
  json* vdev = device == "root" ? &tree : find_vdev(tree, device);
  if (!vdev)
    for (json& top : tree["children"])
      if (top_level_name(top) == device) vdev = &top;
  if (!vdev) return fail(EZFS_NODEVICE);
  static const std::pair<const char*, int> words[] = {
      {"state", 1}, {"aux", 2}, {"read_errors", 20}, {"write_errors", 21}, {"checksum_errors", 22}};
  bool stat = false;
  for (auto [name, word] : words)
    if (key == name) {
      if (!vdev->contains("vdev_stats")) (*vdev)["vdev_stats"] = fresh_stats(VDEV_STATE_HEALTHY);
      (*vdev)["vdev_stats"][word] = value;
      stat = true;
    }
  if (!stat) {
    if (value.is_null())
      vdev->erase(key);
    else
      (*vdev)[key] = value;
  }
  state_.mark_changed();
  return std::nullopt;
}

Outcome PoolModel::set_pool(const std::string& pool, const std::string& key, const json& value) {
  json* r = record(pool);
  if (!r) return fail(EZFS_NOENT, "no such pool '" + pool + "'");
  if (key == "scan_stats") {
    if (!r->contains("vdev_tree")) (*r)["vdev_tree"] = empty_tree();
    (*r)["vdev_tree"]["scan_stats"] = value;
  } else {
    (*r)[key] = value;
  }
  state_.mark_changed();
  return std::nullopt;
}

}  // namespace zfs_sim
