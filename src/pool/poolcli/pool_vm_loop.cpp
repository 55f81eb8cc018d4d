#include "pool/poolcli/pool_vm_loop.h"

#include <omp.h>

#include <exception>

#include <fmt/format.h>
#include <spdlog/spdlog.h>

void run_vm_loop(const std::vector<std::string>& vms, bool parallel,
                 const std::function<bool(const std::string&)>& request, failed_vm_set& failed) {
  if (vms.empty()) return;
  omp_set_num_threads(parallel ? omp_get_num_procs() : 1);
  const long count = static_cast<long>(vms.size());
#pragma omp parallel for schedule(dynamic, 1)
  for (long i = 0; i < count; ++i) {
    bool ok = false;
    try {
      ok = request(vms[static_cast<size_t>(i)]);
    } catch (const std::exception& e) {
      spdlog::error("### VM_id={} request failed: {}", vms[static_cast<size_t>(i)], e.what());
    }
    if (!ok) {
#pragma omp critical(failed_vms)
      failed.insert(vms[static_cast<size_t>(i)]);
    }
  }
}

std::string join_vm_ids(const failed_vm_set& ids) { return fmt::format("{}", fmt::join(ids, " ")); }
