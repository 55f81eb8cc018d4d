#include "sim/libzfs/labels.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

namespace zfs_sim {

namespace fs = std::filesystem;

namespace {

constexpr char magic[] = "OMBRIX-ZFS-SIM-LABEL\n";
constexpr size_t label_limit = 262144;

}  // namespace

std::string device_file(const std::string& root, const std::string& path) { return root + path; }

namespace {

// The size of the open device (file or block device); 0 when unknown.
uint64_t size_of(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return 0;
  if (S_ISREG(st.st_mode)) return static_cast<uint64_t>(st.st_size);
  off_t end = ::lseek(fd, 0, SEEK_END);
  return end > 0 ? static_cast<uint64_t>(end) : 0;
}

// Where the four labels lie, as on a real vdev: two at the head, two at the
// tail. A device too small for four has the first one only.
std::vector<uint64_t> label_offsets(uint64_t size) {
  if (size < 4 * label_limit) return {0};
  uint64_t tail = size / label_limit * label_limit;  // labels are aligned to their size
  return {0, label_limit, tail - 2 * label_limit, tail - label_limit};
}

std::optional<nlohmann::json> label_at(int fd, uint64_t offset) {
  std::string buffer(label_limit, '\0');
  ssize_t n = ::pread(fd, buffer.data(), buffer.size(), static_cast<off_t>(offset));
  if (n <= 0) return std::nullopt;
  buffer.resize(static_cast<size_t>(n));
  if (!buffer.starts_with(magic)) return std::nullopt;
  size_t end = buffer.find('\0');
  if (end == std::string::npos) return std::nullopt;
  auto label = nlohmann::json::parse(buffer.substr(sizeof magic - 1, end - (sizeof magic - 1)), nullptr, false);
  if (label.is_discarded() || !label.is_object()) return std::nullopt;
  return label;
}

}  // namespace

std::optional<nlohmann::json> read_label(int fd) {
  // Any one intact label of the four names the pool, as ZFS reads them.
  for (uint64_t offset : label_offsets(size_of(fd)))
    if (auto label = label_at(fd, offset)) return label;
  return std::nullopt;
}

std::optional<nlohmann::json> read_label(const std::string& root, const std::string& path) {
  int fd = ::open(device_file(root, path).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  auto label = read_label(fd);
  ::close(fd);
  return label;
}

std::string write_label(const std::string& root, const std::string& path, const nlohmann::json& label) {
  std::string text = std::string(magic) + label.dump();
  text.push_back('\0');
  std::string file = device_file(root, path);
  int fd = ::open(file.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return "cannot open '" + path + "': " + std::strerror(errno);
  std::string problem;
  for (uint64_t offset : label_offsets(size_of(fd))) {
    ssize_t n = ::pwrite(fd, text.data(), text.size(), static_cast<off_t>(offset));
    if (n != static_cast<ssize_t>(text.size()) && problem.empty())
      problem = "cannot write the label of '" + path + "': " + std::strerror(errno);
  }
  ::fsync(fd);
  ::close(fd);
  return problem;
}

std::string device_size(const std::string& root, const std::string& path, uint64_t& size) {
  std::string file = device_file(root, path);
  struct stat st {};
  if (::stat(file.c_str(), &st) != 0) return "cannot open '" + path + "': " + std::strerror(errno);
  if (S_ISREG(st.st_mode)) {
    size = static_cast<uint64_t>(st.st_size);
    return "";
  }
  if (!S_ISBLK(st.st_mode)) return "'" + path + "' is not a disk";
  int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return "cannot open '" + path + "': " + std::strerror(errno);
  off_t end = ::lseek(fd, 0, SEEK_END);
  ::close(fd);
  if (end < 0) return "cannot size '" + path + "'";
  size = static_cast<uint64_t>(end);
  return "";
}

std::vector<std::string> scan_devices(const std::string& root) {
  std::vector<std::string> found;
  std::error_code ec;
  fs::path top = root + "/dev";
  for (auto it = fs::recursive_directory_iterator(top, fs::directory_options::skip_permission_denied, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (it->is_directory(ec) && it->path().filename() == "zvol") {
      it.disable_recursion_pending();
      continue;
    }
    if (it->is_symlink(ec)) continue;
    if (it->is_regular_file(ec) || it->is_block_file(ec))
      found.push_back(it->path().string().substr(root.size()));
  }
  std::sort(found.begin(), found.end());
  return found;
}

}  // namespace zfs_sim
