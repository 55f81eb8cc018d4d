// Which pool a VM belongs to: the pool whose state directory holds the VM's
// state link "<vm id>.state".
#pragma once

#include <string>

#include "driver/config.h"

struct VmPoolLookup {
  std::string pool;   // "" when not found
  std::string error;  // why not: no such VM, an unusable id, several pools
  bool found() const { return !pool.empty(); }
};

// Scans the directories of the pools root for the VM's state link. A VM id
// that cannot name a file, no link in any pool, and links in more than one
// pool (which pool is meant cannot be told) are errors.
VmPoolLookup find_vm_pool(const Config& config, const std::string& vm_id);
