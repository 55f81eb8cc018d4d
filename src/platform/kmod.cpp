#include "platform/kmod.h"

namespace platform {

bool load_kernel_module(const std::string& name, std::string* error) {
  // Null-modem pairs are made from pseudo-terminals and POSIX message queues
  // are built into the kernel: both are always there.
  if (name == "nmdm" || name == "mqueuefs") return true;
  if (error) *error = "unknown kernel module '" + name + "'";
  return false;
}

}  // namespace platform
