// What start, stop, suspend and resume of a pool do before any VM is touched:
// the checks with their refusals, the pool's lock, the pool's marks and the
// pool record to the daemon. Also the choice of the VMs each one acts on.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "pool/state/lock_file.h"
#include "pool/state/pool_error.h"
#include "pool/state/vm_status_query.h"

enum class PoolOp { start, stop, suspend, resume };

struct pool_opening {
  // Set when the operation ends here, with nothing changed.
  std::optional<pool_op_result> refused;
  LockFile lock{""};  // held until the operation returns
  std::vector<std::string> vms;  // the state directory's VM ids (start, stop, suspend)
  pool_vm_map states;            // resume: the VMs with their stored statuses
};

pool_opening open_pool_operation(PoolOp op, const std::string& pool);

// The VMs an operation acts on, split into the service VMs (their record's
// "service" is 10) and the others.
struct pool_vm_lists {
  std::vector<std::string> service;
  std::vector<std::string> regular;
};

// start: the offline VMs whose records have admin_status 3; stop and
// suspend: the started VMs (a stop takes the VMs whose vm.json cannot be read
// with the service VMs, last).
pool_vm_lists select_pool_vms(PoolOp op, const std::string& pool,
                              const std::vector<std::string>& vms);

// The pool record to the daemon ("start", "stop", "suspend", "resume"): "" or
// "### MQ send error: <why>; src/pool <line>".
std::string send_pool_record(const std::string& pool, const std::string& command, int line);
