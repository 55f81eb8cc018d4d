// The host's kernel settings, by their FreeBSD names. Only the names the
// controller uses are known; any other name is an error.
//
//   kern.mqueue.maxmsgsize                 largest POSIX message size
//   hw.vmm.features.snapshot_memory_format checkpoint memory-table layout
//   hw.vmm.create / hw.vmm.destroy         create / destroy a VM node by name
#pragma once

#include <optional>
#include <string>

namespace platform {

// The value as text; nothing (with `error` set when given) when unknown or unreadable.
std::optional<std::string> sysctl_get(const std::string& name, std::string* error = nullptr);

// Writes the value; false with `error` set on failure.
bool sysctl_set(const std::string& name, const std::string& value, std::string* error = nullptr);

}  // namespace platform
