// The names the NVMe-oF operations make: volume names of zvol paths, the
// subsystem NQN of a volume, the host NQNs of a VM's disks and snapshot, and
// the identifiers of block devices.
#pragma once

#include <cstdint>
#include <string>

namespace nvmf {

// "/dev/zvol/p/d/x" -> "p/d/x"; a text without that prefix is returned as it is.
std::string volume_name(const std::string& zvol_path);

// "nqn.2023-08.io.ombrix:" + the volume's parent directory's last component +
// "." + the volume's last component ("p/vms/7/disk0" -> "...:7.disk0").
std::string subsystem_nqn_from_path(const std::string& volume);

// A file name made relative to "/dev/zvol/", both resolved as far as they
// exist on this host: "/dev/zvol/p/a/b" -> "p/a/b".
std::string zvol_relative_name(const std::string& file);

// A name-based UUID of `text` (SHA-1 of the text alone, version 5).
std::string uuid_from_name(const std::string& text);

// 32 hex digits -> "xxxxxxxx-xxxx-0000-0000-xxxxxxxxxxxx" (digits 1-8, 17-20, 21-32).
std::string format_uuid_text(const std::string& text);

}  // namespace nvmf

// Host NQNs of a VM's disk and of its suspend snapshot; "" when any host may
// connect (`any_host`).
std::string vm_disk_nqn(const std::string& vm, uint8_t disk_index, bool any_host);
std::string snapshot_nqn(const std::string& name, bool any_host);
