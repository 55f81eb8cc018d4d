#include "nvmf/request_builders.h"

#include <map>
#include <stdexcept>

#include "nvmf/answer_text.h"
#include "nvmf/nvmf_names.h"
#include "nvmf/rpc_request.h"

namespace nvmf {
namespace {

using json = nlohmann::json;
using K = ParamKind;

const std::map<std::string, RequestSpec>& table() {
  static const std::map<std::string, RequestSpec> specs = {
      {"bdev_aio_create_request",
       {"bdev_aio_create", {{"name", K::text}, {"filename", K::text}, {"block_size", K::integer}, {"uuid", K::opt_text}}}},
      {"bdev_aio_delete_request", {"bdev_aio_delete", {{"name", K::text}}}},
      {"bdev_aio_rescan_request", {"bdev_aio_rescan", {{"name", K::text}}}},
      {"bdev_get_iostat_request", {"bdev_get_iostat", {}}},
      {"bdev_set_qos_limit_request", {"bdev_set_qos_limit", {{"name", K::text}}}},
      {"keyring_file_add_key_request", {"keyring_file_add_key", {{"name", K::text}, {"path", K::text}}}},
      {"keyring_file_remove_key_request", {"keyring_file_remove_key", {{"name", K::text}}}},
      {"keyring_get_keys_request", {"keyring_get_keys", {}}},
      {"nvmf_create_subsystem_request",
       {"nvmf_create_subsystem",
        {{"nqn", K::text}, {"allow_any_host", K::boolean}, {"ana_reporting", K::boolean}, {"pool", K::opt_text},
         {"serial_number", K::opt_text}, {"model_number", K::opt_text}}}},
      {"nvmf_delete_subsystem_request", {"nvmf_delete_subsystem", {{"nqn", K::text}}}},
      {"nvmf_subsystem_add_ns_request", {"nvmf_subsystem_add_ns", {{"nqn", K::text}, {"namespace", K::object}}}},
      {"nvmf_subsystem_remove_ns_request", {"nvmf_subsystem_remove_ns", {{"nqn", K::text}, {"nsid", K::integer}}}},
      {"nvmf_subsystem_add_listener_request",
       {"nvmf_subsystem_add_listener", {{"nqn", K::text}, {"listen_address", K::object}}}},
      {"nvmf_subsystem_remove_listener_request",
       {"nvmf_subsystem_remove_listener", {{"nqn", K::text}, {"listen_address", K::object}}}},
      {"nvmf_subsystem_add_host_request",
       {"nvmf_subsystem_add_host", {{"nqn", K::text}, {"host", K::text}, {"dhchap_key", K::opt_text},
                                    {"dhchap_ctrlr_key", K::opt_text}}}},
      {"nvmf_subsystem_remove_host_request", {"nvmf_subsystem_remove_host", {{"nqn", K::text}, {"host", K::text}}}},
      {"nvmf_ns_add_host_request",
       {"nvmf_ns_add_host", {{"nqn", K::text}, {"nsid", K::integer}, {"host", K::text}}}},
      {"nvmf_ns_remove_host_request",
       {"nvmf_ns_remove_host", {{"nqn", K::text}, {"nsid", K::integer}, {"host", K::text}}}},
      {"nvmf_subsystem_get_controllers_request", {"nvmf_subsystem_get_controllers", {{"nqn", K::text}}}},
      {"nvmf_get_subsystems_request", {"nvmf_get_subsystems", {}}},
      {"nvmf_subsystem_get_qpairs_request", {"nvmf_subsystem_get_qpairs", {{"nqn", K::text}}}},
      {"nvmf_get_transports_request", {"nvmf_get_transports", {}}},
      {"bdev_nvme_get_transport_statistics_request", {"bdev_nvme_get_transport_statistics", {}}},
      {"nvmf_get_stats_request", {"nvmf_get_stats", {}}},
      {"nvmf_get_io_stats_request", {"nvmf_get_io_stats", {}}},
      {"iscsi_create_target_node_request",
       {"iscsi_create_target_node",
        {{"name", K::text}, {"alias_name", K::text}, {"pg_ig_maps", K::list}, {"luns", K::list},
         {"queue_depth", K::integer}, {"pool", K::opt_text}, {"disable_chap", K::boolean},
         {"require_chap", K::boolean}, {"mutual_chap", K::boolean}, {"chap_group", K::integer}}}},
      {"iscsi_delete_target_node_request", {"iscsi_delete_target_node", {{"name", K::text}}}},
      {"iscsi_create_portal_group_request",
       {"iscsi_create_portal_group", {{"portals", K::list}, {"tag", K::integer}, {"pool", K::opt_text}}}},
      {"iscsi_delete_portal_group_request", {"iscsi_delete_portal_group", {{"tag", K::integer}}}},
      {"iscsi_portal_group_add_portal_request",
       {"iscsi_portal_group_add_portal", {{"tag", K::integer}, {"host", K::text}, {"port", K::text}}}},
      {"iscsi_portal_group_remove_portal_request",
       {"iscsi_portal_group_remove_portal", {{"tag", K::integer}, {"host", K::text}, {"port", K::text}}}},
      {"iscsi_create_initiator_group_request",
       {"iscsi_create_initiator_group", {{"initiators", K::list}, {"netmasks", K::list}, {"tag", K::integer}}}},
      {"iscsi_delete_initiator_group_request", {"iscsi_delete_initiator_group", {{"tag", K::integer}}}},
      {"iscsi_create_auth_group_request", {"iscsi_create_auth_group", {{"tag", K::integer}, {"secrets", K::list}}}},
      {"iscsi_delete_auth_group_request", {"iscsi_delete_auth_group", {{"tag", K::integer}}}},
      {"iscsi_target_node_add_lun_request",
       {"iscsi_target_node_add_lun",
        {{"name", K::text}, {"bdev_name", K::text}, {"lun_id", K::integer}, {"ptpl_file", K::opt_text}}}},
      {"iscsi_target_node_add_lun_mask_request",
       {"iscsi_target_node_add_lun_mask", {{"name", K::text}, {"lun_id", K::integer}, {"ig_tag", K::integer}}}},
      {"iscsi_target_node_remove_lun_mask_request",
       {"iscsi_target_node_remove_lun_mask", {{"name", K::text}, {"lun_id", K::integer}, {"ig_tag", K::integer}}}},
      {"iscsi_target_node_add_pg_ig_maps_request",
       {"iscsi_target_node_add_pg_ig_maps", {{"name", K::text}, {"pg_ig_maps", K::list}}}},
      {"iscsi_target_node_remove_pg_ig_maps_request",
       {"iscsi_target_node_remove_pg_ig_maps", {{"name", K::text}, {"pg_ig_maps", K::list}}}},
      {"iscsi_initiator_group_add_initiators_request",
       {"iscsi_initiator_group_add_initiators", {{"initiators", K::list}, {"netmasks", K::list}, {"tag", K::integer}}}},
      {"iscsi_initiator_group_remove_initiators_request",
       {"iscsi_initiator_group_remove_initiators",
        {{"initiators", K::list}, {"netmasks", K::list}, {"tag", K::integer}}}},
      {"iscsi_auth_group_add_secret_request",
       {"iscsi_auth_group_add_secret", {{"tag", K::integer}, {"user", K::text}, {"secret", K::text},
                                        {"muser", K::text}, {"msecret", K::text}}}},
      {"iscsi_auth_group_remove_secret_request",
       {"iscsi_auth_group_remove_secret", {{"tag", K::integer}, {"user", K::text}}}},
      {"iscsi_target_node_set_auth_request",
       {"iscsi_target_node_set_auth", {{"name", K::text}, {"chap_group", K::integer}, {"require_chap", K::boolean},
                                       {"mutual_chap", K::boolean}}}},
      {"iscsi_get_target_nodes_request", {"iscsi_get_target_nodes", {}}},
      {"iscsi_get_portal_groups_request", {"iscsi_get_portal_groups", {}}},
      {"iscsi_get_initiator_groups_request", {"iscsi_get_initiator_groups", {}}},
      {"iscsi_get_auth_groups_request", {"iscsi_get_auth_groups", {}}},
      {"iscsi_get_connections_request", {"iscsi_get_connections", {}}},
      {"iscsi_get_io_stats_request", {"iscsi_get_io_stats", {}}},
      {"initiator_create_request", {"create", {{"nqn", K::text}, {"target", K::text}, {"hostnqn", K::opt_text}}}},
      {"initiator_destroy_request", {"destroy", {{"nqn", K::text}, {"target", K::text}}}},
      {"initiator_list_request", {"list", {}}},
  };
  return specs;
}

json member(ParamKind kind, const json& value) {
  switch (kind) {
    case K::text:
    case K::opt_text:
      return value.is_string() ? value : json(value.is_null() ? "" : value.dump());
    case K::integer:
      return value.is_number() ? value : json(0);
    case K::boolean:
      return value.is_boolean() ? value : json(false);
    case K::list:
      return value.is_array() ? value : json::array();
    case K::object:
      return value.is_object() ? value : json::object();
  }
  return value;
}

// The request of `builder` with `values`, over members already in `base`.
std::string build(const std::string& builder, const std::vector<json>& values, json base = json::object()) {
  const RequestSpec& spec = request_spec(builder);
  json request = make_rpc_request();
  for (size_t i = 0; i < spec.params.size() && i < values.size(); ++i) {
    const ParamSpec& p = spec.params[i];
    if (p.kind == K::opt_text && (values[i].is_null() || (values[i].is_string() && values[i].get_ref<const std::string&>().empty()))) continue;
    base[p.key] = member(p.kind, values[i]);
  }
  if (!spec.params.empty() || !base.empty()) request["params"] = base;
  request["method"] = spec.method;
  return request.dump();  // throws on text that is not UTF-8
}

json namespace_object(const std::string& file, const std::string& identity, const std::string& ptpl_file,
                      bool no_auto_visible) {
  json ns = {{"bdev_name", zvol_relative_name(file)}, {"no_auto_visible", no_auto_visible}};
  if (!identity.empty()) {
    ns["nguid"] = identity;
    ns["uuid"] = uuid_from_name(identity);
    ns["eui64"] = identity.size() > 16 ? identity.substr(16) : "";
  }
  if (!ptpl_file.empty()) ns["ptpl_file"] = ptpl_file;
  return ns;
}

json listen_address(const std::string& traddr, const std::string& trsvcid) {
  return {{"trtype", "tcp"}, {"traddr", traddr}, {"trsvcid", trsvcid}};
}

json parsed_object(const std::string& text) {
  json parsed = text.empty() ? json::object() : json::parse(text);
  return parsed.is_object() ? parsed : json::object();
}

}  // namespace

const RequestSpec& request_spec(const std::string& builder) { return table().at(builder); }

std::string build_request(const RequestSpec& spec, const std::vector<json>& values) {
  for (const auto& [name, entry] : table())
    if (&entry == &spec) return build(name, values);
  throw std::out_of_range("request spec not in the table");
}

std::string bdev_aio_create_request(const std::string& file, uint32_t block_size, const std::string& uuid_source) {
  return build(__func__, {zvol_relative_name(file), file, block_size,
                          uuid_source.empty() ? "" : uuid_from_name(uuid_source)});
}
std::string bdev_aio_delete_request(const std::string& file) { return build(__func__, {zvol_relative_name(file)}); }
std::string bdev_aio_rescan_request(const std::string& name) { return build(__func__, {name}); }
std::string bdev_get_iostat_request() { return build(__func__, {}); }
std::string bdev_set_qos_limit_request(const std::string& name, const std::string& limits_json) {
  return build(__func__, {name}, parsed_object(limits_json));
}
std::string keyring_file_add_key_request(const std::string& name, const std::string& path) {
  return build(__func__, {name, path});
}
std::string keyring_file_remove_key_request(const std::string& name) { return build(__func__, {name}); }
std::string keyring_get_keys_request() { return build(__func__, {}); }

std::string nvmf_create_subsystem_request(const std::string& nqn, bool allow_any_host, const std::string& pool,
                                          const std::string& serial_number, const std::string& model_number) {
  return build(__func__, {nqn, allow_any_host, true, pool, serial_number, model_number});
}
std::string nvmf_delete_subsystem_request(const std::string& nqn) { return build(__func__, {nqn}); }
std::string nvmf_subsystem_add_ns_request(const std::string& nqn, const std::string& file,
                                          const std::string& identity, const std::string& ptpl_file) {
  return build(__func__, {nqn, namespace_object(file, identity, ptpl_file, false)});
}
std::string nvmf_subsystem_add_ns_no_auto_visible_request(const std::string& nqn, const std::string& file,
                                                          const std::string& identity, const std::string& ptpl_file) {
  return build("nvmf_subsystem_add_ns_request", {nqn, namespace_object(file, identity, ptpl_file, true)});
}
std::string nvmf_subsystem_remove_ns_request(const std::string& nqn, int64_t nsid) {
  return build(__func__, {nqn, nsid});
}
std::string nvmf_subsystem_add_listener_request(const std::string& nqn, const std::string& traddr,
                                                const std::string& trsvcid) {
  return build(__func__, {nqn, listen_address(traddr, trsvcid)});
}
std::string nvmf_subsystem_remove_listener_request(const std::string& nqn, const std::string& traddr,
                                                   const std::string& trsvcid) {
  return build(__func__, {nqn, listen_address(traddr, trsvcid)});
}
std::string nvmf_subsystem_add_host_request(const std::string& nqn, const std::string& host,
                                            const std::string& dhchap_key, const std::string& dhchap_ctrlr_key) {
  bool keys = !dhchap_key.empty() && !dhchap_ctrlr_key.empty();
  return build(__func__, {nqn, host, keys ? dhchap_key : "", keys ? dhchap_ctrlr_key : ""});
}
std::string nvmf_subsystem_remove_host_request(const std::string& nqn, const std::string& host) {
  return build(__func__, {nqn, host});
}
std::string nvmf_ns_add_host_request(const std::string& nqn, int64_t nsid, const std::string& host) {
  return build(__func__, {nqn, nsid, host});
}
std::string nvmf_ns_remove_host_request(const std::string& nqn, int64_t nsid, const std::string& host) {
  return build(__func__, {nqn, nsid, host});
}
std::string nvmf_subsystem_get_controllers_request(const std::string& nqn) { return build(__func__, {nqn}); }
std::string nvmf_get_subsystems_request() { return build(__func__, {}); }
std::string nvmf_subsystem_get_qpairs_request(const std::string& nqn) { return build(__func__, {nqn}); }
std::string nvmf_get_transports_request() { return build(__func__, {}); }
std::string bdev_nvme_get_transport_statistics_request() { return build(__func__, {}); }
std::string nvmf_get_stats_request() { return build(__func__, {}); }
std::string nvmf_get_io_stats_request() { return build(__func__, {}); }

std::string iscsi_create_target_node_request(const std::string& name, const std::string& alias_name,
                                             const json_list& pg_ig_maps, const json_list& luns, int64_t queue_depth,
                                             const std::string& pool, const std::string& options_json) {
  json options = parsed_object(options_json);
  return build(__func__, {name, alias_name, pg_ig_maps, luns, queue_depth, pool, true,
                          options.value("require_chap", true), options.value("mutual_chap", false),
                          options.value("chap_group", 0)});
}
std::string iscsi_delete_target_node_request(const std::string& name) { return build(__func__, {name}); }
std::string iscsi_create_portal_group_request(const json_list& portals, int64_t tag, const std::string& pool) {
  return build(__func__, {portals, tag, pool});
}
std::string iscsi_delete_portal_group_request(int64_t tag) { return build(__func__, {tag}); }
std::string iscsi_portal_group_add_portal_request(int64_t tag, const std::string& host, const std::string& port) {
  return build(__func__, {tag, host, port});
}
std::string iscsi_portal_group_remove_portal_request(int64_t tag, const std::string& host, const std::string& port) {
  return build(__func__, {tag, host, port});
}
std::string iscsi_create_initiator_group_request(const json_list& initiators, const json_list& netmasks, int64_t tag) {
  return build(__func__, {initiators, netmasks, tag});
}
std::string iscsi_delete_initiator_group_request(int64_t tag) { return build(__func__, {tag}); }
std::string iscsi_create_auth_group_request(int64_t tag, const json_list& secrets) {
  return build(__func__, {tag, secrets});
}
std::string iscsi_delete_auth_group_request(int64_t tag) { return build(__func__, {tag}); }
std::string iscsi_target_node_add_lun_request(const std::string& name, const std::string& file, int64_t lun_id,
                                              const std::string& ptpl_file) {
  return build(__func__, {name, zvol_relative_name(file), lun_id, ptpl_file});
}
std::string iscsi_target_node_add_lun_mask_request(const std::string& name, int64_t lun_id, int64_t ig_tag) {
  return build(__func__, {name, lun_id, ig_tag});
}
std::string iscsi_target_node_remove_lun_mask_request(const std::string& name, int64_t lun_id, int64_t ig_tag) {
  return build(__func__, {name, lun_id, ig_tag});
}
std::string iscsi_target_node_add_pg_ig_maps_request(const std::string& name, const json_list& pg_ig_maps) {
  return build(__func__, {name, pg_ig_maps});
}
std::string iscsi_target_node_remove_pg_ig_maps_request(const std::string& name, const json_list& pg_ig_maps) {
  return build(__func__, {name, pg_ig_maps});
}
std::string iscsi_initiator_group_add_initiators_request(const json_list& initiators, const json_list& netmasks,
                                                         int64_t tag) {
  return build(__func__, {initiators, netmasks, tag});
}
std::string iscsi_initiator_group_remove_initiators_request(const json_list& initiators, const json_list& netmasks,
                                                            int64_t tag) {
  return build(__func__, {initiators, netmasks, tag});
}
std::string iscsi_auth_group_add_secret_request(int64_t tag, const nlohmann::json& secret) {
  auto text = [&](const char* key) { return secret.is_object() ? secret.value(key, std::string()) : ""; };
  return build(__func__, {tag, text("user"), text("secret"), text("muser"), text("msecret")});
}
std::string iscsi_auth_group_remove_secret_request(int64_t tag, const std::string& user) {
  return build(__func__, {tag, user});
}
std::string iscsi_target_node_set_auth_request(const std::string& name, int64_t chap_group, bool require_chap,
                                               bool mutual_chap) {
  return build(__func__, {name, chap_group, require_chap, mutual_chap});
}
std::string iscsi_get_target_nodes_request() { return build(__func__, {}); }
std::string iscsi_get_portal_groups_request() { return build(__func__, {}); }
std::string iscsi_get_initiator_groups_request() { return build(__func__, {}); }
std::string iscsi_get_auth_groups_request() { return build(__func__, {}); }
std::string iscsi_get_connections_request() { return build(__func__, {}); }
std::string iscsi_get_io_stats_request() { return build(__func__, {}); }

std::string initiator_create_request(const std::string& nqn, const std::string& target, const std::string& hostnqn) {
  return build(__func__, {nqn, target, hostnqn});
}
std::string initiator_destroy_request(const std::string& nqn, const std::string& target) {
  return build(__func__, {nqn, target});
}
std::string initiator_list_request() { return build(__func__, {}); }

}  // namespace nvmf
