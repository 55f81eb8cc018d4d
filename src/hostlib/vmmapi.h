// libvmmapi operations through the process-wide binding (loaded on first use
// from "/usr/lib/libvmmapi.so.6" under the host root). VM names are bhyve's VM
// names, that is the VM ids.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "hostlib/vmmapi_handle.h"
#include "hostlib/vmmapi_library.h"

// The library loaded; why it did not ("" when it did); the entry points it
// lacks (every one when it did not load). For the start-up check.
bool vmmapi_loaded();
std::string vmmapi_load_error();
std::vector<std::string> vmmapi_missing_symbols();

// Both vCPU-class entry points are there.
bool vmmapi_has_vcpu_class();

namespace libvmmapi {
// The checkpoint entry point is there.
bool has_vm_checkpoint();
}  // namespace libvmmapi

// 0 when the VM's hypervisor answered that the VM runs; -1 when the library
// does not offer the call; other values as the library returns them (above 0:
// not running yet).
int vmmapi_ping(const std::string& vm_name);

// The running VM's configuration, key -> value in key order; empty on failure.
std::map<std::string, std::string> vmmapi_get_config(const std::string& vm_name);

// One-call forms of the vm_handle operations: nothing on success, else why not.
std::optional<std::string> vmmapi_pause(const std::string& vm_name);
std::optional<std::string> vmmapi_resume(const std::string& vm_name);
std::optional<std::string> vmmapi_reconfig(const std::string& vm_name, const std::string& settings);
std::optional<std::string> vmmapi_checkpoint(const std::string& vm_name, const std::string& path,
                                             bool stop);
std::optional<std::string> vmmapi_livestream(const std::string& vm_name, const std::string& address,
                                             uint16_t port);
