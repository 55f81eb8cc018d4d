#include "storage/device_ops.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <fmt/format.h>

#include "platform/disk_device.h"
#include "storage/device_check.h"
#include "storage/nvlist_read.h"
#include "storage/owned_nvlist.h"
#include "storage/pool_status.h"
#include "storage/unique_fd.h"
#include "storage/zpool_ref.h"

namespace {

std::string error_text(int error) { return std::strerror(error); }

// Writes `length` zero bytes at `offset` with one pwrite: 0, or an errno
// value (EIO for a short write).
int write_zeros(int fd, uint64_t length, uint64_t offset) {
  std::vector<char> zeros(length, 0);
  ssize_t n = ::pwrite(fd, zeros.data(), zeros.size(), static_cast<off_t>(offset));
  if (n < 0) return errno;
  return static_cast<uint64_t>(n) == length ? 0 : EIO;
}

// The inode of the disk the pool lists, when it can be opened.
std::optional<ino_t> inode_of(const std::string& path) {
  int opened = platform::open_disk(path, O_RDONLY, false);
  if (opened < 0) return std::nullopt;
  unique_fd fd(opened);
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return std::nullopt;
  return st.st_ino;
}

// The leaf and root nvlists that replace the old disk by `path`.
bool make_replacement(const std::string& path, std::optional<uint64_t> ashift, owned_nvlist& root) {
  owned_nvlist leaf = make_nvlist();
  if (!leaf || nvpair::nvlist_add_string(leaf.get(), "type", "disk") != 0 ||
      nvpair::nvlist_add_uint64(leaf.get(), "whole_disk", 1) != 0 ||
      nvpair::nvlist_add_uint64(leaf.get(), "is_log", 0) != 0 ||
      nvpair::nvlist_add_string(leaf.get(), "path", path.c_str()) != 0)
    return false;
  if (ashift && nvpair::nvlist_add_uint64(leaf.get(), "ashift", *ashift) != 0) return false;
  owned_nvlist made = make_nvlist();
  nvlist_t* children[] = {leaf.get()};
  if (!made || nvpair::nvlist_add_string(made.get(), "type", "root") != 0 ||
      nvpair::nvlist_add_nvlist_array(made.get(), "children", children, 1) != 0)
    return false;
  root = std::move(made);
  return true;
}

}  // namespace

