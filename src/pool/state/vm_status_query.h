// The state of the VMs of a pool as the host shows it: a running hypervisor
// process means started, a checkpoint image in the VM's suspend volume means
// suspended, anything else offline.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "model/vm_status.h"

// VM id -> status, ordered by id.
using pool_vm_map = std::map<std::string, VmStatus>;

// "/dev/zvol/<pool>/.vm_V4/<id as nine digits>/snapshot.bvmss" (real path).
std::string suspend_image_path(const std::string& vm_id, const std::string& pool);

// started when the VM's bhyve process runs; else suspended when the suspend
// image's identification reads back; else offline (also when the image cannot
// be read at all).
VmStatus stored_vm_status(const std::string& vm_id, const std::string& pool);
// The same with the running hypervisors (VM id -> pid, find_bhyve_processes)
// taken once by the caller for many VMs.
VmStatus stored_vm_status(const std::string& vm_id, const std::string& pool,
                          const std::map<std::string, int32_t>& running);

// The status of every VM of the pool's state directory, when `all` is set or
// the pool is started or unreadable; otherwise empty with `error` cleared. A
// state directory that cannot be listed gives an empty map and its errno. The
// process table is read once for all the pool's VMs.
pool_vm_map read_pool_state(const std::string& pool, bool all, int& error);

// The running VM's configuration (key -> value); empty when it is not running.
std::map<std::string, std::string> vm_state_query(const std::string& vm_id);
