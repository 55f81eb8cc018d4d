#include "pool/state/pool_list.h"

#include <algorithm>
#include <memory>

#include "hostlib/libzfs.h"
#include "model/pool_state.h"
#include "model/state_mark.h"
#include "model/vm_state.h"

namespace {

int collect_pool_name(zpool_handle_t* zhp, void* data) {
  if (const char* name = libzfs::zpool_get_name(zhp))
    static_cast<std::vector<std::string>*>(data)->emplace_back(name);
  libzfs::zpool_close(zhp);
  return 0;
}

std::vector<std::string> imported_pools() {
  std::vector<std::string> names;
  std::unique_ptr<libzfs_handle_t, void (*)(libzfs_handle_t*)> handle(libzfs::libzfs_init(),
                                                                      libzfs::libzfs_fini);
  if (!handle) return names;
  libzfs::zpool_iter(handle.get(), collect_pool_name, &names);
  return names;
}

}  // namespace

std::vector<std::string> find_pool(bool all, pool_error_map* errors) {
  std::vector<std::string> pools;
  for (const std::string& pool : imported_pools()) {
    int error = 0;
    switch (PoolState::read(pool, error)) {
      case PoolState::started:
        pools.push_back(pool);
        break;
      case PoolState::stopped:
      case PoolState::suspended:
        if (all) pools.push_back(pool);
        break;
      case PoolState::unreadable:
        if (errors) (*errors)[pool] = error;
        break;
      default:
        break;
    }
  }
  return pools;
}

bool pool_exists(const std::string& pool) {
  auto pools = find_pool(true);
  return std::find(pools.begin(), pools.end(), pool) != pools.end();
}

std::string vm_pool_of(const std::string& vm_id, bool all) {
  if (!valid_state_name(vm_id)) return {};
  for (const std::string& pool : find_pool(all))
    if (VmState(pool, vm_id).exists()) return pool;
  return {};
}
