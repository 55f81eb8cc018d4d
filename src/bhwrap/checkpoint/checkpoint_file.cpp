#include "bhwrap/checkpoint/checkpoint_file.h"

#include <cerrno>
#include <limits>
#include <utility>

#include <fcntl.h>
#include <unistd.h>

#include "platform/host_root.h"

namespace {

// Offsets beyond what off_t holds cannot be in any file.
bool offset_fits(uint64_t offset, size_t count) {
  constexpr uint64_t max = static_cast<uint64_t>(std::numeric_limits<off_t>::max());
  return offset <= max && count <= max - offset;
}

// Repeats `step` (given the bytes done so far) until `count` bytes are done,
// a step moves nothing, or one fails: the bytes done, or -1 when the first
// step failed.
template <class Step>
ssize_t transfer(size_t count, Step step) {
  size_t done = 0;
  while (done < count) {
    ssize_t n = step(done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return done > 0 ? static_cast<ssize_t>(done) : -1;
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(done);
}

}  // namespace

CheckpointFile::~CheckpointFile() { close(); }

CheckpointFile::CheckpointFile(CheckpointFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)) {}

CheckpointFile& CheckpointFile::operator=(CheckpointFile&& other) noexcept {
  if (this != &other) {
    close();
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

int CheckpointFile::open(const std::string& path, bool writable) {
  close();
  std::string mapped = platform::host_path(path);
  fd_ = ::open(mapped.c_str(), (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC);
  return fd_ >= 0 ? 0 : errno;
}

void CheckpointFile::close() {
  if (fd_ >= 0) ::close(std::exchange(fd_, -1));
}

ssize_t CheckpointFile::read_at(void* buffer, size_t count, uint64_t offset) const {
  if (!offset_fits(offset, count)) return 0;  // nothing lies there
  auto* out = static_cast<char*>(buffer);
  return transfer(count, [&](size_t done) {
    return ::pread(fd_, out + done, count - done, static_cast<off_t>(offset + done));
  });
}

ssize_t CheckpointFile::write_at(const void* buffer, size_t count, uint64_t offset) const {
  if (!offset_fits(offset, count)) {
    errno = EFBIG;
    return -1;
  }
  const auto* in = static_cast<const char*>(buffer);
  return transfer(count, [&](size_t done) {
    return ::pwrite(fd_, in + done, count - done, static_cast<off_t>(offset + done));
  });
}

int64_t CheckpointFile::size() const {
  off_t end = ::lseek(fd_, 0, SEEK_END);
  return end < 0 ? -1 : static_cast<int64_t>(end);
}
