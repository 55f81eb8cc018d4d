#include "nvmf/base_target_manager.h"

#include <nlohmann/json.hpp>

#include "nvmf/answer_text.h"
#include "nvmf/spdk_exchange.h"

namespace nvmf {

bool base_target_manager::exchange(const std::string& request, std::string& answer, const std::string& host) {
  if (!spdk_rpc_exchange(spdk_connections(), request, answer, host)) return false;
  return judge(answer);
}

bool base_target_manager::judge(std::string& answer) {
  std::lock_guard lock(mutex_);
  nlohmann::json parsed;
  try {
    if (!parse_answer(answer, parsed)) {
      // An array or a number answers no request: never a success.
      unexpected_answer_error("answer is not a JSON object", answer);
      return false;
    }
  } catch (...) {
    return false;
  }
  return !parsed.contains("error");
}

}  // namespace nvmf
