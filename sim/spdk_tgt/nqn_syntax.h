// NVMe qualified names as the target accepts them (NVM Express base
// specification, "NVMe Qualified Names"): at most 223 bytes, the discovery
// name, "nqn.2014-08.org.nvmexpress:uuid:" with a UUID, or "nqn.yyyy-mm."
// with a reverse domain name and an optional ":" and a name of the owner's.
#pragma once

#include <string>

namespace spdk_sim {

bool nqn_acceptable(const std::string& nqn);

}  // namespace spdk_sim
