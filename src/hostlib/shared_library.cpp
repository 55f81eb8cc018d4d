#include "hostlib/shared_library.h"

#include <dlfcn.h>

#include <utility>

#include "platform/host_root.h"

SharedLibrary::SharedLibrary(const std::string& path) {
  std::string mapped = platform::host_path(path);
  handle_ = ::dlopen(mapped.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle_) {
    const char* e = ::dlerror();
    error_ = e ? e : "cannot open " + mapped;
  }
}

SharedLibrary::~SharedLibrary() {
  if (handle_) ::dlclose(handle_);
}

SharedLibrary::SharedLibrary(SharedLibrary&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)), error_(std::move(other.error_)) {}

SharedLibrary& SharedLibrary::operator=(SharedLibrary&& other) noexcept {
  if (this != &other) {
    if (handle_) ::dlclose(handle_);
    handle_ = std::exchange(other.handle_, nullptr);
    error_ = std::move(other.error_);
  }
  return *this;
}

void* SharedLibrary::symbol(const char* name) const {
  if (!handle_) return nullptr;
  return ::dlsym(handle_, name);
}
