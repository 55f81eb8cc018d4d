// The rows of the VM listing: every VM of the pools' state directories with
// its stored status.
#pragma once

#include <map>
#include <string>

#include "model/vm_status.h"
#include "pool/state/pool_list.h"

struct vm_row {
  std::string vm_id;
  std::string pool;
  VmStatus status = VmStatus::undefined;
  bool remote = false;
};

// Rows keyed by the VM id written as nine digits with leading zeros.
using vm_row_map = std::map<std::string, vm_row>;

// The key of a VM id in vm_row_map.
std::string vm_row_key(const std::string& vm_id);

// For each pool of find_pool(all): the VMs of read_pool_state(pool, all). A
// pool whose state directory cannot be read goes to `errors` (when given)
// instead; a VM already listed under another pool keeps its first row.
vm_row_map list_vm_rows(bool all, pool_error_map* errors = nullptr);
