#include "hostlib/vmmapi.h"

bool vmmapi_loaded() { return VmmapiLibrary::instance().loaded(); }

std::string vmmapi_load_error() { return VmmapiLibrary::instance().load_error(); }

std::vector<std::string> vmmapi_missing_symbols() {
  return VmmapiLibrary::instance().missing_symbols();
}

bool vmmapi_has_vcpu_class() { return VmmapiLibrary::instance().has_vcpu_class(); }

bool libvmmapi::has_vm_checkpoint() { return VmmapiLibrary::instance().has_vm_checkpoint(); }

int vmmapi_ping(const std::string& vm_name) { return VmmapiLibrary::instance().ping(vm_name); }

std::map<std::string, std::string> vmmapi_get_config(const std::string& vm_name) {
  return VmmapiLibrary::instance().get_config(vm_name);
}

std::optional<std::string> vmmapi_pause(const std::string& vm_name) {
  return vm_handle(vm_name).pause();
}

std::optional<std::string> vmmapi_resume(const std::string& vm_name) {
  return vm_handle(vm_name).resume();
}

std::optional<std::string> vmmapi_reconfig(const std::string& vm_name, const std::string& settings) {
  return vm_handle(vm_name).reconfig(settings);
}

std::optional<std::string> vmmapi_checkpoint(const std::string& vm_name, const std::string& path,
                                             bool stop) {
  return vm_handle(vm_name).checkpoint(path, stop);
}

std::optional<std::string> vmmapi_livestream(const std::string& vm_name, const std::string& address,
                                             uint16_t port) {
  return vm_handle(vm_name).livestream(address, port);
}
