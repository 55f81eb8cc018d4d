#include <cstdio>

#include "pool/poolcli/pool_opening.h"
#include "pool/poolcli/pool_operations.h"
#include "pool/poolcli/pool_vm_loop.h"
#include "pool/request/vm_request.h"

pool_op_result run_pool_start(const std::string& pool, const std::string& param, bool parallel,
                              bool wait_for_replies) {
  pool_opening opening = open_pool_operation(PoolOp::start, pool);
  if (opening.refused) return *opening.refused;
  pool_vm_lists lists = select_pool_vms(PoolOp::start, pool, opening.vms);

  failed_vm_set failed;
  auto start = [&](const std::string& id) { return vm_start_request(id, wait_for_replies, ""); };
  if (!param.empty()) {
    std::puts("Attention! Only guests will be started");
  } else if (!lists.service.empty()) {
    std::puts("\nStarting service VMs:");
    std::fflush(stdout);
    run_vm_loop(lists.service, parallel, start, failed);
  }
  if (!lists.regular.empty()) {
    std::puts("Starting regular VMs:");
    std::fflush(stdout);
    run_vm_loop(lists.regular, parallel, start, failed);
  }
  std::printf("Pool '%s' successfully started\n", pool.c_str());
  if (failed.empty()) return {kPoolOk, ""};
  std::string ids = join_vm_ids(failed);
  std::printf("Failed to start: %s\n", ids.c_str());
  return {kPoolOk, ids};
}
