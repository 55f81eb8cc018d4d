// The configuration of a running VM as its hypervisor reports it.
#pragma once

#include <string>

// Prints the running VM's configuration, one "key : value" per line; false
// ("VM id=<id> not runned") when it does not run or gives none.
bool vm_config(const std::string& vm_id);
