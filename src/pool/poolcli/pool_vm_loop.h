// The per-VM loop of the pool operations: one request per VM, on an OpenMP
// team of as many threads as the host has processors (`parallel`) or of one
// (the list's order), the failed VM ids collected.
#pragma once

#include <functional>
#include <set>
#include <string>
#include <vector>

using failed_vm_set = std::set<std::string>;

// Runs `request` for every VM of `vms`; a false answer enters the VM into
// `failed`.
void run_vm_loop(const std::vector<std::string>& vms, bool parallel,
                 const std::function<bool(const std::string&)>& request, failed_vm_set& failed);

// The ids joined by single blanks.
std::string join_vm_ids(const failed_vm_set& ids);
