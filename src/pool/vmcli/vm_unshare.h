// The unshare step of one VM: its suspend image and disks exported over
// NVMe-oF by this host's storage target are reported with the number of hosts
// connected to them, and with `param` "force" unexported. `pool` and `nvmf_ip`
// are given by the pool operation; the command line passes "" for both (the
// VM's started pool and that pool's NVMe-oF address are looked up, and the
// volumes that are not shared are reported too). False when the VM or the
// address cannot be found, its record is unusable, or the target failed
// unexpectedly on the suspend image.
#pragma once

#include <string>

bool vm_unshare(const std::string& vm_id, const std::string& param, const std::string& pool,
                const std::string& nvmf_ip);
