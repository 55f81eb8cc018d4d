// One builder per JSON-RPC method of the storage target and of the initiator
// service. Each gives the compact text of one request: the envelope of
// make_rpc_request, "method", and "params" when the method has any (members in
// key order; optional texts left out when empty). The method names and their
// members are kept in one table (request_spec).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace nvmf {

// How a member of "params" is written.
enum class ParamKind { text, opt_text, integer, boolean, list, object };

struct ParamSpec {
  const char* key;
  ParamKind kind;
};

struct RequestSpec {
  const char* method;
  std::vector<ParamSpec> params;
};

// The table entry of a builder (by its name, e.g. "bdev_aio_delete_request");
// throws std::out_of_range for a name not in the table.
const RequestSpec& request_spec(const std::string& builder);

// The request of `spec` with `values` given in the order of its members.
std::string build_request(const RequestSpec& spec, const std::vector<nlohmann::json>& values);

using json_list = nlohmann::json;  // a JSON array

// Block devices and key ring.
std::string bdev_aio_create_request(const std::string& file, uint32_t block_size, const std::string& uuid_source);
std::string bdev_aio_delete_request(const std::string& file);
std::string bdev_aio_rescan_request(const std::string& name);
std::string bdev_get_iostat_request();
std::string bdev_set_qos_limit_request(const std::string& name, const std::string& limits_json);
std::string keyring_file_add_key_request(const std::string& name, const std::string& path);
std::string keyring_file_remove_key_request(const std::string& name);
std::string keyring_get_keys_request();

// NVMe-oF subsystems.
std::string nvmf_create_subsystem_request(const std::string& nqn, bool allow_any_host, const std::string& pool,
                                          const std::string& serial_number, const std::string& model_number);
std::string nvmf_delete_subsystem_request(const std::string& nqn);
std::string nvmf_subsystem_add_ns_request(const std::string& nqn, const std::string& file,
                                          const std::string& identity, const std::string& ptpl_file);
std::string nvmf_subsystem_add_ns_no_auto_visible_request(const std::string& nqn, const std::string& file,
                                                          const std::string& identity, const std::string& ptpl_file);
std::string nvmf_subsystem_remove_ns_request(const std::string& nqn, int64_t nsid);
std::string nvmf_subsystem_add_listener_request(const std::string& nqn, const std::string& traddr,
                                                const std::string& trsvcid);
std::string nvmf_subsystem_remove_listener_request(const std::string& nqn, const std::string& traddr,
                                                   const std::string& trsvcid);
std::string nvmf_subsystem_add_host_request(const std::string& nqn, const std::string& host,
                                            const std::string& dhchap_key, const std::string& dhchap_ctrlr_key);
std::string nvmf_subsystem_remove_host_request(const std::string& nqn, const std::string& host);
std::string nvmf_ns_add_host_request(const std::string& nqn, int64_t nsid, const std::string& host);
std::string nvmf_ns_remove_host_request(const std::string& nqn, int64_t nsid, const std::string& host);
std::string nvmf_subsystem_get_controllers_request(const std::string& nqn);
std::string nvmf_get_subsystems_request();
std::string nvmf_subsystem_get_qpairs_request(const std::string& nqn);
std::string nvmf_get_transports_request();
std::string bdev_nvme_get_transport_statistics_request();
std::string nvmf_get_stats_request();
std::string nvmf_get_io_stats_request();

// iSCSI target (offered; the list arguments are ready JSON arrays).
std::string iscsi_create_target_node_request(const std::string& name, const std::string& alias_name,
                                             const json_list& pg_ig_maps, const json_list& luns, int64_t queue_depth,
                                             const std::string& pool, const std::string& options_json);
std::string iscsi_delete_target_node_request(const std::string& name);
std::string iscsi_create_portal_group_request(const json_list& portals, int64_t tag, const std::string& pool);
std::string iscsi_delete_portal_group_request(int64_t tag);
std::string iscsi_portal_group_add_portal_request(int64_t tag, const std::string& host, const std::string& port);
std::string iscsi_portal_group_remove_portal_request(int64_t tag, const std::string& host, const std::string& port);
std::string iscsi_create_initiator_group_request(const json_list& initiators, const json_list& netmasks, int64_t tag);
std::string iscsi_delete_initiator_group_request(int64_t tag);
std::string iscsi_create_auth_group_request(int64_t tag, const json_list& secrets);
std::string iscsi_delete_auth_group_request(int64_t tag);
std::string iscsi_target_node_add_lun_request(const std::string& name, const std::string& file, int64_t lun_id,
                                              const std::string& ptpl_file);
std::string iscsi_target_node_add_lun_mask_request(const std::string& name, int64_t lun_id, int64_t ig_tag);
std::string iscsi_target_node_remove_lun_mask_request(const std::string& name, int64_t lun_id, int64_t ig_tag);
std::string iscsi_target_node_add_pg_ig_maps_request(const std::string& name, const json_list& pg_ig_maps);
std::string iscsi_target_node_remove_pg_ig_maps_request(const std::string& name, const json_list& pg_ig_maps);
std::string iscsi_initiator_group_add_initiators_request(const json_list& initiators, const json_list& netmasks,
                                                         int64_t tag);
std::string iscsi_initiator_group_remove_initiators_request(const json_list& initiators, const json_list& netmasks,
                                                            int64_t tag);
std::string iscsi_auth_group_add_secret_request(int64_t tag, const nlohmann::json& secret);
std::string iscsi_auth_group_remove_secret_request(int64_t tag, const std::string& user);
std::string iscsi_target_node_set_auth_request(const std::string& name, int64_t chap_group, bool require_chap,
                                               bool mutual_chap);
std::string iscsi_get_target_nodes_request();
std::string iscsi_get_portal_groups_request();
std::string iscsi_get_initiator_groups_request();
std::string iscsi_get_auth_groups_request();
std::string iscsi_get_connections_request();
std::string iscsi_get_io_stats_request();

// The initiator service.
std::string initiator_create_request(const std::string& nqn, const std::string& target, const std::string& hostnqn);
std::string initiator_destroy_request(const std::string& nqn, const std::string& target);
std::string initiator_list_request();

}  // namespace nvmf
