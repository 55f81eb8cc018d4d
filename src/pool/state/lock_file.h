// LockFile: the lock of one pool operation, an fcntl write lock over a file
// (the pool's ".lock"), so that one operation at a time runs on a pool, from
// whichever process.
//
// Takes: the path (real host path; mapped here). Answers try_lock: 0 taken,
// 1 busy (another process holds it), -1 error. The file is removed on release
// when this object created it. The removal happens while the lock is still
// held, and a lock is only counted once the locked file is still the one at
// the path, so an operation never holds the lock of a file that has been
// unlinked while a second one locks a new file of the same name.
#pragma once

#include <string>

class LockFile {
 public:
  explicit LockFile(std::string path);
  ~LockFile();
  LockFile(LockFile&& other) noexcept;
  LockFile& operator=(LockFile&& other) noexcept;
  LockFile(const LockFile&) = delete;
  LockFile& operator=(const LockFile&) = delete;

  int try_lock();
  void release();

  bool locked() const { return fd_ > 0; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  int fd_ = 0;
  bool existed_ = false;
};
