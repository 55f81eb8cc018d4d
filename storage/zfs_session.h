// A session with libzfs: owns one libzfs handle for as long as the session
// lives. Every operation of the storage library takes one.
#pragma once

#include <string>

#include "hostlib/libzfs.h"

class zfs_session {
 public:
  // Opens a libzfs handle with libzfs's own error printing on; without a
  // handle (libzfs_init failed or the library is missing) the session is not
  // usable and every operation given it reports libzfs_not_initialized.
  zfs_session();
  ~zfs_session();
  zfs_session(const zfs_session&) = delete;
  zfs_session& operator=(const zfs_session&) = delete;

  bool ok() const { return handle_ != nullptr; }
  libzfs_handle_t* handle() const { return handle_; }

  // libzfs's description of the handle's last error ("" without a handle).
  std::string error_description() const;

 private:
  libzfs_handle_t* handle_ = nullptr;
};

// What an operation reports when its session has no libzfs handle.
inline constexpr const char* libzfs_not_initialized = "libzfs is not initialized";
