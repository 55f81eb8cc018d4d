#include "pool/state/vm_rows.h"

#include <fmt/format.h>

#include "pool/state/vm_status_query.h"

std::string vm_row_key(const std::string& vm_id) { return fmt::format("{:0>9}", vm_id); }

vm_row_map list_vm_rows(bool all, pool_error_map* errors) {
  vm_row_map rows;
  for (const std::string& pool : find_pool(all, errors)) {
    int error = 0;
    pool_vm_map vms = read_pool_state(pool, all, error);
    if (error != 0) {
      if (errors) (*errors)[pool] = error;
      continue;
    }
    for (const auto& [id, status] : vms) rows.try_emplace(vm_row_key(id), vm_row{id, pool, status, false});
  }
  return rows;
}
