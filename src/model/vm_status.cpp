#include "model/vm_status.h"

#include <array>
#include <cctype>
#include <string_view>

namespace {

constexpr std::array<std::string_view, 17> kNames = {
    "undefined", "offline",   "starting",  "started",   "stopping",  "restarting",
    "pausing",   "paused",    "unpausing", "reconfiguring", "suspending", "suspended",
    "resuming",  "sending",   "receiving", "removing",  "reconfig_failed",
};

}  // namespace

std::string vm_status_name(int status, bool lower) {
  if (status < 0 || static_cast<size_t>(status) >= kNames.size()) return "unknown";
  std::string name(kNames[static_cast<size_t>(status)]);
  if (!lower) name[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(name[0])));
  return name;
}
