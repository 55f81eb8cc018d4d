// zfs-sim: looks at and changes the libzfs stand-in's model under the host
// root (OMBRIX_ROOT): pools, datasets, pool history and injected faults.
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <libzfs.h>

#include "sim/libzfs/dataset_model.h"
#include "sim/libzfs/names.h"
#include "sim/libzfs/snapshot_model.h"
#include "sim/libzfs/state_file.h"
#include "sim/libzfs/labels.h"
#include "sim/libzfs/pool_model.h"
#include "sim/libzfs/zfs_model.h"

using zfs_sim::Outcome;
using zfs_sim::ZfsModel;

namespace {

const char* const usage_text =
    "usage: zfs-sim COMMAND [ARGS]\n"
    "  pool-create NAME             a new pool with its root filesystem\n"
    "  pool-destroy NAME            the pool, its datasets and zvols\n"
    "  pool-state NAME active|unavail\n"
    "  pools                        NAME STATE GUID per pool\n"
    "  list [NAME]                  NAME TYPE [VOLSIZE] per dataset (below NAME)\n"
    "  fs-create NAME               a filesystem, with its missing parents\n"
    "  vol-create NAME SIZE [BLOCKSIZE]\n"
    "  destroy NAME                 a dataset without children\n"
    "  get NAME PROPERTY            the property's exact value\n"
    "  set NAME PROPERTY VALUE      sets a property (user properties too)\n"
    "  receiving NAME on|off        marks a receive in progress (inconsistent)\n"
    "  history POOL [--long]        the pool history, oldest first\n"
    "  snapshot DATASET@SNAP        takes one snapshot\n"
    "  fail FUNCTION [--errno N] [--times N | --always] [--after N] [--text TEXT]\n"
    "                               after N calls, the next N (default 1) calls of\n"
    "                               FUNCTION fail\n"
    "  clear-faults                 no more planned failures\n"
    "  calls [FUNCTION]             the flags each flagged call was given, one\n"
    "                               JSON object a line, oldest first\n"
    "  pool-config NAME             the pool's configuration (JSON)\n"
    "  pool-set NAME KEY JSON       a member of the pool's record (scan_stats,\n"
    "                               error_count, features, unreadable, ...)\n"
    "  vdev-set NAME DEVICE KEY JSON\n"
    "                               a member of a vdev (path, guid, root or a\n"
    "                               top-level name like mirror-0); state, aux and\n"
    "                               read/write/checksum_errors go to its stats\n"
    "  label PATH                   the pool label on a device (JSON), if any\n"
    "  pools-exported               GUID NAME STATE per exported or destroyed pool\n";

using Args = std::vector<std::string>;

int usage() {
  std::fputs(usage_text, stderr);
  return 2;
}

int report(const Outcome& outcome) {
  if (!outcome) return 0;
  std::fprintf(stderr, "zfs-sim: %s\n", outcome->text.c_str());
  return 1;
}

int list(ZfsModel& model, const Args& args) {
  std::vector<std::string> pending = args.size() > 1 ? Args{args[1]} : model.children("", false);
  if (args.size() > 1 && !model.dataset_type(args[1]))
    return report(zfs_sim::Failure{EZFS_NOENT, "no such dataset: " + args[1]});
  while (!pending.empty()) {
    std::string name = pending.front();
    pending.erase(pending.begin());
    int type = model.dataset_type(name).value_or(0);
    std::printf("%s\t%s", name.c_str(), type == ZFS_TYPE_VOLUME ? "volume" : type == ZFS_TYPE_SNAPSHOT ? "snapshot" : "filesystem");
    if (type == ZFS_TYPE_VOLUME)
      std::printf("\t%llu", static_cast<unsigned long long>(
                                model.get_prop(name, *zfs_sim::dataset_prop(ZFS_PROP_VOLSIZE))->number));
    std::printf("\n");
    std::vector<std::string> below = model.children(name, true);
    pending.insert(pending.begin(), below.begin(), below.end());
  }
  return 0;
}

int history(ZfsModel& model, const Args& args) {
  auto entries = model.history(args[1]);
  if (!entries) return report(zfs_sim::Failure{EZFS_NOENT, "no such pool: " + args[1]});
  bool long_form = args.size() > 2 && args[2] == "--long";
  for (const auto& entry : *entries) {
    if (long_form) {
      time_t seconds = static_cast<time_t>(entry.value("time", uint64_t{0}));
      char stamp[32];
      struct tm local;
      localtime_r(&seconds, &local);
      std::strftime(stamp, sizeof stamp, "%Y-%m-%d.%H:%M:%S ", &local);
      std::fputs(stamp, stdout);
    }
    std::printf("%s\n", entry.value("text", "").c_str());
  }
  return 0;
}

int fail(ZfsModel& model, const Args& args) {
  int code = EZFS_UNKNOWN, remaining = 1, skip = 0;
  std::string text;
  for (size_t i = 2; i < args.size(); ++i) {
    bool has_value = i + 1 < args.size();
    if (args[i] == "--always") {
      remaining = -1;
    } else if (args[i] == "--errno" && has_value) {
      code = std::atoi(args[++i].c_str());
    } else if (args[i] == "--times" && has_value) {
      remaining = std::atoi(args[++i].c_str());
      if (remaining < 1) return usage();
    } else if (args[i] == "--after" && has_value) {
      skip = std::atoi(args[++i].c_str());
      if (skip < 0) return usage();
    } else if (args[i] == "--text" && has_value) {
      text = args[++i];
    } else {
      return usage();
    }
  }
  model.set_fault(args[1], code, remaining, text, skip);
  return 0;
}

int get(ZfsModel& model, const Args& args) {
  const zfs_sim::PropEntry* entry = zfs_sim::dataset_prop(args[2]);
  if (!entry && zfs_sim::is_user_prop(args[2])) {
    for (const zfs_sim::UserProp& prop : zfs_sim::DatasetModel(model).user_props(args[1]))
      if (prop.name == args[2]) {
        std::printf("%s\n", prop.value.c_str());
        return 0;
      }
  }
  auto value = entry ? model.get_prop(args[1], *entry) : std::nullopt;
  if (!value) return report(zfs_sim::Failure{EZFS_NOENT, "no value of " + args[2] + " for " + args[1]});
  std::printf("%s\n", zfs_sim::format_prop(*entry, *value, true).c_str());
  return 0;
}

// A JSON argument; nothing (and a message) when it does not parse.
std::optional<nlohmann::json> json_arg(const std::string& text) {
  auto value = nlohmann::json::parse(text, nullptr, false);
  if (value.is_discarded()) {
    std::fprintf(stderr, "zfs-sim: not JSON: %s\n", text.c_str());
    return std::nullopt;
  }
  return value;
}

int pool_command(ZfsModel& m, const Args& a) {
  zfs_sim::LockedState& state = m.state();
  zfs_sim::PoolModel pools(state);
  if (a[0] == "pool-config") {
    auto config = pools.config(a[1]);
    if (!config) return report(zfs_sim::Failure{EZFS_NOENT, "no configuration of " + a[1]});
    std::printf("%s\n", config->dump(1).c_str());
    return 0;
  }
  if (a[0] == "label") {
    if (auto label = zfs_sim::read_label(state.root(), a[1])) std::printf("%s\n", label->dump().c_str());
    return 0;
  }
  if (a[0] == "pools-exported") {
    for (const char* store : {"exported", "destroyed"}) {
      const nlohmann::json kept_pools = state.state().value(store, nlohmann::json::object());
      for (const auto& [guid, kept] : kept_pools.items())
        std::printf("%s\t%s\t%s\n", guid.c_str(), kept.value("name", "").c_str(), store);
    }
    return 0;
  }
  auto value = json_arg(a.back());
  if (!value) return 2;
  if (a[0] == "pool-set") return report(pools.set_pool(a[1], a[2], *value));
  return report(pools.set_vdev(a[1], a[2], a[3], *value));
}

struct Command {
  size_t min_args, max_args;
  std::function<int(ZfsModel&, const Args&)> run;
};

const std::map<std::string, Command>& commands() {
  static const std::map<std::string, Command> table = {
      {"pool-create", {2, 2, [](ZfsModel& m, const Args& a) { return report(m.create_pool(a[1])); }}},
      {"pool-destroy", {2, 2, [](ZfsModel& m, const Args& a) { return report(m.destroy_pool(a[1])); }}},
      {"pool-state",
       {3, 3,
        [](ZfsModel& m, const Args& a) {
          if (a[2] != "active" && a[2] != "unavail") return usage();
          return report(m.set_pool_state(a[1], a[2] == "active" ? POOL_STATE_ACTIVE : POOL_STATE_UNAVAIL));
        }}},
      {"pools",
       {1, 1,
        [](ZfsModel& m, const Args&) {
          for (const std::string& pool : m.pools())
            std::printf("%s\t%s\t%llu\n", pool.c_str(),
                        m.pool_state(pool) == POOL_STATE_ACTIVE ? "ONLINE" : "UNAVAIL",
                        static_cast<unsigned long long>(m.pool_guid(pool).value_or(0)));
          return 0;
        }}},
      {"list", {1, 2, list}},
      {"fs-create",
       {2, 2,
        [](ZfsModel& m, const Args& a) {
          if (Outcome failure = m.create_ancestors(a[1])) return report(failure);
          return report(m.create(a[1], ZFS_TYPE_FILESYSTEM, {}));
        }}},
      {"vol-create",
       {3, 4,
        [](ZfsModel& m, const Args& a) {
          std::vector<zfs_sim::PropSetting> props = {{"volsize", std::nullopt, a[2]}};
          if (a.size() > 3) props.push_back({"volblocksize", std::nullopt, a[3]});
          return report(m.create(a[1], ZFS_TYPE_VOLUME, props));
        }}},
      {"destroy", {2, 2, [](ZfsModel& m, const Args& a) { return report(m.destroy(a[1])); }}},
      {"get", {3, 3, get}},
      {"set",
       {4, 4,
        [](ZfsModel& m, const Args& a) {
          return report(m.set_prop(a[1], {a[2], std::nullopt, a[3]}));
        }}},
      {"receiving",
       {3, 3,
        [](ZfsModel& m, const Args& a) {
          if (a[2] != "on" && a[2] != "off") return usage();
          return report(zfs_sim::DatasetModel(m).set_inconsistent(a[1], a[2] == "on"));
        }}},
      {"history", {2, 3, history}},
      {"calls",
       {1, 2,
        [](ZfsModel& m, const Args& a) {
          for (const nlohmann::json& call : m.calls())
            if (a.size() < 2 || call.value("function", "") == a[1]) std::printf("%s\n", call.dump().c_str());
          return 0;
        }}},
      {"fail", {2, 11, fail}},
      {"snapshot",
       {2, 2,
        [](ZfsModel& m, const Args& a) { return report(zfs_sim::SnapshotModel(m).snapshot({a[1]})); }}},
      {"pool-config", {2, 2, pool_command}},
      {"pool-set", {4, 4, pool_command}},
      {"vdev-set", {5, 5, pool_command}},
      {"label", {2, 2, pool_command}},
      {"pools-exported", {1, 1, pool_command}},
      {"clear-faults",
       {1, 1,
        [](ZfsModel& m, const Args&) {
          m.clear_faults();
          return 0;
        }}},
  };
  return table;
}

}  // namespace

int main(int argc, char** argv) {
  Args args(argv + 1, argv + argc);
  if (args.empty()) return usage();
  auto it = commands().find(args[0]);
  if (it == commands().end() || args.size() < it->second.min_args || args.size() > it->second.max_args)
    return usage();
  try {
    zfs_sim::LockedState state(zfs_sim::host_root());
    if (!state.error().empty()) {
      std::fprintf(stderr, "zfs-sim: %s\n", state.error().c_str());
      return 1;
    }
    ZfsModel model(state);
    int status = it->second.run(model, args);
    std::string problem = state.commit();
    if (!problem.empty()) {
      std::fprintf(stderr, "zfs-sim: %s\n", problem.c_str());
      return 1;
    }
    return status;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "zfs-sim: damaged state: %s\n", e.what());
    return 1;
  }
}
