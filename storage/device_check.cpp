#include "storage/device_check.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <fmt/format.h>
#include <fmt/ranges.h>

#include "platform/disk_device.h"
#include "storage/unique_fd.h"

namespace {

std::string error_text(int error) { return std::strerror(error); }

// Steps of one device; the record's code and message on the first failure.
void probe(zfs_session& zfs, device_check& record, std::vector<std::string>& seen, bool force) {
  const std::string& path = record.path;
  auto fail = [&](pool_error code, std::string message) {
    record.code = code;
    record.message = std::move(message);
  };
  std::string resolved;
  if (int error = platform::resolve_disk_path(path, resolved))
    return fail(pool_error::bad_device, fmt::format("cannot resolve '{}': {}", path, error_text(error)));
  if (std::find(seen.begin(), seen.end(), resolved) != seen.end())
    return fail(pool_error::bad_device,
                fmt::format("'{}' is specified more than once (resolves to '{}')", path, resolved));
  seen.push_back(resolved);

  int opened = platform::open_disk(path, O_RDONLY, false);
  if (opened < 0)
    return fail(pool_error::bad_device, fmt::format("cannot open '{}': {}", path, error_text(-opened)));
  unique_fd fd(opened);
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0)
    return fail(pool_error::bad_device, fmt::format("cannot stat '{}': {}", path, error_text(errno)));
  if (!platform::is_disk_node(path, st))
    return fail(pool_error::bad_device, fmt::format("'{}' is not a character or block device", path));
  uint64_t size = 0;
  int error = platform::disk_media_size(fd.get(), size);
  if (error != 0 || size == 0)
    return fail(pool_error::bad_device, fmt::format("cannot obtain media size of '{}': {}", path,
                                                    error_text(error ? error : EINVAL)));
  record.size = size;
  if (size < zfs_min_device_size)
    return fail(pool_error::bad_device,
                fmt::format("'{}' is too small: {} bytes, ZFS requires at least {}", path, size,
                            zfs_min_device_size));
  if (size < library_min_device_size)
    return fail(pool_error::bad_device, fmt::format("'{}' is too small: {} bytes, at least {} is required",
                                                    path, size, library_min_device_size));

  pool_state_t state = POOL_STATE_UNINITIALIZED;
  char* name = nullptr;
  boolean_t in_use = B_FALSE;
  if (libzfs::zpool_in_use(zfs.handle(), fd.get(), &state, &name, &in_use) == 0 && in_use) {
    std::string pool = name ? name : "";
    std::free(name);
    bool accepted = force && state != POOL_STATE_ACTIVE && state != POOL_STATE_SPARE;
    if (!accepted) {
      if (state == POOL_STATE_SPARE)
        return fail(pool_error::device_in_use,
                    fmt::format("'{}' is reserved as a hot spare of pool '{}'", path, pool));
      return fail(pool_error::device_in_use,
                  fmt::format("'{}' belongs to {} pool '{}'{}", path, pool_state_name(state), pool,
                              state != POOL_STATE_ACTIVE ? "; use force to overwrite it" : ""));
    }
  } else {
    std::free(name);
  }
  fd.reset();

  int exclusive = platform::open_disk(path, O_WRONLY, true);
  if (exclusive < 0) {
    if (-exclusive == EBUSY || -exclusive == EPERM)
      return fail(pool_error::device_busy,
                  fmt::format("'{}' is held by another consumer: mounted filesystem, swap, geli or "
                              "another pool",
                              path));
    return fail(pool_error::bad_device,
                fmt::format("cannot open '{}' exclusively: {}", path, error_text(-exclusive)));
  }
  ::close(exclusive);
}

// Writes `length` zero bytes at `offset` with one pwrite: 0 or an errno value
// (EIO for a short write).
int write_zeros(int fd, uint64_t length, uint64_t offset) {
  std::vector<char> zeros(length, 0);
  ssize_t n = ::pwrite(fd, zeros.data(), zeros.size(), static_cast<off_t>(offset));
  if (n < 0) return errno;
  return static_cast<uint64_t>(n) == length ? 0 : EIO;
}

pool_result clear_one(const std::string& path, bool full) {
  int opened = platform::open_disk(path, O_WRONLY, true);
  if (opened < 0) {
    if (-opened == EBUSY || -opened == EPERM)
      return {pool_error::device_busy, fmt::format("'{}' is busy", path)};
    return {pool_error::bad_device,
            fmt::format("cannot open '{}' for writing: {}", path, error_text(-opened))};
  }
  unique_fd fd(opened);
  uint64_t head = full ? label_area_size : short_label_clear_size;
  if (int error = write_zeros(fd.get(), head, 0))
    return {pool_error::bad_device, fmt::format("'{}' head zeroing failed: {}", path, error_text(error))};
  if (full) {
    uint64_t size = 0;
    int error = platform::disk_media_size(fd.get(), size);
    if (error != 0 || size < label_area_size)
      return {pool_error::bad_device, fmt::format("'{}' media size is unavailable: {}", path,
                                                  error_text(error ? error : EINVAL))};
    if (int werror = write_zeros(fd.get(), label_area_size, size - label_area_size))
      return {pool_error::bad_device,
              fmt::format("'{}' tail zeroing failed: {}", path, error_text(werror))};
  }
  ::fdatasync(fd.get());
  return {};
}

}  // namespace

const char* pool_state_name(int state) {
  static const char* const names[] = {"active",   "exported",      "destroyed",   "spare",
                                      "l2cache",  "uninitialized", "unavailable", "potentially active"};
  return state >= 0 && state < 8 ? names[state] : "unknown";
}

std::vector<device_check> check_devices(zfs_session& zfs, const std::vector<std::string>& paths,
                                        bool force) {
  std::vector<device_check> records;
  std::vector<std::string> seen;
  for (const std::string& path : paths) {
    device_check record;
    record.path = path;
    probe(zfs, record, seen, force);
    records.push_back(std::move(record));
  }
  return records;
}

pool_result check_device_sizes(zfs_session& zfs, const std::vector<std::string>& paths,
                               const pool_spec& spec) {
  std::vector<device_check> records = check_devices(zfs, paths, spec.force);
  pool_result result;
  for (const device_check& record : records) {
    if (record.code == pool_error::ok) continue;
    if (result.ok()) {
      result.code = record.code;
    } else {
      result.message += "; ";
    }
    result.message += record.message;
  }
  if (!result.ok() || spec.force) return result;
  size_t at = 0;
  for (const vdev_spec& vdev : spec.vdevs) {
    size_t count = vdev.devices.size();
    if (count >= 2 && at + count <= records.size()) {
      const device_check* smallest = &records[at];
      const device_check* largest = &records[at];
      for (size_t i = at; i < at + count; ++i) {
        if (records[i].size < smallest->size) smallest = &records[i];
        if (records[i].size >= largest->size) largest = &records[i];
      }
      if (largest->size - smallest->size > label_area_size)
        return {pool_error::bad_device,
                fmt::format("devices of one vdev differ in size: '{}' is {} bytes, '{}' is {} bytes; "
                            "capacity would be truncated to the smallest one",
                            smallest->path, smallest->size, largest->path, largest->size)};
    }
    at += count;
  }
  return {};
}

pool_result clear_labels(const std::vector<std::string>& paths, bool full) {
  std::vector<std::string> cleared;
  for (const std::string& path : paths) {
    pool_result result = clear_one(path, full);
    if (!result.ok()) {
      if (!cleared.empty())
        result.message += fmt::format(". Labels already cleared on: {}", fmt::join(cleared, ", "));
      return result;
    }
    cleared.push_back(path);
  }
  return {};
}
