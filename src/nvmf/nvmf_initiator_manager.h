// The client of this host's NVMe-oF initiator service: "create" connects the
// host to a remote subsystem and names the local device it appears as,
// "destroy" disconnects it. One Unix-socket connection per request; the answer
// is read until it is complete JSON, the service closes, or the wait ends.
#pragma once

#include <chrono>
#include <string>

#include "nvmf/base_target_manager.h"

namespace nvmf {

class nvmf_initiator_manager : public base_target_manager {
 public:
  // `host` is not used: the service is always the local one.
  bool exchange(const std::string& request, std::string& answer, const std::string& host) override;

  // The local device of `nqn` at `target`; "" on failure (the answer says why).
  std::string create(const std::string& nqn, const std::string& target, std::string& answer,
                     const std::string& host_nqn);
  bool destroy(const std::string& nqn, const std::string& target, std::string& answer);
  bool list(std::string& answer);
};

// How long an exchange waits for the service's answer (30 s); tests shorten it.
void set_initiator_answer_wait(std::chrono::milliseconds wait);

}  // namespace nvmf
