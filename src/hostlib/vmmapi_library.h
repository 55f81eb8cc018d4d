// The run-time binding of libvmmapi: its entry points resolved from the
// shared library, and the operations that need no open VM.
#pragma once

#include <map>
#include <string>
#include <vector>

#include <vmmapi.h>

#include "hostlib/shared_library.h"

// The entry points; null when the library lacks one (or did not load).
struct VmmapiFunctions {
  decltype(&::vm_open) vm_open = nullptr;
  decltype(&::vm_close) vm_close = nullptr;
  decltype(&::vm_ping) vm_ping = nullptr;
  decltype(&::vm_get_vcpu_class) vm_get_vcpu_class = nullptr;
  decltype(&::vm_set_vcpu_class) vm_set_vcpu_class = nullptr;
  decltype(&::vm_livestream) vm_livestream = nullptr;
  decltype(&::vm_get_config) vm_get_config = nullptr;
  decltype(&::vm_pause) vm_pause = nullptr;
  decltype(&::vm_resume) vm_resume = nullptr;
  decltype(&::vm_reconfig) vm_reconfig = nullptr;
  decltype(&::vm_checkpoint) vm_checkpoint = nullptr;
  decltype(&::vm_get_stats) vm_get_stats = nullptr;
  decltype(&::vm_get_stat_desc) vm_get_stat_desc = nullptr;
  decltype(&::vm_vcpu_open) vm_vcpu_open = nullptr;
  decltype(&::vm_vcpu_close) vm_vcpu_close = nullptr;
};

class VmmapiLibrary {
 public:
  // Where the host keeps the library (a real host path).
  static constexpr const char* default_path = "/usr/lib/libvmmapi.so.6";

  // Loads the library at `path` (a real host path, mapped under the host root)
  // and resolves every entry point it has.
  explicit VmmapiLibrary(const std::string& path);

  // The process-wide binding of `default_path`, loaded on first use; safe to
  // call from several threads.
  static const VmmapiLibrary& instance();

  bool loaded() const { return library_.is_open(); }
  // Why the library did not load, "" when it did.
  const std::string& load_error() const { return library_.error(); }
  // The entry points that were not resolved (all of them when the library
  // did not load), in declaration order.
  const std::vector<std::string>& missing_symbols() const { return missing_; }
  const VmmapiFunctions& functions() const { return fn_; }

  // Both vm_get_vcpu_class and vm_set_vcpu_class are there.
  bool has_vcpu_class() const { return fn_.vm_get_vcpu_class && fn_.vm_set_vcpu_class; }
  bool has_vm_checkpoint() const { return fn_.vm_checkpoint != nullptr; }

  // 0 when the VM's hypervisor answered that it runs, -1 when the library
  // lacks vm_ping, else what vm_ping returned (above 0: not running yet).
  int ping(const std::string& vm_name) const;

  // The running VM's configuration, key -> value in key order; empty when the
  // VM cannot be opened or read, or the library lacks the calls.
  std::map<std::string, std::string> get_config(const std::string& vm_name) const;

 private:
  SharedLibrary library_;
  VmmapiFunctions fn_;
  std::vector<std::string> missing_;
};
