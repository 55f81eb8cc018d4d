#include "platform/block_discard.h"

#include <cerrno>
#include <cstdint>
#include <limits>

#include <fcntl.h>
#include <linux/falloc.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

namespace platform {

int discard_range(int fd, uint64_t offset, uint64_t length) {
  struct stat st {};
  if (fstat(fd, &st) != 0) return errno;
  if (length == 0) return 0;
  if (length > std::numeric_limits<uint64_t>::max() - offset) return EINVAL;

  if (S_ISBLK(st.st_mode)) {
    uint64_t range[2] = {offset, length};
    return ioctl(fd, BLKDISCARD, &range) == 0 ? 0 : errno;
  }
  if (S_ISREG(st.st_mode)) {
    constexpr uint64_t max_off = static_cast<uint64_t>(std::numeric_limits<off_t>::max());
    if (offset > max_off || length > max_off - offset) return EINVAL;
    int rc = fallocate(fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE,
                       static_cast<off_t>(offset), static_cast<off_t>(length));
    return rc == 0 ? 0 : errno;
  }
  return ENOTTY;
}

}  // namespace platform
