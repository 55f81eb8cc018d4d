#include "bhwrap/console/nmdm_path.h"

#include <fmt/format.h>

std::string nmdm_console_path(const VmConfig& config, const std::string& side) {
  return fmt::format("/dev/nmdm{}{}", config.id, side);
}

std::string nmdm_cloudinit_path(const VmConfig& config, const std::string& side) {
  return fmt::format("/dev/nmdm{}ci{}", config.id, side);
}
