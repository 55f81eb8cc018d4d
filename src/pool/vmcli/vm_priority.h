// The CPU priority (nice value) of a VM's hypervisor process and the VM's
// vCPU class. Each prints its result line and returns true, or prints why not
// and returns false: "<id>: does not exist", "<id>: is not running", a value
// out of range, or the system's refusal.
#pragma once

#include <string>

bool vm_nice(const std::string& vm_id);
// `value`: a whole decimal number in -20..20.
bool vm_setnice(const std::string& vm_id, const std::string& value);
bool vm_vcpuclass(const std::string& vm_id);
// `value`: a whole decimal number in 0..9.
bool vm_setvcpuclass(const std::string& vm_id, const std::string& value);
