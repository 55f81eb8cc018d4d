// The target manager's members that the share operations do not use: single
// requests, presence tests and host lists.
#include <nlohmann/json.hpp>

#include "nvmf/answer_text.h"
#include "nvmf/nvmf_target_manager.h"
#include "nvmf/request_builders.h"

namespace nvmf {
namespace {

using json = nlohmann::json;

std::string presence(const std::string& message) { return compact({{"error", {{"code", 0}, {"message", message}}}}); }

std::string member_text(const json& sub, const char* key) {
  return sub.is_object() && sub.contains(key) ? compact(sub[key]) : "[]";
}

}  // namespace

bool nvmf_target_manager::find_subsystem(const std::string& nqn, json& found, std::string& answer,
                                         const std::string& host) {
  found = nullptr;
  if (!nvmf_get_subsystems(answer, host)) return false;
  json parsed;
  if (!parse_answer(answer, parsed) || !parsed.contains("result") || !parsed["result"].is_array()) {
    unexpected_answer_error("nvmf_get_subsystems answered without a subsystem list", answer);
    return false;
  }
  for (const json& sub : parsed["result"]) {
    if (!sub.is_object() || sub.value("subtype", json()) == "Discovery") continue;
    if (sub.value("nqn", json()) == nqn) {
      found = sub;
      break;
    }
  }
  return true;
}

bool nvmf_target_manager::create_subsystem_no_auto_visible(
    const std::string& nqn, const std::string& file, const std::string& traddr, const std::string& trsvcid,
    const std::string& serial_number, const std::string& model_number, const std::string& pool, bool allow_any_host,
    std::string& answer, const std::string& host) {
  if (!nvmf_create_subsystem(nqn, allow_any_host, pool, serial_number, model_number, answer, host)) return false;
  if (!nvmf_subsystem_add_ns_no_auto_visible(nqn, file, answer, host)) return false;
  if (traddr.empty() || trsvcid.empty()) return true;
  return nvmf_subsystem_add_listener(nqn, traddr, trsvcid, answer, host);
}

bool nvmf_target_manager::delete_subsystem(const std::string& nqn, const std::string& traddr,
                                           const std::string& trsvcid, std::string& answer, const std::string& host) {
  if (!traddr.empty() && !trsvcid.empty() && !nvmf_subsystem_remove_listener(nqn, traddr, trsvcid, answer, host))
    return false;
  return nvmf_delete_subsystem(nqn, answer, host);
}

bool nvmf_target_manager::check_subsystem(const std::string& nqn, std::string& answer, const std::string& host) {
  json found;
  if (!find_subsystem(nqn, found, answer, host)) return false;
  answer = presence(found.is_null() ? "Target not exists!" : "Target already exists! NQN: " + nqn);
  return !found.is_null();
}

bool nvmf_target_manager::check_namespace(const std::string& nqn, const std::string& bdev_name, int64_t nsid,
                                          std::string& answer, const std::string& host) {
  json found;
  if (!find_subsystem(nqn, found, answer, host)) return false;
  bool present = false;
  if (found.is_object() && found.contains("namespaces") && found["namespaces"].is_array())
    for (const json& ns : found["namespaces"])
      present |= ns.value("bdev_name", json()) == bdev_name || ns.value("nsid", json()) == nsid;
  answer = presence(present ? "Namespace already exists!" : "Namespace not exists!");
  return present;
}

std::string nvmf_target_manager::get_namespaces(const std::string& nqn, std::string& answer,
                                                const std::string& host) {
  json found;
  find_subsystem(nqn, found, answer, host);
  return member_text(found, "namespaces");
}

std::string nvmf_target_manager::get_hosts(const std::string& nqn, std::string& answer, const std::string& host) {
  json found;
  find_subsystem(nqn, found, answer, host);
  return member_text(found, "hosts");
}

int32_t nvmf_target_manager::list_hosts(std::string& answer, const std::string& host) {
  if (!nvmf_get_subsystems(answer, host)) return -1;
  json parsed;
  if (!parse_answer(answer, parsed) || !parsed.contains("result") || !parsed["result"].is_array()) return -1;
  int32_t count = 0;
  for (const json& sub : parsed["result"])
    if (sub.is_object() && sub.contains("hosts") && sub["hosts"].is_array())
      count += static_cast<int32_t>(sub["hosts"].size());
  return count;
}

bool nvmf_target_manager::ensure_host(const std::string& nqn, const std::string& host_nqn,
                                      const std::string& dhchap_key, const std::string& dhchap_ctrlr_key,
                                      std::string& answer, const std::string& host) {
  json hosts = json::parse(get_hosts(nqn, answer, host), nullptr, false);
  if (!hosts.is_array()) return false;
  auto key = [](const json& entry, const char* name) {
    return entry.contains(name) && entry[name].is_string() ? entry[name].get<std::string>() : "";
  };
  for (const json& entry : hosts)
    if (entry.is_object() && entry.value("nqn", json()) == host_nqn && key(entry, "dhchap_key") == dhchap_key &&
        key(entry, "dhchap_ctrlr_key") == dhchap_ctrlr_key)
      return true;
  return false;
}

bool nvmf_target_manager::nvmf_create_subsystem(const std::string& nqn, bool allow_any_host, const std::string& pool,
                                                const std::string& serial_number, const std::string& model_number,
                                                std::string& answer, const std::string& host) {
  return exchange(nvmf_create_subsystem_request(nqn, allow_any_host, pool, serial_number, model_number), answer,
                  host);
}
bool nvmf_target_manager::nvmf_subsystem_add_ns(const std::string& nqn, const std::string& file, std::string& answer,
                                                const std::string& host) {
  return add_namespace(nqn, file, answer, host);
}
bool nvmf_target_manager::nvmf_subsystem_add_ns_no_auto_visible(const std::string& nqn, const std::string& file,
                                                                std::string& answer, const std::string& host) {
  return exchange(nvmf_subsystem_add_ns_no_auto_visible_request(nqn, file, identity_, ptpl_file_), answer, host);
}
bool nvmf_target_manager::nvmf_subsystem_remove_ns(const std::string& nqn, int64_t nsid, std::string& answer,
                                                   const std::string& host) {
  return exchange(nvmf_subsystem_remove_ns_request(nqn, nsid), answer, host);
}
bool nvmf_target_manager::nvmf_subsystem_add_host(const std::string& nqn, const std::string& host_nqn,
                                                  const std::string& dhchap_key,
                                                  const std::string& dhchap_ctrlr_key, std::string& answer,
                                                  const std::string& host) {
  return exchange(nvmf_subsystem_add_host_request(nqn, host_nqn, dhchap_key, dhchap_ctrlr_key), answer, host);
}
bool nvmf_target_manager::nvmf_ns_add_host(const std::string& nqn, int64_t nsid, const std::string& host_nqn,
                                           std::string& answer, const std::string& host) {
  return exchange(nvmf_ns_add_host_request(nqn, nsid, host_nqn), answer, host);
}
bool nvmf_target_manager::nvmf_ns_remove_host(const std::string& nqn, int64_t nsid, const std::string& host_nqn,
                                              std::string& answer, const std::string& host) {
  return exchange(nvmf_ns_remove_host_request(nqn, nsid, host_nqn), answer, host);
}
bool nvmf_target_manager::nvmf_subsystem_get_qpairs(const std::string& nqn, std::string& answer,
                                                    const std::string& host) {
  return exchange(nvmf_subsystem_get_qpairs_request(nqn), answer, host);
}
bool nvmf_target_manager::nvmf_get_transports(std::string& answer, const std::string& host) {
  return exchange(nvmf_get_transports_request(), answer, host);
}
bool nvmf_target_manager::bdev_nvme_get_transport_statistics(std::string& answer, const std::string& host) {
  return exchange(bdev_nvme_get_transport_statistics_request(), answer, host);
}
bool nvmf_target_manager::nvmf_get_stats(std::string& answer, const std::string& host) {
  return exchange(nvmf_get_stats_request(), answer, host);
}
bool nvmf_target_manager::nvmf_get_io_stats(std::string& answer, const std::string& host) {
  return exchange(nvmf_get_io_stats_request(), answer, host);
}
bool nvmf_target_manager::bdev_aio_rescan(const std::string& name, std::string& answer, const std::string& host) {
  return exchange(bdev_aio_rescan_request(name), answer, host);
}
bool nvmf_target_manager::bdev_get_iostat(std::string& answer, const std::string& host) {
  return exchange(bdev_get_iostat_request(), answer, host);
}
bool nvmf_target_manager::bdev_set_qos_limit(const std::string& name, const std::string& limits_json,
                                             std::string& answer, const std::string& host) {
  return exchange(bdev_set_qos_limit_request(name, limits_json), answer, host);
}
bool nvmf_target_manager::keyring_file_add_key(const std::string& name, const std::string& path, std::string& answer,
                                               const std::string& host) {
  return exchange(keyring_file_add_key_request(name, path), answer, host);
}
bool nvmf_target_manager::keyring_file_remove_key(const std::string& name, std::string& answer,
                                                  const std::string& host) {
  return exchange(keyring_file_remove_key_request(name), answer, host);
}
bool nvmf_target_manager::keyring_get_keys(std::string& answer, const std::string& host) {
  return exchange(keyring_get_keys_request(), answer, host);
}

}  // namespace nvmf
