// An opened VM of libvmmapi, closed when the object goes.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include <vmmapi.h>

class VmmapiLibrary;

class vm_handle {
 public:
  // Opens VM `vm_name` through the process-wide binding; the handle is empty
  // when the VM cannot be opened or the library lacks vm_open.
  explicit vm_handle(const std::string& vm_name);
  // The same through a given binding.
  vm_handle(const VmmapiLibrary& library, const std::string& vm_name);
  ~vm_handle();
  vm_handle(vm_handle&& other) noexcept;
  vm_handle& operator=(vm_handle&& other) noexcept;
  vm_handle(const vm_handle&) = delete;
  vm_handle& operator=(const vm_handle&) = delete;

  bool is_open() const { return ctx_ != nullptr; }
  // Why the open failed, "" when it did not.
  const std::string& open_error() const { return open_error_; }

  // The vCPU class when it is 0 to 9, else -1 (also without a handle, without
  // the library call, or when the call fails).
  int get_vcpu_class() const;
  // True when the class (0 to 9) was applied; false for any other class,
  // without a handle, without the library call, or when the call fails.
  bool set_vcpu_class(int64_t vcpu_class) const;

  // The operations below give nothing on success and the reason otherwise.
  std::optional<std::string> pause() const;
  std::optional<std::string> resume() const;
  // `settings`: "key=value" lines.
  std::optional<std::string> reconfig(const std::string& settings) const;
  // Writes a checkpoint image at `path` (a real host path); with `stop` the
  // hypervisor ends once the image is written.
  std::optional<std::string> checkpoint(const std::string& path, bool stop) const;
  // Sends the VM to the hypervisor listening at `address`:`port`.
  std::optional<std::string> livestream(const std::string& address, uint16_t port) const;

  // The VM's configuration, key -> value in key order; empty on failure.
  std::map<std::string, std::string> get_config() const;

 private:
  // The reason an operation cannot be called: no handle, or no entry point.
  std::optional<std::string> unavailable(bool has_entry, const char* name) const;
  std::optional<std::string> call_result(int result, const char* name) const;

  const VmmapiLibrary* library_ = nullptr;
  vmctx* ctx_ = nullptr;
  std::string name_;
  std::string open_error_;
};
