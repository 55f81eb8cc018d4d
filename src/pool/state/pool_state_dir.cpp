#include "pool/state/pool_state_dir.h"

#include <dirent.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include <fmt/format.h>

#include "driver/config.h"
#include "model/pool_state.h"
#include "model/state_mark.h"
#include "platform/host_root.h"

namespace {

constexpr std::string_view kStateSuffix = ".state";
constexpr size_t kMaxVmIdLength = 254;

}  // namespace

pool_error pool_state_dir_error(const std::string& pool, int error) {
  return {kPoolFailed, fmt::format("### Pool '{}' state directory '{}' error: {}", pool,
                                   pool_state_dir(Config::instance(), pool), std::strerror(error))};
}

pool_check pool_state_dir_check(const std::string& pool) {
  int error = 0;
  if (PoolState::read(pool, error) == PoolState::unreadable) return pool_state_dir_error(pool, error);
  return std::nullopt;
}

std::vector<std::string> load_pool_state_dir(const std::string& pool, int& error) {
  error = 0;
  std::vector<std::string> ids;
  if (!valid_state_name(pool)) {
    error = EINVAL;
    return ids;
  }
  const std::string dir = platform::host_path(pool_state_dir(Config::instance(), pool));
  std::unique_ptr<DIR, int (*)(DIR*)> d(::opendir(dir.c_str()), ::closedir);
  if (!d) {
    error = errno;
    return ids;
  }
  errno = 0;
  while (const dirent* entry = ::readdir(d.get())) {
    std::string_view name = entry->d_name;
    if (name.size() <= kStateSuffix.size() || !name.ends_with(kStateSuffix)) continue;
    std::string_view stem = name.substr(0, name.size() - kStateSuffix.size());
    if (stem.size() > kMaxVmIdLength) continue;
    ids.emplace_back(stem);
  }
  if (errno != 0) {
    error = errno;
    ids.clear();
    return ids;
  }
  std::sort(ids.begin(), ids.end());
  return ids;
}

pool_check pool_vm_list(const std::string& pool, std::vector<std::string>& out) {
  int error = 0;
  out = load_pool_state_dir(pool, error);
  if (error != 0) return pool_state_dir_error(pool, error);
  return std::nullopt;
}
