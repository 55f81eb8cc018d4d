// The null-modem device pairs of a VM: the serial console and the cloud-init
// channel. Side "A" goes on the bhyve command line; side "B" is opened on the
// host by the console bridge and the cloud-init channel thread. The paths are
// real host paths; the process that opens one maps it.
#pragma once

#include <string>

#include "model/vm_config.h"

// "/dev/nmdm<id><side>".
std::string nmdm_console_path(const VmConfig& config, const std::string& side);

// "/dev/nmdm<id>ci<side>".
std::string nmdm_cloudinit_path(const VmConfig& config, const std::string& side);
