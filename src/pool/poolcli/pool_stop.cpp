#include <cstdio>

#include "pool/poolcli/pool_opening.h"
#include "pool/poolcli/pool_operations.h"
#include "pool/poolcli/pool_vm_loop.h"
#include "pool/request/vm_request.h"

namespace {
constexpr int kRollbackRecordLine = 612;
}

pool_op_result run_pool_stop(const std::string& pool, const std::string& param, bool parallel,
                             bool takeback) {
  pool_opening opening = open_pool_operation(PoolOp::stop, pool);
  if (opening.refused) return *opening.refused;
  pool_vm_lists lists = select_pool_vms(PoolOp::stop, pool, opening.vms);

  failed_vm_set failed;
  auto stop = [](const std::string& id) { return vm_stop_request(id); };
  if (!param.empty()) std::puts("Attention! Only guests will be stopped");
  if (!lists.regular.empty()) {
    std::puts("Stopping regular VMs:");
    std::fflush(stdout);
    run_vm_loop(lists.regular, parallel, stop, failed);
  }
  if (param.empty() && !lists.service.empty()) {
    std::puts("\nStopping service VMs:");
    std::fflush(stdout);
    run_vm_loop(lists.service, parallel, stop, failed);
  }

  if (failed.empty()) {
    std::printf("Pool '%s' successfully stopped\n", pool.c_str());
    return {kPoolOk, ""};
  }
  std::fprintf(stderr, "Pool '%s' stopping failed\n", pool.c_str());
  if (takeback) std::fprintf(stderr, "It will be restarting\n");
  // The pool is started again; the "stop" record already ended the
  // consumption of its queue, so the "start" record goes out in any case.
  pool_rollback_mark(pool);
  if (std::string error = send_pool_record(pool, "start", kRollbackRecordLine); !error.empty())
    std::fprintf(stderr, "%s\n", error.c_str());
  if (takeback) {
    failed_vm_set ignored;
    auto start = [](const std::string& id) { return vm_start_request(id, true, ""); };
    run_vm_loop(lists.service, parallel, start, ignored);
    run_vm_loop(lists.regular, parallel, start, ignored);
  }
  return {kPoolFailed, join_vm_ids(failed)};
}
