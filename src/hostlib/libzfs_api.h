// The run-time binding of libzfs: every entry point the controller uses,
// resolved once from the library.
#pragma once

#include <string>

#include <libzfs.h>

#include "hostlib/host_library.h"

class libzfs_api {
 public:
  // Loads the library at `path` (a real host path, mapped under the host
  // root) and resolves every entry point and data object.
  explicit libzfs_api(const std::string& path);
  libzfs_api(const libzfs_api&) = delete;
  libzfs_api& operator=(const libzfs_api&) = delete;

  // The process-wide binding of hostlib::libzfs_path, loaded on first use;
  // safe from several threads. It stays loaded until the process ends.
  static const libzfs_api& instance();

  const HostLibrary& library() const { return library_; }

  // The entry points and data objects; null when not resolved.
#define LIBZFS_API_SLOT(result, name, params, args) libzfs_##name##_fn name = nullptr;
  LIBZFS_ENTRY_POINTS(LIBZFS_API_SLOT)
#undef LIBZFS_API_SLOT
#define LIBZFS_API_OBJECT(type, name) type* name = nullptr;
  LIBZFS_DATA_OBJECTS(LIBZFS_API_OBJECT)
#undef LIBZFS_API_OBJECT

 private:
  HostLibrary library_;
};
