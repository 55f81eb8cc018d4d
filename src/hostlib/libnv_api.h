// The run-time binding of FreeBSD's libnv: every entry point the controller
// uses, resolved once from the library.
#pragma once

#include <string>

#include <libnv.h>

#include "hostlib/host_library.h"

class libnv_api {
 public:
  // Loads the library at `path` (a real host path, mapped under the host
  // root) and resolves every entry point.
  explicit libnv_api(const std::string& path);
  libnv_api(const libnv_api&) = delete;
  libnv_api& operator=(const libnv_api&) = delete;

  // The process-wide binding of hostlib::libnv_path, loaded on first use;
  // safe from several threads. It stays loaded until the process ends.
  static const libnv_api& instance();

  const HostLibrary& library() const { return library_; }

  // The entry points; null when not resolved.
#define LIBNV_API_SLOT(result, name, params, args) libnv_##name##_fn name = nullptr;
  LIBNV_ENTRY_POINTS(LIBNV_API_SLOT)
#undef LIBNV_API_SLOT

 private:
  HostLibrary library_;
};
