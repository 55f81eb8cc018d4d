// Shares a zvol through a storage target and takes the share down again, as
// sequences of JSON-RPC requests on the calling thread's connection to that
// target: an AIO block device of the volume, a subsystem with one namespace of
// it and one TCP listener (port 4420), and optionally one admitted host. Every
// operation leaves the target's last answer in `answer`; after a share, an
// unshare or a look-up that answer also holds the subsystem's "nqn" and "port".
//
// A subsystem counts as the volume's share only when it holds the volume's
// namespace and a listener. A half-made one (a share that failed midway) is
// found by find_shared_subsystem and completed by the following share_volume
// instead of being reported as shared.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "nvmf/base_target_manager.h"

namespace nvmf {

class nvmf_target_manager : public base_target_manager {
 public:
  // `identity`: the namespace's NGUID ("" = none); `ptpl_file`: its
  // persistent-reservation file ("" = none).
  nvmf_target_manager(std::string identity, std::string ptpl_file)
      : identity_(std::move(identity)), ptpl_file_(std::move(ptpl_file)) {}

  bool find_shared_subsystem(const std::string& volume, const std::string& host, std::string& answer);
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

  // Single requests.
  bool nvmf_get_subsystems(std::string& answer, const std::string& host);
  bool nvmf_delete_subsystem(const std::string& nqn, std::string& answer, const std::string& host);
  bool nvmf_subsystem_add_listener(const std::string& nqn, const std::string& traddr, const std::string& trsvcid,
                                   std::string& answer, const std::string& host);
  bool nvmf_subsystem_remove_listener(const std::string& nqn, const std::string& traddr,
                                      const std::string& trsvcid, std::string& answer, const std::string& host);
  bool nvmf_subsystem_remove_host(const std::string& nqn, const std::string& host_nqn, std::string& answer,
                                  const std::string& host);

 private:
  // What a look-up found of a subsystem that lacks its namespace or listener.
  struct HalfMade {
    std::string nqn;
    bool has_namespace = false;
    bool has_listener = false;
  };

  bool add_namespace(const std::string& nqn, const std::string& file, std::string& answer, const std::string& host);

  std::string identity_;
  std::string ptpl_file_;
  std::optional<HalfMade> half_made_;
};

}  // namespace nvmf