std::optional<std::string> replace_device(zfs_session& zfs, const std::string& pool,
                                          const std::string& old_device, const std::string& new_device) {
  if (!zfs.ok()) return libzfs_not_initialized;
  zpool_ref zhp(libzfs::zpool_open(zfs.handle(), pool.c_str()));
  if (!zhp) return zfs.error_description();
  nvlist_t* config = libzfs::zpool_get_config(zhp.get(), nullptr);
  if (!config) return fmt::format("Pool '{}' is unavailable", pool);
  nvlist_t* tree = nv_list(config, "vdev_tree");
  if (!tree) return fmt::format("Pool '{}' is unavailable", pool);

  std::string old_path;
  if (auto error = find_disk_in_vdev_tree(tree, old_device, old_path))
    return fmt::format("'{}' detecting error: {}", old_device, *error);
  if (old_path.empty()) return fmt::format("'{}' not found in pool '{}'", old_device, pool);
  std::string listed;
  if (auto error = find_disk_in_vdev_tree(tree, new_device, listed))
    return fmt::format("'{}' detecting error: {}", new_device, *error);
  if (!listed.empty()) return fmt::format("'{}' is already detected in pool '{}'", new_device, pool);

  std::optional<ino_t> old_inode = inode_of(old_path);
  // Exclusively: a disk that another consumer holds is not to be written.
  int opened = platform::open_disk(new_device, O_RDWR, true);
  if (opened < 0) return fmt::format("Cannot open '{}': {}", new_device, error_text(-opened));
  unique_fd fd(opened);
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return fmt::format("Cannot stat '{}': {}", new_device, error_text(errno));
  if (!platform::is_disk_node(new_device, st)) return fmt::format("'{}' is not char or block device", new_device);
  uint64_t size = 0;
  if (int error = platform::disk_media_size(fd.get(), size))
    return fmt::format("Cannot obtain media size of '{}': {}", new_device, error_text(error));
  if (size < library_min_device_size) return fmt::format("'{}' too small {}", new_device, size);
  if (old_inode && *old_inode == st.st_ino) return "Trying to replace same device";

  // A disk that carries the label of a pool (another one, or this one under
  // another name) is not overwritten.
  pool_state_t state = POOL_STATE_UNINITIALIZED;
  char* name = nullptr;
  boolean_t in_use = B_FALSE;
  int rc = libzfs::zpool_in_use(zfs.handle(), fd.get(), &state, &name, &in_use);
  std::string owner = name ? name : "";
  std::free(name);
  if (rc == 0 && in_use)
    return fmt::format("'{}' belongs to {} pool '{}'", new_device, pool_state_name(state), owner);

  if (int error = write_zeros(fd.get(), label_area_size, 0))
    return fmt::format("'{}' head zeroing failed: {}", new_device, error_text(error));
  if (int error = write_zeros(fd.get(), label_area_size, size - label_area_size))
    return fmt::format("'{}' tail zeroing failed: {}", new_device, error_text(error));
  fd.reset();

  zprop_source_t source = ZPROP_SRC_DEFAULT;
  uint64_t ashift = libzfs::zpool_get_prop_int(zhp.get(), ZPOOL_PROP_ASHIFT, &source);
  owned_nvlist root;
  if (!make_replacement(new_device, source != ZPROP_SRC_DEFAULT ? std::optional(ashift) : std::nullopt, root))
    return "vdev nvlist creation fault";
  if (libzfs::zpool_vdev_attach(zhp.get(), old_path.c_str(), new_device.c_str(), root.get(), 1, B_FALSE) != 0)
    return fmt::format("'{}' attaching error: {}", new_device, zfs_error_text(zfs.handle()));
  return std::nullopt;
}

zfs_call_result online_device(zfs_session& zfs, const std::string& pool, const std::string& device) {
  if (!zfs.ok()) return {-1, libzfs_not_initialized};
  zpool_ref zhp(libzfs::zpool_open(zfs.handle(), pool.c_str()));
  if (!zhp) return {-1, zfs.error_description()};
  vdev_state_t state = VDEV_STATE_UNKNOWN;
  if (libzfs::zpool_vdev_online(zhp.get(), device.c_str(), 0, &state) != 0) return {-1, ""};
  if (state == VDEV_STATE_HEALTHY) return {};
  return {1, fmt::format("warning: device '{}' onlined, but remains in faulted state.{}", device,
                         state == VDEV_STATE_FAULTED
                             ? " Use 'zpool clear' to restore a faulted device"
                             : " Use 'zpool replace' to replace devices that are no longer present")};
}

zfs_call_result offline_device(zfs_session& zfs, const std::string& pool, const std::string& device) {
  if (!zfs.ok()) return {-1, libzfs_not_initialized};
  zpool_ref zhp(libzfs::zpool_open(zfs.handle(), pool.c_str()));
  if (!zhp) return {-1, zfs.error_description()};
  if (libzfs::zpool_vdev_offline(zhp.get(), device.c_str(), B_FALSE) != 0) return {-1, zfs.error_description()};
  return {};
}

zfs_call_result clear_pool_errors(zfs_session& zfs, const std::string& pool) {
  if (!zfs.ok()) return {-1, libzfs_not_initialized};
  owned_nvlist policy = make_nvlist();
  if (!policy) return {-1, "nvpair::nvlist_alloc"};
  if (nvpair::nvlist_add_uint32(policy.get(), "load-rewind-policy", 1) != 0) return {-1, "nvpair::nvlist_alloc"};
  zpool_ref zhp(libzfs::zpool_open_canfail(zfs.handle(), pool.c_str()));
  if (!zhp) return {-1, zfs.error_description()};
  if (libzfs::zpool_clear(zhp.get(), nullptr, policy.get()) != 0) return {-1, zfs.error_description()};
  return {};
}
