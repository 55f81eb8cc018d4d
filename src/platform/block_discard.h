// Discarding (unmapping) a byte range of a disk or an image file, so that the
// storage below may drop it and the range reads back as zeros.
#pragma once

#include <cstdint>

namespace platform {

// Discards [offset, offset + length) of the open descriptor `fd`: a block
// device is asked to unmap the range, a regular file gets a hole punched
// (its size stays). Returns 0 on success, else an errno value (ENOTTY for a
// descriptor that is neither a disk nor a regular file). A length of 0 is a
// success without a call.
int discard_range(int fd, uint64_t offset, uint64_t length);

}  // namespace platform
