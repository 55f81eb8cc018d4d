#include "pool/vmcli/vm_priority.h"

#include <sys/resource.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "hostlib/vmmapi.h"
#include "pool/vmcli/vm_pid_info.h"

namespace {

constexpr long kMinNice = -20;
constexpr long kMaxNice = 20;
constexpr long kMinVcpuClass = 0;
constexpr long kMaxVcpuClass = 9;

// The bhyve pid of a running VM; nothing (and the line saying why) otherwise.
std::optional<int64_t> running_vm_info(const std::string& vm_id) {
  int64_t info = vm_pid_info(vm_id);
  if (info < 0) {
    std::printf("%-10s: does not exist\n", vm_id.c_str());
    return std::nullopt;
  }
  if (bhyve_pid_of(info) < 1) {
    std::printf("%-10s: is not running\n", vm_id.c_str());
    return std::nullopt;
  }
  return info;
}

// A whole decimal number, or nothing.
std::optional<long> whole_number(const std::string& text) {
  if (text.empty()) return std::nullopt;
  char* end = nullptr;
  errno = 0;
  long value = std::strtol(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0') return std::nullopt;
  return value;
}

bool vcpu_class_supported() {
  if (vmmapi_has_vcpu_class()) return true;
  std::puts("vmmapi: vcpu_class not supported");
  return false;
}

}  // namespace

bool vm_nice(const std::string& vm_id) {
  auto info = running_vm_info(vm_id);
  if (!info) return false;
  int bhyve = bhyve_pid_of(*info);
  errno = 0;
  int priority = ::getpriority(PRIO_PROCESS, static_cast<id_t>(bhyve));
  if (priority == -1 && errno != 0) {
    std::printf("\nAn error occurred while obtaining VM CPU priority:\nVM id=%s bhyve pid=%d errno=%d\n",
                vm_id.c_str(), bhyve, errno);
    return false;
  }
  std::printf("VM id=%s bhyve_pid=%d wrapper_pid=%d CPU_priority=%d\n", vm_id.c_str(), bhyve,
              wrapper_pid_of(*info), priority);
  return true;
}

bool vm_setnice(const std::string& vm_id, const std::string& value) {
  auto info = running_vm_info(vm_id);
  if (!info) return false;
  auto priority = whole_number(value);
  if (!priority || *priority < kMinNice || *priority > kMaxNice) {
    std::printf("\nWrong CPU priority value '%s'. Available values: [%ld:%ld]\n", value.c_str(),
                kMinNice, kMaxNice);
    return false;
  }
  int bhyve = bhyve_pid_of(*info);
  if (::setpriority(PRIO_PROCESS, static_cast<id_t>(bhyve), static_cast<int>(*priority)) == -1) {
    std::printf("\nAn error occurred while setting up VM CPU priority:\nVM id=%s; bhyve pid=%d; errno=%d\n",
                vm_id.c_str(), bhyve, errno);
    return false;
  }
  std::printf("VM id=%s bhyve_pid=%d wrapper_pid=%d CPU_priority=%ld\n", vm_id.c_str(), bhyve,
              wrapper_pid_of(*info), *priority);
  return true;
}

bool vm_vcpuclass(const std::string& vm_id) {
  auto info = running_vm_info(vm_id);
  if (!info || !vcpu_class_supported()) return false;
  int bhyve = bhyve_pid_of(*info);
  int vcpu_class = vm_handle(vm_id).get_vcpu_class();
  if (vcpu_class == -1) {
    std::printf("\nAn error occurred while obtaining VM vCPU class:\nVM id=%s bhyve pid=%d\n",
                vm_id.c_str(), bhyve);
    return false;
  }
  std::printf("VM id=%s bhyve_pid=%d wrapper_pid=%d vCPU_class=%d\n", vm_id.c_str(), bhyve,
              wrapper_pid_of(*info), vcpu_class);
  return true;
}

bool vm_setvcpuclass(const std::string& vm_id, const std::string& value) {
  auto info = running_vm_info(vm_id);
  if (!info || !vcpu_class_supported()) return false;
  auto vcpu_class = whole_number(value);
  if (!vcpu_class || *vcpu_class < kMinVcpuClass || *vcpu_class > kMaxVcpuClass) {
    std::printf("\nWrong vCPU class value '%s'. Available values: [%ld:%ld]\n", value.c_str(),
                kMinVcpuClass, kMaxVcpuClass);
    return false;
  }
  int bhyve = bhyve_pid_of(*info);
  if (!vm_handle(vm_id).set_vcpu_class(*vcpu_class)) {
    std::printf("\nAn error occurred while setting up VM vCPU class:\nVM id=%s; bhyve pid=%d\n",
                vm_id.c_str(), bhyve);
    return false;
  }
  std::printf("VM id=%s bhyve_pid=%d wrapper_pid=%d vCPU_class=%ld\n", vm_id.c_str(), bhyve,
              wrapper_pid_of(*info), *vcpu_class);
  return true;
}
