// Shares a zvol through a storage target and takes the share down again, as
// sequences of JSON-RPC requests on the calling thread's connection to that
// target: an AIO block device of the volume, a subsystem with one namespace of
// it and one TCP listener (port 4420), and optionally one admitted host. Every
// operation leaves the target's last answer in `answer`; after a share, an
// unshare or a look-up that answer also holds the subsystem's "nqn" and "port".
//
// A subsystem counts as the volume's share only when it holds the volume's
// namespace and a listener, and, for a share to one host, admits that host.
// A half-made one (a share that failed midway, or one for another host) is
// found by find_shared_subsystem and completed by the following share_volume
// instead of being reported as shared.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "nvmf/base_target_manager.h"

namespace nvmf {

class nvmf_target_manager : public base_target_manager {
 public:
  // `identity`: the namespace's NGUID ("" = none); `ptpl_file`: its
  // persistent-reservation file ("" = none).
  nvmf_target_manager(std::string identity, std::string ptpl_file)
      : identity_(std::move(identity)), ptpl_file_(std::move(ptpl_file)) {}

  // `host_nqn`: the host the share is for ("" = any host).
  bool find_shared_subsystem(const std::string& volume, const std::string& host, std::string& answer,
                             const std::string& host_nqn = "");
  bool share_volume(const std::string& volume, const std::string& host, uint32_t block_size, std::string& answer,
                    const std::string& host_nqn);
  bool unshare_volume(const std::string& volume, const std::string& host, std::string& answer,
                      const std::string& host_nqn);
  int32_t count_controllers(const std::string& nqn, std::string& answer, const std::string& host);
  int32_t volume_controller_count(const std::string& volume, std::string& answer, const std::string& host);

  bool create_subsystem(const std::string& nqn, const std::string& file, const std::string& traddr,
                        const std::string& trsvcid, const std::string& serial_number,
                        const std::string& model_number, const std::string& pool, bool allow_any_host,
                        std::string& answer, const std::string& host);
  bool allow_host(const std::string& nqn, const std::string& host_nqn, std::string& answer, const std::string& host);
  void make_share_answer(const std::string& nqn, std::string& answer);
  bool bdev_aio_create(const std::string& file, uint32_t block_size, const std::string& uuid_source,
                       std::string& answer, const std::string& host);
  bool bdev_aio_delete(const std::string& file, std::string& answer, const std::string& host);

  // As create_subsystem, with the namespace hidden from hosts until admitted.
  bool create_subsystem_no_auto_visible(const std::string& nqn, const std::string& file, const std::string& traddr,
                                        const std::string& trsvcid, const std::string& serial_number,
                                        const std::string& model_number, const std::string& pool,
                                        bool allow_any_host, std::string& answer, const std::string& host);
  // Removes the listener `traddr`:`trsvcid` first when both are given.
  bool delete_subsystem(const std::string& nqn, const std::string& traddr, const std::string& trsvcid,
                        std::string& answer, const std::string& host);
  // Presence tests: the answer says "Target already exists! NQN: ..." (true)
  // or "Target not exists!" (false); likewise "Namespace already exists!" and
  // "Namespace not exists!" for a namespace of block device `bdev_name` or id `nsid`.
  bool check_subsystem(const std::string& nqn, std::string& answer, const std::string& host);
  bool check_namespace(const std::string& nqn, const std::string& bdev_name, int64_t nsid, std::string& answer,
                       const std::string& host);
  // The subsystem's "namespaces" or "hosts" as compact JSON ("[]" when none).
  std::string get_namespaces(const std::string& nqn, std::string& answer, const std::string& host);
  std::string get_hosts(const std::string& nqn, std::string& answer, const std::string& host);
  // The number of admitted hosts over all subsystems; -1 on failure.
  int32_t list_hosts(std::string& answer, const std::string& host);
  // Whether `host_nqn` is admitted to the subsystem with exactly these keys
  // ("" = without that key).
  bool ensure_host(const std::string& nqn, const std::string& host_nqn, const std::string& dhchap_key,
                   const std::string& dhchap_ctrlr_key, std::string& answer, const std::string& host);

  // Single requests.
  bool nvmf_create_subsystem(const std::string& nqn, bool allow_any_host, const std::string& pool,
                             const std::string& serial_number, const std::string& model_number, std::string& answer,
                             const std::string& host);
  bool nvmf_subsystem_add_ns(const std::string& nqn, const std::string& file, std::string& answer,
                             const std::string& host);
  bool nvmf_subsystem_add_ns_no_auto_visible(const std::string& nqn, const std::string& file, std::string& answer,
                                             const std::string& host);
  bool nvmf_subsystem_remove_ns(const std::string& nqn, int64_t nsid, std::string& answer, const std::string& host);
  bool nvmf_subsystem_add_host(const std::string& nqn, const std::string& host_nqn, const std::string& dhchap_key,
                               const std::string& dhchap_ctrlr_key, std::string& answer, const std::string& host);
  bool nvmf_ns_add_host(const std::string& nqn, int64_t nsid, const std::string& host_nqn, std::string& answer,
                        const std::string& host);
  bool nvmf_ns_remove_host(const std::string& nqn, int64_t nsid, const std::string& host_nqn, std::string& answer,
                           const std::string& host);
  bool nvmf_subsystem_get_qpairs(const std::string& nqn, std::string& answer, const std::string& host);
  bool nvmf_get_transports(std::string& answer, const std::string& host);
  bool bdev_nvme_get_transport_statistics(std::string& answer, const std::string& host);
  bool nvmf_get_stats(std::string& answer, const std::string& host);
  bool nvmf_get_io_stats(std::string& answer, const std::string& host);
  bool bdev_aio_rescan(const std::string& name, std::string& answer, const std::string& host);
  bool bdev_get_iostat(std::string& answer, const std::string& host);
  bool bdev_set_qos_limit(const std::string& name, const std::string& limits_json, std::string& answer,
                          const std::string& host);
  bool keyring_file_add_key(const std::string& name, const std::string& path, std::string& answer,
                            const std::string& host);
  bool keyring_file_remove_key(const std::string& name, std::string& answer, const std::string& host);
  bool keyring_get_keys(std::string& answer, const std::string& host);
  bool nvmf_get_subsystems(std::string& answer, const std::string& host);
  bool nvmf_delete_subsystem(const std::string& nqn, std::string& answer, const std::string& host);
  bool nvmf_subsystem_add_listener(const std::string& nqn, const std::string& traddr, const std::string& trsvcid,
                                   std::string& answer, const std::string& host);
  bool nvmf_subsystem_remove_listener(const std::string& nqn, const std::string& traddr,
                                      const std::string& trsvcid, std::string& answer, const std::string& host);
  bool nvmf_subsystem_remove_host(const std::string& nqn, const std::string& host_nqn, std::string& answer,
                                  const std::string& host);

 private:
  // What a look-up found of a subsystem that lacks its namespace, its
  // listener or the entry of the host it is shared for.
  struct HalfMade {
    std::string nqn;
    bool has_namespace = false;
    bool has_listener = false;
  };

  bool add_namespace(const std::string& nqn, const std::string& file, std::string& answer, const std::string& host);
  // The non-discovery subsystem `nqn` of the target's list: false (answer
  // explaining) when the list cannot be read; `found` null when it is absent.
  bool find_subsystem(const std::string& nqn, nlohmann::json& found, std::string& answer, const std::string& host);

  std::string identity_;
  std::string ptpl_file_;
  std::optional<HalfMade> half_made_;
};

}  // namespace nvmf
