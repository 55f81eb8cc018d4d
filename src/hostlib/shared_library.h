// A shared library opened at run time, closed when the object goes.
#pragma once

#include <string>

class SharedLibrary {
 public:
  SharedLibrary() = default;
  // Opens `path` (a real host path; mapped under the host root here).
  explicit SharedLibrary(const std::string& path);
  ~SharedLibrary();
  SharedLibrary(SharedLibrary&& other) noexcept;
  SharedLibrary& operator=(SharedLibrary&& other) noexcept;
  SharedLibrary(const SharedLibrary&) = delete;
  SharedLibrary& operator=(const SharedLibrary&) = delete;

  bool is_open() const { return handle_ != nullptr; }
  // Why the open failed, "" when it did not.
  const std::string& error() const { return error_; }

  // The address of `name`, or null when the library is not open or lacks it.
  void* symbol(const char* name) const;
  template <class F>
  F function(const char* name) const {
    return reinterpret_cast<F>(symbol(name));
  }

 private:
  void* handle_ = nullptr;
  std::string error_;
};
