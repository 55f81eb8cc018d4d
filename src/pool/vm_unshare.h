// The unshare step of one VM: its suspend image and disks exported over
// NVMe-oF are reported, and with "force" unexported. `pool` and `nvmf_ip` are
// given by the pool operation; the command line passes "" for both.
#pragma once

#include <string>

bool vm_unshare(const std::string& vm_id, const std::string& param, const std::string& pool,
                const std::string& nvmf_ip);
