// The processes of one VM packed into one number, for the actions that need
// its hypervisor process (nice, setnice, vcpuclass, setvcpuclass, config).
#pragma once

#include <cstdint>
#include <string>

// High 32 bits: the bhyve process id (0 when not running); low 32 bits: the
// wrapper's. -1 when bhyve does not run and no pool holds the VM.
int64_t vm_pid_info(const std::string& vm_id);

inline int32_t bhyve_pid_of(int64_t info) { return static_cast<int32_t>(info >> 32); }
inline int32_t wrapper_pid_of(int64_t info) { return static_cast<int32_t>(info & 0xffffffff); }
