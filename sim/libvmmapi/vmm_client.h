// One request to the stand-in hypervisor of a VM over its node socket.
#pragma once

#include <string>

namespace vmm_sim {

// Sends `request` (one line, without its "\n") to the hypervisor listening on
// `node` and waits at most `timeout_ms` for the reply. On "OK [payload]"
// returns 0 and stores the payload (unescaped) in `payload` when given; on
// "ERR <errno> ..." or any transport failure returns -1 with errno set.
int transact(const std::string& node, const std::string& request, std::string* payload,
             int timeout_ms);

}  // namespace vmm_sim
