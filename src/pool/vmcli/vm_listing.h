// The VM listing and the status of one VM, in the listing's columns:
//
//   VMID       POOL      STATUS  REMOTE  POOL_STATE
//   000100001  z05      Started          started
//
// Running VMs are found by their hypervisor processes and their runtime
// records (which also tell a VM with remote disks); the others by the pools'
// state directories and their suspend images.
#pragma once

#include <string>

// Prints the listing of every pool's VMs; a pool whose state directory cannot
// be read is named on standard error and its VMs are left out. Always true.
bool vm_list();

// Prints the VM's row; false (and "Error: VM does not exist: <id>" on
// standard error) when no pool holds it.
bool vm_status(const std::string& vm_id);
