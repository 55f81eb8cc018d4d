// On Linux the kernel settings map as follows:
//
//   kern.mqueue.maxmsgsize   the real /proc/sys/fs/mqueue/msgsize_max (the
//                            kernel's own limit, never under the host root)
//   hw.vmm.features.snapshot_memory_format
//                            the file /var/run/vmm/features.snapshot_memory_format
//                            (a host path; the stand-in hypervisor reads it through
//                            this same function). Absent file: "1", the layout
//                            that needs no conversion. Values are whole numbers.
//   hw.vmm.create            write-only: creates the VM node /dev/vmm/<name>
//                            (a host path), EEXIST when it is there
//   hw.vmm.destroy           write-only: removes the VM node /dev/vmm/<name>,
//                            ENOENT when it is not there
#include "platform/sysctl.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <fmt/format.h>

#include "platform/host_root.h"

namespace platform {
namespace {

constexpr const char* kMaxMsgSize = "kern.mqueue.maxmsgsize";
constexpr const char* kMemoryFormat = "hw.vmm.features.snapshot_memory_format";
constexpr const char* kVmmCreate = "hw.vmm.create";
constexpr const char* kVmmDestroy = "hw.vmm.destroy";

constexpr const char* kMaxMsgSizeFile = "/proc/sys/fs/mqueue/msgsize_max";
constexpr const char* kMemoryFormatFile = "/var/run/vmm/features.snapshot_memory_format";
constexpr const char* kDefaultMemoryFormat = "1";

bool fail(std::string* error, std::string text) {
  if (error) *error = std::move(text);
  return false;
}

std::string trimmed(std::string text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
  size_t start = 0;
  while (start < text.size() && std::isspace(static_cast<unsigned char>(text[start]))) ++start;
  return text.substr(start);
}

bool is_number(const std::string& text) {
  if (text.empty() || text.size() > 18) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  return true;
}

std::optional<std::string> read_file(const std::string& path, std::string* error) {
  std::ifstream in(path);
  if (!in) {
    fail(error, fmt::format("{}: {}", path, std::strerror(errno)));
    return std::nullopt;
  }
  std::stringstream text;
  text << in.rdbuf();
  return trimmed(text.str());
}

// Writes `text` to `path` in place (a /proc file) or through a temporary file.
bool write_file(const std::string& path, const std::string& text, bool in_place, std::string* error) {
  std::string target = in_place ? path : path + ".tmp";
  int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return fail(error, fmt::format("{}: {}", target, std::strerror(errno)));
  ssize_t n = ::write(fd, text.data(), text.size());
  int write_errno = errno;
  ::close(fd);
  if (n != static_cast<ssize_t>(text.size()))
    return fail(error, fmt::format("{}: {}", target, std::strerror(n < 0 ? write_errno : EIO)));
  if (!in_place && ::rename(target.c_str(), path.c_str()) != 0) {
    int e = errno;
    ::unlink(target.c_str());
    return fail(error, fmt::format("{}: {}", path, std::strerror(e)));
  }
  return true;
}

bool is_vm_name(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
         name.find('\0') == std::string::npos;
}

bool create_vm_node(const std::string& name, std::string* error) {
  if (!is_vm_name(name)) return fail(error, fmt::format("bad VM name '{}'", name));
  std::string dir = host_path("/dev/vmm");
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  std::string path = dir + "/" + name;
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return fail(error, fmt::format("{}: {}", path, std::strerror(errno)));
  ::close(fd);
  return true;
}

bool destroy_vm_node(const std::string& name, std::string* error) {
  if (!is_vm_name(name)) return fail(error, fmt::format("bad VM name '{}'", name));
  std::string path = host_path("/dev/vmm/" + name);
  if (::unlink(path.c_str()) != 0) return fail(error, fmt::format("{}: {}", path, std::strerror(errno)));
  return true;
}

}  // namespace

std::optional<std::string> sysctl_get(const std::string& name, std::string* error) {
  if (name == kMaxMsgSize) return read_file(kMaxMsgSizeFile, error);
  if (name == kMemoryFormat) {
    std::string path = host_path(kMemoryFormatFile);
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) return std::string(kDefaultMemoryFormat);
    auto value = read_file(path, error);
    if (value && !is_number(*value)) {
      fail(error, fmt::format("{}: not a number: '{}'", path, *value));
      return std::nullopt;
    }
    return value;
  }
  if (name == kVmmCreate || name == kVmmDestroy) {
    fail(error, fmt::format("sysctl {} is write-only", name));
    return std::nullopt;
  }
  fail(error, fmt::format("unknown sysctl '{}'", name));
  return std::nullopt;
}

bool sysctl_set(const std::string& name, const std::string& value, std::string* error) {
  if (name == kMaxMsgSize || name == kMemoryFormat) {
    std::string number = trimmed(value);
    if (!is_number(number)) return fail(error, fmt::format("sysctl {}: not a number: '{}'", name, value));
    if (name == kMaxMsgSize) return write_file(kMaxMsgSizeFile, number, true, error);
    std::string path = host_path(kMemoryFormatFile);
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    return write_file(path, number, false, error);
  }
  if (name == kVmmCreate) return create_vm_node(value, error);
  if (name == kVmmDestroy) return destroy_vm_node(value, error);
  return fail(error, fmt::format("unknown sysctl '{}'", name));
}

}  // namespace platform
