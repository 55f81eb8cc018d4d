#include "nvmf/nvmf_share.h"

#include <nlohmann/json.hpp>

#include "nvmf/answer_text.h"
#include "nvmf/nvmf_initiator_manager.h"
#include "nvmf/nvmf_target_manager.h"

namespace nvmf {
namespace {

using json = nlohmann::json;

constexpr const char* kNoMessage = "answer carries no error message";
constexpr const char* kNotObject = "answer is not a JSON object";
constexpr std::string_view kFileExists = "File exists";
constexpr std::string_view kClaimed = " is claimed";
constexpr int kShareAttempts = 3;

// The error of a failed operation from its last answer.
std::string failure_text(const std::string& answer) {
  json parsed;
  if (!parse_answer(answer, parsed)) return unexpected_answer_text(kNotObject, answer);
  return answer_error_message(parsed, answer, kNoMessage);
}

// The error of an exception caught while `answer` was being made.
std::string exception_text(const char* operation, const std::string& answer) {
  try {
    throw;
  } catch (const json::exception& e) {
    return unexpected_answer_text(e.what(), answer);
  } catch (...) {
    return unexpected_answer_text(std::string("unknown exception in nvmf::") + operation + "()", answer);
  }
}

}  // namespace

share_result share_nqn(const std::string& host, const std::string& zvol, uint32_t block_size,
                       const std::string& host_nqn) {
  std::string answer;
  try {
    std::string volume = volume_name(zvol);
    nvmf_target_manager manager("", "");
    json parsed;
    std::string failure;
    bool shared = false;
    // A share of the same volume running at the same time can take the block
    // device between our subsystem and its namespace: the refusal says it is
    // claimed, and the next look-up finds (or completes) the other's work.
    for (int attempt = 1;; ++attempt) {
      shared = manager.find_shared_subsystem(volume, host, answer, host_nqn);
      if (!shared) shared = manager.share_volume(volume, host, block_size, answer, host_nqn);
      if (!parse_answer(answer, parsed)) return {0, unexpected_answer_text(kNotObject, answer)};
      if (shared) break;
      failure = answer_error_message(parsed, answer, kNoMessage);
      if (attempt == kShareAttempts || failure.find(kClaimed) == std::string::npos) break;
    }
    if (!shared && failure.compare(0, kFileExists.size(), kFileExists) != 0) return {0, failure};
    std::string nqn = json_get_text(parsed, "/nqn");
    if (nqn.empty())
      return {0, shared ? unexpected_answer_text("shared, but the answer carries no NQN", answer) : failure};
    uint64_t port = json_get_u64(parsed, "/port", 4420);
    if (port == 0 || port > 65535) return {0, unexpected_answer_text("share port out of range", answer)};
    return {static_cast<uint32_t>(port), nqn};
  } catch (...) {
    return {0, exception_text("share_nqn", answer)};
  }
}

std::optional<std::string> unshare_nqn(const std::string& host, const std::string& zvol,
                                       const std::string& host_nqn) {
  std::string answer;
  try {
    nvmf_target_manager manager("", "");
    if (manager.unshare_volume(volume_name(zvol), host, answer, host_nqn)) return std::nullopt;
    return failure_text(answer);
  } catch (...) {
    return exception_text("unshare_nqn", answer);
  }
}

mount_result mount_nqn(const std::string& target, const std::string& nqn, const std::string& host_nqn) {
  std::string answer;
  try {
    nvmf_initiator_manager manager;
    std::string device = manager.create(nqn, target, answer, host_nqn);
    if (!device.empty()) return {device, std::nullopt};
    return {"", failure_text(answer)};
  } catch (...) {
    return {"", exception_text("mount_nqn", answer)};
  }
}

std::optional<std::string> unmount_nqn(const std::string& target, const std::string& nqn) {
  std::string answer;
  try {
    nvmf_initiator_manager manager;
    if (manager.destroy(nqn, target, answer)) return std::nullopt;
    return failure_text(answer);
  } catch (...) {
    return exception_text("unmount_nqn", answer);
  }
}

int32_t shared_count(const std::string& zvol, const std::string& host) {
  try {
    std::string answer;
    nvmf_target_manager manager("", "");
    return manager.volume_controller_count(volume_name(zvol), answer, host);
  } catch (...) {
    return -2;
  }
}

}  // namespace nvmf
