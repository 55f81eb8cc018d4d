#include "ipc/shm.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <fmt/format.h>
#include <spdlog/spdlog.h>

#include "ipc/file_lock.h"
#include "platform/host_root.h"

namespace {

// Holds a whole-object lock for one read or write. A host that refuses locks
// on shared memory leaves the access unlocked rather than impossible.
class ShmAccess {
 public:
  ShmAccess(int fd, short type) : fd_(fd) { locked_ = lock_whole_file(fd, type, true) == 0; }
  ~ShmAccess() {
    if (locked_) lock_whole_file(fd_, F_UNLCK, false);
  }
  ShmAccess(const ShmAccess&) = delete;
  ShmAccess& operator=(const ShmAccess&) = delete;

 private:
  int fd_;
  bool locked_ = false;
};

std::string read_locked(int fd) {
  ShmAccess access(fd, F_RDLCK);
  struct stat st {};
  if (::fstat(fd, &st) != 0 || st.st_size <= 0) return {};
  std::string text(static_cast<size_t>(st.st_size), '\0');
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::pread(fd, text.data() + done, text.size() - done, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // shrunk by a writer that ignores the lock
    done += static_cast<size_t>(n);
  }
  text.resize(done);
  if (size_t nul = text.find('\0'); nul != std::string::npos) text.resize(nul);
  return text;
}

}  // namespace

const char* shm_kind_name(ShmKind kind) {
  switch (kind) {
    case ShmKind::vm: return "vm";
    case ShmKind::reconfig: return "reconfig";
    case ShmKind::devices: return "devices";
  }
  return "vm";
}

std::string Shm::object_name(const std::string& vm_id, ShmKind kind) {
  if (kind == ShmKind::vm) return "/qtr.vm." + vm_id;
  return fmt::format("/bhyve.vm.{}.{}", vm_id, shm_kind_name(kind));
}

Shm::Shm(const std::string& vm_id, ShmKind kind)
    : name_(platform::ipc_name(object_name(vm_id, kind))) {
  if (vm_id.empty()) {
    error_ = "no VM id";
    return;
  }
  fd_.reset(::shm_open(name_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0660));
  if (!fd_) {
    error_ = std::strerror(errno);
    spdlog::error("### SHM. Can't open shared memory '{}': {}", name_, error_);
  }
}

std::string Shm::read() const {
  if (!fd_) return {};
  return read_locked(fd_.get());
}

bool Shm::write(const std::string& text) {
  error_.clear();
  if (!fd_) {
    error_ = "shared memory not opened";
    return false;
  }
  ShmAccess access(fd_.get(), F_WRLCK);
  if (::ftruncate(fd_.get(), static_cast<off_t>(text.size())) != 0) {
    error_ = fmt::format("resize to {} bytes: {}", text.size(), std::strerror(errno));
  } else {
    size_t done = 0;
    while (done < text.size()) {
      ssize_t n = ::pwrite(fd_.get(), text.data() + done, text.size() - done, static_cast<off_t>(done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        error_ = fmt::format("write: {}", n < 0 ? std::strerror(errno) : "no progress");
        // Leave no partial text behind for the next reader.
        if (::ftruncate(fd_.get(), 0) != 0) {}
        break;
      }
      done += static_cast<size_t>(n);
    }
  }
  if (!error_.empty()) spdlog::error("### SHM. Can't write shared memory '{}': {}", name_, error_);
  return error_.empty();
}

bool Shm::exists(const std::string& vm_id, ShmKind kind) {
  if (vm_id.empty()) return false;
  const std::string name = platform::ipc_name(object_name(vm_id, kind));
  UniqueFd fd(::shm_open(name.c_str(), O_RDONLY | O_CLOEXEC, 0));
  return fd.valid() || errno == EACCES;
}

std::string Shm::load_text(const std::string& vm_id, ShmKind kind) {
  if (vm_id.empty()) return {};
  const std::string name = platform::ipc_name(object_name(vm_id, kind));
  UniqueFd fd(::shm_open(name.c_str(), O_RDONLY | O_CLOEXEC, 0));
  if (!fd) return {};
  return read_locked(fd.get());
}

bool Shm::unlink(const std::string& vm_id, ShmKind kind) {
  if (vm_id.empty()) return false;
  return ::shm_unlink(platform::ipc_name(object_name(vm_id, kind)).c_str()) == 0;
}
