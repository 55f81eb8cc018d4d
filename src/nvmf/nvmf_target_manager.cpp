#include "nvmf/nvmf_target_manager.h"

#include <nlohmann/json.hpp>

#include "nvmf/answer_text.h"
#include "nvmf/nvmf_names.h"
#include "nvmf/request_builders.h"
#include "nvmf/spdk_connections.h"

namespace nvmf {
namespace {

using json = nlohmann::json;

constexpr const char* kServiceId = "4420";
constexpr const char* kZvolDir = "/dev/zvol/";

std::string text_member(const json& j, const char* key) {
  return j.is_object() && j.contains(key) && j[key].is_string() ? j[key].get<std::string>() : "";
}

// Whether the listed subsystem `sub` lets `host_nqn` connect ("" = any host:
// not looked at).
bool admits(const json& sub, const std::string& host_nqn) {
  if (host_nqn.empty()) return true;
  if (sub.contains("allow_any_host") && sub["allow_any_host"] == true) return true;
  if (!sub.contains("hosts") || !sub["hosts"].is_array()) return false;
  for (const json& entry : sub["hosts"])
    if (text_member(entry, "nqn") == host_nqn) return true;
  return false;
}

}  // namespace

bool nvmf_target_manager::find_shared_subsystem(const std::string& volume, const std::string& host,
                                                std::string& answer, const std::string& host_nqn) {
  half_made_.reset();
  if (!nvmf_get_subsystems(answer, host)) return false;
  json parsed;
  if (!parse_answer(answer, parsed) || !parsed.contains("result") || !parsed["result"].is_array()) {
    unexpected_answer_error("nvmf_get_subsystems answered without a subsystem list", answer);
    return false;
  }
  std::string nqn = subsystem_nqn_from_path(volume);
  std::string bdev = zvol_relative_name(kZvolDir + volume);
  for (const json& sub : parsed["result"]) {
    if (text_member(sub, "subtype") == "Discovery" || text_member(sub, "nqn") != nqn) continue;
    HalfMade found{nqn, false, false};
    if (sub.contains("namespaces") && sub["namespaces"].is_array())
      for (const json& ns : sub["namespaces"]) found.has_namespace |= text_member(ns, "bdev_name") == bdev;
    std::string port;
    if (sub.contains("listen_addresses") && sub["listen_addresses"].is_array() && !sub["listen_addresses"].empty()) {
      found.has_listener = true;
      port = text_member(sub["listen_addresses"][0], "trsvcid");
    }
    if (!found.has_namespace || !found.has_listener || !admits(sub, host_nqn)) {
      half_made_ = found;
      answer.clear();
      return false;
    }
    answer = compact({{"nqn", nqn}, {"port", port}});
    return true;
  }
  answer.clear();
  return false;
}

bool nvmf_target_manager::share_volume(const std::string& volume, const std::string& host, uint32_t block_size,
                                       std::string& answer, const std::string& host_nqn) {
  std::string file = kZvolDir + volume;
  std::string nqn = subsystem_nqn_from_path(volume);
  auto failed = [&] {
    make_share_answer(nqn, answer);
    return false;
  };
  if (!bdev_aio_create(file, block_size, "", answer, host)) return failed();

  std::optional<HalfMade> half_made = half_made_;
  half_made_.reset();
  if (half_made && half_made->nqn == nqn) {
    // A share that failed midway left the subsystem: complete it.
    if (!half_made->has_namespace && !add_namespace(nqn, file, answer, host)) return failed();
    if (!half_made->has_listener && !nvmf_subsystem_add_listener(nqn, host, kServiceId, answer, host))
      return failed();
  } else if (!create_subsystem(nqn, file, host, kServiceId, "", "", "", host_nqn.empty(), answer, host)) {
    return failed();
  }
  if (!host_nqn.empty() && !allow_host(nqn, host_nqn, answer, host)) return failed();
  make_share_answer(nqn, answer);
  drop_host_connection(host);
  return true;
}

bool nvmf_target_manager::unshare_volume(const std::string& volume, const std::string& host, std::string& answer,
                                         const std::string& host_nqn) {
  std::string nqn = subsystem_nqn_from_path(volume);
  nvmf_subsystem_remove_listener(nqn, host, kServiceId, answer, host);
  if (!host_nqn.empty()) nvmf_subsystem_remove_host(nqn, host_nqn, answer, host);
  if (!nvmf_delete_subsystem(nqn, answer, host) || !bdev_aio_delete(kZvolDir + volume, answer, host)) {
    make_share_answer(nqn, answer);
    return false;
  }
  make_share_answer(nqn, answer);
  drop_host_connection(host);
  return true;
}

int32_t nvmf_target_manager::count_controllers(const std::string& nqn, std::string& answer, const std::string& host) {
  if (!exchange(nvmf_subsystem_get_controllers_request(nqn), answer, host)) return -1;
  json parsed;
  if (!parse_answer(answer, parsed) || !parsed.contains("result") || !parsed["result"].is_array()) {
    unexpected_answer_error("nvmf_subsystem_get_controllers answered without a controller list", answer);
    return -1;
  }
  return static_cast<int32_t>(parsed["result"].size());
}

int32_t nvmf_target_manager::volume_controller_count(const std::string& volume, std::string& answer,
                                                     const std::string& host) {
  return count_controllers(subsystem_nqn_from_path(volume), answer, host);
}

bool nvmf_target_manager::create_subsystem(const std::string& nqn, const std::string& file,
                                           const std::string& traddr, const std::string& trsvcid,
                                           const std::string& serial_number, const std::string& model_number,
                                           const std::string& pool, bool allow_any_host, std::string& answer,
                                           const std::string& host) {
  if (!exchange(nvmf_create_subsystem_request(nqn, allow_any_host, pool, serial_number, model_number), answer,
                host))
    return false;
  if (!add_namespace(nqn, file, answer, host)) return false;
  if (traddr.empty() || trsvcid.empty()) return true;
  return nvmf_subsystem_add_listener(nqn, traddr, trsvcid, answer, host);
}

bool nvmf_target_manager::add_namespace(const std::string& nqn, const std::string& file, std::string& answer,
                                        const std::string& host) {
  return exchange(nvmf_subsystem_add_ns_request(nqn, file, identity_, ptpl_file_), answer, host);
}

bool nvmf_target_manager::allow_host(const std::string& nqn, const std::string& host_nqn, std::string& answer,
                                     const std::string& host) {
  return exchange(nvmf_subsystem_add_host_request(nqn, host_nqn, "", ""), answer, host);
}

void nvmf_target_manager::make_share_answer(const std::string& nqn, std::string& answer) {
  json parsed = json::object();
  if (!answer.empty() && !parse_answer(answer, parsed)) {
    unexpected_answer_error("answer is not a JSON object", answer);
    return;
  }
  parsed["nqn"] = nqn;
  parsed["port"] = 4420;
  answer = compact(parsed);
}

bool nvmf_target_manager::bdev_aio_create(const std::string& file, uint32_t block_size,
                                          const std::string& uuid_source, std::string& answer,
                                          const std::string& host) {
  if (exchange(bdev_aio_create_request(file, block_size, uuid_source), answer, host)) return true;
  json parsed;
  if (parse_answer(answer, parsed) && text_member(parsed.value("error", json()), "message") == "File exists") {
    answer.clear();
    return true;
  }
  return false;
}

bool nvmf_target_manager::bdev_aio_delete(const std::string& file, std::string& answer, const std::string& host) {
  return exchange(bdev_aio_delete_request(file), answer, host);
}

bool nvmf_target_manager::nvmf_get_subsystems(std::string& answer, const std::string& host) {
  return exchange(nvmf_get_subsystems_request(), answer, host);
}

bool nvmf_target_manager::nvmf_delete_subsystem(const std::string& nqn, std::string& answer,
                                                const std::string& host) {
  return exchange(nvmf_delete_subsystem_request(nqn), answer, host);
}

bool nvmf_target_manager::nvmf_subsystem_add_listener(const std::string& nqn, const std::string& traddr,
                                                      const std::string& trsvcid, std::string& answer,
                                                      const std::string& host) {
  return exchange(nvmf_subsystem_add_listener_request(nqn, traddr, trsvcid), answer, host);
}

bool nvmf_target_manager::nvmf_subsystem_remove_listener(const std::string& nqn, const std::string& traddr,
                                                         const std::string& trsvcid, std::string& answer,
                                                         const std::string& host) {
  return exchange(nvmf_subsystem_remove_listener_request(nqn, traddr, trsvcid), answer, host);
}

bool nvmf_target_manager::nvmf_subsystem_remove_host(const std::string& nqn, const std::string& host_nqn,
                                                     std::string& answer, const std::string& host) {
  return exchange(nvmf_subsystem_remove_host_request(nqn, host_nqn), answer, host);
}

}  // namespace nvmf
