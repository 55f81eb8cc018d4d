#include "ipc/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fmt/format.h>

#include "ipc/unique_fd.h"

namespace {

std::string failure(const char* what, const std::string& path) {
  return fmt::format("{} '{}': {}", what, path, std::strerror(errno));
}

bool write_all(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

// Makes the rename itself durable; a failure here loses nothing that is
// already in place, so it is not reported.
void sync_parent_dir(const std::string& path) {
  std::string::size_type slash = path.rfind('/');
  std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  UniqueFd fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd) ::fsync(fd.get());
}

}  // namespace

std::string write_file_atomic(const std::string& path, const std::string& text, mode_t mode) {
  if (path.empty()) return "write of a file without a name";
  // A name of this write alone, in the directory of `path` so that the rename
  // stays within one file system.
  std::string tmp = path + ".tmp-XXXXXX";
  std::string error;
  {
    UniqueFd fd(::mkostemp(tmp.data(), O_CLOEXEC));
    if (!fd) return failure("Can't create", path + ".tmp-XXXXXX");
    if (::fchmod(fd.get(), mode) != 0)
      error = failure("Can't set the mode of", tmp);
    else if (!write_all(fd.get(), text))
      error = failure("Can't write", tmp);
    else if (::fsync(fd.get()) != 0)
      error = failure("Can't flush", tmp);
    else if (::close(fd.release()) != 0)
      error = failure("Can't close", tmp);
  }
  if (error.empty() && ::rename(tmp.c_str(), path.c_str()) != 0)
    error = fmt::format("Can't rename '{}' to '{}': {}", tmp, path, std::strerror(errno));
  if (!error.empty()) {
    ::unlink(tmp.c_str());
    return error;
  }
  sync_parent_dir(path);
  return {};
}
