#include <cstdio>

#include "pool/poolcli/pool_opening.h"
#include "pool/poolcli/pool_operations.h"
#include "pool/poolcli/pool_vm_loop.h"
#include "pool/request/vm_request.h"

namespace {
constexpr int kSuspendFailed = -15256;
constexpr int kRollbackRecordLine = 712;
}  // namespace

pool_op_result run_pool_suspend(const std::string& pool, bool parallel, bool takeback) {
  pool_opening opening = open_pool_operation(PoolOp::suspend, pool);
  if (opening.refused) return *opening.refused;
  pool_vm_lists lists = select_pool_vms(PoolOp::suspend, pool, opening.vms);

  failed_vm_set failed;
  auto suspend = [&](const std::string& id) { return vm_suspend_request(id, pool); };
  if (!lists.regular.empty()) {
    std::puts("Suspending regular VMs:");
    std::fflush(stdout);
    run_vm_loop(lists.regular, parallel, suspend, failed);
  }
  if (!lists.service.empty()) {
    std::puts("\nSuspending service VMs:");
    std::fflush(stdout);
    run_vm_loop(lists.service, parallel, suspend, failed);
  }

  if (failed.empty()) {
    std::printf("Pool '%s' successfully suspended\n", pool.c_str());
    return {kPoolOk, ""};
  }
  std::fprintf(stderr, "Pool '%s' suspend failed\n", pool.c_str());
  if (takeback) std::fprintf(stderr, "It will be resuming\n");
  // The pool is started again; the "suspend" record already ended the
  // consumption of its queue, so the "resume" record goes out in any case.
  pool_rollback_mark(pool);
  if (std::string error = send_pool_record(pool, "resume", kRollbackRecordLine); !error.empty())
    std::fprintf(stderr, "%s\n", error.c_str());
  if (takeback) {
    failed_vm_set ignored;
    auto resume = [&](const std::string& id) {
      return failed.contains(id) || vm_resume_request(id, "");
    };
    run_vm_loop(lists.service, parallel, resume, ignored);
    run_vm_loop(lists.regular, parallel, resume, ignored);
  }
  return {kSuspendFailed, join_vm_ids(failed)};
}
