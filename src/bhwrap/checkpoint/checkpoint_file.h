// An open checkpoint image: one file descriptor, closed when the object goes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/types.h>

class CheckpointFile {
 public:
  CheckpointFile() = default;
  ~CheckpointFile();
  CheckpointFile(CheckpointFile&& other) noexcept;
  CheckpointFile& operator=(CheckpointFile&& other) noexcept;
  CheckpointFile(const CheckpointFile&) = delete;
  CheckpointFile& operator=(const CheckpointFile&) = delete;

  // Opens the image at `path` (a real host path, mapped under the host root
  // here), read-only or read-write. Returns 0 or the errno of the failure.
  int open(const std::string& path, bool writable);
  bool is_open() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  void close();

  // Reads up to `count` bytes at `offset`, going on after short reads until
  // the count is reached or the file ends. Returns the bytes read, or -1 with
  // errno set when a read fails before anything arrived.
  ssize_t read_at(void* buffer, size_t count, uint64_t offset) const;
  // Writes `count` bytes at `offset` the same way; the bytes written, or -1.
  ssize_t write_at(const void* buffer, size_t count, uint64_t offset) const;
  // The size found by seeking to the end (regular files and disks alike), or
  // -1 with errno set.
  int64_t size() const;

 private:
  int fd_ = -1;
};
