#include "hostlib/vmmapi_handle.h"

#include <cerrno>
#include <cstring>
#include <utility>

#include <fmt/format.h>

#include "hostlib/vmmapi_library.h"

vm_handle::vm_handle(const std::string& vm_name) : vm_handle(VmmapiLibrary::instance(), vm_name) {}

vm_handle::vm_handle(const VmmapiLibrary& library, const std::string& vm_name)
    : library_(&library), name_(vm_name) {
  const auto& fn = library.functions();
  if (!fn.vm_open) {
    open_error_ = "libvmmapi offers no vm_open";
    return;
  }
  errno = 0;
  ctx_ = fn.vm_open(vm_name.c_str());
  if (!ctx_)
    open_error_ = fmt::format("vm_open({}): {}", vm_name, std::strerror(errno ? errno : ENOENT));
}

vm_handle::~vm_handle() {
  if (ctx_ && library_->functions().vm_close) library_->functions().vm_close(ctx_);
}

vm_handle::vm_handle(vm_handle&& other) noexcept
    : library_(other.library_),
      ctx_(std::exchange(other.ctx_, nullptr)),
      name_(std::move(other.name_)),
      open_error_(std::move(other.open_error_)) {}

vm_handle& vm_handle::operator=(vm_handle&& other) noexcept {
  if (this != &other) {
    if (ctx_ && library_->functions().vm_close) library_->functions().vm_close(ctx_);
    library_ = other.library_;
    ctx_ = std::exchange(other.ctx_, nullptr);
    name_ = std::move(other.name_);
    open_error_ = std::move(other.open_error_);
  }
  return *this;
}

int vm_handle::get_vcpu_class() const {
  auto get = library_ ? library_->functions().vm_get_vcpu_class : nullptr;
  if (!ctx_ || !get) return -1;
  int value = get(ctx_);
  return value >= VM_VCPU_CLASS_MIN && value <= VM_VCPU_CLASS_MAX ? value : -1;
}

bool vm_handle::set_vcpu_class(int64_t vcpu_class) const {
  auto set = library_ ? library_->functions().vm_set_vcpu_class : nullptr;
  if (!ctx_ || !set) return false;
  if (vcpu_class < VM_VCPU_CLASS_MIN || vcpu_class > VM_VCPU_CLASS_MAX) return false;
  return set(ctx_, static_cast<int>(vcpu_class)) == 0;
}

std::optional<std::string> vm_handle::unavailable(bool has_entry, const char* name) const {
  if (!ctx_) return open_error_.empty() ? fmt::format("VM {} is not open", name_) : open_error_;
  if (!has_entry) return fmt::format("libvmmapi offers no {}", name);
  return std::nullopt;
}

std::optional<std::string> vm_handle::call_result(int result, const char* name) const {
  if (result == 0) return std::nullopt;
  int err = errno ? errno : EIO;
  return fmt::format("{}({}): {}", name, name_, std::strerror(err));
}

std::optional<std::string> vm_handle::pause() const {
  auto fn = library_->functions().vm_pause;
  if (auto why = unavailable(fn != nullptr, "vm_pause")) return why;
  errno = 0;
  return call_result(fn(ctx_), "vm_pause");
}

std::optional<std::string> vm_handle::resume() const {
  auto fn = library_->functions().vm_resume;
  if (auto why = unavailable(fn != nullptr, "vm_resume")) return why;
  errno = 0;
  return call_result(fn(ctx_), "vm_resume");
}

std::optional<std::string> vm_handle::reconfig(const std::string& settings) const {
  auto fn = library_->functions().vm_reconfig;
  if (auto why = unavailable(fn != nullptr, "vm_reconfig")) return why;
  errno = 0;
  return call_result(fn(ctx_, settings.c_str()), "vm_reconfig");
}

std::optional<std::string> vm_handle::checkpoint(const std::string& path, bool stop) const {
  auto fn = library_->functions().vm_checkpoint;
  if (auto why = unavailable(fn != nullptr, "vm_checkpoint")) return why;
  errno = 0;
  return call_result(fn(ctx_, path.c_str(), stop ? 1 : 0), "vm_checkpoint");
}

std::optional<std::string> vm_handle::livestream(const std::string& address, uint16_t port) const {
  auto fn = library_->functions().vm_livestream;
  if (auto why = unavailable(fn != nullptr, "vm_livestream")) return why;
  errno = 0;
  return call_result(fn(ctx_, address.c_str(), port), "vm_livestream");
}

std::map<std::string, std::string> vm_handle::get_config() const {
  std::map<std::string, std::string> config;
  auto fn = library_ ? library_->functions().vm_get_config : nullptr;
  if (!ctx_ || !fn) return config;
  auto add = [](const char* key, const char* value, void* arg) -> int {
    static_cast<std::map<std::string, std::string>*>(arg)->emplace(key, value);
    return 0;
  };
  if (fn(ctx_, add, &config) != 0) config.clear();
  return config;
}
