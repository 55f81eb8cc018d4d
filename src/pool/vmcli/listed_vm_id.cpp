#include "pool/vmcli/listed_vm_id.h"

#include "driver/process_utils.h"
#include "pool/state/pool_list.h"

std::string vm_id_from_listed(const std::string& id) {
  if (id.size() < 2 || id.front() != '0' || id.find_first_not_of("0123456789") != std::string::npos)
    return id;
  size_t first = id.find_first_not_of('0');
  if (first == std::string::npos) return id;
  // A VM may carry the written form as its id: that VM is meant.
  if (!vm_pool_of(id, true).empty() || find_wrapper_processes(id).bhyve > 0) return id;
  return id.substr(first);
}
