#include "nvmf/base_target_manager.h"

#include <nlohmann/json.hpp>

#include "nvmf/spdk_exchange.h"

namespace nvmf {

bool base_target_manager::exchange(const std::string& request, std::string& answer, const std::string& host) {
  if (!spdk_rpc_exchange(spdk_connections(), request, answer, host)) return false;
  return judge(answer);
}

bool base_target_manager::judge(const std::string& answer) {
  std::lock_guard lock(mutex_);
  try {
    nlohmann::json parsed = nlohmann::json::parse(answer);
    return !(parsed.is_object() && parsed.contains("error"));
  } catch (...) {
    return false;
  }
}

}  // namespace nvmf
