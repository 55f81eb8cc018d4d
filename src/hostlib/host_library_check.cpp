#include "hostlib/host_library_check.h"

#include <fmt/format.h>
#include <fmt/ranges.h>
#include <spdlog/spdlog.h>

#include "hostlib/libnv_api.h"
#include "hostlib/libzfs_api.h"
#include "hostlib/nvpair_api.h"
#include "hostlib/vmmapi.h"
#include "platform/host_root.h"

namespace {

HostLibraryStatus status_of(const HostLibrary& library) {
  return {library.name(), library.path(),       true,
          library.loaded(), library.load_error(), library.missing_symbols()};
}

std::string message_of(const HostLibraryStatus& status) {
  std::string mapped = platform::host_path(status.path);
  if (status.ok()) return fmt::format(" * Host library {} loaded from {}", status.name, mapped);
  const char* prefix = status.required ? "!!! " : "### ";
  if (!status.loaded)
    return fmt::format("{}Host library {} cannot be loaded from {}: {}", prefix, status.name,
                       mapped, status.load_error);
  return fmt::format("{}Host library {} ({}) lacks {} function(s): {}", prefix, status.name,
                     mapped, status.missing.size(), fmt::join(status.missing, ", "));
}

}  // namespace

bool HostLibraryCheck::passed() const {
  for (const HostLibraryStatus& status : libraries)
    if (status.required && !status.ok()) return false;
  return true;
}

std::vector<std::string> HostLibraryCheck::messages() const {
  std::vector<std::string> lines;
  for (const HostLibraryStatus& status : libraries) lines.push_back(message_of(status));
  return lines;
}

void HostLibraryCheck::log() const {
  for (const HostLibraryStatus& status : libraries) {
    std::string line = message_of(status);
    if (status.ok())
      spdlog::info(line);
    else if (status.required)
      spdlog::error(line);
    else
      spdlog::warn(line);
  }
}

HostLibraryCheck check_host_libraries() {
  HostLibraryCheck check;
  check.libraries.push_back(status_of(nvpair_api::instance().library()));
  check.libraries.push_back(status_of(libnv_api::instance().library()));
  check.libraries.push_back(status_of(libzfs_api::instance().library()));
  HostLibraryStatus vmmapi{"libvmmapi", VmmapiLibrary::default_path, false, vmmapi_loaded(),
                           vmmapi_load_error(), vmmapi_missing_symbols()};
  check.libraries.push_back(std::move(vmmapi));
  return check;
}
