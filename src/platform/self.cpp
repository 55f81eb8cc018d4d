#include "platform/self.h"

#include <climits>
#include <unistd.h>

namespace platform {

std::string executable_path() {
  char buf[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return {};
  return std::string(buf, static_cast<size_t>(n));
}

}  // namespace platform
