#include "sim/bhyve/shm_object.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <fmt/format.h>

#include "sim/include/sim_host.h"

namespace bhyve_sim {

ShmObject::ShmObject(const std::string& vm_name, const std::string& kind)
    : name_(sim_host::ipc_name("/bhyve.vm." + vm_name + "." + kind)) {}

bool ShmObject::write(const std::string& text, std::string* error) {
  if (!fd_) {
    fd_.reset(::shm_open(name_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (!fd_) {
      *error = fmt::format("shm_open({}): {}", name_, std::strerror(errno));
      return false;
    }
  }
  if (::ftruncate(fd_.get(), static_cast<off_t>(text.size())) != 0 ||
      ::pwrite(fd_.get(), text.data(), text.size(), 0) != static_cast<ssize_t>(text.size())) {
    *error = fmt::format("shm {}: {}", name_, std::strerror(errno ? errno : EIO));
    return false;
  }
  return true;
}

void ShmObject::unlink() { ::shm_unlink(name_.c_str()); }

}  // namespace bhyve_sim
