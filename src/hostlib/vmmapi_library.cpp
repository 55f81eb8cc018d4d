#include "hostlib/vmmapi_library.h"

#include <mutex>

#include "hostlib/vmmapi_handle.h"

namespace {

template <class F>
void resolve(const SharedLibrary& library, const char* name, F* slot,
             std::vector<std::string>* missing) {
  *slot = library.function<F>(name);
  if (!*slot) missing->emplace_back(name);
}

}  // namespace

VmmapiLibrary::VmmapiLibrary(const std::string& path) : library_(path) {
  resolve(library_, "vm_open", &fn_.vm_open, &missing_);
  resolve(library_, "vm_close", &fn_.vm_close, &missing_);
  resolve(library_, "vm_ping", &fn_.vm_ping, &missing_);
  resolve(library_, "vm_get_vcpu_class", &fn_.vm_get_vcpu_class, &missing_);
  resolve(library_, "vm_set_vcpu_class", &fn_.vm_set_vcpu_class, &missing_);
  resolve(library_, "vm_livestream", &fn_.vm_livestream, &missing_);
  resolve(library_, "vm_get_config", &fn_.vm_get_config, &missing_);
  resolve(library_, "vm_pause", &fn_.vm_pause, &missing_);
  resolve(library_, "vm_resume", &fn_.vm_resume, &missing_);
  resolve(library_, "vm_reconfig", &fn_.vm_reconfig, &missing_);
  resolve(library_, "vm_checkpoint", &fn_.vm_checkpoint, &missing_);
  resolve(library_, "vm_get_stats", &fn_.vm_get_stats, &missing_);
  resolve(library_, "vm_get_stat_desc", &fn_.vm_get_stat_desc, &missing_);
  resolve(library_, "vm_vcpu_open", &fn_.vm_vcpu_open, &missing_);
  resolve(library_, "vm_vcpu_close", &fn_.vm_vcpu_close, &missing_);
}

const VmmapiLibrary& VmmapiLibrary::instance() {
  static std::once_flag once;
  static const VmmapiLibrary* library = nullptr;
  // Never destroyed: VM wrappers and threads may still call in during exit.
  std::call_once(once, [] { library = new VmmapiLibrary(default_path); });
  return *library;
}

int VmmapiLibrary::ping(const std::string& vm_name) const {
  if (!fn_.vm_ping) return -1;
  return fn_.vm_ping(vm_name.c_str());
}

std::map<std::string, std::string> VmmapiLibrary::get_config(const std::string& vm_name) const {
  vm_handle vm(*this, vm_name);
  return vm.get_config();
}
