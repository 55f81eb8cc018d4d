#include "platform/self.h"

#include <dirent.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <vector>

namespace platform {

std::string executable_path() {
  char buf[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return {};
  return std::string(buf, static_cast<size_t>(n));
}

void close_descriptors_from(int first) {
  if (first < 0) first = 0;
  if (::close_range(static_cast<unsigned>(first), ~0u, 0) == 0) return;
  // Older kernels: the descriptors listed in /proc/self/fd.
  std::vector<int> open_fds;
  if (DIR* dir = ::opendir("/proc/self/fd")) {
    while (dirent* entry = ::readdir(dir)) {
      char* end = nullptr;
      long fd = std::strtol(entry->d_name, &end, 10);
      if (end != entry->d_name && *end == '\0' && fd >= first && fd != ::dirfd(dir))
        open_fds.push_back(static_cast<int>(fd));
    }
    ::closedir(dir);
  }
  for (int fd : open_fds) ::close(fd);
}

}  // namespace platform
