#include "pool/vm_unshare.h"

#include <cstdio>

// This host has no NVMe-oF target or initiator yet: nothing can be shared.
bool vm_unshare(const std::string&, const std::string&, const std::string&, const std::string&) {
  std::fprintf(stderr, "Error: remote disks are not available on this host\n");
  return false;
}
