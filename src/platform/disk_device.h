// Disks as the storage library probes and writes them: opening a device node
// (plainly or exclusively), telling whether it is a disk, and its media size.
//
// Paths are real host paths ("/dev/da0"), mapped under the host root here.
// On a simulated host (OMBRIX_ROOT set) the host's disks are the device nodes
// under the root's /dev (block nodes made for loop devices, for example) and
// image files: a regular file whose resolved path lies under the root's /dev
// counts as a disk of its file size, and an exclusive open of it is an
// exclusive flock. A regular file anywhere else is never a disk.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>

namespace platform {

// realpath of the mapped `path`: 0 and the resolved real path, or an errno
// value.
int resolve_disk_path(const std::string& path, std::string& resolved);

// Opens the mapped `path` with `flags` | O_NOFOLLOW | O_CLOEXEC: a
// descriptor, or minus an errno value. With `exclusive` the open also asks
// for O_EXCL, which the system refuses with EBUSY for a disk that another
// consumer holds (a mounted file system, swap, another pool, another
// exclusive open); an image disk held by another exclusive open gives EBUSY
// too.
int open_disk(const std::string& path, int flags, bool exclusive);

// Whether the open node described by `st` is a disk: a character or block
// device, or an image disk of a simulated host (`path` as given to
// open_disk).
bool is_disk_node(const std::string& path, const struct stat& st);

// The media size of the open disk `fd` in bytes: 0 and the size, or an
// errno value (ENOTTY for a node that has no media size).
int disk_media_size(int fd, uint64_t& size);

}  // namespace platform
