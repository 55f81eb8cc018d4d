// The host name a guest is given by its cloud-init documents.
#pragma once

#include <string>

#include "model/vm_config.h"

// The guest's "hostname", or the record's id followed by ".local" when that is
// empty.
inline std::string effective_host_name(const VmConfig& record) {
  return record.guest.hostname.empty() ? record.id + ".local" : record.guest.hostname;
}
