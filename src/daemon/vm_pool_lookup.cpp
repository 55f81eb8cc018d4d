#include "daemon/vm_pool_lookup.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <vector>

#include <fmt/format.h>

#include "model/state_mark.h"
#include "platform/host_root.h"

VmPoolLookup find_vm_pool(const Config& config, const std::string& vm_id) {
  VmPoolLookup result;
  if (!valid_state_name(vm_id)) {
    result.error = fmt::format("Invalid VM id '{}'", vm_id);
    return result;
  }
  std::vector<std::string> pools;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(platform::host_path(config.pools_root), ec), end;
       !ec && it != end; it.increment(ec)) {
    std::string pool = it->path().filename().string();
    if (!valid_state_name(pool)) continue;
    std::string link = platform::host_path(pool_state_dir(config, pool)) + "/" + vm_id + ".state";
    struct stat st{};
    if (::lstat(link.c_str(), &st) == 0) pools.push_back(pool);
  }
  std::sort(pools.begin(), pools.end());
  if (pools.empty()) {
    result.error = fmt::format("VM does not exist: {}", vm_id);
  } else if (pools.size() > 1) {
    result.error = fmt::format("VM {} has state links in several pools: {}", vm_id,
                               fmt::join(pools, ", "));
  } else {
    result.pool = pools.front();
  }
  return result;
}
