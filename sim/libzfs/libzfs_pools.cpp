// The stand-in's pool entry points.
#pragma GCC visibility push(default)
#include <libzfs.h>
#pragma GCC visibility pop

#include <cstdlib>
#include <cstring>
#include <vector>

#include "sim/libzfs/handles.h"
#include "sim/libzfs/pool_calls.h"
#include "sim/libzfs/prop_table.h"

using zfs_sim::Failure;
using zfs_sim::Outcome;
using zfs_sim::ZfsModel;

namespace {

zpool_handle_t* open_pool(libzfs_handle_t* hdl, const char* pool, const char* function,
                          bool must_be_active) {
  if (!hdl || !pool) return nullptr;
  Outcome outcome = zfs_sim::with_model(hdl, function, [&](ZfsModel& model) -> Outcome {
    std::optional<int> state = model.pool_state(pool);
    if (!state) return Failure{EZFS_NOENT, "no such pool"};
    if (must_be_active && *state != POOL_STATE_ACTIVE)
      return Failure{EZFS_POOLUNAVAIL, "pool is unavailable"};
    return std::nullopt;
  });
  if (outcome) {
    zfs_sim::record(hdl, std::string("cannot open '") + pool + "'", *outcome);
    return nullptr;
  }
  hdl->last_pool = pool;
  return new (std::nothrow) zpool_handle{hdl, pool};
}

struct PoolFacts {
  int state = POOL_STATE_UNAVAIL;
  uint64_t guid = 0;
  std::string health = "UNAVAIL";
  std::optional<std::string> stored;  // the property's value set on the pool
};

std::optional<PoolFacts> pool_facts(zpool_handle_t* zhp, const char* function,
                                    const char* prop = nullptr) {
  if (!zhp) return std::nullopt;
  PoolFacts facts;
  Outcome outcome = zfs_sim::with_pools(zhp->hdl, function, [&](zfs_sim::PoolModel& pools) -> Outcome {
    ZfsModel& model = pools.zfs();
    std::optional<int> state = model.pool_state(zhp->name);
    if (!state) return Failure{EZFS_NOENT, "no such pool"};
    facts.state = *state;
    facts.guid = model.pool_guid(zhp->name).value_or(0);
    if (auto config = pools.config(zhp->name); config && *state == POOL_STATE_ACTIVE) {
      const auto& stats = (*config)["vdev_tree"]["vdev_stats"];
      facts.health = zpool_state_to_name(static_cast<vdev_state_t>(stats[1].get<int>()), 0);
    }
    if (prop) facts.stored = pools.prop(zhp->name, prop);
    return std::nullopt;
  });
  if (outcome) {
    zfs_sim::record(zhp->hdl, "cannot read pool '" + zhp->name + "'", *outcome);
    return std::nullopt;
  }
  return facts;
}

// A pool property's value: its number and its text, and where it comes from.
std::optional<std::pair<uint64_t, std::string>> pool_value(zpool_handle_t* zhp, zpool_prop_t prop,
                                                           zprop_source_t* src, bool literal,
                                                           const char* function) {
  const zfs_sim::PropEntry* entry = zfs_sim::pool_prop(prop);
  if (!entry) return std::nullopt;
  std::optional<PoolFacts> facts = pool_facts(zhp, function, entry->name);
  if (!facts) return std::nullopt;
  uint64_t number = entry->default_number;
  std::string text = entry->default_text;
  if (entry->kind == zfs_sim::PropKind::index) number = zfs_sim::index_of(*entry, text).value_or(0);
  switch (prop) {
    case ZPOOL_PROP_NAME: text = zhp->name; break;
    case ZPOOL_PROP_GUID: number = facts->guid; break;
    case ZPOOL_PROP_HEALTH: text = facts->health; break;
    default: break;
  }
  bool stored = facts->stored.has_value();
  if (stored) {
    text = *facts->stored;
    if (entry->kind == zfs_sim::PropKind::number) number = std::strtoull(text.c_str(), nullptr, 10);
    if (entry->kind == zfs_sim::PropKind::index) number = zfs_sim::index_of(*entry, text).value_or(0);
  }
  if (entry->kind == zfs_sim::PropKind::number)
    text = (entry->flags & zfs_sim::prop_size) && !literal ? zfs_sim::nicenum(number)
                                                           : std::to_string(number);
  if (src)
    *src = stored ? ZPROP_SRC_LOCAL
                  : (entry->flags & zfs_sim::prop_readonly) ? ZPROP_SRC_NONE : ZPROP_SRC_DEFAULT;
  return std::pair{number, text};
}

}  // namespace

extern "C" {

int zpool_iter(libzfs_handle_t* hdl, zpool_iter_f func, void* data) {
  if (!hdl || !func) return -1;
  std::vector<std::string> pools;
  Outcome outcome = zfs_sim::with_model(hdl, "zpool_iter", [&](ZfsModel& model) -> Outcome {
    pools = model.pools();
    return std::nullopt;
  });
  if (outcome) return zfs_sim::record(hdl, "cannot iterate pools", *outcome);
  // The callback runs without the state lock: it calls back into the library.
  for (const std::string& pool : pools)
    if (int rc = func(new zpool_handle{hdl, pool}, data)) return rc;
  return 0;
}

zpool_handle_t* zpool_open(libzfs_handle_t* hdl, const char* pool) {
  return open_pool(hdl, pool, "zpool_open", true);
}

zpool_handle_t* zpool_open_canfail(libzfs_handle_t* hdl, const char* pool) {
  return open_pool(hdl, pool, "zpool_open_canfail", false);
}

void zpool_close(zpool_handle_t* zhp) { delete zhp; }

const char* zpool_get_name(zpool_handle_t* zhp) { return zhp ? zhp->name.c_str() : nullptr; }

libzfs_handle_t* zpool_get_handle(zpool_handle_t* zhp) { return zhp ? zhp->hdl : nullptr; }

int zpool_get_state(zpool_handle_t* zhp) {
  std::optional<PoolFacts> facts = pool_facts(zhp, "zpool_get_state");
  return facts ? facts->state : POOL_STATE_UNAVAIL;
}

int zpool_get_prop(zpool_handle_t* zhp, zpool_prop_t prop, char* buf, size_t len,
                   zprop_source_t* src, boolean_t literal) {
  auto value = pool_value(zhp, prop, src, literal, "zpool_get_prop");
  if (!value) return -1;
  if (buf && len > 0) {
    size_t n = std::min(len - 1, value->second.size());
    std::memcpy(buf, value->second.data(), n);
    buf[n] = '\0';
  }
  return 0;
}

uint64_t zpool_get_prop_int(zpool_handle_t* zhp, zpool_prop_t prop, zprop_source_t* src) {
  auto value = pool_value(zhp, prop, src, true, "zpool_get_prop_int");
  return value ? value->first : 0;
}

const char* zpool_state_to_name(vdev_state_t state, vdev_aux_t aux) {
  switch (state) {
    case VDEV_STATE_CLOSED:
    case VDEV_STATE_OFFLINE: return "OFFLINE";
    case VDEV_STATE_REMOVED: return "REMOVED";
    case VDEV_STATE_CANT_OPEN: return "UNAVAIL";
    case VDEV_STATE_FAULTED: return "FAULTED";
    case VDEV_STATE_DEGRADED: return "DEGRADED";
    case VDEV_STATE_HEALTHY: return "ONLINE";
    default: return "UNKNOWN";
  }
}

}  // extern "C"
