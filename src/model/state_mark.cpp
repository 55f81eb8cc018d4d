#include "model/state_mark.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include <fmt/format.h>

#include "ipc/atomic_file.h"

MarkProbe probe_mark(const std::string& path) {
  MarkProbe probe;
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0) {
    probe.present = true;
  } else if (errno != ENOENT) {
    probe.error = errno;
  }
  return probe;
}

std::string write_mark(const std::string& path) {
  char stamp[64] = "";
  std::time_t now = std::time(nullptr);
  std::tm local{};
  if (localtime_r(&now, &local)) std::strftime(stamp, sizeof stamp, "%F %T", &local);
  return write_file_atomic(path, std::string(stamp) + "\n");
}

std::string remove_mark(const std::string& path) {
  if (::unlink(path.c_str()) == 0 || errno == ENOENT) return {};
  return fmt::format("Can't remove '{}': {}", path, std::strerror(errno));
}

bool valid_state_name(const std::string& name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find('/') == std::string::npos && name.find('\0') == std::string::npos;
}
