// The run-time binding of libnvpair (OpenZFS name/value lists): every entry
// point the controller uses, resolved once from the library.
#pragma once

#include <string>

#include <libnvpair.h>

#include "hostlib/host_library.h"

class nvpair_api {
 public:
  // Loads the library at `path` (a real host path, mapped under the host
  // root) and resolves every entry point.
  explicit nvpair_api(const std::string& path);
  nvpair_api(const nvpair_api&) = delete;
  nvpair_api& operator=(const nvpair_api&) = delete;

  // The process-wide binding of hostlib::libnvpair_path, loaded on first
  // use; safe from several threads. It stays loaded until the process ends.
  static const nvpair_api& instance();

  const HostLibrary& library() const { return library_; }

  // The entry points; null when not resolved.
#define NVPAIR_API_SLOT(result, name, params, args) libnvpair_##name##_fn name = nullptr;
  LIBNVPAIR_ENTRY_POINTS(NVPAIR_API_SLOT)
#undef NVPAIR_API_SLOT

 private:
  HostLibrary library_;
};
