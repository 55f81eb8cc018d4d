#include <cstdio>

#include <spdlog/spdlog.h>

#include "model/vm_state.h"
#include "pool/poolcli/pool_opening.h"
#include "pool/poolcli/pool_operations.h"
#include "pool/poolcli/pool_vm_loop.h"
#include "pool/request/vm_request.h"

namespace {
constexpr int kResumeFailed = -15356;
}

pool_op_result run_pool_resume(const std::string& pool, bool parallel) {
  pool_opening opening = open_pool_operation(PoolOp::resume, pool);
  if (opening.refused) return *opening.refused;

  std::vector<std::string> vms;
  for (const auto& [id, status] : opening.states) vms.push_back(id);
  failed_vm_set failed;
  auto resume = [&](const std::string& id) {
    std::string error;
    switch (VmState(pool, id).suspend_mark(error)) {
      case SuspendMark::error:
        spdlog::error("VMS-RESUME-POOL. vm_id={} ### suspend mark unreadable: {}. Skipped", id, error);
        std::fprintf(stderr, "### VM_id=%s suspend mark unreadable: %s. Skipped.\n", id.c_str(),
                     error.c_str());
        return false;
      case SuspendMark::own:
        std::printf("VM_id=%s * Suspended outside the pool. Skipped.\n", id.c_str());
        return true;
      case SuspendMark::pool:
        return vm_resume_request(id, "");
      case SuspendMark::none:
        return true;
    }
    return true;
  };
  run_vm_loop(vms, parallel, resume, failed);

  std::printf("Pool '%s' successfully resumed\n", pool.c_str());
  if (failed.empty()) return {kPoolOk, ""};
  std::string ids = join_vm_ids(failed);
  std::printf("Failed to resume: %s\n", ids.c_str());
  return {kResumeFailed, ids};
}
